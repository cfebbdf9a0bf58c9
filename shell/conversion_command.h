// What the user sees of a conversion: choose the database, check its first
// byte, choose the folder, convert with the controls switched off, report
// the elapsed time. Plain C++ over CommandPlatform, so that every path runs
// in tests; the Windows program implements the platform.
#pragma once

#include <cstdint>
#include <exception>
#include <string>

#include "dialogs/cls_dialog.h"

namespace idb {

// Message box styles as the system numbers them.
enum class MessageStyle : int {
    StopOk = 16,         // stop icon, OK
    Exclamation = 63,    // exclamation icon and button bits 15: shown as exclamation + OK
    InformationOk = 64,  // information icon, OK
};

// Thrown from PumpMessages when the user ended the program while a
// conversion yields: the run unwinds, keeping what it wrote, and Run returns
// normally at once, showing nothing; it does not rethrow. The platform that
// threw it knows the program is ending and ends it once Run has returned.
class EndRequested : public std::exception {
public:
    const char* what() const noexcept override { return "the program is ending"; }
};

class CommandPlatform {
public:
    virtual ~CommandPlatform() = default;
    // A modal message box; returns when it is closed. An empty title means
    // the application's own title.
    virtual void ShowMessage(const std::wstring& text, const std::wstring& title, MessageStyle style) = 0;
    // The program's one dialog object, created on first use.
    virtual dlg::ClsDialog& Dialog() = 0;
    // Milliseconds since the system started, wrapping at 32 bits.
    virtual std::uint32_t TickCount() = 0;
    // Command1, Command2 and the AppExit menu entry.
    virtual void EnableControls(bool enabled) = 0;
    // Lets pending window messages be handled; may throw EndRequested.
    virtual void PumpMessages() = 0;
    // The user's decimal separator, UTF-8.
    virtual std::string DecimalSeparator() = 0;
};

class ConversionCommand {
public:
    explicit ConversionCommand(CommandPlatform& platform) : platform_(platform) {}

    // The whole command. Ignored while a conversion is running (the menu
    // entry stays usable while the materials export yields). A failed
    // conversion is reported in a message box, with the controls enabled
    // again; only errors of the platform's own calls propagate. EnableControls
    // must not throw: it runs from a destructor.
    void Run();

    bool Running() const noexcept { return running_; }
    const std::wstring& DatabasePath() const noexcept { return databasePath_; }
    const std::wstring& OutputFolder() const noexcept { return outputFolder_; }

private:
    CommandPlatform& platform_;
    std::wstring databasePath_;
    std::wstring outputFolder_;
    bool running_ = false;
};

// The separator appended to a chosen folder: "\" on Windows, "/" elsewhere.
wchar_t FolderSeparator() noexcept;
// `folder` with `separator` appended unless it is already the last character
// (an exact comparison: a drive root "C:\" keeps its one backslash).
std::wstring WithTrailingSeparator(std::wstring folder, wchar_t separator);

// The completion text for `elapsedMs` milliseconds:
// "Файл успешно распакован\r\nПрошло времени: 3,265 секунд".
std::wstring CompletionText(std::uint32_t elapsedMs, const std::string& decimalSeparator);

// A conversion failure worded for the user in Russian, naming the file and
// the reason (and for a damaged database the category, record and offset).
// What the program cannot foresee gets a generic Russian sentence followed
// by the technical detail.
std::wstring FailureText(const std::exception& error);

}  // namespace idb
