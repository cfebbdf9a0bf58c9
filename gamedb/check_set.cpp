#include "gamedb/check_set.h"

#include <algorithm>
#include <cstring>
#include <system_error>

#include "archive/archive.h"
#include "archive/cp1251.h"
#include "archive/file_util.h"
#include "gamedb/archive_folder.h"
#include "gamedb/archive_member.h"
#include "gamedb/database.h"
#include "gamedb/error.h"
#include "gamedb/folder.h"
#include "gamedb/framing.h"
#include "gamedb/pack.h"

namespace gamedb {

namespace fs = std::filesystem;

// ---- the model --------------------------------------------------------------

const SetValue* SetRecord::Find(std::string_view field) const {
    const auto it = fields.find(field);
    return it == fields.end() ? nullptr : &it->second;
}

std::string_view SetRecord::Text(std::string_view field) const {
    const SetValue* value = Find(field);
    return value == nullptr || value->texts.empty() ? std::string_view() : std::string_view(value->texts.front());
}

std::optional<std::int64_t> SetRecord::Number(std::string_view field) const {
    const SetValue* value = Find(field);
    if (value == nullptr || value->numbers.empty()) return std::nullopt;
    return value->numbers.front();
}

const std::vector<SetRecord>* SetDatabase::Block(std::string_view name) const {
    const auto it = blocks.find(name);
    return it == blocks.end() ? nullptr : &it->second;
}

const SetDatabase* DatabaseSet::Find(std::string_view kind) const {
    const auto it = byKind.find(kind);
    return it == byKind.end() ? nullptr : &it->second;
}

namespace {

std::uint32_t Word(std::span<const std::uint8_t> bytes, std::size_t at) {
    return static_cast<std::uint32_t>(bytes[at]) | static_cast<std::uint32_t>(bytes[at + 1]) << 8 |
           static_cast<std::uint32_t>(bytes[at + 2]) << 16 | static_cast<std::uint32_t>(bytes[at + 3]) << 24;
}

// A text as stored, without its terminator; nullopt when it has none.
std::optional<std::string> StoredText(std::span<const std::uint8_t> payload) {
    if (payload.empty() || payload.back() != 0) return std::nullopt;
    return std::string(payload.begin(), payload.end() - 1);
}

std::string StoredCode(std::span<const std::uint8_t> payload) {
    std::string code(payload.begin(), payload.end());
    return code.substr(0, code.find('\0'));
}

void DecodeFields(std::span<const std::uint8_t> payload, const RecordSpec& spec, const std::string& prefix,
                  SetRecord& record);

void DecodeField(const FieldSpec& field, std::span<const std::uint8_t> payload, const std::string& prefix,
                 SetRecord& record) {
    const int fixed = FixedLength(field);
    if (fixed >= 0 && payload.size() != static_cast<std::size_t>(fixed)) return;
    const std::string name = prefix + std::string(field.name);
    SetValue value;
    switch (field.type) {
    case ValueType::Text:
        if (auto text = StoredText(payload)) value.texts.push_back(std::move(*text));
        else return;
        break;
    case ValueType::Code4: value.texts.push_back(StoredCode(payload)); break;
    case ValueType::Int32: value.numbers.push_back(static_cast<std::int32_t>(Word(payload, 0))); break;
    case ValueType::UInt32:
    case ValueType::Bits5: value.numbers.push_back(Word(payload, 0)); break;
    case ValueType::Byte:
    case ValueType::ByteArray:
        for (std::uint8_t b : payload) value.numbers.push_back(b);
        break;
    case ValueType::Float32:
    case ValueType::Float32Array:
        for (std::size_t i = 0; i + 4 <= payload.size(); i += 4) value.floats.push_back(Word(payload, i));
        break;
    case ValueType::TextList:
    case ValueType::Code4List: {
        NodeCursor cursor(payload);
        NodeView item;
        while (cursor.Next(item)) {
            if (field.type == ValueType::Code4List) {
                value.texts.push_back(StoredCode(item.payload));
            } else if (auto text = StoredText(item.payload)) {
                value.texts.push_back(std::move(*text));
            }
        }
        break;
    }
    case ValueType::Nested:
        if (field.record != nullptr) DecodeFields(payload, *field.record, name + ".", record);
        return;
    case ValueType::RecordList: {
        NodeCursor cursor(payload);
        NodeView item;
        std::int64_t count = 0;
        while (cursor.Next(item)) ++count;
        value.numbers.push_back(count);
        break;
    }
    case ValueType::Raw: return;
    }
    record.fields.emplace(name, std::move(value));
}

void DecodeFields(std::span<const std::uint8_t> payload, const RecordSpec& spec, const std::string& prefix,
                  SetRecord& record) {
    NodeCursor cursor(payload);
    NodeView node;
    while (cursor.Next(node)) {
        const FieldSpec* field = FindField(spec, node.header.tag);
        // The first occurrence counts, as the per-file check reports a repeat.
        if (field != nullptr && !record.fields.contains(prefix + std::string(field->name)))
            DecodeField(*field, node.payload, prefix, record);
    }
}

}  // namespace

SetDatabase LoadSetDatabase(ByteSource& source, const KindSpec& kind, std::string label) {
    SetDatabase database;
    database.kind = &kind;
    database.label = std::move(label);
    try {
        FrameReader reader(source);
        BlockInfo block;
        while (reader.NextBlock(block)) {
            const BlockSpec* spec = FindBlock(kind, block.header.tag);
            if (spec == nullptr || database.blocks.contains(spec->name)) continue;
            std::vector<SetRecord>& records = database.blocks[std::string(spec->name)];
            RecordInfo info;
            while (reader.NextRecord(info)) {
                SetRecord record;
                record.number = info.number;
                DecodeFields(info.payload, spec->record, {}, record);
                if (spec->keyTag >= 0)
                    if (const FieldSpec* key = FindField(spec->record, static_cast<std::uint8_t>(spec->keyTag)))
                        record.key = std::string(record.Text(key->name));
                records.push_back(std::move(record));
            }
        }
    } catch (const Error&) {
        // What was read stands; the damage is the per-file check's to report.
    }
    return database;
}

// ---- findings ----------------------------------------------------------------

std::string FormatSetFinding(const SetFinding& f) {
    static constexpr const char* kSeverity[] = {"error", "warning", "note"};
    std::string line = std::string(kSeverity[static_cast<int>(f.severity)]) + ": " + f.database;
    if (!f.block.empty()) line += " " + f.block;
    if (f.record > 0) {
        line += f.key.empty() ? " record " + std::to_string(f.record) : " \"" + f.key + "\"";
    }
    if (!f.field.empty()) line += ", " + f.field;
    if (!f.field.empty() && !f.value.empty()) line += " \"" + f.value + "\"";
    line += ": " + f.text + " [" + f.rule + "]";
    return line;
}

// ---- where a set comes from ---------------------------------------------------

namespace {

[[noreturn]] void TwoOfOneKind(const KindSpec& kind, const std::string& first, const std::string& second) {
    throw UsageError("two " + std::string(kind.name) + " databases in one set: " + first + " and " + second +
                     "; a set holds one database of each kind");
}

void AddSource(LoadedSet& loaded, SetSource source) {
    for (const SetSource& other : loaded.sources)
        if (other.kind == source.kind) TwoOfOneKind(*source.kind, other.label, source.label);
    loaded.sources.push_back(std::move(source));
}

std::string LowerAscii(std::string text) {
    for (char& c : text) c = static_cast<char>(resarc::Cp1251Lower(static_cast<unsigned char>(c)));
    return text;
}

// `unhuma` for "...\UNHUMA.adb"; empty when the name is not an animation database's.
std::string AnimationName(std::string_view name) {
    if (const auto slash = name.find_last_of("/\\"); slash != std::string_view::npos) name.remove_prefix(slash + 1);
    const std::string lower = LowerAscii(std::string(name));
    if (lower.size() <= 4 || !lower.ends_with(".adb")) return {};
    return lower.substr(0, lower.size() - 4);
}

std::vector<std::uint8_t> ReadWhole(ByteSource& source) {
    std::vector<std::uint8_t> bytes;
    source.ReadInto(bytes, static_cast<std::size_t>(source.Size()), "the database");
    return bytes;
}

SetSource PackTables(const fs::path& dir, const std::string& label) {
    DiskInputFolder in(dir);
    SetSource source;
    source.kind = &ManifestKind(in);
    DiskInputFolder again(dir);
    MemorySink sink;
    Pack(again, sink);
    source.label = label;
    source.bytes = std::move(sink.Bytes());
    source.packedFromTables = true;
    return source;
}

bool IsTableFolder(const fs::path& dir) {
    std::error_code error;
    return fs::is_regular_file(dir / "manifest.txt", error);
}

void WalkFolder(const fs::path& dir, LoadedSet& loaded, std::set<std::string>& animations) {
    std::error_code error;
    std::vector<fs::path> entries;
    for (fs::directory_iterator it(dir, error), end; !error && it != end; it.increment(error)) entries.push_back(it->path());
    if (error) {
        Place place;
        place.file = QuotedPath(dir);
        throw Error(place, "cannot list the folder: " + error.message());
    }
    std::sort(entries.begin(), entries.end());
    for (const fs::path& path : entries) {
        const std::string name = resarc::PathToUtf8(path.filename());
        if (fs::is_directory(path, error)) {
            // A linked folder may lead back up the tree: never walk one.
            if (fs::is_symlink(path, error)) continue;
            // An unpacked animation database names a mask, as its file would.
            if (const std::string animation = AnimationName(name); !animation.empty() && IsTableFolder(path))
                animations.insert(animation);
            else if (IsTableFolder(path)) AddSource(loaded, PackTables(path, QuotedPath(path)));
            else WalkFolder(path, loaded, animations);
        } else if (fs::is_regular_file(path, error)) {
            if (const std::string animation = AnimationName(name); !animation.empty()) {
                animations.insert(animation);
            } else if (const KindSpec* kind = KindForFileName(name); kind != nullptr && name != "manifest.txt") {
                FileRegionSource region(path, 0, UINT64_MAX, QuotedPath(path));
                SetSource source;
                source.kind = kind;
                source.label = QuotedPath(path);
                source.bytes = ReadWhole(region);
                source.file = path;
                AddSource(loaded, std::move(source));
            }
        }
    }
}

}  // namespace

LoadedSet LoadSetFromArchive(const fs::path& archivePath) {
    LoadedSet loaded;
    try {
        const resarc::Archive archive = resarc::Archive::Open(archivePath);
        std::set<std::string> animations;
        for (const resarc::Entry& entry : archive.Entries()) {
            if (const std::string animation = AnimationName(entry.name); !animation.empty()) {
                animations.insert(animation);
                continue;
            }
            const KindSpec* kind = KindForFileName(entry.name);
            if (kind == nullptr) continue;
            const std::string label = "\"" + resarc::PathToUtf8(archivePath) + ":" + resarc::Cp1251ToUtf8(entry.name) + "\"";
            FileRegionSource region(archivePath, entry.offset, entry.size, label);
            SetSource source;
            source.kind = kind;
            source.label = label;
            source.bytes = ReadWhole(region);
            AddSource(loaded, std::move(source));
        }
        if (!animations.empty()) loaded.animations = std::move(animations);
    } catch (const resarc::ArchiveError& error) {
        throw Error(Place{}, error.what());
    }
    return loaded;
}

LoadedSet LoadSetFromFolder(const fs::path& dir) {
    LoadedSet loaded;
    std::set<std::string> animations;
    if (IsTableFolder(dir)) AddSource(loaded, PackTables(dir, QuotedPath(dir)));
    else WalkFolder(dir, loaded, animations);
    if (!animations.empty()) loaded.animations = std::move(animations);
    return loaded;
}

LoadedSet LoadSetFromArguments(const std::vector<std::string>& args) {
    LoadedSet loaded;
    std::set<std::string> animations;
    for (const std::string& arg : args) {
        const fs::path path = PathFromUtf8(arg);
        std::error_code error;
        if (fs::is_directory(path, error)) {
            LoadedSet inner = LoadSetFromFolder(path);
            for (SetSource& source : inner.sources) AddSource(loaded, std::move(source));
            if (inner.animations) animations.insert(inner.animations->begin(), inner.animations->end());
            continue;
        }
        if (!SplitMemberArgument(arg) && IsArchiveFile(path)) {
            LoadedSet inner = LoadSetFromArchive(path);
            for (SetSource& source : inner.sources) AddSource(loaded, std::move(source));
            if (inner.animations) animations.insert(inner.animations->begin(), inner.animations->end());
            continue;
        }
        if (const std::string animation = AnimationName(arg); !animation.empty() && !SplitMemberArgument(arg)) {
            animations.insert(animation);
            continue;
        }
        OpenedDatabase opened = OpenDatabase(arg);
        SetSource source;
        source.kind = opened.kind;
        source.label = opened.label;
        source.bytes = ReadWhole(*opened.source);
        if (!SplitMemberArgument(arg)) source.file = opened.path;
        AddSource(loaded, std::move(source));
    }
    if (!animations.empty()) loaded.animations = std::move(animations);
    return loaded;
}

DatabaseSet BuildSet(const LoadedSet& loaded) {
    DatabaseSet set;
    for (const SetSource& source : loaded.sources) {
        MemorySource bytes(source.bytes, source.label);
        set.byKind.emplace(std::string(source.kind->name), LoadSetDatabase(bytes, *source.kind, source.label));
    }
    set.animations = loaded.animations;
    return set;
}

std::optional<LoadedSet> SetAroundTables(const fs::path& tables, const SetSource& packed) {
    std::error_code error;
    const fs::path start = fs::weakly_canonical(fs::absolute(tables, error), error);
    if (error) return std::nullopt;
    for (fs::path dir = start.parent_path(); !dir.empty(); dir = dir.parent_path()) {
        if (IsArchiveFolder(dir)) {
            LoadedSet around;
            LoadedSet all = LoadSetFromFolder(dir);
            for (SetSource& source : all.sources)
                if (source.kind != packed.kind) around.sources.push_back(std::move(source));
            around.sources.push_back(packed);
            around.animations = std::move(all.animations);
            return around;
        }
        if (dir == dir.parent_path()) break;
    }
    return std::nullopt;
}

}  // namespace gamedb
