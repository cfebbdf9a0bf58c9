// The reader: the zip container through minizip, each part streamed through
// expat as it is inflated, so no part is ever held whole, and every size is
// counted as it arrives rather than trusted from the zip's directory.
#include <expat.h>
#include <minizip/unzip.h>
#ifdef _WIN32
#include <minizip/iowin32.h>
#endif

#include <algorithm>
#include <charconv>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "workbook/workbook.h"
#include "workbook/workbook_syntax.h"

namespace workbook {

namespace {

constexpr char kNamespaceSeparator = '\x01';

// The local part of an expat name "uri<sep>local" (or of a plain "local").
std::string_view LocalName(const char* name) {
    std::string_view n(name);
    std::size_t at = n.rfind(kNamespaceSeparator);
    return at == std::string_view::npos ? n : n.substr(at + 1);
}
bool HasNamespace(const char* name) { return std::string_view(name).find(kNamespaceSeparator) != std::string_view::npos; }

const char* Attribute(const char** attributes, std::string_view local, bool namespaced = false) {
    for (const char** a = attributes; *a != nullptr; a += 2)
        if (LocalName(a[0]) == local && HasNamespace(a[0]) == namespaced) return a[1];
    return nullptr;
}

bool EndsWith(std::string_view text, std::string_view tail) {
    return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}

// Joins a relationship's target to the folder of the part that names it.
std::string ResolveTarget(std::string_view sourcePart, std::string_view target) {
    std::string path;
    if (!target.empty() && target.front() == '/') {
        path = std::string(target.substr(1));
    } else {
        std::size_t slash = sourcePart.rfind('/');
        path = (slash == std::string_view::npos ? std::string() : std::string(sourcePart.substr(0, slash + 1))) +
               std::string(target);
    }
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        std::string part = path.substr(start, end - start);
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        start = end + 1;
    }
    std::string joined;
    for (const std::string& p : parts) joined += (joined.empty() ? "" : "/") + p;
    return joined;
}

// "xl/workbook.xml" -> "xl/_rels/workbook.xml.rels".
std::string RelationshipsOf(std::string_view part) {
    std::size_t slash = part.rfind('/');
    std::string folder = slash == std::string_view::npos ? std::string() : std::string(part.substr(0, slash + 1));
    std::string file(slash == std::string_view::npos ? part : part.substr(slash + 1));
    return folder + "_rels/" + file + ".rels";
}

struct ScopedZip {
    unzFile zip = nullptr;
    ~ScopedZip() {
        if (zip != nullptr) unzClose(zip);
    }
};

struct ScopedParser {
    XML_Parser parser;
    ScopedParser() : parser(XML_ParserCreateNS(nullptr, kNamespaceSeparator)) {}
    ~ScopedParser() {
        if (parser != nullptr) XML_ParserFree(parser);
    }
};

// The events one part's reader wants. A handler may throw Error; the parse
// then stops and the error propagates.
class XmlHandler {
public:
    virtual ~XmlHandler() = default;
    virtual void Start(std::string_view name, const char** attributes) = 0;
    virtual void End(std::string_view name) = 0;
    virtual void Text(std::string_view text) = 0;
    // Where in the part the parse is, for messages ("cell C12: "), or empty.
    virtual std::string Where() const { return {}; }
};

struct Relationship {
    std::string type;
    std::string target;  // resolved
};

class RelationshipsHandler final : public XmlHandler {
public:
    explicit RelationshipsHandler(std::string source) : source_(std::move(source)) {}
    void Start(std::string_view name, const char** attributes) override {
        if (name != "Relationship") return;
        const char* id = Attribute(attributes, "Id");
        const char* type = Attribute(attributes, "Type");
        const char* target = Attribute(attributes, "Target");
        const char* mode = Attribute(attributes, "TargetMode");
        if (id == nullptr || type == nullptr || target == nullptr) return;
        if (mode != nullptr && std::string_view(mode) == "External") return;
        map[id] = {type, ResolveTarget(source_, target)};
    }
    void End(std::string_view) override {}
    void Text(std::string_view) override {}

    std::map<std::string, Relationship> map;

private:
    std::string source_;
};

struct SheetEntry {
    std::string name;
    std::string relationship;
    bool hidden = false;
};

class WorkbookHandler final : public XmlHandler {
public:
    void Start(std::string_view name, const char** attributes) override {
        if (name != "sheet") return;
        const char* sheetName = Attribute(attributes, "name");
        const char* id = Attribute(attributes, "id", true);
        const char* state = Attribute(attributes, "state");
        if (sheetName == nullptr || id == nullptr) throw Error("a sheet without its name or relationship");
        sheets.push_back({sheetName, id, state != nullptr && std::string_view(state) != "visible"});
    }
    void End(std::string_view) override {}
    void Text(std::string_view) override {}

    std::vector<SheetEntry> sheets;
};

// Collects the text of <t> elements, skipping phonetic runs (<rPh>), whose
// text is a reading aid and not part of the cell.
class TextCollector {
public:
    explicit TextCollector(std::size_t limit) : limit_(limit) {}
    void Start(std::string_view name) {
        if (name == "rPh") ++phonetic_;
        if (name == "t" && phonetic_ == 0) inText_ = true;
    }
    void End(std::string_view name) {
        if (name == "rPh" && phonetic_ > 0) --phonetic_;
        if (name == "t") inText_ = false;
    }
    void Text(std::string_view text) {
        if (!inText_) return;
        if (text.size() > limit_ - std::min(limit_, text_.size()))
            throw Error("a text of more than " + std::to_string(limit_) + " bytes");
        text_ += text;
    }
    std::string Take() {
        std::string decoded = DecodeEscapes(text_);
        text_.clear();
        return decoded;
    }

private:
    std::size_t limit_;
    std::string text_;
    int phonetic_ = 0;
    bool inText_ = false;
};

class SharedStringsHandler final : public XmlHandler {
public:
    explicit SharedStringsHandler(std::size_t limit) : text_(limit) {}
    void Start(std::string_view name, const char**) override { text_.Start(name); }
    void End(std::string_view name) override {
        text_.End(name);
        if (name == "si") strings.push_back(text_.Take());
    }
    void Text(std::string_view text) override { text_.Text(text); }

    std::vector<std::string> strings;

private:
    TextCollector text_;
};

class SheetHandler final : public XmlHandler {
public:
    SheetHandler(const std::vector<std::string>& shared, const ReadLimits& limits)
        : shared_(shared), limits_(limits), text_(limits.stringBytes) {}

    void Start(std::string_view name, const char** attributes) override {
        if (name == "row") {
            const char* r = Attribute(attributes, "r");
            std::uint32_t index = rows.empty() ? 0 : rows.back().index + 1;
            if (r != nullptr) {
                std::string_view text(r);
                auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), index);
                if (ec != std::errc() || end != text.data() + text.size() || index == 0 || index > limits_.rows)
                    throw Error("row number \"" + std::string(text) + "\" is out of range");
                --index;
            }
            if (index >= limits_.rows) throw Error("more than " + std::to_string(limits_.rows) + " rows");
            rows.push_back({index, {}});
            column_ = 0;
        } else if (name == "c") {
            if (rows.empty()) throw Error("a cell outside a row");
            const char* r = Attribute(attributes, "r");
            if (r != nullptr) {
                std::uint32_t row = 0;
                if (!ParseCellName(r, column_, row) || row != rows.back().index)
                    throw Error("cell name \"" + std::string(r) + "\" does not fit row " +
                                std::to_string(rows.back().index + 1));
            }
            if (column_ >= limits_.columns) throw Error("more than " + std::to_string(limits_.columns) + " columns");
            const char* t = Attribute(attributes, "t");
            type_ = t == nullptr ? "n" : t;
            value_.clear();
            inCell_ = true;
            hasValue_ = false;
            hasInline_ = false;
        } else if (name == "v" && inCell_) {
            inValue_ = true;
            hasValue_ = true;
        } else if (name == "is" && inCell_) {
            hasInline_ = true;
        } else if (inCell_ && hasInline_) {
            text_.Start(name);
        }
    }

    void End(std::string_view name) override {
        if (name == "v") {
            inValue_ = false;
        } else if (name == "c" && inCell_) {
            inCell_ = false;
            Store(MakeCell());
            ++column_;
        } else if (inCell_ && hasInline_) {
            text_.End(name);
        }
    }

    void Text(std::string_view text) override {
        if (inValue_) {
            if (text.size() > limits_.stringBytes - std::min(limits_.stringBytes, value_.size()))
                throw Error("a value of more than " + std::to_string(limits_.stringBytes) + " bytes");
            value_ += text;
        } else if (inCell_ && hasInline_) {
            text_.Text(text);
        }
    }

    std::string Where() const override {
        return rows.empty() ? std::string() : "cell " + CellName(column_, rows.back().index) + ": ";
    }

    std::vector<Row> rows;

private:
    Cell MakeCell() {
        if (type_ == "inlineStr") return Cell::Text(text_.Take());
        if (!hasValue_) return {};  // a formula without its cached value, or a styled empty cell
        if (type_ == "s") {
            std::size_t index = 0;
            auto [end, ec] = std::from_chars(value_.data(), value_.data() + value_.size(), index);
            if (ec != std::errc() || end != value_.data() + value_.size() || index >= shared_.size())
                throw Error("shared string \"" + value_ + "\" does not exist");
            return Cell::Text(shared_[index]);
        }
        if (type_ == "str" || type_ == "d") return Cell::Text(DecodeEscapes(value_));
        if (type_ == "e") return {Cell::Kind::Error, 0, value_};
        if (type_ == "b") {
            if (value_ != "0" && value_ != "1") throw Error("boolean \"" + value_ + "\" is neither 0 nor 1");
            return {Cell::Kind::Boolean, value_ == "1" ? 1.0 : 0.0, value_};
        }
        if (type_ != "n") throw Error("unknown cell type \"" + type_ + "\"");
        double number = 0;
        const char* first = value_.data();
        const char* last = first + value_.size();
        if (first != last && *first == '+') ++first;
        auto [end, ec] = std::from_chars(first, last, number);
        if (ec != std::errc() || end != last) throw Error("number \"" + value_ + "\" cannot be read");
        return {Cell::Kind::Number, number, value_};
    }

    void Store(Cell cell) {
        std::vector<Cell>& cells = rows.back().cells;
        if (cells.size() > column_) {
            if (cells[column_].kind != Cell::Kind::Empty) throw Error("the cell comes twice");
        } else {
            cells.resize(column_ + 1);
        }
        cells[column_] = std::move(cell);
    }

    const std::vector<std::string>& shared_;
    const ReadLimits& limits_;
    TextCollector text_;
    std::uint32_t column_ = 0;
    std::string type_;
    std::string value_;
    bool inCell_ = false;
    bool inValue_ = false;
    bool hasValue_ = false;
    bool hasInline_ = false;
};

}  // namespace

struct WorkbookReader::State {
    std::string path;
    ReadLimits limits;
    ScopedZip zip;
    std::uint64_t total = 0;
    std::vector<SheetInfo> sheets;
    std::vector<std::string> shared;

    [[noreturn]] void Fail(const std::string& problem) const {
        throw Error("workbook \"" + path + "\": " + problem);
    }

    bool HasPart(const std::string& part) {
        return unzLocateFile(zip.zip, part.c_str(), 2) == UNZ_OK;  // part names ignore case
    }

    // Streams one part through `handler`; `context` prefixes its errors.
    void Parse(const std::string& part, XmlHandler& handler, const std::string& context);
};

namespace {

struct ParseContext {
    XmlHandler* handler;
    XML_Parser parser;
    std::optional<std::string> failure;

    void Stop(std::string problem) {
        if (!failure) failure = std::move(problem);
        XML_StopParser(parser, XML_FALSE);
    }
};

void XMLCALL OnStart(void* data, const char* name, const char** attributes) {
    auto* c = static_cast<ParseContext*>(data);
    try {
        c->handler->Start(LocalName(name), attributes);
    } catch (const Error& e) {
        c->Stop(c->handler->Where() + e.what());
    }
}
void XMLCALL OnEnd(void* data, const char* name) {
    auto* c = static_cast<ParseContext*>(data);
    try {
        c->handler->End(LocalName(name));
    } catch (const Error& e) {
        c->Stop(c->handler->Where() + e.what());
    }
}
void XMLCALL OnText(void* data, const char* text, int length) {
    auto* c = static_cast<ParseContext*>(data);
    try {
        c->handler->Text(std::string_view(text, static_cast<std::size_t>(length)));
    } catch (const Error& e) {
        c->Stop(c->handler->Where() + e.what());
    }
}
// Parts of a workbook never declare a document type; one that does is
// hostile (entity expansion) or not a workbook's.
void XMLCALL OnDoctype(void* data, const char*, const char*, const char*, int) {
    static_cast<ParseContext*>(data)->Stop("a document type declaration, which workbooks do not have");
}

}  // namespace

void WorkbookReader::State::Parse(const std::string& part, XmlHandler& handler, const std::string& context) {
    if (!HasPart(part)) Fail("the part \"" + part + "\" is missing");
    unz_file_info64 info{};
    if (unzGetCurrentFileInfo64(zip.zip, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK)
        Fail("the part \"" + part + "\" cannot be read");
    const std::string tooLarge = "the part \"" + part + "\" inflates to more than the " +
                                 std::to_string(limits.partBytes) + " bytes a workbook part may have";
    if (info.uncompressed_size > limits.partBytes) Fail(tooLarge);
    if (unzOpenCurrentFile(zip.zip) != UNZ_OK) Fail("the part \"" + part + "\" cannot be opened");
    struct CloseEntry {
        unzFile zip;
        bool open = true;
        ~CloseEntry() {
            if (open) unzCloseCurrentFile(zip);
        }
    } entry{zip.zip};

    ScopedParser parser;
    if (parser.parser == nullptr) Fail("out of memory");
    ParseContext context_{&handler, parser.parser, std::nullopt};
    XML_SetUserData(parser.parser, &context_);
    XML_SetElementHandler(parser.parser, OnStart, OnEnd);
    XML_SetCharacterDataHandler(parser.parser, OnText);
    XML_SetStartDoctypeDeclHandler(parser.parser, OnDoctype);

    std::vector<char> buffer(64 * 1024);
    std::uint64_t partTotal = 0;
    for (;;) {
        int n = unzReadCurrentFile(zip.zip, buffer.data(), static_cast<unsigned>(buffer.size()));
        if (n < 0) Fail("the part \"" + part + "\" is damaged (zip error " + std::to_string(n) + ")");
        // Counted as inflated: the directory's sizes may lie.
        partTotal += static_cast<std::uint64_t>(n);
        total += static_cast<std::uint64_t>(n);
        if (partTotal > limits.partBytes) Fail(tooLarge);
        if (total > limits.totalBytes)
            Fail("the workbook inflates to more than " + std::to_string(limits.totalBytes) + " bytes");
        if (XML_Parse(parser.parser, buffer.data(), n, n == 0 ? XML_TRUE : XML_FALSE) != XML_STATUS_OK) {
            if (context_.failure) Fail(context + *context_.failure);
            Fail("the part \"" + part + "\" is not well-formed XML (line " +
                 std::to_string(XML_GetCurrentLineNumber(parser.parser)) + ": " +
                 XML_ErrorString(XML_GetErrorCode(parser.parser)) + ")");
        }
        if (n == 0) break;
    }
    entry.open = false;
    if (unzCloseCurrentFile(zip.zip) != UNZ_OK) Fail("the part \"" + part + "\" is damaged (its checksum differs)");
}

WorkbookReader::WorkbookReader(const std::filesystem::path& path, ReadLimits limits)
    : state_(std::make_unique<State>()) {
    State& s = *state_;
    s.path = reinterpret_cast<const char*>(path.u8string().c_str());
    s.limits = limits;
#ifdef _WIN32
    zlib_filefunc64_def functions;
    fill_win32_filefunc64W(&functions);
    s.zip.zip = unzOpen2_64(path.wstring().c_str(), &functions);
#else
    s.zip.zip = unzOpen64(path.c_str());
#endif
    if (s.zip.zip == nullptr) {
        std::error_code error;
        if (!std::filesystem::is_regular_file(path, error)) s.Fail("cannot be opened: no such file");
        s.Fail("is not a workbook (not a zip container)");
    }

    RelationshipsHandler root("");
    if (s.HasPart("_rels/.rels")) s.Parse("_rels/.rels", root, "_rels/.rels: ");
    std::string bookPart = "xl/workbook.xml";
    for (const auto& [id, rel] : root.map)
        if (EndsWith(rel.type, "/officeDocument")) bookPart = rel.target;
    if (!s.HasPart(bookPart)) s.Fail("is not a workbook (it has no \"" + bookPart + "\")");

    WorkbookHandler book;
    s.Parse(bookPart, book, bookPart + ": ");
    RelationshipsHandler rels(bookPart);
    std::string relsPart = RelationshipsOf(bookPart);
    if (s.HasPart(relsPart)) s.Parse(relsPart, rels, relsPart + ": ");

    for (const SheetEntry& entry : book.sheets) {
        auto rel = rels.map.find(entry.relationship);
        if (rel == rels.map.end())
            s.Fail("sheet \"" + entry.name + "\" names the relationship \"" + entry.relationship + "\", which is missing");
        if (!EndsWith(rel->second.type, "/worksheet")) continue;  // a chart sheet: no cells
        s.sheets.push_back({entry.name, entry.hidden, rel->second.target});
    }
    for (const auto& [id, rel] : rels.map) {
        if (!EndsWith(rel.type, "/sharedStrings")) continue;
        SharedStringsHandler shared(s.limits.stringBytes);
        s.Parse(rel.target, shared, rel.target + ": ");
        s.shared = std::move(shared.strings);
    }
}

WorkbookReader::~WorkbookReader() = default;

const std::vector<SheetInfo>& WorkbookReader::Sheets() const { return state_->sheets; }

const SheetInfo* WorkbookReader::FindSheet(std::string_view name) const {
    for (const SheetInfo& sheet : state_->sheets)
        if (SameSheetName(sheet.name, name)) return &sheet;
    return nullptr;
}

std::vector<Row> WorkbookReader::ReadSheet(const SheetInfo& sheet) {
    State& s = *state_;
    SheetHandler handler(s.shared, s.limits);
    s.Parse(sheet.part, handler, "sheet \"" + sheet.name + "\": ");
    return std::move(handler.rows);
}

}  // namespace workbook
