// The folder of tables that unpack writes and pack reads, behind two small
// interfaces so that tests and fuzzers can keep it in memory.
#pragma once

#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "gamedb/byte_io.h"

namespace gamedb {

// One file being written.
class TextOutput {
public:
    virtual ~TextOutput() = default;
    virtual void Write(std::string_view bytes) = 0;
    // Finishes the file; throws Error when it could not be written.
    virtual void Close() = 0;
};

class OutputFolder {
public:
    virtual ~OutputFolder() = default;
    virtual std::unique_ptr<TextOutput> Create(const std::string& name) = 0;
    // Every file is complete: make them all visible at once.
    virtual void Commit() {}
    // A subfolder as an OutputFolder of its own whose files are made visible
    // by this folder's Commit (its own Commit does nothing). Throws Error
    // where the folder has no subfolders.
    virtual std::unique_ptr<OutputFolder> Part(const std::filesystem::path& relative);
};

class InputFolder {
public:
    virtual ~InputFolder() = default;
    // Throws Error when the file is missing or unreadable.
    virtual std::unique_ptr<ByteSource> Open(const std::string& name) = 0;
    // The subfolder `relative` (UTF-8, `/` between folders). Throws Error
    // where the folder has none.
    virtual std::unique_ptr<InputFolder> Part(const std::string& relative);
    // The file on disk that holds `name`, for the checks that an output is
    // not one of its own inputs; empty when none does.
    virtual std::filesystem::path PathOf(const std::string& name) const;
    // How messages name the folder.
    virtual std::string Label() const { return "the folder"; }
    // Whether reading a file costs no more than its bytes: pack then reads
    // an unchanged table once for its checksum rather than whole.
    virtual bool CheapToRead() const { return true; }
};

// Files kept in a map; serves as both ends.
class MemoryFolder final : public OutputFolder, public InputFolder {
public:
    std::unique_ptr<TextOutput> Create(const std::string& name) override;
    std::unique_ptr<ByteSource> Open(const std::string& name) override;
    std::map<std::string, std::string>& Files() { return files_; }

private:
    std::map<std::string, std::string> files_;
};

// A folder on disk written as one whole, the one way every output of many
// files is made (a database's tables, an unpacked or extracted archive).
// Files are written under temporary names beside their own and renamed to
// theirs only by Commit, so a failed run never leaves a mix of old and new
// files; the destructor removes what was not committed, and the folders the
// run created (when left empty). The folder itself is created when the
// first file is. A file may lie in subfolders (`a/b/c.txt`); a subfolder
// that exists must be a real folder: a link (or junction) there would lead
// out of the folder and is refused, as is a file whose place holds a
// folder, a device or a pipe, and one that would replace one of
// `protectedFiles`. The file created last is the one that makes the
// folder whole: Commit removes its old version first and renames the new
// one last.
class DiskOutputFolder final : public OutputFolder {
public:
    DiskOutputFolder(std::filesystem::path dir, std::vector<std::filesystem::path> protectedFiles = {});
    ~DiskOutputFolder() override;
    DiskOutputFolder(const DiskOutputFolder&) = delete;
    DiskOutputFolder& operator=(const DiskOutputFolder&) = delete;

    // `name` is UTF-8, `/` between folders.
    std::unique_ptr<TextOutput> Create(const std::string& name) override;
    std::unique_ptr<TextOutput> CreateAt(const std::filesystem::path& relative);
    std::unique_ptr<OutputFolder> Part(const std::filesystem::path& relative) override;
    void Commit() override;

private:
    std::filesystem::path PrepareFolder(const std::filesystem::path& relative);

    std::filesystem::path dir_;
    std::vector<std::filesystem::path> protected_;
    std::vector<std::pair<std::filesystem::path, std::filesystem::path>> pending_;  // temporary, final
    std::vector<std::filesystem::path> created_;    // folders this run made, in order
    std::set<std::filesystem::path> checked_;      // subfolders known to be real folders
    bool rootReady_ = false;
    bool committed_ = false;
};

class DiskInputFolder final : public InputFolder {
public:
    explicit DiskInputFolder(std::filesystem::path dir) : dir_(std::move(dir)) {}
    std::unique_ptr<ByteSource> Open(const std::string& name) override;
    std::unique_ptr<InputFolder> Part(const std::string& relative) override;
    std::filesystem::path PathOf(const std::string& name) const override;
    std::string Label() const override;
    const std::filesystem::path& Dir() const { return dir_; }

private:
    std::filesystem::path dir_;
};

// A file that a failure must not leave behind (a temporary): removed when
// this goes out of scope, unless Keep() was called.
class RemovedUnlessKept {
public:
    explicit RemovedUnlessKept(std::filesystem::path path) : path_(std::move(path)) {}
    ~RemovedUnlessKept();
    RemovedUnlessKept(const RemovedUnlessKept&) = delete;
    RemovedUnlessKept& operator=(const RemovedUnlessKept&) = delete;
    const std::filesystem::path& Path() const { return path_; }
    void Keep() { kept_ = true; }

private:
    std::filesystem::path path_;
    bool kept_ = false;
};

// Replaces `target` by `source` in one step (idb::ReplaceByTemporary);
// throws Error on failure.
void MoveOver(const std::filesystem::path& source, const std::filesystem::path& target);

}  // namespace gamedb
