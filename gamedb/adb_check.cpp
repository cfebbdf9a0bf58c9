// check and diff of animation databases.
#include <algorithm>
#include <bit>
#include <cmath>
#include <map>
#include <optional>
#include <set>

#include "gamedb/adb.h"
#include "gamedb/cells.h"
#include "gamedb/error.h"

namespace gamedb {
namespace {

std::string NameText(std::span<const std::uint8_t> name) {
    std::string text;
    AppendText(text, name);
    return text;
}

const AdbColumn* ColumnAt(const AdbLayout& layout, int offset) {
    for (const AdbColumn& c : layout.columns)
        if (c.offset == offset && c.cell == AdbCell::Number && c.width == 32) return &c;
    return nullptr;
}

const AdbColumn& ColumnNamed(const AdbLayout& layout, std::string_view name) {
    return *std::find_if(layout.columns.begin(), layout.columns.end(), [&](const AdbColumn& c) { return c.name == name; });
}

bool Finite(std::uint32_t bits) { return (bits & 0x7F800000u) != 0x7F800000u; }

class AnimsChecker {
public:
    AnimsChecker(ByteSource& source, const std::function<void(const CheckFinding&)>& report)
        : source_(source), report_(report) {}

    CheckSummary Run() {
        summary_.blocks = 1;
        std::optional<AdbReader> reader;
        try {
            reader.emplace(source_);
        } catch (const Error& error) {
            Report(static_cast<std::uint64_t>(std::max(0LL, error.Where().offset)), {}, error.Problem());
            return summary_;
        }
        CheckHeader(reader->Header());
        std::span<const std::uint8_t> record;
        std::uint64_t offset = 0;
        while (reader->Next(record, offset)) {
            ++summary_.records;
            CheckClip(reader->Layout(), record, offset);
        }
        return summary_;
    }

private:
    void Report(std::uint64_t offset, std::string field, std::string text,
                CheckFinding::Severity severity = CheckFinding::Severity::Problem) {
        CheckFinding finding;
        finding.severity = severity;
        finding.offset = offset;
        finding.block = block_;
        finding.record = record_;
        finding.recordName = recordName_;
        finding.field = std::move(field);
        finding.text = std::move(text);
        ++(severity == CheckFinding::Severity::Problem ? summary_.problems : summary_.notes);
        report_(finding);
    }

    void CheckHeader(const AdbHeader& header) {
        const std::span<const std::uint8_t> model(header.modelName);
        const auto zero = std::find(model.begin(), model.end(), 0);
        if (zero == model.end()) Report(8, "model_name", "the 24 bytes hold no terminating 00");
        else if (std::any_of(zero, model.end(), [](std::uint8_t b) { return b != 0; }))
            Report(8, "model_name", "bytes after the name's terminating 00 (kept as model_name_tail)",
                   CheckFinding::Severity::Note);
        for (std::size_t i = 0; i < 3; ++i)
            if (!Finite(header.heights[i])) Report(32 + 4 * i, std::string(kAdbHeightNames[i]), "not a finite number");
        const float min = std::bit_cast<float>(header.heights[0]), mid = std::bit_cast<float>(header.heights[1]),
                    max = std::bit_cast<float>(header.heights[2]);
        if (!(min <= mid && mid <= max))
            Report(32, "height_min", "the heights are not in order min <= mid <= max");
    }

    void CheckClip(const AdbLayout& layout, std::span<const std::uint8_t> record, std::uint64_t offset) {
        const std::span<const std::uint8_t> name = AdbClipName(record);
        block_ = "clips";
        record_ = summary_.records;
        recordName_ = NameText(name);
        const std::uint64_t position = static_cast<std::uint64_t>(summary_.records - 1);
        const auto at = [offset](int field) { return offset + static_cast<std::uint64_t>(field); };

        if (name.size() == kAdbClipNameSize) Report(offset, "name", "the 16 bytes hold no terminating 00");
        else if (std::any_of(record.begin() + static_cast<std::ptrdiff_t>(name.size()), record.begin() + kAdbClipNameSize,
                             [](std::uint8_t b) { return b != 0; }))
            Report(offset, "name", "bytes after the name's terminating 00");
        if (!names_.insert(std::string(name.begin(), name.end())).second)
            Report(offset, "name", "another clip has the same name");
        if (const std::uint32_t index = AdbWord(record, kAdbIndexOffset); index != position)
            Report(at(kAdbIndexOffset), "index", "index " + std::to_string(index) + ", expected its position " + std::to_string(position));
        if (layout.codeOffset < 0) return;

        const std::uint32_t code = AdbWord(record, static_cast<std::size_t>(layout.codeOffset));
        const std::uint32_t forms = AdbWord(record, static_cast<std::size_t>(layout.formsOffset));
        const AdbColumn& stage = ColumnNamed(layout, "stage");
        const std::uint32_t stageValue = AdbBits(code, stage.shift, stage.width);
        constexpr std::string_view kLetters = "usc";
        const char first = name.empty() ? '\0' : static_cast<char>(name[0]);
        if (stageValue >= kLetters.size() || kLetters[stageValue] != first)
            Report(at(layout.codeOffset), "stage",
                   "stage " + std::string(stage.names[stageValue]) + " does not match the name's first letter (u unique, s start, c cycle)");
        if (code & 0x7F80u) Report(at(layout.codeOffset), "code", "bits 7-14 are set; the game's files never set them");
        if (forms & 0x7FC0u) Report(at(layout.formsOffset), "forms", "bits 6-14 are set; the game's files never set them");
        const AdbColumn& action = ColumnNamed(layout, "action");
        if ((forms >> 15) != 0 && AdbBits(code, action.shift, action.width) != 7)
            Report(at(layout.formsOffset), "link", "a death link on a clip whose action is not death");
        const std::uint32_t events = AdbEventBits(layout, record);
        for (const AdbEvent& e : layout.events)
            if ((forms >> e.bit & 1) != (events >> e.bit & 1))
                Report(at(layout.formsOffset), "forms",
                       "bit " + std::to_string(e.bit) + " (" + std::string(e.name) + ") is " + ((forms >> e.bit & 1) ? "set" : "clear") +
                           " but the " + std::string(e.name) + " fields are " + ((events >> e.bit & 1) ? "used" : "zero"));

        const std::uint32_t last = AdbWord(record, static_cast<std::size_t>(layout.lastFrameOffset));
        for (int w = 0; w < layout.frameWords; ++w) {
            const int field = layout.framesOffset + 4 * w;
            const std::uint32_t frame = AdbWord(record, static_cast<std::size_t>(field));
            if (frame > last)
                Report(at(field), std::string(ColumnAt(layout, field)->name),
                       "frame " + std::to_string(frame) + " is after last_frame " + std::to_string(last));
        }
        // Lists of 4: the values in use come first.
        for (const std::string_view list : {"step_frames_1", "sfx_ids_1"}) {
            const int field = ColumnNamed(layout, list).offset;
            bool gap = false;
            for (int w = 0; w < 4; ++w) {
                const bool zero = AdbWord(record, static_cast<std::size_t>(field + 4 * w)) == 0;
                if (!zero && gap) {
                    Report(at(field + 4 * w), std::string(ColumnAt(layout, field + 4 * w)->name), "a value after an empty (0) one");
                    break;
                }
                gap |= zero;
            }
        }
        if (layout.recordSize == 88) {
            const int field = ColumnNamed(layout, "probability").offset;
            if (const std::uint32_t p = AdbWord(record, static_cast<std::size_t>(field)); p > 100)
                Report(at(field), "probability", std::to_string(p) + " is more than 100");
        }
        const int move = ColumnNamed(layout, "move_distance").offset;
        if (!Finite(AdbWord(record, static_cast<std::size_t>(move)))) Report(at(move), "move_distance", "not a finite number");
    }

    ByteSource& source_;
    const std::function<void(const CheckFinding&)>& report_;
    CheckSummary summary_;
    std::string block_;
    long long record_ = -1;
    std::string recordName_;
    std::set<std::string> names_;
};

// ---- diff ---------------------------------------------------------------------

struct Clip {
    std::string name;                 // stored bytes, pairs the clips
    std::vector<std::string> cells;   // as unpack writes them
};

struct Side {
    const AdbLayout* layout = nullptr;
    std::vector<std::string> header;  // manifest values
    std::vector<Clip> clips;
};

Side ReadSide(ByteSource& source) {
    AdbReader reader(source);
    Side side;
    side.layout = &reader.Layout();
    const AdbHeader& header = reader.Header();
    std::string model, tail;
    AdbModelNameCells(header, model, tail);
    side.header.push_back(std::move(model));
    side.header.push_back(std::move(tail));
    for (const std::uint32_t bits : header.heights) {
        std::string cell;
        AppendFloat(cell, bits);
        side.header.push_back(std::move(cell));
    }
    std::span<const std::uint8_t> record;
    std::uint64_t offset = 0;
    while (reader.Next(record, offset)) {
        Clip clip;
        const std::span<const std::uint8_t> name = AdbClipName(record);
        clip.name.assign(name.begin(), name.end());
        AdbClipCells(reader.Layout(), record, side.clips.size(), clip.cells);
        side.clips.push_back(std::move(clip));
    }
    return side;
}

std::string ColumnName(const AdbLayout& layout, std::size_t i) {
    return i < layout.columns.size() ? std::string(layout.columns[i].name) : std::string(kExtraColumn);
}

// The cell of `column` in a clip, or nullopt when its layout lacks it.
std::optional<std::string> CellOf(const Side& side, const Clip& clip, const std::string& column) {
    for (std::size_t i = 0; i < clip.cells.size(); ++i)
        if (ColumnName(*side.layout, i) == column) return clip.cells[i];
    return std::nullopt;
}

}  // namespace

CheckSummary CheckAnims(ByteSource& source, const std::function<void(const CheckFinding&)>& report) {
    return AnimsChecker(source, report).Run();
}

DiffResult DiffAnims(ByteSource& oldDb, ByteSource& newDb) {
    const Side a = ReadSide(oldDb);
    const Side b = ReadSide(newDb);
    DiffResult result;
    if (a.layout != b.layout)
        result.notes.push_back("record_size: " + std::to_string(a.layout->recordSize) + " -> " + std::to_string(b.layout->recordSize));
    constexpr std::string_view kHeaderNames[] = {"model_name", "model_name_tail", "height_min", "height_mid", "height_max"};
    for (std::size_t i = 0; i < a.header.size(); ++i)
        if (a.header[i] != b.header[i])
            result.notes.push_back(std::string(kHeaderNames[i]) + ": " + a.header[i] + " -> " + b.header[i]);

    BlockDiff block;
    block.tag = 1;
    block.name = "clips";
    block.oldRecords = static_cast<long long>(a.clips.size());
    block.newRecords = static_cast<long long>(b.clips.size());
    // By name: the k-th clip of a name with the k-th of that name.
    std::map<std::string, std::vector<std::size_t>> byName;
    for (std::size_t i = 0; i < a.clips.size(); ++i) byName[a.clips[i].name].push_back(i);
    std::map<std::string, std::size_t> used;
    std::vector<std::optional<std::size_t>> partner(b.clips.size());
    std::vector<bool> paired(a.clips.size(), false);
    for (std::size_t j = 0; j < b.clips.size(); ++j) {
        const auto it = byName.find(b.clips[j].name);
        std::size_t& next = used[b.clips[j].name];
        if (it != byName.end() && next < it->second.size()) {
            partner[j] = it->second[next++];
            paired[*partner[j]] = true;
        }
    }
    for (std::size_t i = 0; i < a.clips.size(); ++i) {
        if (paired[i]) continue;
        RecordChange removed;
        removed.kind = RecordChange::Kind::Removed;
        removed.oldNumber = static_cast<long long>(i + 1);
        removed.key = a.clips[i].cells[0];
        block.records.push_back(std::move(removed));
    }
    std::optional<std::size_t> lastOld;
    for (std::size_t j = 0; j < b.clips.size(); ++j) {
        const Clip& mine = b.clips[j];
        RecordChange change;
        change.newNumber = static_cast<long long>(j + 1);
        change.key = mine.cells[0];
        if (!partner[j]) {
            change.kind = RecordChange::Kind::Added;
            for (std::size_t c = 1; c < mine.cells.size(); ++c)
                if (!mine.cells[c].empty()) change.fields.push_back({ColumnName(*b.layout, c), false, true, {}, mine.cells[c]});
            block.records.push_back(std::move(change));
            continue;
        }
        const std::size_t i = *partner[j];
        if (lastOld && i < *lastOld) block.reordered = true;
        lastOld = i;
        const Clip& theirs = a.clips[i];
        change.oldNumber = static_cast<long long>(i + 1);
        // The new layout's columns, then those only the old one has.
        std::vector<std::string> columns;
        for (std::size_t c = 1; c < mine.cells.size(); ++c) columns.push_back(ColumnName(*b.layout, c));
        for (std::size_t c = 1; c < theirs.cells.size(); ++c)
            if (std::find(columns.begin(), columns.end(), ColumnName(*a.layout, c)) == columns.end())
                columns.push_back(ColumnName(*a.layout, c));
        for (const std::string& column : columns) {
            const std::optional<std::string> before = CellOf(a, theirs, column), after = CellOf(b, mine, column);
            if (before == after) continue;
            change.fields.push_back({column, before.has_value(), after.has_value(), before.value_or(""), after.value_or("")});
        }
        if (!change.fields.empty()) block.records.push_back(std::move(change));
    }
    result.blocks.push_back(std::move(block));
    return result;
}

}  // namespace gamedb
