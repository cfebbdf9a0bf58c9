#include "dialogs/cls_dialog.h"

#include <gtest/gtest.h>

#include <deque>
#include <stdexcept>
#include <vector>

namespace {

using dlg::ClsDialog;
using dlg::DialogCancelled;
using dlg::FileBufferSize;
using dlg::FileDialogRecord;
using dlg::FolderDialogRecord;
using namespace std::string_literals;

// What the user does in one file dialog.
struct FileAnswer {
    int result = 0;
    std::wstring file;   // written as the system does: text, NUL, rest of the buffer kept
    std::wstring title;
};

FileAnswer Chosen(std::wstring file, std::wstring title) { return {1, std::move(file), std::move(title)}; }
FileAnswer Cancelled() { return {}; }

// Writes over the start of a buffer the way the system does, keeping its size.
void WriteTerminated(std::wstring& buffer, const std::wstring& text) {
    buffer.replace(0, text.size() + 1, text + L'\0');
}

// Scripted system: answers from queues and keeps the records it was shown.
class FakePlatform : public dlg::DialogPlatform {
public:
    std::wstring moduleFolder = L"C:\\Program Files\\Idb";
    std::deque<FileAnswer> fileAnswers;
    std::vector<FileDialogRecord> openRecords;
    std::vector<FileDialogRecord> saveRecords;
    std::optional<std::wstring> folderAnswer;
    std::vector<FolderDialogRecord> folderRecords;

    std::wstring ModuleFolder() override { return moduleFolder; }
    int OpenFileDialog(FileDialogRecord& record) override {
        openRecords.push_back(record);
        return Answer(record);
    }
    int SaveFileDialog(FileDialogRecord& record) override {
        saveRecords.push_back(record);
        return Answer(record);
    }
    std::optional<std::wstring> BrowseForFolder(const FolderDialogRecord& record) override {
        folderRecords.push_back(record);
        return folderAnswer;
    }

private:
    int Answer(FileDialogRecord& record) {
        if (fileAnswers.empty()) ADD_FAILURE() << "a file dialog nobody scripted";
        FileAnswer answer = fileAnswers.empty() ? Cancelled() : fileAnswers.front();
        if (!fileAnswers.empty()) fileAnswers.pop_front();
        if (answer.result > 0) {
            WriteTerminated(record.file, answer.file);
            WriteTerminated(record.fileTitle, answer.title);
        }
        return answer.result;
    }
};

// A 260-character path buffer as the shell fills it.
std::wstring PathBuffer(const std::wstring& path) {
    std::wstring buffer(dlg::PathBufferSize, L'\0');
    WriteTerminated(buffer, path);
    return buffer;
}

class ClsDialogTest : public ::testing::Test {
protected:
    FakePlatform platform;
    ClsDialog dialog{platform};
};

TEST_F(ClsDialogTest, FilterSeparatorsBecomeNulsClosedByTwoMore) {
    const std::pair<std::wstring, std::wstring> rows[] = {
        {L"", L"\0\0"s},
        {L"All files", L"All files\0\0"s},
        {L"Файлы Items DataBase(*.idb)|*.idb", L"Файлы Items DataBase(*.idb)\0*.idb\0\0"s},
        {L"A|*.a|", L"A\0*.a\0\0\0"s},  // the system stops at the first NUL pair
    };
    for (const auto& [filter, expected] : rows) {
        dialog.Filter(filter);
        dialog.InitOFN();
        EXPECT_EQ(dialog.FileRecord().filter, expected);
    }
}

TEST_F(ClsDialogTest, HookAndTemplateFlagsAreCleared) {
    const std::pair<std::int32_t, std::uint32_t> rows[] = {
        {0xE0, 0}, {0x1000 | 0x20 | 0x4, 0x1004}, {-1, 0xFFFFFF1Fu}};
    for (const auto& [flags, expected] : rows) {
        dialog.flags(flags);
        dialog.FilterIndex(flags & 1);  // 0 and 1 go through untouched
        dialog.InitOFN();
        EXPECT_EQ(dialog.FileRecord().flags, expected) << std::hex << flags;
        EXPECT_EQ(dialog.FileRecord().filterIndex, flags & 1);
    }
}

TEST_F(ClsDialogTest, FileBufferIsThe255PaddedNameAndOnlyLongerNamesFail) {
    dialog.FileName(L"C:\\a.idb");
    dialog.InitOFN();
    EXPECT_EQ(dialog.FileRecord().file, L"C:\\a.idb" + std::wstring(FileBufferSize - 8, L'\0'));
    EXPECT_EQ(dialog.FileRecord().fileTitle, std::wstring(FileBufferSize, L'\0'));

    dialog.FileName(std::wstring(FileBufferSize, L'x'));  // accepted; the Windows half adds the NUL
    dialog.InitOFN();
    EXPECT_EQ(dialog.FileRecord().file, std::wstring(FileBufferSize, L'x'));

    dialog.FileName(std::wstring(FileBufferSize + 1, L'x'));
    dialog.CancelError(true);
    EXPECT_THROW(dialog.ShowOpen(), std::invalid_argument);
    EXPECT_THROW(dialog.ShowSave(), std::invalid_argument);
    EXPECT_TRUE(platform.openRecords.empty() && platform.saveRecords.empty()) << "no dialog shown";
    EXPECT_EQ(dialog.FileRecord().file, std::wstring(FileBufferSize, L'x')) << "old record kept whole";
}

TEST_F(ClsDialogTest, ConfirmedDialogsDeliverPathAndTitle) {
    platform.fileAnswers = {Chosen(L"D:\\Игра\\Items.idb", L"Items.idb"), Chosen(L"C:\\o.txt", L"o.txt")};
    dialog.ShowOpen();
    EXPECT_EQ(dialog.FileName(), L"D:\\Игра\\Items.idb");
    EXPECT_EQ(dialog.FileTitle(), L"Items.idb");
    EXPECT_EQ(dialog.LastResult(), 1);
    dialog.ShowSave();
    EXPECT_EQ(dialog.FileName(), L"C:\\o.txt");
    EXPECT_EQ(platform.openRecords.size() + platform.saveRecords.size(), 2u);
    EXPECT_EQ(platform.saveRecords.size(), 1u);
}

TEST_F(ClsDialogTest, CancelLeavesResultsAloneOrRaisesCancelErrorNumberZero) {
    dialog.FileName(L"C:\\kept.idb");
    dialog.FileTitle(L"kept.idb");
    platform.fileAnswers = {Cancelled(), Cancelled(), Cancelled()};
    dialog.ShowOpen();
    EXPECT_EQ(dialog.LastResult(), 0);

    dialog.CancelError(true);
    try {
        dialog.ShowOpen();
        ADD_FAILURE() << "no error raised";
    } catch (const std::invalid_argument&) {
        ADD_FAILURE() << "a cancel is not an argument error";
    } catch (const DialogCancelled& cancelled) {
        EXPECT_EQ(cancelled.Number(), 0);
    }
    EXPECT_THROW(dialog.ShowSave(), DialogCancelled);
    EXPECT_EQ(dialog.FileName(), L"C:\\kept.idb");
    EXPECT_EQ(dialog.FileTitle(), L"kept.idb");
}

TEST_F(ClsDialogTest, SecondOpenStartsWithTheFirstResultAndKeepsNoTail) {
    platform.fileAnswers = {Chosen(L"C:\\a-longer-name.idb", L"a-longer-name.idb"), Chosen(L"C:\\b", L"b")};
    dialog.ShowOpen();
    dialog.ShowOpen();
    const std::wstring& second = platform.openRecords.at(1).file;
    EXPECT_EQ(second.substr(0, second.find(L'\0')), L"C:\\a-longer-name.idb");
    EXPECT_EQ(platform.openRecords[1].fileTitle, std::wstring(FileBufferSize, L'\0'));
    EXPECT_EQ(dialog.FileName(), L"C:\\b");
    EXPECT_EQ(dialog.FileTitle(), L"b");
}

// A buffer with no NUL at all has no end to trust: the old value stays.
TEST_F(ClsDialogTest, UnterminatedResultBufferIsNotTaken) {
    class UnterminatedTitle : public FakePlatform {
        int OpenFileDialog(FileDialogRecord& record) override {
            WriteTerminated(record.file, L"C:\\z.idb");
            record.fileTitle.assign(FileBufferSize, L'z');
            return 1;
        }
    } unterminated;
    ClsDialog other(unterminated);
    other.FileTitle(L"old title");
    other.ShowOpen();
    EXPECT_EQ(other.FileName(), L"C:\\z.idb");
    EXPECT_EQ(other.FileTitle(), L"old title");
}

TEST_F(ClsDialogTest, FolderFlagsAreOneUnlessComputersOrAbove) {
    const std::pair<std::int32_t, std::uint32_t> rows[] = {
        {0, 1}, {0x0800, 1}, {0x0FFF, 1}, {0x8000, 1}, {0x1000, 0x1000},
        {0x1001, 0x1001}, {0x4010, 0x4000}, {0x7001, 0x7001}, {-1, 0x7001}};
    for (const auto& [flags, expected] : rows) {
        dialog.flags(flags);
        dialog.ShowFolder(L"");
        EXPECT_EQ(platform.folderRecords.back().flags, expected) << std::hex << flags;
    }
}

TEST_F(ClsDialogTest, FolderRecordAndResult) {
    dialog.hOwner(77);
    dialog.DialogPrompt(L"Укажите папку");
    platform.folderAnswer = PathBuffer(L"D:\\Игра\\Таблицы");
    dialog.ShowFolder(L"D:\\");
    EXPECT_EQ(platform.folderRecords[0].rootPath, L"D:\\\0"s);
    EXPECT_EQ(platform.folderRecords[0].prompt, L"Укажите папку");
    EXPECT_EQ(platform.folderRecords[0].owner, 77);
    EXPECT_EQ(dialog.InitDir(), L"D:\\Игра\\Таблицы");

    platform.folderAnswer = PathBuffer(L"C:\\");
    dialog.ShowFolder(L"");
    EXPECT_EQ(dialog.InitDir(), L"C:\\") << "a drive root keeps its backslash";

    dialog.CancelError(true);
    platform.folderAnswer = std::nullopt;
    EXPECT_NO_THROW(dialog.ShowFolder(L"")) << "CancelError plays no part here";
    EXPECT_EQ(dialog.InitDir(), L"C:\\");
}

// The conversion command's sequence: the chosen output folder is where the
// next file dialog opens; a cancelled one sends it back to the program folder.
TEST_F(ClsDialogTest, FolderChoiceCarriesIntoTheNextOpen) {
    platform.fileAnswers = {Cancelled(), Cancelled(), Cancelled()};
    dialog.ShowOpen();
    EXPECT_EQ(platform.openRecords[0].initialDir, platform.moduleFolder);
    platform.folderAnswer = PathBuffer(L"E:\\Tables");
    dialog.ShowFolder(L"");
    dialog.ShowOpen();
    EXPECT_EQ(platform.openRecords[1].initialDir, L"E:\\Tables");

    dialog.InitDir(L"");
    platform.folderAnswer = std::nullopt;
    dialog.ShowFolder(L"");
    dialog.ShowOpen();
    EXPECT_EQ(platform.openRecords[2].initialDir, platform.moduleFolder);
    EXPECT_EQ(dialog.InitDir(), L"") << "the fallback is not stored";
}

}  // namespace
