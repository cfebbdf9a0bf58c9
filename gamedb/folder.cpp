#include "gamedb/folder.h"

#include <cstring>
#include <system_error>

#include "export/file_io.h"
#include "gamedb/error.h"

namespace gamedb {
namespace fs = std::filesystem;
namespace {

class MemoryOutput final : public TextOutput {
public:
    explicit MemoryOutput(std::string& target) : target_(target) { target_.clear(); }
    void Write(std::string_view bytes) override { target_.append(bytes); }
    void Close() override {}

private:
    std::string& target_;
};

class DiskOutput final : public TextOutput {
public:
    explicit DiskOutput(const fs::path& path) : sink_(path) {}
    void Write(std::string_view bytes) override {
        sink_.Write(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
    }
    void Close() override { sink_.Close(); }

private:
    FileSink sink_;
};

}  // namespace

std::unique_ptr<OutputFolder> OutputFolder::Part(const fs::path& relative) {
    Place place;
    place.file = QuotedPath(relative);
    throw Error(place, "this output holds no subfolders");
}

std::unique_ptr<InputFolder> InputFolder::Part(const std::string& relative) {
    Place place;
    place.file = "\"" + relative + "\"";
    throw Error(place, "this input holds no subfolders");
}

fs::path InputFolder::PathOf(const std::string&) const { return {}; }

std::unique_ptr<TextOutput> MemoryFolder::Create(const std::string& name) {
    return std::make_unique<MemoryOutput>(files_[name]);
}

std::unique_ptr<ByteSource> MemoryFolder::Open(const std::string& name) {
    const auto it = files_.find(name);
    if (it == files_.end()) {
        Place place;
        place.file = "\"" + name + "\"";
        throw Error(place, "no such file in the folder");
    }
    return std::make_unique<OwningMemorySource>(it->second, "\"" + name + "\"");
}

DiskOutputFolder::DiskOutputFolder(fs::path dir, std::vector<fs::path> protectedFiles)
    : dir_(std::move(dir)), protected_(std::move(protectedFiles)) {}

DiskOutputFolder::~DiskOutputFolder() {
    std::error_code ignored;
    for (const auto& [temporary, final] : pending_) fs::remove(temporary, ignored);
    // Folders made for a run that failed go too (only those left empty).
    if (!committed_)
        for (auto it = created_.rbegin(); it != created_.rend(); ++it) fs::remove(*it, ignored);
}

namespace {

class PartFolder final : public OutputFolder {
public:
    PartFolder(DiskOutputFolder& whole, fs::path relative) : whole_(whole), relative_(std::move(relative)) {}
    std::unique_ptr<TextOutput> Create(const std::string& name) override {
        return whole_.CreateAt(relative_ / PathFromUtf8(name));
    }

private:
    DiskOutputFolder& whole_;
    fs::path relative_;
};

bool Exists(const fs::path& path) {
    std::error_code error;
    return fs::symlink_status(path, error).type() != fs::file_type::not_found;
}

}  // namespace

std::unique_ptr<OutputFolder> DiskOutputFolder::Part(const fs::path& relative) {
    return std::make_unique<PartFolder>(*this, relative);
}

fs::path DiskOutputFolder::PrepareFolder(const fs::path& relative) {
    std::error_code error;
    if (!rootReady_) {
        // Made on the first file, so that a database refused at once leaves
        // nothing behind. The folder the user named may itself be a link.
        std::vector<fs::path> missing;
        for (fs::path p = dir_; !p.empty() && !Exists(p); p = p.parent_path()) {
            missing.push_back(p);
            if (p == p.parent_path()) break;
        }
        for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
            if (fs::create_directory(*it, error)) created_.push_back(*it);
            if (error) FailAt(*it, "cannot create the folder: " + error.message());
        }
        if (!fs::is_directory(dir_, error)) FailAt(dir_, "is not a folder");
        rootReady_ = true;
    }
    fs::path folder = dir_;
    for (const fs::path& part : relative) {
        folder /= part;
        if (checked_.count(folder)) continue;
        if (idb::IsLink(folder))
            FailAt(folder, "is a link; refusing to write through it, out of the folder " + QuotedPath(dir_));
        const fs::file_type type = fs::symlink_status(folder, error).type();
        if (type == fs::file_type::not_found) {
            if (fs::create_directory(folder, error)) created_.push_back(folder);
            if (error) FailAt(folder, "cannot create the folder: " + error.message());
        } else if (type != fs::file_type::directory) {
            FailAt(folder, "is in the way of a folder the output needs");
        }
        checked_.insert(folder);
    }
    return folder;
}

std::unique_ptr<TextOutput> DiskOutputFolder::Create(const std::string& name) { return CreateAt(PathFromUtf8(name)); }

std::unique_ptr<TextOutput> DiskOutputFolder::CreateAt(const fs::path& relative) {
    const fs::path final = PrepareFolder(relative.parent_path()) / relative.filename();
    if (const std::string problem = idb::NotReplaceable(final); !problem.empty()) FailAt(final, problem);
    for (const fs::path& input : protected_)
        if (idb::SameFile(final, input)) FailAt(final, "refusing to replace the input with an output");
    const fs::path temporary = idb::TemporaryBeside(final);
    auto output = std::make_unique<DiskOutput>(temporary);
    pending_.emplace_back(temporary, final);
    return output;
}

void DiskOutputFolder::Commit() {
    // The last file made completes the folder (unpack's manifest). Its old
    // version goes first and the new one comes last: a rename failing in
    // between leaves no manifest that would pack old and new tables together.
    if (!pending_.empty()) {
        std::error_code error;
        fs::remove(pending_.back().second, error);
        if (error) FailAt(pending_.back().second, "cannot replace: " + error.message());
    }
    for (const auto& [temporary, final] : pending_) MoveOver(temporary, final);
    pending_.clear();
    committed_ = true;
}

RemovedUnlessKept::~RemovedUnlessKept() {
    std::error_code ignored;
    if (!kept_) fs::remove(path_, ignored);
}

void MoveOver(const fs::path& source, const fs::path& target) {
    const std::error_code error = idb::ReplaceByTemporary(source, target);
    if (!error) return;
#ifdef _WIN32
    const std::string reason = error.category() == idb::NotRegularFileCategory()
                                   ? error.message()
                                   : "system error " + std::to_string(error.value());
#else
    const std::string reason = error.message();
#endif
    Place place;
    place.file = QuotedPath(target);
    throw Error(place, "cannot replace it with " + QuotedPath(source) + ": " + reason);
}

std::unique_ptr<ByteSource> DiskInputFolder::Open(const std::string& name) {
    const fs::path path = dir_ / PathFromUtf8(name);
    return std::make_unique<FileRegionSource>(path, 0, UINT64_MAX, QuotedPath(path));
}

std::unique_ptr<InputFolder> DiskInputFolder::Part(const std::string& relative) {
    return std::make_unique<DiskInputFolder>(dir_ / PathFromUtf8(relative));
}

fs::path DiskInputFolder::PathOf(const std::string& name) const { return dir_ / PathFromUtf8(name); }

std::string DiskInputFolder::Label() const { return QuotedPath(dir_); }

}  // namespace gamedb
