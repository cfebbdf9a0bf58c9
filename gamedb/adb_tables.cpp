// Unpack and pack of animation databases: the clips table and a manifest
// holding the header (model name, heights, record size).
#include <algorithm>
#include <map>
#include <optional>

#include "gamedb/adb.h"
#include "gamedb/cells.h"
#include "gamedb/error.h"
#include "gamedb/line_reader.h"
#include "gamedb/provenance.h"
#include "gamedb/unpack.h"

namespace gamedb {
namespace {

constexpr FieldSpec kTextCell{0, ValueType::Text, "text"};
constexpr FieldSpec kFloatCell{0, ValueType::Float32, "float"};

// ---- the manifest -------------------------------------------------------------

struct AnimsManifest {
    const AdbLayout* layout = nullptr;
    std::vector<std::uint8_t> modelName;   // with what follows its terminator, at most 24 bytes
    std::array<std::uint32_t, 3> heights{};
    std::string table;
};

std::string ManifestText(const AdbHeader& header, const AdbLayout& layout, const std::string& table) {
    std::string text(kBom);
    text += "format\t1\r\nkind\t";
    text += AnimKind().name;
    text += "\r\nrecord_size\t" + std::to_string(layout.recordSize) + "\r\nmodel_name\t";
    std::string tail;
    AdbModelNameCells(header, text, tail);
    text += "\r\nmodel_name_tail\t" + tail;
    for (std::size_t i = 0; i < 3; ++i) {
        text += "\r\n";
        text += kAdbHeightNames[i];
        text += '\t';
        AppendCell(text, kFloatCell, AdbLe(header.heights[i]));
    }
    text += "\r\ntable\t" + table + "\r\n";
    return text;
}

// The value of the manifest's kind line, if it has one.
std::optional<std::string> ManifestKindName(InputFolder& in) {
    std::unique_ptr<ByteSource> source;
    try {
        source = in.Open(std::string(kManifestName));
    } catch (const Error&) {
        return std::nullopt;
    }
    LineReader lines(*source);
    std::string_view line;
    while (lines.Next(line))
        if (line.starts_with("kind\t")) return std::string(line.substr(5));
    return std::nullopt;
}

AnimsManifest ReadAnimsManifest(InputFolder& in) {
    std::unique_ptr<ByteSource> source = in.Open(std::string(kManifestName));
    const std::string label = source->Label();
    LineReader lines(*source);
    AnimsManifest manifest;
    std::map<std::string, long long> seen;
    std::vector<std::uint8_t> tail;
    std::vector<std::string_view> parts;
    long long n = 0;
    const auto fail = [&](long long row, const std::string& problem, std::string expected = {}) {
        Place place;
        place.file = label;
        place.row = row;
        place.expected = std::move(expected);
        throw Error(place, problem);
    };
    while (lines.NextCells(parts)) {
        n = lines.LineNumber();
        const std::string key(parts[0]);
        // Where the tables came from: read by the change report, not here.
        if (IsProvenanceKey(key)) continue;
        if (parts.size() != 2) fail(n, "'" + key + "' needs the form: " + key + "<TAB>VALUE");
        if (!seen.emplace(key, n).second) fail(n, "'" + key + "' comes twice");
        const std::string_view value = parts[1];
        if (key == "format") {
            if (value != "1") fail(n, "unknown format '" + std::string(value) + "'; this program reads format 1");
        } else if (key == "kind") {
            if (value != AnimKind().name) fail(n, "the kind is '" + std::string(value) + "'", "anims");
        } else if (key == "record_size") {
            for (const AdbLayout* layout : AdbLayouts())
                if (value == std::to_string(layout->recordSize)) manifest.layout = layout;
            if (!manifest.layout) fail(n, "bad record_size '" + std::string(value) + "'", "88, 84 or 36");
        } else if (key == "model_name") {
            try {
                ParseCell(value, kTextCell, manifest.modelName);
            } catch (const CellProblem& problem) {
                fail(n, "bad model_name '" + std::string(value) + "'", problem.expected);
            }
        } else if (key == "model_name_tail") {
            if (!ParseHex(value, tail)) fail(n, "bad model_name_tail", "hex digits (the bytes after the name's 00)");
        } else if (key == "table") {
            manifest.table = std::string(value);
            if (manifest.table.empty() || manifest.table == "." || manifest.table == ".." ||
                manifest.table.find_first_of("/\\:") != std::string::npos)
                fail(n, "the table must be a file name inside the folder: '" + manifest.table + "'");
        } else if (const auto* it = std::find(kAdbHeightNames.begin(), kAdbHeightNames.end(), key);
                   it != kAdbHeightNames.end()) {
            if (!ParseFloat(value, manifest.heights[static_cast<std::size_t>(it - kAdbHeightNames.begin())]))
                fail(n, "bad " + key + " '" + std::string(value) + "'", "a number such as 1.5");
        } else {
            fail(n, "unknown key '" + key + "'");
        }
    }
    for (const char* key : {"format", "kind", "record_size", "model_name", "height_min", "height_mid", "height_max", "table"})
        if (!seen.count(key)) fail(-1, std::string("no '") + key + "' line");
    if (manifest.modelName.size() + tail.size() > kAdbModelNameSize)
        fail(seen["model_name"], "the model name and its tail take " +
                                     std::to_string(manifest.modelName.size() + tail.size()) + " bytes",
             "at most 24 (23 characters and the terminating 00)");
    manifest.modelName.insert(manifest.modelName.end(), tail.begin(), tail.end());
    return manifest;
}

}  // namespace

bool IsAnimsFolder(InputFolder& in) {
    const std::optional<std::string> kind = ManifestKindName(in);
    return kind && *kind == AnimKind().name;
}

std::vector<std::string> AnimsFolderFiles(InputFolder& in) {
    if (!IsAnimsFolder(in)) return {};
    return {std::string(kManifestName), ReadAnimsManifest(in).table};
}

UnpackSummary UnpackAnims(ByteSource& database, OutputFolder& out) {
    AdbReader reader(database);
    const std::string table = TableName(AnimKind(), 1);
    std::unique_ptr<TextOutput> output = out.Create(table);
    std::string text(kBom);
    for (const AdbColumn& column : reader.Layout().columns) {
        text += column.name;
        text += '\t';
    }
    text += kExtraColumn;
    text += kNewline;

    std::vector<std::string> cells;
    std::span<const std::uint8_t> record;
    std::uint64_t offset = 0;
    long long rows = 0;
    while (reader.Next(record, offset)) {
        AdbClipCells(reader.Layout(), record, static_cast<std::size_t>(rows), cells);
        for (std::size_t i = 0; i < cells.size(); ++i) {
            if (i) text += '\t';
            text += cells[i];
        }
        text += kNewline;
        ++rows;
        if (text.size() >= 64 * 1024) {
            output->Write(text);
            text.clear();
        }
    }
    output->Write(text);
    output->Close();

    std::unique_ptr<TextOutput> manifest = out.Create(std::string(kManifestName));
    manifest->Write(ManifestText(reader.Header(), reader.Layout(), table));
    manifest->Close();
    out.Commit();
    UnpackSummary summary;
    summary.tables.emplace_back().name = table;
    summary.tables.back().rows = rows;
    summary.bytes = database.Size();
    return summary;
}

PackSummary PackAnims(InputFolder& in, ByteSink& out) {
    const AnimsManifest manifest = ReadAnimsManifest(in);
    const AdbLayout& layout = *manifest.layout;
    std::unique_ptr<ByteSource> source = in.Open(manifest.table);
    const std::string label = source->Label();
    const auto fail = [&](long long row, std::string column, const std::string& problem,
                          std::optional<std::string> cell = std::nullopt, std::string expected = {}) {
        Place place;
        place.file = label;
        place.block = "clips";
        place.row = row;
        place.column = std::move(column);
        if (cell) {
            place.hasCell = true;
            place.cell = *cell;
        }
        place.expected = std::move(expected);
        throw Error(place, problem);
    };

    LineReader lines(*source);
    std::string_view line;
    std::vector<std::string_view> cells;
    std::string scratch;
    if (!lines.Next(line)) fail(1, {}, "the table is empty; expected a header row");
    SplitTabs(line, cells);
    // cellOf[column] = where the layout's column (and last ~extra) is in a row.
    const std::size_t none = static_cast<std::size_t>(-1);
    std::vector<std::size_t> cellOf(layout.columns.size() + 1, none);
    std::vector<std::string> header;
    for (std::size_t c = 0; c < cells.size(); ++c) {
        try {
            header.emplace_back(UnquoteCell(cells[c], scratch));
        } catch (const CellProblem& problem) {
            fail(1, {}, "bad column name", std::string(cells[c]), problem.expected);
        }
        const std::string& name = header.back();
        std::size_t f = 0;
        while (f < layout.columns.size() && layout.columns[f].name != name) ++f;
        if (f == layout.columns.size() && name != kExtraColumn) {
            if (name.empty()) continue;  // a spreadsheet's empty column
            std::string list;
            for (const AdbColumn& column : layout.columns) list += std::string(column.name) + ", ";
            fail(1, name, "unknown column; clips of " + std::to_string(layout.recordSize) + " bytes have " + list +
                              std::string(kExtraColumn));
        }
        if (cellOf[f] != none) fail(1, name, "the column comes twice");
        cellOf[f] = c;
    }
    for (std::size_t f = 0; f < layout.columns.size(); ++f)
        if (cellOf[f] == none) fail(1, std::string(layout.columns[f].name), "the column is missing from the header");

    std::array<std::uint8_t, kAdbHeaderSize> head{};
    std::copy(kAdbMagic.begin(), kAdbMagic.end(), head.begin());
    std::copy(manifest.modelName.begin(), manifest.modelName.end(), head.begin() + 8);
    for (std::size_t i = 0; i < 3; ++i) {
        const auto bytes = AdbLe(manifest.heights[i]);
        std::copy(bytes.begin(), bytes.end(), head.begin() + 32 + 4 * static_cast<std::ptrdiff_t>(i));
    }
    const std::uint64_t start = out.Position();
    out.Write(head);

    std::vector<std::string_view> values(layout.columns.size() + 1);
    std::vector<std::string> unquoted(values.size());
    std::vector<std::uint8_t> record;
    std::uint64_t clips = 0;
    while (lines.NextCells(cells)) {
        const long long row = lines.LineNumber();
        // Spreadsheets drop empty cells at the end of a row.
        for (std::size_t c = header.size(); c < cells.size(); ++c)
            if (!cells[c].empty()) fail(row, {}, "the row has a value in cell " + std::to_string(c + 1) + " beyond the header's " + std::to_string(header.size()) + " columns");
        for (std::size_t f = 0; f < values.size(); ++f) {
            const std::size_t c = cellOf[f];
            const std::string_view cell = c != none && c < cells.size() ? cells[c] : std::string_view();
            try {
                values[f] = UnquoteCell(cell, unquoted[f]);
            } catch (const CellProblem& problem) {
                fail(row, f < layout.columns.size() ? std::string(layout.columns[f].name) : std::string(kExtraColumn),
                     "bad cell", std::string(cell), problem.expected);
            }
        }
        try {
            AdbParseClip(layout, values, static_cast<std::size_t>(clips), record);
        } catch (const AdbCellProblem& problem) {
            std::size_t f = 0;
            while (f < layout.columns.size() && layout.columns[f].name != problem.column) ++f;
            fail(row, problem.column, "bad cell", std::string(values[f]), problem.expected);
        }
        if (++clips > 0xFFFFFFFFu) fail(row, {}, "more clips than the header can count");
        out.Write(record);
    }
    out.Patch(start + 4, AdbLe(static_cast<std::uint32_t>(clips)));

    PackSummary summary;
    summary.tables.emplace_back().name = manifest.table;
    summary.tables.back().rows = static_cast<long long>(clips);
    summary.bytes = out.Position() - start;
    return summary;
}

}  // namespace gamedb
