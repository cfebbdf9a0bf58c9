#include "gamedb/provenance.h"

#include <charconv>
#include <system_error>

#include "archive/archive.h"
#include "export/file_io.h"
#include "gamedb/database.h"
#include "gamedb/error.h"
#include "gamedb/line_reader.h"
#include "gamedb/pack.h"
#include "gamedb/unpack.h"

namespace gamedb {
namespace fs = std::filesystem;
namespace {

constexpr std::string_view kSource = "source";
constexpr std::string_view kSourceSize = "source-size";
constexpr std::string_view kSourceChecksum = "source-crc32";
constexpr std::string_view kFileChecksum = "crc32";

std::string Utf8(const fs::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

}  // namespace

bool IsProvenanceKey(std::string_view key) {
    return key == kSource || key == kSourceSize || key == kSourceChecksum || key == kFileChecksum;
}

Provenance ReadProvenance(InputFolder& in) {
    std::unique_ptr<ByteSource> source = in.Open(std::string(kManifestName));
    LineReader lines(*source);
    Provenance result;
    std::vector<std::string_view> parts;
    while (lines.NextCells(parts)) {
        const std::string_view key = parts[0];
        if (!IsProvenanceKey(key)) continue;
        bool good = parts.size() == (key == kFileChecksum ? 3u : 2u);
        if (good && key == kSource) {
            result.source = std::string(parts[1]);
        } else if (good && key == kSourceSize) {
            const auto r = std::from_chars(parts[1].data(), parts[1].data() + parts[1].size(), result.sourceSize);
            good = r.ec == std::errc() && r.ptr == parts[1].data() + parts[1].size();
        } else if (good && key == kSourceChecksum) {
            good = ParseChecksum(parts[1], result.sourceChecksum);
        } else if (good) {
            WrittenFile file{std::string(parts[1]), 0};
            good = !file.name.empty() && ParseChecksum(parts[2], file.checksum);
            result.files.push_back(std::move(file));
            result.hasFiles = true;
        }
        if (!good) {
            Place place;
            place.file = source->Label();
            place.row = lines.LineNumber();
            throw Error(place, "bad '" + std::string(key) + "' line; expected " +
                                   (key == kFileChecksum ? "crc32<TAB>FILE<TAB>8 hex digits"
                                    : key == kSource     ? "source<TAB>PATH"
                                    : key == kSourceSize ? "source-size<TAB>BYTES"
                                                         : "source-crc32<TAB>8 hex digits"));
        }
    }
    return result;
}

// Keeps the checksum of a file as it goes out; the manifest is held back
// until Close so that the provenance lines can follow it.
class ProvenanceFolder::Output final : public TextOutput {
public:
    Output(ProvenanceFolder& folder, std::string name, std::unique_ptr<TextOutput> inner)
        : folder_(folder), name_(std::move(name)), inner_(std::move(inner)), manifest_(name_ == kManifestName) {}
    void Write(std::string_view bytes) override {
        if (manifest_) {
            held_ += bytes;
            return;
        }
        crc_.Add(bytes);
        inner_->Write(bytes);
    }
    void Close() override {
        if (manifest_) {
            // A manifest that ends without a line end must not swallow the first line.
            if (!held_.empty() && held_.back() != '\n') held_ += "\r\n";
            held_ += folder_.Lines();
            inner_->Write(held_);
        }
        inner_->Close();
        if (!manifest_) folder_.written_.push_back({name_, crc_.Value()});
    }

private:
    ProvenanceFolder& folder_;
    std::string name_;
    std::unique_ptr<TextOutput> inner_;
    bool manifest_;
    Crc32 crc_;
    std::string held_;
};

std::unique_ptr<TextOutput> ProvenanceFolder::Create(const std::string& name) {
    return std::make_unique<Output>(*this, name, inner_.Create(name));
}

std::string ProvenanceFolder::Lines() const {
    std::string lines;
    // A path with a Tab or a line end cannot be a manifest value: no source then.
    const bool plain = source_.find_first_of("\t\r\n") == std::string::npos;
    if (!source_.empty() && plain && database_ != nullptr && database_->Whole()) {
        lines += std::string(kSource) + "\t" + source_ + "\r\n";
        lines += std::string(kSourceSize) + "\t" + std::to_string(database_->Size()) + "\r\n";
        lines += std::string(kSourceChecksum) + "\t" + ChecksumText(database_->Value()) + "\r\n";
    }
    for (const WrittenFile& file : written_)
        lines += std::string(kFileChecksum) + "\t" + file.name + "\t" + ChecksumText(file.checksum) + "\r\n";
    return lines;
}

std::vector<std::string> EditedTables(const fs::path& dir, const fs::path& input) {
    std::error_code error;
    const fs::path manifest = dir / PathFromUtf8(kManifestName);
    if (!fs::exists(fs::symlink_status(manifest, error))) return {};
    if (!input.empty() && idb::SameFile(manifest, input)) return {};
    DiskInputFolder in(dir);
    Provenance provenance;
    try {
        provenance = ReadProvenance(in);
    } catch (const Error&) {
        provenance.hasFiles = false;
    }
    if (!provenance.hasFiles) return {std::string(kManifestName) + " (it records no checksums, so edits cannot be told)"};
    std::vector<std::string> edited;
    for (const WrittenFile& file : provenance.files) {
        const fs::path path = dir / PathFromUtf8(file.name);
        // A file the user deleted holds no edit to lose.
        if (!fs::exists(fs::symlink_status(path, error))) continue;
        if (!input.empty() && idb::SameFile(path, input)) return {};
        bool same = false;
        if (fs::is_regular_file(fs::symlink_status(path, error)) && file.name.find_first_of("/\\:") == std::string::npos) {
            try {
                FileRegionSource source(path);
                same = ChecksumRest(source) == file.checksum;
            } catch (const Error&) {
                same = false;
            }
        }
        if (!same) edited.push_back(file.name);
    }
    return edited;
}

void RefuseEditedTables(const fs::path& dir, const fs::path& input) {
    const std::vector<std::string> edited = EditedTables(dir, input);
    if (edited.empty()) return;
    std::string list;
    for (const std::string& name : edited) list += (list.empty() ? "" : ", ") + name;
    Place place;
    place.file = QuotedPath(dir);
    throw Error(place, "holds tables changed since they were unpacked: " + list +
                           "; unpacking would replace them (save them elsewhere, or give --force to replace them)");
}

void RecordPackedSource(const fs::path& dir, std::string_view target) {
    DiskInputFolder in(dir);
    const Provenance provenance = ReadProvenance(in);
    if (provenance.source.empty() || provenance.source != SourceName(target)) return;
    OpenedDatabase database = OpenDatabase(provenance.source, ManifestKind(in).name);
    const std::uint64_t size = database.source->Size();
    const std::uint32_t checksum = ChecksumRest(*database.source);
    database.source.reset();

    const fs::path manifest = dir / PathFromUtf8(kManifestName);
    std::string text;
    {
        FileRegionSource source(manifest);
        std::vector<std::uint8_t> bytes;
        source.ReadInto(bytes, static_cast<std::size_t>(source.Size()), "the manifest");
        text.assign(bytes.begin(), bytes.end());
    }
    const auto replace = [&text](std::string_view key, const std::string& value) {
        const std::string start = "\n" + std::string(key) + "\t";
        const std::size_t at = text.find(start);
        if (at == std::string::npos) return;
        const std::size_t from = at + start.size(), to = text.find_first_of("\r\n", from);
        text.replace(from, (to == std::string::npos ? text.size() : to) - from, value);
    };
    replace(kSourceSize, std::to_string(size));
    replace(kSourceChecksum, ChecksumText(checksum));
    const fs::path temporary = idb::TemporaryBeside(manifest);
    try {
        FileSink sink(temporary);
        sink.Write(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
        sink.Close();
        MoveOver(temporary, manifest);
    } catch (...) {
        std::error_code error;
        fs::remove(temporary, error);
        throw;
    }
}

std::string SourceName(std::string_view arg) {
    std::error_code error;
    if (const auto member = resarc::SplitMemberArgument(arg)) {
        const fs::path archive = fs::absolute(PathFromUtf8(member->archive), error);
        return Utf8(archive.lexically_normal()) + ":" + member->member;
    }
    return Utf8(fs::absolute(PathFromUtf8(arg), error).lexically_normal());
}

}  // namespace gamedb
