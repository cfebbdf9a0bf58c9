// The generator's databases must be what the game writes, or every property
// test built on them proves less than it claims. Checked here with a walker
// of its own, independent of the library's reader.
#include "tests/support/gamedb_gen.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>

namespace gamedb::testing {
namespace {

struct Node {
    std::uint8_t tag;
    bool longForm;
    std::span<const std::uint8_t> payload;
};

// The nodes filling `bytes`, or nothing when they do not fill it exactly.
std::optional<std::vector<Node>> Split(std::span<const std::uint8_t> bytes) {
    std::vector<Node> nodes;
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        if (bytes.size() - pos < 2) return std::nullopt;
        const std::uint8_t tag = bytes[pos];
        const bool longForm = (bytes[pos + 1] & 1) != 0;
        std::size_t header = 2;
        std::size_t length = bytes[pos + 1] >> 1;
        if (longForm) {
            if (bytes.size() - pos < 5) return std::nullopt;
            std::uint32_t size = 0;
            for (int i = 0; i < 4; ++i) size |= std::uint32_t{bytes[pos + 1 + static_cast<std::size_t>(i)]} << (8 * i);
            length = size >> 1;
            header = 5;
        }
        if (bytes.size() - pos - header < length) return std::nullopt;
        nodes.push_back({tag, longForm, bytes.subspan(pos + header, length)});
        pos += header + length;
    }
    return nodes;
}

struct Walk {
    int irregular = 0;  // nodes or values that break the game's habits
    int nodes = 0;

    void Canonical(const Node& node) {
        ++nodes;
        if (node.longForm != (node.payload.size() > 127)) ++irregular;
    }

    bool TextFits(std::span<const std::uint8_t> p) {
        return !p.empty() && p.back() == 0 && std::find(p.begin(), p.end() - 1, 0) == p.end() - 1;
    }

    void Items(std::span<const std::uint8_t> payload, const FieldSpec& field) {
        const auto items = Split(payload);
        if (!items) {
            ++irregular;
            return;
        }
        for (const Node& item : *items) {
            Canonical(item);
            if (item.tag != 1) ++irregular;
            if (field.type == ValueType::TextList && !TextFits(item.payload)) ++irregular;
            if (field.type == ValueType::Code4List && item.payload.size() != 4) ++irregular;
            if (field.type == ValueType::RecordList) Fields(item.payload, *field.record);
        }
    }

    void Value(std::span<const std::uint8_t> payload, const FieldSpec& field) {
        const int fixed = FixedLength(field);
        if (fixed >= 0 && payload.size() != static_cast<std::size_t>(fixed)) ++irregular;
        if (field.type == ValueType::Text && !TextFits(payload)) ++irregular;
        if (field.type == ValueType::TextList || field.type == ValueType::Code4List ||
            field.type == ValueType::RecordList)
            Items(payload, field);
        if (field.type == ValueType::Nested) Fields(payload, *field.record);
    }

    // Every schema field once, in order, each fitting its type.
    void Fields(std::span<const std::uint8_t> payload, const RecordSpec& spec) {
        const auto fields = Split(payload);
        if (!fields || fields->size() != spec.fields.size()) {
            ++irregular;
            if (!fields) return;
        }
        for (std::size_t i = 0; i < fields->size(); ++i) {
            const Node& node = (*fields)[i];
            Canonical(node);
            const FieldSpec* field = FindField(spec, node.tag);
            if (field == nullptr || i >= spec.fields.size() || spec.fields[i].tag != node.tag) {
                ++irregular;
                continue;
            }
            Value(node.payload, *field);
        }
    }

    void Database(const Bytes& bytes, const KindSpec& kind, std::size_t trailing) {
        ASSERT_GE(bytes.size(), 10 + trailing);
        const std::span<const std::uint8_t> all(bytes);
        const auto top = Split(all.first(bytes.size() - 10 - trailing));
        ASSERT_TRUE(top && top->size() == 1);
        Canonical(top->front());
        const auto blocks = Split(top->front().payload);
        ASSERT_TRUE(blocks && blocks->size() == kind.blocks.size());
        for (std::size_t b = 0; b < blocks->size(); ++b) {
            const Node& block = (*blocks)[b];
            Canonical(block);
            EXPECT_EQ(block.tag, b + 1);
            const auto records = Split(block.payload);
            ASSERT_TRUE(records);
            for (const Node& record : *records) {
                Canonical(record);
                EXPECT_EQ(record.tag, 1);
                Fields(record.payload, kind.blocks[b].record);
            }
        }
        const Bytes trailer(bytes.end() - static_cast<std::ptrdiff_t>(10 + trailing), bytes.end() - static_cast<std::ptrdiff_t>(trailing));
        EXPECT_EQ(trailer, (Bytes{0x00, 0x00, 0x02, 0x0C, 0x02, 0x08, 0x01, 0x00, 0x00, 0x00}));
    }
};

TEST(GamedbGen, ValidDatabasesOfEveryKindAreAsTheGameWritesThem) {
    for (const KindSpec& kind : Kinds()) {
        for (std::uint64_t seed = 1; seed <= 20; ++seed) {
            GenOptions options;
            options.seed = seed;
            options.maxRecords = 5;
            options.maxTextLength = seed % 2 ? 24 : 200;  // both size forms for texts and records
            const Bytes bytes = Serialize(Generate(kind, options));
            Walk walk;
            walk.Database(bytes, kind, 0);
            EXPECT_EQ(walk.irregular, 0) << kind.name << " seed " << seed;
        }
    }
}

TEST(GamedbGen, SameSeedSameBytes) {
    const KindSpec& units = *FindKind("units");
    GenOptions options;
    options.seed = 7;
    EXPECT_EQ(Serialize(Generate(units, options)), Serialize(Generate(units, options)));
    GenOptions other = options;
    other.seed = 8;
    EXPECT_NE(Serialize(Generate(units, options)), Serialize(Generate(units, other)));
}

TEST(GamedbGen, ValuesCoverWhatTheTablesMustCarry) {
    // Over a few databases: every odd float class, cp1251 bytes >= 0x80, the
    // separators, an empty list and both size forms.
    bool negativeZero = false, infinity = false, nan = false, subnormal = false;
    bool highBytes = false, separators = false, emptyList = false, longNode = false;
    for (std::uint64_t seed = 1; seed <= 10; ++seed) {
        GenOptions options;
        options.seed = seed;
        options.maxRecords = 8;
        for (const KindSpec& kind : Kinds()) {
            const GenDatabase database = Generate(kind, options);
            for (std::size_t b = 0; b < database.blocks.size(); ++b) {
                for (const GenRecord& record : database.blocks[b].records) {
                    for (const GenField& field : record.fields) {
                        const FieldSpec* spec = FindField(kind.blocks[b].record, field.tag);
                        ASSERT_NE(spec, nullptr);
                        if (field.payload.size() > 127) longNode = true;
                        if (spec->type == ValueType::TextList && field.payload.empty()) emptyList = true;
                        if (spec->type == ValueType::Float32) {
                            std::uint32_t bits = 0;
                            for (int i = 0; i < 4; ++i) bits |= std::uint32_t{field.payload[static_cast<std::size_t>(i)]} << (8 * i);
                            const std::uint32_t exponent = (bits >> 23) & 0xFF, mantissa = bits & 0x7FFFFF;
                            negativeZero |= bits == 0x80000000u;
                            infinity |= exponent == 0xFF && mantissa == 0;
                            nan |= exponent == 0xFF && mantissa != 0;
                            subnormal |= exponent == 0 && mantissa != 0;
                        }
                        if (spec->type == ValueType::Text) {
                            for (std::uint8_t c : field.payload) {
                                highBytes |= c >= 0x80;
                                separators |= c == ';' || c == '{' || c == '\\' || c == ',';
                            }
                        }
                    }
                }
            }
        }
    }
    EXPECT_TRUE(negativeZero && infinity && nan && subnormal);
    EXPECT_TRUE(highBytes && separators && emptyList && longNode);
}

TEST(GamedbGen, IrregularOptionsBreakTheHabits) {
    int irregular = 0;
    for (const KindSpec& kind : Kinds()) {
        GenOptions options = GenOptions::Irregular(3, 0.1);
        Walk walk;
        walk.Database(Serialize(Generate(kind, options)), kind, options.trailing.size());
        irregular += walk.irregular;
    }
    EXPECT_GT(irregular, 20);
}

TEST(GamedbGen, SizeTarget) {
    const KindSpec& acks = *FindKind("acks");
    GenOptions options;
    const Bytes bytes = Serialize(GenerateOfSize(acks, 200'000, options));
    EXPECT_GE(bytes.size(), 200'000u);
    EXPECT_LT(bytes.size(), 220'000u);
}

}  // namespace
}  // namespace gamedb::testing
