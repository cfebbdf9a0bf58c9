#include "tests/support/gamedb_gen.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <fstream>
#include <stdexcept>

namespace gamedb::testing {

GenField* GenRecord::Find(std::uint8_t tag) {
    for (GenField& field : fields)
        if (field.tag == tag) return &field;
    return nullptr;
}

const GenField* GenRecord::Find(std::uint8_t tag) const {
    for (const GenField& field : fields)
        if (field.tag == tag) return &field;
    return nullptr;
}

GenBlock* GenDatabase::FindBlock(std::uint8_t tag) {
    for (GenBlock& block : blocks)
        if (block.tag == tag) return &block;
    return nullptr;
}

GenOptions GenOptions::RealLike() {
    GenOptions options;
    options.exoticTextRate = 0;
    options.oddFloatRate = 0.02;
    options.anyFloatRate = 0.05;
    options.duplicateKeyRate = 0;
    return options;
}

GenOptions GenOptions::Irregular(std::uint64_t seed, double rate) {
    GenOptions options;
    options.seed = seed;
    options.unknownTagRate = rate;
    options.misfitRate = rate;
    options.longFormRate = rate;
    options.missingRate = rate;
    options.swapRate = rate;
    options.repeatRate = rate;
    options.trailing = {0x00, 0xFF, 0x01};
    return options;
}

void AppendNode(Bytes& out, std::uint8_t tag, std::span<const std::uint8_t> payload, bool longForm) {
    out.push_back(tag);
    const std::size_t length = payload.size();
    if (length <= 127 && !longForm) {
        out.push_back(static_cast<std::uint8_t>(2 * length));
    } else {
        const auto size = static_cast<std::uint32_t>(2 * length + 1);
        for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(size >> (8 * i)));
    }
    out.insert(out.end(), payload.begin(), payload.end());
}

Bytes TextPayload(std::string_view cp1251) {
    Bytes out(cp1251.begin(), cp1251.end());
    out.push_back(0);
    return out;
}

Bytes FloatBitsPayload(std::uint32_t bits) {
    return {static_cast<std::uint8_t>(bits), static_cast<std::uint8_t>(bits >> 8),
            static_cast<std::uint8_t>(bits >> 16), static_cast<std::uint8_t>(bits >> 24)};
}

Bytes Int32Payload(std::int32_t value) { return FloatBitsPayload(static_cast<std::uint32_t>(value)); }

Bytes FloatPayload(float value) { return FloatBitsPayload(std::bit_cast<std::uint32_t>(value)); }

std::string KeyOf(const BlockSpec& block, const GenRecord& record) {
    if (block.keyTag < 0) return {};
    const GenField* field = record.Find(static_cast<std::uint8_t>(block.keyTag));
    if (field == nullptr || field->payload.empty()) return {};
    std::string text(field->payload.begin(), field->payload.end() - 1);
    return text;
}

namespace {

// Pieces real texts are made of: identifiers, Russian words (cp1251), the
// punctuation that matters to table writers, paths.
constexpr std::array<std::string_view, 16> kWords = {
    "stone", "battle", "axe", "healing", "wand", "rock", "leather", "helm", "orc", "zone", "gold", "fire",
    "weak{t2;fe}", "{e2;e1}", "{d2,d1}", "[x]"};
// "Привет", "Ха!", "мечом", "Зона" in Windows-1251.
constexpr std::array<std::string_view, 4> kRussian = {"\xCF\xF0\xE8\xE2\xE5\xF2", "\xD5\xE0!",
                                                     "\xEC\xE5\xF7\xEE\xEC", "\xC7\xEE\xED\xE0"};
constexpr std::array<std::string_view, 6> kPaths = {"Acks\\HMW\\Move\\1.wav", "Sounds\\Step\\grass2.wav",
                                                   "tex\\orc_b.bmp", "Acks\\", "\\\\", "a\\nb\\t"};
constexpr std::array<std::uint32_t, 12> kOddFloats = {
    0x80000000u,  // -0
    0x7F800000u, 0xFF800000u,                            // infinities
    0xFFFFFFFFu, 0x7FC00000u, 0x7F800001u, 0xFFC00001u,  // quiet, signalling, negative NaNs
    0x00000001u, 0x0012FF78u, 0x807FFFFFu,               // subnormals
    0x7F7FFFFFu, 0x00800000u,                            // largest and smallest normal
};
// What spreadsheets read as something else than text; "ИСТИНА" (TRUE in
// Russian) and "янв 1" in Windows-1251.
constexpr std::array<std::string_view, 34> kLookalikes = {
    "007", "000000", "04000000", "1.10", "1e5", "+7", "-0", "1,000", "1,5", "100 100 100", "1 000", "1/2",
    "3:00", "50%", "TRUE", "true", "=1", "@x", "-x", "'007", "12.03.2024", "Jan 1", "1.2.3", "2024-03-12",
    "3.4028235e+38", "inf", "nan", " 5", "5 ", "(5)", "$5", "\xC8\xD1\xD2\xC8\xCD\xC0", "\xFF\xED\xE2 1", "\"a\""};
constexpr std::array<std::string_view, 9> kLookalikeCodes = {"007", "1e5", "1/2", "3:00", "-0", "TRUE", "0", "1,5", "=1"};
// Leftover-memory constants seen in real int32 fields.
constexpr std::array<std::uint32_t, 4> kOpaque = {0x78033250u, 0x0012FFC0u, 0x5F49BA68u, 0x7FFFFFFFu};

class Generator {
public:
    Generator(const GenOptions& options, std::uint64_t seed) : options_(options), state_(seed * 2 + 1) {}

    std::uint64_t Next() { return SplitMix(state_); }
    std::uint32_t Below(std::uint64_t n) { return n == 0 ? 0 : static_cast<std::uint32_t>(Next() % n); }
    int Between(int low, int high) { return low + static_cast<int>(Below(static_cast<std::uint64_t>(high - low + 1))); }
    bool Chance(double p) { return p > 0 && static_cast<double>(Next() >> 11) * 0x1.0p-53 < p; }

    Bytes Text(std::string_view hint) {
        std::string text;
        const int limit = std::max(0, options_.maxTextLength);
        if (Chance(options_.lookalikeRate)) {
            text = kLookalikes[Below(kLookalikes.size())];
        } else if (Chance(options_.exoticTextRate)) {
            const int n = Between(1, std::max(1, limit));
            for (int i = 0; i < n; ++i) text += static_cast<char>(Between(1, 255));
            // The bytes no real text has, so that every escape is exercised.
            static constexpr std::string_view kNasty = "\t\r\n\x98\x7F\\|;#";
            text[Below(text.size())] = kNasty[Below(kNasty.size())];
        } else if (Chance(0.08)) {
            // empty text: a single 00
        } else if (hint.find("sound") != std::string_view::npos || hint.find("texture") != std::string_view::npos) {
            text = kPaths[Below(kPaths.size())];
        } else if (hint == "subtitle" || hint == "hint" || hint == "comment") {
            const int words = Between(1, 4);
            for (int i = 0; i < words; ++i) {
                if (i > 0) text += Chance(0.2) ? ", " : " ";
                text += kRussian[Below(kRussian.size())];
            }
        } else {
            const int words = Between(1, 3);
            for (int i = 0; i < words; ++i) {
                if (i > 0) text += Chance(0.1) ? ";" : " ";
                text += kWords[Below(kWords.size())];
                if (Chance(0.3)) text += std::to_string(Below(100));
            }
            if (Chance(0.03)) text.insert(0, "#");
        }
        // Around the 127-byte boundary of the two size forms, when allowed.
        if (limit >= 130 && Chance(0.05)) text.resize(static_cast<std::size_t>(Between(125, 129)), 'x');
        if (text.size() > static_cast<std::size_t>(limit)) text.resize(static_cast<std::size_t>(limit));
        std::replace(text.begin(), text.end(), '\0', ' ');
        return TextPayload(text);
    }

    Bytes Code4() {
        static constexpr std::string_view kLetters = "abcdefghijklmnopqrstuvwxyz0123456789";
        if (Chance(options_.lookalikeRate)) {
            const std::string_view code = kLookalikeCodes[Below(kLookalikeCodes.size())];
            Bytes out(4, 0);
            // Bounded by hand: GCC's -O3 otherwise warns of an overflow it cannot rule out.
            for (std::size_t i = 0; i < code.size() && i < out.size(); ++i) out[i] = static_cast<std::uint8_t>(code[i]);
            return out;
        }
        const int n = Chance(0.9) ? Between(2, 3) : Between(0, 4);
        Bytes out(4, 0);
        for (int i = 0; i < n; ++i) out[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(kLetters[Below(kLetters.size())]);
        return out;
    }

    std::uint32_t FloatBits() {
        if (Chance(options_.oddFloatRate)) return kOddFloats[Below(kOddFloats.size())];
        if (Chance(options_.anyFloatRate)) {
            // Any finite normal value.
            std::uint32_t bits = static_cast<std::uint32_t>(Next());
            const std::uint32_t exponent = static_cast<std::uint32_t>(Between(1, 254));
            return (bits & 0x807FFFFFu) | (exponent << 23);
        }
        switch (Below(3)) {
            case 0: return std::bit_cast<std::uint32_t>(static_cast<float>(Between(-5, 2000)));
            case 1: return std::bit_cast<std::uint32_t>(static_cast<float>(Between(-400, 4000)) / 8.0f);
            default: return std::bit_cast<std::uint32_t>(static_cast<float>(Between(0, 100000)) / 100.0f);
        }
    }

    std::uint32_t IntBits() {
        switch (Below(5)) {
            case 0: return kOpaque[Below(kOpaque.size())];
            case 1: return static_cast<std::uint32_t>(Next());
            case 2: return static_cast<std::uint32_t>(-Between(1, 1000));
            default: return Below(1000);
        }
    }

    static void Append32(Bytes& out, std::uint32_t bits) {
        for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(bits >> (8 * i)));
    }

    // A list item or nested field's node, with the irregularities asked for.
    void AppendInner(Bytes& out, std::uint8_t tag, const Bytes& payload) {
        AppendNode(out, tag, payload, Chance(options_.longFormRate));
    }

    Bytes Value(const FieldSpec& field) {
        Bytes out;
        switch (field.type) {
            case ValueType::Text: return Text(field.name);
            case ValueType::Int32: Append32(out, IntBits()); break;
            case ValueType::UInt32: Append32(out, Chance(0.8) ? Below(100) : static_cast<std::uint32_t>(Next())); break;
            case ValueType::Float32: Append32(out, FloatBits()); break;
            case ValueType::Float32Array:
                for (int i = 0; i < field.count; ++i) Append32(out, FloatBits());
                break;
            case ValueType::Byte: out.push_back(static_cast<std::uint8_t>(Chance(0.9) ? Below(2) : Below(256))); break;
            case ValueType::ByteArray:
                for (int i = 0; i < field.count; ++i) out.push_back(static_cast<std::uint8_t>(Below(69)));
                break;
            case ValueType::Bits5: Append32(out, Below(32)); break;
            case ValueType::Code4: return Code4();
            case ValueType::Raw:
                if (Chance(options_.lookalikeRate)) {
                    // Bytes whose hex has no letter: `000000`, `04000000`.
                    for (int i = 0; i < field.count; ++i) {
                        std::uint32_t byte = 0;
                        if (Chance(0.5)) {
                            byte = Below(10) << 4;  // apart: the order of two calls in one expression is unspecified
                            byte |= Below(10);
                        }
                        out.push_back(static_cast<std::uint8_t>(byte));
                    }
                    break;
                }
                for (int i = 0; i < field.count; ++i) out.push_back(static_cast<std::uint8_t>(Chance(0.7) ? 0 : Below(256)));
                break;
            case ValueType::TextList:
            case ValueType::Code4List: {
                const int n = Between(0, options_.maxListItems);
                for (int i = 0; i < n; ++i) {
                    Bytes item = field.type == ValueType::TextList ? Text(field.name) : Code4();
                    MaybeMisfit(item);
                    AppendInner(out, 1, item);
                }
                break;
            }
            case ValueType::Nested: out = Fields(*field.record); break;
            case ValueType::RecordList: {
                const int n = Between(0, options_.maxListItems);
                for (int i = 0; i < n; ++i) AppendInner(out, 1, Fields(*field.record));
                break;
            }
        }
        return out;
    }

    // A payload that no longer fits its type: one byte more or less, a text
    // without its terminator or with an inner 00.
    void MaybeMisfit(Bytes& payload) {
        if (!Chance(options_.misfitRate)) return;
        switch (Below(3)) {
            case 0: payload.push_back(static_cast<std::uint8_t>(Below(256))); break;
            case 1:
                if (!payload.empty()) payload.pop_back();
                break;
            default: payload.insert(payload.begin(), 0); break;
        }
    }

    // The fields of a nested record or list item, in schema order.
    Bytes Fields(const RecordSpec& spec) {
        Bytes out;
        for (const FieldSpec& field : spec.fields) {
            if (Chance(options_.missingRate)) continue;
            Bytes payload = Value(field);
            MaybeMisfit(payload);
            AppendInner(out, field.tag, payload);
        }
        return out;
    }

    GenRecord Record(const RecordSpec& spec) {
        GenRecord record;
        for (const FieldSpec& field : spec.fields) {
            GenField out{field.tag, Value(field), Chance(options_.longFormRate)};
            MaybeMisfit(out.payload);
            if (!Chance(options_.missingRate)) record.fields.push_back(std::move(out));
            if (Chance(options_.repeatRate)) record.fields.push_back(record.fields.empty() ? GenField{field.tag, {}} : record.fields.back());
            if (Chance(options_.unknownTagRate)) record.fields.push_back(UnknownField(spec));
        }
        for (std::size_t i = 1; i < record.fields.size(); ++i)
            if (Chance(options_.swapRate)) std::swap(record.fields[i - 1], record.fields[i]);
        record.longForm = Chance(options_.longFormRate);
        return record;
    }

    GenField UnknownField(const RecordSpec& spec) {
        GenField field;
        do field.tag = static_cast<std::uint8_t>(Below(256));
        while (FindField(spec, field.tag) != nullptr);
        const int n = Between(0, 12);
        for (int i = 0; i < n; ++i) field.payload.push_back(static_cast<std::uint8_t>(Below(256)));
        return field;
    }

    // A record for `block`, its key sometimes repeating an earlier record's.
    GenRecord BlockRecord(const BlockSpec& block, const GenBlock& sofar) {
        GenRecord record = Record(block.record);
        if (block.keyTag >= 0 && !sofar.records.empty() && Chance(options_.duplicateKeyRate)) {
            const GenRecord& earlier = sofar.records[Below(sofar.records.size())];
            const GenField* key = earlier.Find(static_cast<std::uint8_t>(block.keyTag));
            GenField* mine = record.Find(static_cast<std::uint8_t>(block.keyTag));
            if (key != nullptr && mine != nullptr) mine->payload = key->payload;
        }
        return record;
    }

    const GenOptions& options_;

private:
    std::uint64_t state_;
};

GenDatabase Skeleton(const KindSpec& kind, const GenOptions& options, Generator& gen) {
    GenDatabase database;
    database.kind = &kind;
    database.trailing = options.trailing;
    database.longForm = gen.Chance(options.longFormRate);
    for (const BlockSpec& spec : kind.blocks) {
        GenBlock block;
        block.tag = spec.tag;
        block.longForm = gen.Chance(options.longFormRate);
        database.blocks.push_back(std::move(block));
    }
    return database;
}

std::size_t NodeSize(std::size_t payload, bool longForm) { return payload + (payload <= 127 && !longForm ? 2 : 5); }

std::size_t RecordSize(const GenRecord& record) {
    std::size_t content = 0;
    for (const GenField& field : record.fields) content += NodeSize(field.payload.size(), field.longForm);
    return NodeSize(content, record.longForm);
}

void AppendRecord(Bytes& out, const GenRecord& record) {
    Bytes content;
    for (const GenField& field : record.fields) AppendNode(content, field.tag, field.payload, field.longForm);
    AppendNode(out, 1, content, record.longForm);
}

}  // namespace

GenRecord RandomRecord(const RecordSpec& spec, std::uint64_t seed, const GenOptions& options) {
    Generator gen(options, seed);
    return gen.Record(spec);
}

GenDatabase Generate(const KindSpec& kind, const GenOptions& options) {
    Generator gen(options, options.seed);
    GenDatabase database = Skeleton(kind, options, gen);
    for (std::size_t i = 0; i < kind.blocks.size(); ++i) {
        const int n = gen.Between(options.minRecords, std::max(options.minRecords, options.maxRecords));
        for (int r = 0; r < n; ++r)
            database.blocks[i].records.push_back(gen.BlockRecord(kind.blocks[i], database.blocks[i]));
    }
    return database;
}

GenDatabase GenerateOfSize(const KindSpec& kind, std::uint64_t targetBytes, const GenOptions& options) {
    Generator gen(options, options.seed);
    GenDatabase database = Skeleton(kind, options, gen);
    std::uint64_t size = 5 + 10 + database.trailing.size() + 5 * kind.blocks.size();
    while (size < targetBytes) {
        for (std::size_t i = 0; i < kind.blocks.size() && size < targetBytes; ++i) {
            GenRecord record = gen.BlockRecord(kind.blocks[i], database.blocks[i]);
            size += RecordSize(record);
            database.blocks[i].records.push_back(std::move(record));
        }
    }
    return database;
}

Bytes Serialize(const GenDatabase& database) {
    Bytes body;
    Bytes records;
    for (const GenBlock& block : database.blocks) {
        records.clear();
        for (const GenRecord& record : block.records) AppendRecord(records, record);
        AppendNode(body, block.tag, records, block.longForm);
    }
    Bytes out;
    out.reserve(body.size() + 16 + database.trailer.size() + database.trailing.size());
    AppendNode(out, 1, body, database.longForm);
    out.insert(out.end(), database.trailer.begin(), database.trailer.end());
    out.insert(out.end(), database.trailing.begin(), database.trailing.end());
    return out;
}

void WriteBytes(const std::filesystem::path& path, std::span<const std::uint8_t> bytes) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    file.close();
    if (!file) throw std::runtime_error("cannot write " + path.string());
}

void WriteDatabase(const std::filesystem::path& path, const GenDatabase& database) {
    WriteBytes(path, Serialize(database));
}

Bytes ReadBytes(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) throw std::runtime_error("cannot read " + path.string());
    return Bytes(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

}  // namespace gamedb::testing
