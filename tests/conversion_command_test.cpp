#include "shell/conversion_command.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <new>
#include <functional>
#include <memory>
#include <system_error>

#include "export/conversion_error.h"
#include "shell/conversion_run.h"
#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using idb::MessageStyle;

const std::wstring kPrompt = L"Укажите папку для распаковки";
const std::wstring kNotDatabase = L"Этот файл не является файлом Item DataBase!";

// Answers the dialogs from scripts: an empty answer is a cancel.
class ScriptedDialogs : public dlg::DialogPlatform {
public:
    std::deque<std::wstring> files;
    std::deque<std::wstring> folders;
    std::vector<dlg::FileDialogRecord> openRecords;
    std::vector<dlg::FolderDialogRecord> folderRecords;

    std::wstring ModuleFolder() override { return L"/opt/idb"; }
    int OpenFileDialog(dlg::FileDialogRecord& record) override {
        openRecords.push_back(record);
        const std::wstring answer = Next(files);
        if (answer.empty()) return 0;
        record.file = answer;
        record.file.resize(dlg::FileBufferSize, L'\0');
        return 1;
    }
    int SaveFileDialog(dlg::FileDialogRecord&) override {
        ADD_FAILURE() << "the command never saves";
        return 0;
    }
    std::optional<std::wstring> BrowseForFolder(const dlg::FolderDialogRecord& record) override {
        folderRecords.push_back(record);
        std::wstring answer = Next(folders);
        if (answer.empty()) return std::nullopt;
        answer.resize(dlg::PathBufferSize, L'\0');
        return answer;
    }

private:
    static std::wstring Next(std::deque<std::wstring>& script) {
        if (script.empty()) {
            ADD_FAILURE() << "a dialog nobody expected";
            return {};
        }
        std::wstring answer = script.front();
        script.pop_front();
        return answer;
    }
};

struct Message {
    std::wstring text;
    std::wstring title;
    MessageStyle style;
    bool controlsEnabled;
};

class FakePlatform : public idb::CommandPlatform {
public:
    ScriptedDialogs dialogs;
    std::vector<Message> messages;
    std::vector<bool> enables;
    bool controlsEnabled = true;
    std::deque<std::uint32_t> ticks{1000, 1000};
    std::string separator = ",";
    int pumps = 0;
    int pumpsWithControlsOn = 0;
    std::function<void()> onPump;
    int dialogsCreated = 0;

    void ShowMessage(const std::wstring& text, const std::wstring& title, MessageStyle style) override {
        messages.push_back({text, title, style, controlsEnabled});
    }
    dlg::ClsDialog& Dialog() override {
        if (!dialog_) {
            dialog_ = std::make_unique<dlg::ClsDialog>(dialogs);
            ++dialogsCreated;
        }
        return *dialog_;
    }
    std::uint32_t TickCount() override {
        if (ticks.empty()) return 0;
        const std::uint32_t tick = ticks.front();
        ticks.pop_front();
        return tick;
    }
    void EnableControls(bool enabled) override {
        enables.push_back(enabled);
        controlsEnabled = enabled;
    }
    void PumpMessages() override {
        ++pumps;
        if (controlsEnabled) ++pumpsWithControlsOn;
        if (onPump) onPump();
    }
    std::string DecimalSeparator() override { return separator; }

private:
    std::unique_ptr<dlg::ClsDialog> dialog_;
};

class ConversionCommandTest : public ::testing::Test {
protected:
    void SetUp() override { fs::create_directories(root_ / "out"); }

    fs::path Out() const { return root_ / "out"; }
    fs::path Sample() const { return fs::path(IDB_SOURCE_DIR) / "samples" / "Items.idb"; }
    // The first `size` bytes of the sample as a database of its own.
    fs::path Truncated(std::size_t size) const {
        std::ifstream in(Sample(), std::ios::binary);
        std::string bytes(size, '\0');
        in.read(bytes.data(), static_cast<std::streamsize>(size));
        const fs::path path = root_ / "short.idb";
        std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(size));
        return path;
    }
    fs::path FileWith(const char* name, const std::string& bytes) const {
        const fs::path path = root_ / name;
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }
    bool OutputEmpty() const { return fs::is_empty(Out()); }

    FakePlatform platform;
    idb::ConversionCommand command{platform};

private:
    idb::testing::TempDir dir_{"idb-command"};
    const fs::path root_ = dir_.path();
};

TEST(WithTrailingSeparator, AppendsExactlyOneUnlessAlreadyLast) {
    EXPECT_EQ(idb::WithTrailingSeparator(L"C:\\", L'\\'), L"C:\\");
    EXPECT_EQ(idb::WithTrailingSeparator(L"C:\\Games\\Out", L'\\'), L"C:\\Games\\Out\\");
    EXPECT_EQ(idb::WithTrailingSeparator(L"C:\\Games\\Out\\", L'\\'), L"C:\\Games\\Out\\");
    // An exact comparison: a slash is not a backslash.
    EXPECT_EQ(idb::WithTrailingSeparator(L"C:\\Out/", L'\\'), L"C:\\Out/\\");
    EXPECT_EQ(idb::WithTrailingSeparator(L"/", L'/'), L"/");
}

TEST(CompletionText, SecondsWithTheUsersSeparator) {
    const std::wstring head = L"Файл успешно распакован\r\nПрошло времени: ";
    EXPECT_EQ(idb::CompletionText(3265, ","), head + L"3,265 секунд");
    EXPECT_EQ(idb::CompletionText(3265, "."), head + L"3.265 секунд");
    EXPECT_EQ(idb::CompletionText(2000, ","), head + L"2 секунд");
    EXPECT_EQ(idb::CompletionText(0, ","), head + L"0 секунд");
    EXPECT_EQ(idb::CompletionText(1, "٫"), head + L"0٫001 секунд");
    EXPECT_EQ(idb::CompletionText(UINT32_MAX, ","), head + L"4294967,295 секунд");
}

TEST(FailureText, NamesTheFileAndTheReason) {
    using idb::ConversionError;
    using idb::FailureKind;
    const auto code = [](int value) { return std::error_code(value, std::generic_category()); };
    EXPECT_EQ(idb::FailureText(ConversionError(FailureKind::OpenDatabase, "Items.idb", "x", code(ENOENT))),
              L"Не удалось открыть файл «Items.idb»: файл или папка не найдены.");
    EXPECT_EQ(idb::FailureText(ConversionError(FailureKind::CreateTable, "Weapons.txt", "x", code(EACCES))),
              L"Не удалось создать файл «Weapons.txt»: доступ запрещён.");
    EXPECT_EQ(idb::FailureText(ConversionError(FailureKind::WriteTable, "Armors.txt", "x", code(ENOSPC))),
              L"Не удалось записать файл «Armors.txt»: недостаточно места на диске.");
    EXPECT_EQ(idb::FailureText(ConversionError(FailureKind::WriteTable, "Armors.txt", "x", code(EROFS))),
              L"Не удалось записать файл «Armors.txt»: диск защищён от записи.");
    EXPECT_EQ(idb::FailureText(ConversionError(FailureKind::WriteTable, "Armors.txt", "x", code(EDOM))),
              L"Не удалось записать файл «Armors.txt»: системная ошибка " + std::to_wstring(EDOM) + L".");
    EXPECT_EQ(idb::FailureText(ConversionError(FailureKind::CreateFolder, "Вывод", "x", code(EEXIST))),
              L"Не удалось создать папку «Вывод»: файл уже существует.");
    EXPECT_EQ(idb::FailureText(ConversionError(FailureKind::WriteTable, "Armors.txt", "x")),
              L"Не удалось записать файл «Armors.txt».");
    EXPECT_EQ(idb::FailureText(ConversionError(FailureKind::Busy, {}, "x")), L"Преобразование уже выполняется.");
}

// What the core does not foresee still reaches the user in Russian.
TEST(FailureText, EveryFailureIsWordedInRussian) {
    const auto code = [](std::errc value) { return std::make_error_code(value); };
    struct Case {
        std::function<std::wstring()> text;
        std::wstring expected;
    };
    const Case cases[] = {
        {[] { return idb::FailureText(idb::NotDatabaseError("a.idb", "the file is empty")); }, kNotDatabase},
        {[] { return idb::FailureText(idb::TableIsDatabaseError(fs::path("out") / "Armors.txt", "Armors.txt")); },
         L"Таблица «" + (fs::path("out") / "Armors.txt").wstring() +
             L"» оказалась бы самой базой данных «Armors.txt» и уничтожила бы её. Выберите другую папку. "
             L"Ничего не записано."},
        {[] { return idb::FailureText(std::bad_alloc()); }, L"Недостаточно памяти."},
        {[&] {
             return idb::FailureText(fs::filesystem_error("x", "Вывод", code(std::errc::permission_denied)));
         },
         L"Ошибка файловой системы, файл «Вывод»: доступ запрещён."},
        {[&] { return idb::FailureText(fs::filesystem_error("x", code(std::errc::io_error))); },
         L"Ошибка файловой системы: ошибка ввода-вывода."},
        {[] { return idb::FailureText(std::runtime_error("vector::reserve")); },
         L"Непредвиденная ошибка. Техническая информация: vector::reserve"},
    };
    for (const Case& c : cases) EXPECT_EQ(c.text(), c.expected);
}

TEST(FailureText, DamagedDatabaseSaysWhere) {
    using idb::Damage;
    using idb::IdbFormatError;
    EXPECT_EQ(idb::FailureText(IdbFormatError(Damage::EndOfData, "Items.idb", 10830, "x", 1, 8)),
              L"Файл «Items.idb» повреждён: категория «оружие», запись 8, смещение 10830 (0x2A4E): "
              L"неожиданный конец данных.");
    EXPECT_EQ(idb::FailureText(IdbFormatError(Damage::BadSizeWord, "Items.idb", 255, "x", 5, 0)),
              L"Файл «Items.idb» повреждён: категория «предметы добычи», смещение 255 (0xFF): "
              L"неверный размер записи.");
    EXPECT_EQ(idb::FailureText(IdbFormatError(Damage::ReadError, "Items.idb", 0, "x")),
              L"Файл «Items.idb» повреждён: смещение 0 (0x0): ошибка чтения.");
}

TEST_F(ConversionCommandTest, CancelledFileDialogEndsQuietly) {
    platform.dialogs.files = {L""};
    command.Run();
    EXPECT_TRUE(platform.messages.empty());
    EXPECT_TRUE(platform.dialogs.folderRecords.empty());
    EXPECT_TRUE(platform.enables.empty());
    EXPECT_EQ(command.DatabasePath(), L"");
    ASSERT_EQ(platform.dialogs.openRecords.size(), 1u);
    const dlg::FileDialogRecord& record = platform.dialogs.openRecords[0];
    static constexpr wchar_t kFilter[] = L"Файлы Items DataBase(*.idb)\0*.idb\0\0";
    EXPECT_EQ(record.filter, std::wstring(kFilter, std::size(kFilter) - 1));
    EXPECT_EQ(record.title, L"Открыть файл Items DataBase (*.idb)");
    EXPECT_EQ(record.initialDir, L"/opt/idb");
}

TEST_F(ConversionCommandTest, FileWithoutTheSignatureIsRefused) {
    platform.dialogs.files = {FileWith("text.idb", "A\x01\x02").wstring(), FileWith("zero.idb", std::string(1, '\0')).wstring(),
                              FileWith("empty.idb", "").wstring()};
    for (int i = 0; i < 3; ++i) command.Run();
    ASSERT_EQ(platform.messages.size(), 3u);
    for (const Message& message : platform.messages) {
        EXPECT_EQ(message.text, kNotDatabase);
        EXPECT_EQ(message.title, L"Ошибка");
        EXPECT_EQ(message.style, MessageStyle::StopOk);
    }
    EXPECT_TRUE(platform.dialogs.folderRecords.empty());
    EXPECT_TRUE(OutputEmpty());
}

// A name typed into the file dialog that does not exist, or a folder, is no
// "not a database": the message names the file and the system's reason.
TEST_F(ConversionCommandTest, FileThatCannotBeOpenedIsNamedWithTheReason) {
    const fs::path missing = Out() / "missing.idb";
    const fs::path folder = Out() / "folder.idb";
    fs::create_directory(folder);
    platform.dialogs.files = {missing.wstring(), folder.wstring()};
    command.Run();
    command.Run();
    ASSERT_EQ(platform.messages.size(), 2u);
    EXPECT_EQ(platform.messages[0].text, L"Не удалось открыть файл «" + missing.wstring() + L"»: файл или папка не найдены.");
    EXPECT_EQ(platform.messages[1].text, L"Не удалось открыть файл «" + folder.wstring() + L"»: это папка.");
    for (const Message& message : platform.messages) {
        EXPECT_EQ(message.title, L"Ошибка");
        EXPECT_EQ(message.style, MessageStyle::StopOk);
    }
    EXPECT_TRUE(platform.dialogs.folderRecords.empty());
    EXPECT_TRUE(platform.enables.empty());
}

// The database chosen inside the output folder under a table's name: the
// run refuses before the first table, so the database survives.
TEST_F(ConversionCommandTest, DatabaseThatWouldBeOverwrittenByATableIsKept) {
    const std::string sample = [&] {
        std::ifstream in(Sample(), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }();
    const fs::path named = Out() / "QuickItems.txt";
    fs::copy_file(Sample(), named);
    const fs::path linked = FileWith("linked.idb", sample);
    fs::create_directory(Out() / "linked");
    fs::create_hard_link(linked, Out() / "linked" / "Materials.txt");
    platform.dialogs.files = {named.wstring(), linked.wstring()};
    platform.dialogs.folders = {Out().wstring(), (Out() / "linked").wstring()};
    command.Run();
    command.Run();

    ASSERT_EQ(platform.messages.size(), 4u);
    for (const Message* message : {&platform.messages[1], &platform.messages[3]}) {
        EXPECT_THAT(message->text, ::testing::HasSubstr(L"оказалась бы самой базой данных"));
        EXPECT_THAT(message->text, ::testing::EndsWith(L"Ничего не записано."));
        EXPECT_EQ(message->title, L"Ошибка");
        EXPECT_TRUE(message->controlsEnabled);
    }
    EXPECT_THAT(platform.messages[1].text, ::testing::StartsWith(L"Таблица «" + named.wstring() + L"»"));
    for (const fs::path& database : {named, linked}) {
        std::ifstream in(database, std::ios::binary);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), sample) << database;
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(Out()), fs::directory_iterator()), 2) << "only the two databases";
    EXPECT_FALSE(command.Running());
}

TEST_F(ConversionCommandTest, PromptThenCancelledFolderDialogEndsQuietly) {
    platform.dialogs.files = {Sample().wstring()};
    platform.dialogs.folders = {L""};
    command.Run();
    ASSERT_EQ(platform.messages.size(), 1u);
    EXPECT_EQ(platform.messages[0].text, kPrompt);
    EXPECT_EQ(platform.messages[0].title, L"");
    EXPECT_EQ(platform.messages[0].style, MessageStyle::Exclamation);
    ASSERT_EQ(platform.dialogs.folderRecords.size(), 1u);
    EXPECT_EQ(platform.dialogs.folderRecords[0].rootPath, std::wstring(1, L'\0'));
    EXPECT_EQ(command.DatabasePath(), Sample().wstring());
    EXPECT_EQ(command.OutputFolder(), L"");
    EXPECT_TRUE(platform.enables.empty());
    EXPECT_TRUE(OutputEmpty());
}

TEST_F(ConversionCommandTest, ConvertsWithControlsOffAndReportsTheTime) {
    platform.dialogs.files = {Sample().wstring()};
    platform.dialogs.folders = {Out().wstring()};
    platform.ticks = {1000, 4265};
    platform.onPump = [&] { EXPECT_TRUE(command.Running()); };
    command.Run();

    EXPECT_EQ(command.OutputFolder(), Out().wstring() + idb::FolderSeparator());
    for (const char* table : {"Materials.txt", "Weapons.txt", "Armors.txt", "QuickItems.txt", "QuestItems.txt",
                              "LootItems.txt"})
        EXPECT_TRUE(fs::exists(Out() / table)) << table;
    EXPECT_GT(platform.pumps, 0);
    EXPECT_EQ(platform.pumpsWithControlsOn, 0);
    EXPECT_THAT(platform.enables, ::testing::ElementsAre(false, true));
    ASSERT_EQ(platform.messages.size(), 2u);
    EXPECT_EQ(platform.messages[1].text, L"Файл успешно распакован\r\nПрошло времени: 3,265 секунд");
    EXPECT_EQ(platform.messages[1].title, L"Операция завершена");
    EXPECT_EQ(platform.messages[1].style, MessageStyle::Exclamation);
    EXPECT_TRUE(platform.messages[1].controlsEnabled);
    EXPECT_FALSE(command.Running());
}

TEST_F(ConversionCommandTest, ElapsedTimeSurvivesTheTickCountWrapping) {
    platform.dialogs.files = {Sample().wstring()};
    platform.dialogs.folders = {Out().wstring() + idb::FolderSeparator()};
    platform.ticks = {0xFFFFFF00u, 0x100u};
    platform.separator = ".";
    command.Run();
    EXPECT_EQ(command.OutputFolder(), Out().wstring() + idb::FolderSeparator());
    ASSERT_EQ(platform.messages.size(), 2u);
    EXPECT_EQ(platform.messages[1].text, L"Файл успешно распакован\r\nПрошло времени: 0.512 секунд");
}

TEST_F(ConversionCommandTest, SecondCommandStartsInTheFolderChosenBefore) {
    platform.dialogs.files = {Sample().wstring(), L""};
    platform.dialogs.folders = {Out().wstring()};
    platform.ticks = {0, 0};
    command.Run();
    command.Run();
    EXPECT_EQ(platform.dialogsCreated, 1);
    ASSERT_EQ(platform.dialogs.openRecords.size(), 2u);
    EXPECT_EQ(platform.dialogs.openRecords[1].initialDir, Out().wstring());
    // The file name box starts empty, not with the last database.
    EXPECT_EQ(platform.dialogs.openRecords[1].file[0], L'\0');
}

TEST_F(ConversionCommandTest, CommandDuringARunIsIgnored) {
    platform.dialogs.files = {Sample().wstring()};
    platform.dialogs.folders = {Out().wstring()};
    bool tried = false;
    platform.onPump = [&] {
        if (tried) return;
        tried = true;
        command.Run();
    };
    command.Run();
    EXPECT_TRUE(tried);
    EXPECT_EQ(platform.dialogs.openRecords.size(), 1u);
    ASSERT_EQ(platform.messages.size(), 2u);
    EXPECT_EQ(platform.messages[1].title, L"Операция завершена");
    EXPECT_THAT(platform.enables, ::testing::ElementsAre(false, true));
}

TEST_F(ConversionCommandTest, DamagedDatabaseIsReportedAndEarlierTablesStay) {
    const fs::path database = Truncated(5000);
    platform.dialogs.files = {database.wstring()};
    platform.dialogs.folders = {Out().wstring()};
    command.Run();

    ASSERT_EQ(platform.messages.size(), 2u);
    EXPECT_EQ(platform.messages[1].text, L"Файл «" + database.wstring() +
                                             L"» повреждён: категория «оружие», запись 8, смещение 5000 (0x1388): "
                                             L"неожиданный конец данных.");
    EXPECT_EQ(platform.messages[1].title, L"Ошибка");
    EXPECT_EQ(platform.messages[1].style, MessageStyle::StopOk);
    EXPECT_TRUE(platform.messages[1].controlsEnabled);
    EXPECT_THAT(platform.enables, ::testing::ElementsAre(false, true));
    EXPECT_GT(fs::file_size(Out() / "Materials.txt"), 1000u);
    EXPECT_TRUE(fs::exists(Out() / "Weapons.txt"));
    EXPECT_FALSE(fs::exists(Out() / "Armors.txt"));
    EXPECT_FALSE(command.Running());
}

TEST_F(ConversionCommandTest, UncreatableTableIsReportedAndTheProgramGoesOn) {
    fs::create_directory(Out() / "Weapons.txt");
    platform.dialogs.files = {Sample().wstring(), Sample().wstring()};
    platform.dialogs.folders = {Out().wstring(), (Out() / "again").wstring()};
    fs::create_directory(Out() / "again");
    command.Run();

    ASSERT_EQ(platform.messages.size(), 2u);
    EXPECT_THAT(platform.messages[1].text,
                ::testing::StartsWith(L"Не удалось создать файл «" + (Out() / "Weapons.txt").wstring() + L"»: "));
    EXPECT_EQ(platform.messages[1].title, L"Ошибка");
    EXPECT_TRUE(platform.messages[1].controlsEnabled);
    EXPECT_GT(fs::file_size(Out() / "Materials.txt"), 1000u);

    // Nothing of the failed run is left holding the next one back.
    command.Run();
    ASSERT_EQ(platform.messages.size(), 4u);
    EXPECT_EQ(platform.messages[3].title, L"Операция завершена");
    EXPECT_TRUE(fs::exists(Out() / "again" / "LootItems.txt"));
}

TEST_F(ConversionCommandTest, EndingTheProgramDuringTheRunReturnsWithoutAMessage) {
    platform.dialogs.files = {Sample().wstring(), Sample().wstring()};
    platform.dialogs.folders = {Out().wstring(), Out().wstring()};
    platform.onPump = [&] {
        if (platform.pumps == 50) throw idb::EndRequested();
    };
    EXPECT_NO_THROW(command.Run());

    ASSERT_EQ(platform.messages.size(), 1u);
    EXPECT_EQ(platform.messages[0].text, kPrompt);
    EXPECT_EQ(platform.pumps, 50);
    EXPECT_THAT(platform.enables, ::testing::ElementsAre(false, true));
    EXPECT_FALSE(command.Running());
    // The materials table keeps its header and the rows written before.
    EXPECT_GT(fs::file_size(Out() / "Materials.txt"), 0u);
    EXPECT_FALSE(fs::exists(Out() / "Weapons.txt"));

    platform.onPump = nullptr;
    command.Run();
    ASSERT_EQ(platform.messages.size(), 3u);
    EXPECT_EQ(platform.messages[2].title, L"Операция завершена");
}

}  // namespace
