#include "shell/conversion_command.h"

#include <algorithm>
#include <filesystem>
#include <new>
#include <string_view>
#include <system_error>
#include <type_traits>

#include "export/conversion_error.h"
#include "export/idb_reader.h"
#include "export/table_writer.h"
#include "shell/conversion_run.h"

namespace idb {

namespace {

constexpr std::wstring_view kFilter = L"Файлы Items DataBase(*.idb)|*.idb";
constexpr std::wstring_view kOpenTitle = L"Открыть файл Items DataBase (*.idb)";
constexpr std::wstring_view kNotDatabase = L"Этот файл не является файлом Item DataBase!";
constexpr std::wstring_view kErrorTitle = L"Ошибка";
constexpr std::wstring_view kFolderPrompt = L"Укажите папку для распаковки";
constexpr std::wstring_view kDoneTitle = L"Операция завершена";

// Appends one code point as UTF-16 where wchar_t is 16 bits (Windows), as
// UTF-32 elsewhere.
void AppendCodePoint(std::wstring& out, char32_t c) {
    if constexpr (sizeof(wchar_t) == 2) {
        if (c >= 0x10000) {
            c -= 0x10000;
            out.push_back(static_cast<wchar_t>(0xD800 + (c >> 10)));
            out.push_back(static_cast<wchar_t>(0xDC00 + (c & 0x3FF)));
            return;
        }
    }
    out.push_back(static_cast<wchar_t>(c));
}

// UTF-8 to wide text without depending on the C locale; a malformed sequence
// becomes U+FFFD rather than an exception, since it only ends up in a message.
template <typename Char>
std::wstring WideFromUtf8(std::basic_string_view<Char> text) {
    std::wstring out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        int extra = 0;
        char32_t c = 0;
        if (lead < 0x80) {
            c = lead;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            extra = 1;
            c = lead & 0x1Fu;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            extra = 2;
            c = lead & 0x0Fu;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            extra = 3;
            c = lead & 0x07u;
        } else {
            AppendCodePoint(out, 0xFFFD);
            ++i;
            continue;
        }
        std::size_t j = i + 1;
        for (; j < text.size() && j <= i + static_cast<std::size_t>(extra); ++j) {
            const auto next = static_cast<unsigned char>(text[j]);
            if ((next & 0xC0u) != 0x80u) break;
            c = (c << 6) | (next & 0x3Fu);
        }
        const bool complete = j == i + 1 + static_cast<std::size_t>(extra);
        // Overlong forms, surrogates and values past U+10FFFF are not text.
        const bool valid = complete && !(extra == 2 && c < 0x800) && !(extra == 3 && c < 0x10000) &&
                           !(c >= 0xD800 && c <= 0xDFFF) && c <= 0x10FFFF;
        AppendCodePoint(out, valid ? c : char32_t{0xFFFD});
        i = valid ? j : std::max(j, i + 1);
    }
    return out;
}

std::wstring Wide(std::string_view utf8) { return WideFromUtf8(utf8); }

std::wstring PathText(const std::filesystem::path& path) {
    if constexpr (std::is_same_v<std::filesystem::path::value_type, wchar_t>) {
        return path.wstring();
    } else {
        // POSIX paths are bytes; wstring() would throw on ones that are not UTF-8.
        const std::u8string bytes = path.u8string();
        return WideFromUtf8(std::u8string_view(bytes));
    }
}

std::wstring Quoted(const std::filesystem::path& path) { return L"«" + PathText(path) + L"»"; }

std::wstring Reason(std::error_code code) {
    if (code == std::errc::no_such_file_or_directory) return L"файл или папка не найдены";
    if (code == std::errc::permission_denied || code == std::errc::operation_not_permitted) return L"доступ запрещён";
    if (code == std::errc::no_space_on_device) return L"недостаточно места на диске";
    if (code == std::errc::is_a_directory) return L"это папка";
    if (code == std::errc::read_only_file_system) return L"диск защищён от записи";
    if (code == std::errc::too_many_files_open) return L"открыто слишком много файлов";
    if (code == std::errc::file_exists) return L"файл уже существует";
    if (code == std::errc::filename_too_long) return L"слишком длинное имя";
    if (code == std::errc::io_error) return L"ошибка ввода-вывода";
    if (code == std::errc::not_a_directory) return L"часть пути не является папкой";
    return L"системная ошибка " + std::to_wstring(code.value());
}

// ": reason" when the system gave one.
std::wstring ReasonSuffix(std::error_code code) { return code ? L": " + Reason(code) : std::wstring(); }

std::wstring CategoryName(int category) {
    switch (category) {
        case 0: return L"материалы";
        case 1: return L"оружие";
        case 2: return L"доспехи";
        case 3: return L"быстрые предметы";
        case 4: return L"квестовые предметы";
        case 5: return L"предметы добычи";
        default: return {};
    }
}

std::wstring DamageText(Damage damage) {
    switch (damage) {
        case Damage::EndOfData: return L"неожиданный конец данных";
        case Damage::ReadError: return L"ошибка чтения";
        case Damage::BadSizeWord: return L"неверный размер записи";
    }
    return L"неизвестное повреждение";
}

std::wstring DamagedText(const IdbFormatError& error) {
    std::wstring text = L"Файл " + Quoted(error.Path()) + L" повреждён";
    std::wstring separator = L": ";
    const std::wstring category = CategoryName(error.Category());
    if (!category.empty()) {
        text += separator + L"категория «" + category + L"»";
        separator = L", ";
    }
    if (error.Record() > 0) {
        text += separator + L"запись " + std::to_wstring(error.Record());
        separator = L", ";
    }
    if (error.Offset() >= 0) {
        text += separator + L"смещение " + std::to_wstring(error.Offset()) + L" (" + Wide(Hex(error.Offset())) + L")";
    }
    return text + L": " + DamageText(error.What()) + L".";
}

// The running flag for the extent of one command, however it ends.
class ScopedRunning {
public:
    explicit ScopedRunning(bool& running) : running_(running) { running_ = true; }
    ScopedRunning(const ScopedRunning&) = delete;
    ScopedRunning& operator=(const ScopedRunning&) = delete;
    ~ScopedRunning() { running_ = false; }

private:
    bool& running_;
};

// The window's controls switched off for the extent of the conversion, so
// that they come back on every way out of it.
class ScopedControlsOff {
public:
    explicit ScopedControlsOff(CommandPlatform& platform) : platform_(platform) { platform_.EnableControls(false); }
    ScopedControlsOff(const ScopedControlsOff&) = delete;
    ScopedControlsOff& operator=(const ScopedControlsOff&) = delete;
    ~ScopedControlsOff() { platform_.EnableControls(true); }

private:
    CommandPlatform& platform_;
};

}  // namespace

wchar_t FolderSeparator() noexcept { return static_cast<wchar_t>(std::filesystem::path::preferred_separator); }

std::wstring WithTrailingSeparator(std::wstring folder, wchar_t separator) {
    if (folder.empty() || folder.back() != separator) folder.push_back(separator);
    return folder;
}

void ConversionCommand::Run() {
    // The Items menu entry stays enabled while the materials export yields.
    if (running_) return;
    ScopedRunning runningScope(running_);

    dlg::ClsDialog& dialog = platform_.Dialog();
    dialog.Filter(std::wstring(kFilter));
    dialog.DialogTitle(std::wstring(kOpenTitle));
    dialog.FileName(L"");
    databasePath_.clear();
    dialog.ShowOpen();
    databasePath_ = dialog.FileName();
    if (databasePath_.empty()) return;

    const std::filesystem::path database(databasePath_);
    const SignatureCheck signature = InspectSignature(database);
    if (signature.verdict == SignatureVerdict::CannotOpen) {
        // A typed name that does not exist, a locked file: not "not a database".
        platform_.ShowMessage(L"Не удалось открыть файл " + Quoted(database) + ReasonSuffix(signature.error) + L".",
                              std::wstring(kErrorTitle), MessageStyle::StopOk);
        return;
    }
    if (signature.verdict == SignatureVerdict::NotDatabase) {
        platform_.ShowMessage(std::wstring(kNotDatabase), std::wstring(kErrorTitle), MessageStyle::StopOk);
        return;
    }

    platform_.ShowMessage(std::wstring(kFolderPrompt), L"", MessageStyle::Exclamation);
    dialog.InitDir(L"");
    outputFolder_.clear();
    dialog.ShowFolder(L"");
    outputFolder_ = dialog.InitDir();
    if (outputFolder_.empty()) return;
    outputFolder_ = WithTrailingSeparator(std::move(outputFolder_), FolderSeparator());

    const std::string separator = platform_.DecimalSeparator();
    const std::uint32_t startTicks = platform_.TickCount();
    try {
        ScopedControlsOff controlsOff(platform_);
        ConversionSettings settings;
        settings.decimalSeparator = separator;
        settings.yield = [this] { platform_.PumpMessages(); };
        ConvertDatabase(database, std::filesystem::path(outputFolder_), settings);
    } catch (const EndRequested&) {
        // The window is closing: the tables stay as far as written and
        // nothing more is shown.
        return;
    } catch (const std::exception& error) {
        platform_.ShowMessage(FailureText(error), std::wstring(kErrorTitle), MessageStyle::StopOk);
        return;
    }
    // Unsigned subtraction stays right across the 49.7-day wrap of the tick count.
    const std::uint32_t elapsed = platform_.TickCount() - startTicks;
    platform_.ShowMessage(CompletionText(elapsed, separator), std::wstring(kDoneTitle), MessageStyle::Exclamation);
}

std::wstring CompletionText(std::uint32_t elapsedMs, const std::string& decimalSeparator) {
    const double seconds = static_cast<double>(elapsedMs) / 1000.0;
    return L"Файл успешно распакован\r\nПрошло времени: " + Wide(FormatDouble(seconds, decimalSeparator)) +
           L" секунд";
}

std::wstring FailureText(const std::exception& error) {
    if (dynamic_cast<const NotDatabaseError*>(&error)) return std::wstring(kNotDatabase);
    if (const auto* same = dynamic_cast<const TableIsDatabaseError*>(&error)) {
        return L"Таблица " + Quoted(same->Path()) + L" оказалась бы самой базой данных " + Quoted(same->Database()) +
               L" и уничтожила бы её. Выберите другую папку. Ничего не записано.";
    }
    if (const auto* damaged = dynamic_cast<const IdbFormatError*>(&error)) return DamagedText(*damaged);
    if (const auto* failure = dynamic_cast<const ConversionError*>(&error)) {
        const std::wstring reason = ReasonSuffix(failure->Code()) + L".";
        switch (failure->Kind()) {
            case FailureKind::OpenDatabase: return L"Не удалось открыть файл " + Quoted(failure->Path()) + reason;
            case FailureKind::CreateFolder: return L"Не удалось создать папку " + Quoted(failure->Path()) + reason;
            case FailureKind::CreateTable: return L"Не удалось создать файл " + Quoted(failure->Path()) + reason;
            case FailureKind::WriteTable: return L"Не удалось записать файл " + Quoted(failure->Path()) + reason;
            case FailureKind::Busy: return L"Преобразование уже выполняется.";
            case FailureKind::DamagedDatabase: return L"Файл " + Quoted(failure->Path()) + L" повреждён.";
        }
    }
    if (dynamic_cast<const std::bad_alloc*>(&error)) return L"Недостаточно памяти.";
    if (const auto* system = dynamic_cast<const std::filesystem::filesystem_error*>(&error)) {
        std::wstring text = L"Ошибка файловой системы";
        if (!system->path1().empty()) text += L", файл " + Quoted(system->path1());
        return text + ReasonSuffix(system->code()) + L".";
    }
    // Nothing the program expects: a Russian sentence, and the detail for whoever investigates.
    return L"Непредвиденная ошибка. Техническая информация: " + Wide(error.what());
}

}  // namespace idb
