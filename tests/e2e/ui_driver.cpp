// ui_driver: drives the program's windows from a script of steps, for the
// end-to-end tests under Wine. Build it at the program's bitness and run it
// under the same Wine.
//
//   ui_driver [SCRIPT | -]        (no argument or "-": steps from stdin)
//
// One step a line; '#' starts a comment; a token in double quotes may hold
// blanks ("\"" is a quote, every other backslash stays, so regular
// expressions keep their escapes). Patterns are ECMAScript regular
// expressions searched in the text; ${NAME} stands for a captured text,
// escaped to match literally. Controls are numbers or the IDC_ names of
// shell/resource_ids.h. Windows: main, msgbox, file-dialog, folder-dialog,
// title=PATTERN, class=NAME, always limited to the target process.
//
//   start EXE [ARGS...]          attach PATTERN (a top-level title)
//   wait WINDOW                  wait-gone WINDOW
//   expect-none WINDOW MS        wait-exit [CODE]
//   click CTRL                   enabled CTRL 0|1
//   expect-text CTRL PATTERN     settext CTRL TEXT
//   capture NAME CTRL            msgbox TITLE-PATTERN TEXT-PATTERN
//   press-msgbox-ok              open-file PATH
//   cancel-dialog                folder-select PATH
//   menu CAPTION                 close
//   sleep MS                     timeout MS (for the steps after it)
//   echo TEXT                    detach (end, leaving the program running)
//
// Real input, through SendInput to the program's window made foreground:
//   key KEYS                     (tab, shift+tab, enter, space, escape, home, end)
//   mouse CTRL click|double      (the left button at the control's centre)
// and what it did:
//   focus CTRL                   (the control with the keyboard focus)
//   default-button CTRL|none     (the push button drawn as the default)
//   selection CTRL START END     (an edit control's selection)
//   children PATTERN COUNT       (processes the program started whose image
//                                 path matches, counted over 3 s; then ended)
//
// Steps for the system dialogs of the dialog object (tools/wine-e2e-dialogs.sh),
// with the window kind control=ID (a dialog holding a control of that id):
//   press WINDOW ID              (a button of that dialog, waiting for it to close)
//   settext-in WINDOW ID TEXT    (a control of that dialog)
//
// Exit status: 0 every step passed, 1 an expectation failed, 2 a step timed
// out, 3 a bad script. On 1 and 2 the target process is ended, so a failed
// scenario leaves nothing behind.
#include <windows.h>
#include <commctrl.h>
#include <shlobj.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <optional>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "shell/resource_ids.h"
#include "tests/e2e/win_text.h"

namespace {

constexpr int kExitPass = 0;
constexpr int kExitFailed = 1;
constexpr int kExitTimeout = 2;
constexpr int kExitBadScript = 3;

constexpr int kMessageTextId = 0xFFFF;  // the message box's Static holding the text
constexpr int kFileNameId = 0x47C;      // cmb13: the explorer-style name box (ComboBoxEx32 > ComboBox > Edit)
constexpr int kOldFileNameId = 0x480;   // edt1: the old-style name box
constexpr UINT kSendTimeoutMs = 3000;
constexpr DWORD kPollMs = 50;

struct StepError {
    int status;
    std::wstring message;
};

[[noreturn]] void Fail(const std::wstring& message) { throw StepError{kExitFailed, message}; }
[[noreturn]] void TimedOut(const std::wstring& message) { throw StepError{kExitTimeout, message}; }
[[noreturn]] void BadScript(const std::wstring& message) { throw StepError{kExitBadScript, message}; }

// ---- Text and output ----------------------------------------------------

// WriteFile, not wprintf: the C runtime would squeeze the text through code page 1252.
void Print(const std::wstring& line) {
    const std::string bytes = ToUtf8(line + L"\n");
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

// Control characters made visible, so a printed text shows its line ends.
std::wstring Visible(const std::wstring& text) {
    std::wstring out;
    for (wchar_t c : text) {
        if (c == L'\r') out += L"\\r";
        else if (c == L'\n') out += L"\\n";
        else if (c == L'\t') out += L"\\t";
        else out += c;
    }
    return out;
}

bool Matches(const std::wstring& text, const std::wstring& pattern) {
    try {
        return std::regex_search(text, std::wregex(pattern, std::regex_constants::ECMAScript));
    } catch (const std::regex_error&) {
        BadScript(L"bad pattern: " + pattern);
    }
}

std::wstring RegexEscape(const std::wstring& text) {
    std::wstring out;
    for (wchar_t c : text) {
        if (std::wstring(L"\\^$.|?*+()[]{}/").find(c) != std::wstring::npos) out += L'\\';
        out += c;
    }
    return out;
}

// ---- Script ------------------------------------------------------------

std::vector<std::wstring> Tokens(const std::wstring& line) {
    std::vector<std::wstring> tokens;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == L' ' || line[i] == L'\t')) ++i;
        if (i >= line.size() || line[i] == L'#') break;
        std::wstring token;
        if (line[i] == L'"') {
            ++i;
            bool closed = false;
            while (i < line.size()) {
                if (line[i] == L'\\' && i + 1 < line.size() && line[i + 1] == L'"') {
                    token += L'"';
                    i += 2;
                } else if (line[i] == L'"') {
                    closed = true;
                    ++i;
                    break;
                } else {
                    token += line[i++];
                }
            }
            if (!closed) BadScript(L"unclosed quote");
        } else {
            while (i < line.size() && line[i] != L' ' && line[i] != L'\t') token += line[i++];
        }
        tokens.push_back(token);
    }
    return tokens;
}

std::string ReadAll(HANDLE file) {
    std::string data;
    char buffer[4096];
    DWORD read = 0;
    while (ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read > 0) data.append(buffer, read);
    return data;
}

std::vector<std::wstring> ScriptLines(const wchar_t* path) {
    std::string bytes;
    if (path == nullptr || std::wstring(path) == L"-") {
        bytes = ReadAll(GetStdHandle(STD_INPUT_HANDLE));
    } else {
        HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE) BadScript(std::wstring(L"cannot open the script ") + path);
        bytes = ReadAll(file);
        CloseHandle(file);
    }
    if (bytes.rfind("\xEF\xBB\xBF", 0) == 0) bytes.erase(0, 3);
    std::vector<std::wstring> lines;
    std::wstring text = FromUtf8(bytes);
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find(L'\n', start);
        if (end == std::wstring::npos) end = text.size();
        std::wstring line = text.substr(start, end - start);
        if (!line.empty() && line.back() == L'\r') line.pop_back();
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

// ---- Windows of the target process --------------------------------------

std::wstring ClassOf(HWND hwnd) {
    wchar_t name[256] = {};
    GetClassNameW(hwnd, name, 256);
    return name;
}

// WM_GETTEXT, which the system copies across processes (GetWindowText does not
// ask another process's window). Empty when the window does not answer.
std::optional<std::wstring> TextOf(HWND hwnd) {
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(hwnd, WM_GETTEXTLENGTH, 0, 0, SMTO_NORMAL, kSendTimeoutMs, &length)) return std::nullopt;
    std::vector<wchar_t> buffer(length + 2, L'\0');
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutW(hwnd, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data()), SMTO_NORMAL,
                             kSendTimeoutMs, &copied))
        return std::nullopt;
    return std::wstring(buffer.data(), copied);
}

int ControlId(HWND hwnd) { return GetDlgCtrlID(hwnd) & 0xFFFF; }

struct TopLevelSearch {
    DWORD pid;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectTopLevel(HWND hwnd, LPARAM param) {
    auto* search = reinterpret_cast<TopLevelSearch*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    if (pid == search->pid && IsWindowVisible(hwnd)) search->found.push_back(hwnd);
    return TRUE;
}

std::vector<HWND> TopLevelWindows(DWORD pid) {
    TopLevelSearch search{pid, {}};
    EnumWindows(CollectTopLevel, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

BOOL CALLBACK CollectUnowned(HWND hwnd, LPARAM param) {
    if (IsWindowVisible(hwnd) && GetWindow(hwnd, GW_OWNER) == nullptr)
        reinterpret_cast<std::vector<HWND>*>(param)->push_back(hwnd);
    return TRUE;
}

BOOL CALLBACK CollectChild(HWND hwnd, LPARAM param) {
    reinterpret_cast<std::vector<HWND>*>(param)->push_back(hwnd);
    return TRUE;
}

std::vector<HWND> Descendants(HWND parent) {
    std::vector<HWND> found;
    EnumChildWindows(parent, CollectChild, reinterpret_cast<LPARAM>(&found));
    return found;
}

HWND FindDescendant(HWND parent, int id, const wchar_t* className) {
    for (HWND child : Descendants(parent))
        if (ControlId(child) == id && (className == nullptr || ClassOf(child) == className)) return child;
    return nullptr;
}

bool IsDialogClass(HWND hwnd) { return ClassOf(hwnd) == L"#32770"; }

HWND MessageTextOf(HWND box) {
    for (HWND child : Descendants(box)) {
        if (ControlId(child) != kMessageTextId || ClassOf(child) != L"Static") continue;
        if ((GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) continue;
        return child;
    }
    return nullptr;
}

bool IsMessageBox(HWND hwnd) { return IsDialogClass(hwnd) && MessageTextOf(hwnd) != nullptr; }

HWND FileNameBox(HWND dialog) {
    for (HWND child : Descendants(dialog)) {
        if (ClassOf(child) != L"Edit") continue;
        const int id = ControlId(child);
        if (id == kOldFileNameId) return child;
        HWND parent = GetParent(child);
        if (id == kFileNameId && parent != nullptr && ControlId(parent) == kFileNameId) return child;
    }
    return nullptr;
}

bool IsFileDialog(HWND hwnd) { return IsDialogClass(hwnd) && FileNameBox(hwnd) != nullptr; }

bool IsFolderDialog(HWND hwnd) {
    if (!IsDialogClass(hwnd)) return false;
    for (HWND child : Descendants(hwnd))
        if (ClassOf(child) == L"SysTreeView32") return true;
    return false;
}

// The window a user would call the program's: visible, top level, owned by nobody.
bool IsMainWindow(HWND hwnd) { return GetWindow(hwnd, GW_OWNER) == nullptr && !IsMessageBox(hwnd); }

struct WindowSpec {
    std::wstring text;  // as written in the script
    bool Matches(HWND hwnd) const {
        if (text == L"main") return IsMainWindow(hwnd);
        if (text == L"msgbox") return IsMessageBox(hwnd);
        if (text == L"file-dialog") return IsFileDialog(hwnd);
        if (text == L"folder-dialog") return IsFolderDialog(hwnd);
        if (text.rfind(L"class=", 0) == 0) return ClassOf(hwnd) == text.substr(6);
        if (text.rfind(L"control=", 0) == 0)
            return IsDialogClass(hwnd) && FindDescendant(hwnd, static_cast<int>(std::wcstol(text.c_str() + 8, nullptr, 0)), nullptr) != nullptr;
        if (text.rfind(L"title=", 0) == 0) {
            const std::optional<std::wstring> title = TextOf(hwnd);
            return title && ::Matches(*title, text.substr(6));
        }
        BadScript(L"unknown window kind: " + text);
    }
};

// ---- Controls by name -----------------------------------------------------

int ParseNumber(const std::wstring& text) {
    wchar_t* end = nullptr;
    const long value = std::wcstol(text.c_str(), &end, 0);
    if (text.empty() || *end != L'\0') BadScript(L"not a number: " + text);
    return static_cast<int>(value);
}

int ParseControl(const std::wstring& text) {
    static const std::map<std::wstring, int> kNames = {
        {L"IDC_COMMAND1", IDC_COMMAND1}, {L"IDC_COMMAND2", IDC_COMMAND2}, {L"IDC_COMMAND3", IDC_COMMAND3},
        {L"IDC_FRAME1", IDC_FRAME1},     {L"IDC_TEXT1", IDC_TEXT1},       {L"IDC_TEXT2", IDC_TEXT2},
        {L"IDC_LABEL1", IDC_LABEL1},
    };
    const auto named = kNames.find(text);
    return named != kNames.end() ? named->second : ParseNumber(text);
}

// ---- Menu resources ---------------------------------------------------------

std::wstring PlainCaption(const std::wstring& caption) {
    std::wstring out;
    for (std::size_t i = 0; i < caption.size(); ++i) {
        if (caption[i] == L'\t') break;  // the accelerator's text
        if (caption[i] == L'&') {
            if (i + 1 < caption.size() && caption[i + 1] == L'&') out += caption[++i];
            continue;
        }
        out += caption[i];
    }
    return out;
}

// Walks a MENU or MENUEX template, collecting the command entries.
class MenuParser {
public:
    MenuParser(const BYTE* data, std::size_t size) : data_(data), size_(size) {}

    std::vector<std::pair<std::wstring, int>> Entries() {
        const WORD version = Word();
        const WORD offset = Word();
        if (version == 0) {
            pos_ += offset;
            Items();
        } else if (version == 1) {
            pos_ += offset;  // counted from the end of the offset field
            ItemsEx();
        }
        return entries_;
    }

private:
    WORD Word() {
        if (pos_ + 2 > size_) throw StepError{kExitFailed, L"damaged menu resource"};
        const WORD value = static_cast<WORD>(data_[pos_] | data_[pos_ + 1] << 8);
        pos_ += 2;
        return value;
    }
    DWORD Dword() {
        const DWORD low = Word();
        return low | static_cast<DWORD>(Word()) << 16;
    }
    std::wstring String() {
        std::wstring text;
        for (WORD c = Word(); c != 0; c = Word()) text += static_cast<wchar_t>(c);
        return text;
    }

    void Items() {
        for (;;) {
            const WORD option = Word();
            const bool popup = (option & MF_POPUP) != 0;
            const int id = popup ? -1 : Word();
            const std::wstring caption = String();
            if (popup) Items();
            else if (!caption.empty()) entries_.emplace_back(PlainCaption(caption), id);
            if (option & MF_END) return;
        }
    }

    void ItemsEx() {
        for (;;) {
            Dword();  // type
            Dword();  // state
            const int id = static_cast<int>(Dword() & 0xFFFF);
            const WORD flags = Word();
            const std::wstring caption = String();
            pos_ = (pos_ + 3) & ~static_cast<std::size_t>(3);
            if (flags & 0x01) {
                Dword();  // help id
                ItemsEx();
            } else if (!caption.empty()) {
                entries_.emplace_back(PlainCaption(caption), id);
            }
            if (flags & 0x80) return;
        }
    }

    const BYTE* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
    std::vector<std::pair<std::wstring, int>> entries_;
};

struct MenuSearch {
    std::vector<std::pair<std::wstring, int>> entries;
};

BOOL CALLBACK CollectMenu(HMODULE module, LPCWSTR type, LPWSTR name, LONG_PTR param) {
    auto* search = reinterpret_cast<MenuSearch*>(param);
    HRSRC info = FindResourceW(module, name, type);
    HGLOBAL loaded = info ? LoadResource(module, info) : nullptr;
    const void* data = loaded ? LockResource(loaded) : nullptr;
    if (data != nullptr) {
        MenuParser parser(static_cast<const BYTE*>(data), SizeofResource(module, info));
        for (auto& entry : parser.Entries()) search->entries.push_back(entry);
    }
    return TRUE;
}

// Another process's menus cannot be read under Wine, so the program's own
// menu resources give the command ids.
int MenuCommand(const std::wstring& exePath, const std::wstring& caption) {
    HMODULE module = LoadLibraryExW(exePath.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (module == nullptr) Fail(L"cannot load the resources of " + exePath);
    MenuSearch search;
    EnumResourceNamesW(module, MAKEINTRESOURCEW(4) /* RT_MENU */, CollectMenu, reinterpret_cast<LONG_PTR>(&search));
    FreeLibrary(module);
    std::wstring known;
    for (const auto& [text, id] : search.entries) {
        if (text == caption) return id;
        known += L" \"" + text + L"\"";
    }
    Fail(L"no menu entry \"" + caption + L"\"; the menu has:" + known);
}

// ---- The driver ---------------------------------------------------------------

class Driver {
public:
    ~Driver() {
        if (process_ != nullptr) CloseHandle(process_);
    }

    int Run(const std::vector<std::wstring>& lines) {
        start_ = GetTickCount();
        std::size_t lineNumber = 0;
        try {
            for (const std::wstring& line : lines) {
                ++lineNumber;
                const std::vector<std::wstring> tokens = Tokens(line);
                if (tokens.empty()) continue;
                Log(line.substr(line.find_first_not_of(L" \t")));
                if (tokens[0] == L"detach") return kExitPass;
                Step(tokens, line);
            }
            return kExitPass;
        } catch (const StepError& error) {
            const wchar_t* kind = error.status == kExitTimeout  ? L"TIMEOUT"
                                  : error.status == kExitFailed ? L"FAILED"
                                                                : L"BAD SCRIPT";
            Print(L"ui_driver: line " + std::to_wstring(lineNumber) + L": " + kind + L": " + error.message);
            if (process_ != nullptr && error.status != kExitBadScript) TerminateProcess(process_, 99);
            return error.status;
        }
    }

private:
    void Log(const std::wstring& text) {
        const DWORD ms = GetTickCount() - start_;
        wchar_t stamp[32];
        wsprintfW(stamp, L"[%3lu.%02lus] ", ms / 1000, ms % 1000 / 10);
        Print(stamp + text);
    }

    static void Need(const std::vector<std::wstring>& t, std::size_t count) {
        if (t.size() != count) BadScript(t[0] + L" takes " + std::to_wstring(count - 1) + L" argument(s)");
    }

    void Step(const std::vector<std::wstring>& t, const std::wstring& line) {
        const std::wstring& op = t[0];
        if (op == L"start") return Start(t, line);
        if (op == L"attach") return Need(t, 2), Attach(t[1]);
        if (op == L"timeout") return Need(t, 2), void(timeoutMs_ = static_cast<DWORD>(ParseNumber(t[1])));
        if (op == L"sleep") return Need(t, 2), Sleep(static_cast<DWORD>(ParseNumber(t[1])));
        if (op == L"echo") return;
        RequireTarget();
        if (op == L"wait") return Need(t, 2), void(WaitWindow(WindowSpec{t[1]}));
        if (op == L"wait-gone") return Need(t, 2), WaitGone(WindowSpec{t[1]});
        if (op == L"expect-none") return Need(t, 3), ExpectNone(WindowSpec{t[1]}, ParseNumber(t[2]));
        if (op == L"wait-exit") return WaitExit(t);
        if (op == L"click") return Need(t, 2), Click(ParseControl(t[1]));
        if (op == L"enabled") return Need(t, 3), Enabled(ParseControl(t[1]), ParseNumber(t[2]) != 0);
        if (op == L"expect-text") return Need(t, 3), ExpectText(ParseControl(t[1]), Expand(t[2]));
        if (op == L"settext") return Need(t, 3), SetText(ParseControl(t[1]), Unescape(t[2]));
        if (op == L"capture") return Need(t, 3), Capture(t[1], ParseControl(t[2]));
        if (op == L"msgbox") return Need(t, 3), ExpectMessage(Expand(t[1]), Expand(t[2]));
        if (op == L"press-msgbox-ok") return Need(t, 1), PressMessageOk();
        if (op == L"open-file") return Need(t, 2), OpenFile(t[1]);
        if (op == L"cancel-dialog") return Need(t, 1), CancelDialog();
        if (op == L"folder-select") return Need(t, 2), SelectFolder(t[1]);
        if (op == L"menu") return Need(t, 2), Menu(t[1]);
        if (op == L"close") return Need(t, 1), Close();
        if (op == L"press") return Need(t, 3), PressIn(WindowSpec{t[1]}, ParseNumber(t[2]));
        if (op == L"settext-in") return Need(t, 4), SetTextIn(WindowSpec{t[1]}, ParseNumber(t[2]), Unescape(t[3]));
        if (op == L"key") return Need(t, 2), Key(t[1]);
        if (op == L"mouse") return Need(t, 3), Mouse(ParseControl(t[1]), t[2]);
        if (op == L"focus") return Need(t, 2), Focus(ParseControl(t[1]));
        if (op == L"default-button") return Need(t, 2), DefaultButton(t[1]);
        if (op == L"selection") return Need(t, 4), Selection(ParseControl(t[1]), ParseNumber(t[2]), ParseNumber(t[3]));
        if (op == L"children") return Need(t, 3), Children(t[1], ParseNumber(t[2]));
        BadScript(L"unknown step: " + op);
    }

    // ---- Polling

    bool TargetEnded() const { return WaitForSingleObject(process_, 0) == WAIT_OBJECT_0; }

    void RequireTarget() const {
        if (process_ == nullptr) BadScript(L"no program started or attached");
    }

    // Polls `attempt` until it succeeds; false when the time is up. A program
    // that ends meanwhile fails the step at once instead of after the timeout.
    template <class Attempt>
    bool Poll(Attempt&& attempt, bool targetMayEnd = false) {
        const DWORD begin = GetTickCount();
        for (;;) {
            if (attempt()) return true;
            if (!targetMayEnd && TargetEnded()) Fail(L"the program ended (exit code " + ExitCode() + L")");
            if (GetTickCount() - begin >= timeoutMs_) return false;
            Sleep(kPollMs);
        }
    }

    std::wstring ExitCode() const {
        DWORD code = 0;
        GetExitCodeProcess(process_, &code);
        wchar_t text[16];
        wsprintfW(text, L"%lu", code);
        return text;
    }

    HWND FindWindowOf(const WindowSpec& spec) const {
        for (HWND hwnd : TopLevelWindows(pid_))
            if (spec.Matches(hwnd)) return hwnd;
        return nullptr;
    }

    HWND WaitWindow(const WindowSpec& spec) {
        HWND found = nullptr;
        if (!Poll([&] { return (found = FindWindowOf(spec)) != nullptr; })) TimedOut(L"no window " + spec.text + Present());
        return found;
    }

    void WaitGone(const WindowSpec& spec) {
        if (!Poll([&] { return FindWindowOf(spec) == nullptr; }, true)) TimedOut(L"still there: " + spec.text);
    }

    void ExpectNone(const WindowSpec& spec, int ms) {
        const DWORD begin = GetTickCount();
        while (GetTickCount() - begin < static_cast<DWORD>(ms)) {
            if (HWND hwnd = FindWindowOf(spec)) Fail(L"unexpected window " + spec.text + L": " + Describe(hwnd));
            Sleep(kPollMs);
        }
    }

    // What the program shows, for failure messages.
    std::wstring Present() const {
        std::wstring text = L"; the program shows:";
        for (HWND hwnd : TopLevelWindows(pid_)) text += L" [" + Describe(hwnd) + L"]";
        return text;
    }

    static std::wstring Describe(HWND hwnd) {
        std::wstring text = ClassOf(hwnd) + L" \"" + Visible(TextOf(hwnd).value_or(L"?")) + L"\"";
        if (HWND message = MessageTextOf(hwnd)) text += L" text \"" + Visible(TextOf(message).value_or(L"?")) + L"\"";
        return text;
    }

    HWND MainWindow() { return WaitWindow(WindowSpec{L"main"}); }

    HWND Control(int id) {
        HWND control = nullptr;
        if (!Poll([&] {
                for (HWND top : TopLevelWindows(pid_))
                    if (IsMainWindow(top) && (control = FindDescendant(top, id, nullptr)) != nullptr) return true;
                return false;
            }))
            TimedOut(L"no control " + std::to_wstring(id) + Present());
        return control;
    }

    // ---- Steps

    void Start(const std::vector<std::wstring>& t, const std::wstring& line) {
        if (t.size() < 2) BadScript(L"start needs a program");
        exePath_ = t[1];
        std::wstring commandLine = line.substr(line.find(L"start") + 5);
        commandLine = commandLine.substr(commandLine.find_first_not_of(L" \t"));
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION info{};
        // Wine now and then fails a start with an internal error (1359);
        // try again a few times before calling it a failure.
        DWORD error = 0;
        for (int attempt = 0; attempt < 5; ++attempt) {
            if (CreateProcessW(exePath_.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                               &startup, &info)) {
                error = 0;
                break;
            }
            error = GetLastError();
            if (error != ERROR_INTERNAL_ERROR) break;
            Sleep(500);
        }
        if (error != 0) Fail(L"cannot start " + exePath_ + L" (error " + std::to_wstring(error) + L")");
        CloseHandle(info.hThread);
        process_ = info.hProcess;
        pid_ = info.dwProcessId;
    }

    void Attach(const std::wstring& titlePattern) {
        HWND found = nullptr;
        const DWORD begin = GetTickCount();
        for (;;) {
            std::vector<HWND> unowned;
            EnumWindows(CollectUnowned, reinterpret_cast<LPARAM>(&unowned));
            for (HWND hwnd : unowned) {
                const std::optional<std::wstring> title = TextOf(hwnd);
                if (title && Matches(*title, titlePattern)) found = hwnd;
            }
            if (found != nullptr) break;
            if (GetTickCount() - begin >= timeoutMs_) TimedOut(L"no window titled " + titlePattern);
            Sleep(kPollMs);
        }
        GetWindowThreadProcessId(found, &pid_);
        process_ = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION | PROCESS_TERMINATE | PROCESS_VM_OPERATION |
                                   PROCESS_VM_READ | PROCESS_VM_WRITE,
                               FALSE, pid_);
        if (process_ == nullptr) Fail(L"cannot open the process of the window");
        std::vector<wchar_t> path(MAX_PATH * 4);
        DWORD size = static_cast<DWORD>(path.size());
        if (QueryFullProcessImageNameW(process_, 0, path.data(), &size)) exePath_.assign(path.data(), size);
    }

    void WaitExit(const std::vector<std::wstring>& t) {
        if (t.size() > 2) BadScript(L"wait-exit takes at most an exit code");
        if (WaitForSingleObject(process_, timeoutMs_) != WAIT_OBJECT_0) TimedOut(L"the program is still running" + Present());
        const std::wstring code = ExitCode();
        Print(L"    exit code " + code);
        if (t.size() == 2 && static_cast<DWORD>(ParseNumber(t[1])) != static_cast<DWORD>(std::wcstoul(code.c_str(), nullptr, 10)))
            Fail(L"exit code " + code + L", expected " + t[1]);
    }

    // Posted, never sent: a click that opens a modal dialog would not return.
    void Click(int id) {
        HWND control = Control(id);
        if (!Poll([&] { return IsWindowEnabled(control) != FALSE; })) Fail(L"control " + std::to_wstring(id) + L" stays disabled");
        PostMessageW(GetParent(control), WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(control));
    }

    void Enabled(int id, bool expected) {
        HWND control = Control(id);
        if (!Poll([&] { return (IsWindowEnabled(control) != FALSE) == expected; }))
            Fail(L"control " + std::to_wstring(id) + (expected ? L" stays disabled" : L" stays enabled"));
    }

    void ExpectText(int id, const std::wstring& pattern) {
        HWND control = Control(id);
        std::wstring last;
        if (!Poll([&] {
                last = TextOf(control).value_or(L"");
                return Matches(last, pattern);
            }))
            Fail(L"text of " + std::to_wstring(id) + L" is \"" + Visible(last) + L"\"");
        Print(L"    \"" + Visible(last) + L"\"");
    }

    static std::wstring Unescape(const std::wstring& text) {
        std::wstring out;
        for (std::size_t i = 0; i < text.size(); ++i) {
            if (text[i] == L'\\' && i + 1 < text.size()) {
                const wchar_t next = text[++i];
                out += next == L'r' ? L'\r' : next == L'n' ? L'\n' : next == L't' ? L'\t' : next;
            } else {
                out += text[i];
            }
        }
        return out;
    }

    // WM_SETTEXT is copied across processes like WM_GETTEXT.
    void SetText(int id, const std::wstring& text) {
        HWND control = Control(id);
        DWORD_PTR result = 0;
        if (!SendMessageTimeoutW(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()), SMTO_NORMAL,
                                 kSendTimeoutMs, &result))
            Fail(L"control " + std::to_wstring(id) + L" does not take text");
    }

    void Capture(const std::wstring& name, int id) {
        HWND control = Control(id);
        std::optional<std::wstring> text;
        if (!Poll([&] { return (text = TextOf(control)).has_value(); })) TimedOut(L"control does not answer");
        captured_[name] = *text;
        Print(L"    " + name + L" = \"" + Visible(*text) + L"\"");
    }

    // ${NAME} becomes the captured text, escaped to match literally.
    std::wstring Expand(const std::wstring& pattern) const {
        std::wstring out;
        std::size_t i = 0;
        while (i < pattern.size()) {
            const std::size_t open = pattern.find(L"${", i);
            if (open == std::wstring::npos) break;
            const std::size_t close = pattern.find(L'}', open);
            if (close == std::wstring::npos) break;
            const auto value = captured_.find(pattern.substr(open + 2, close - open - 2));
            if (value == captured_.end()) BadScript(L"nothing captured as " + pattern.substr(open, close - open + 1));
            out += pattern.substr(i, open - i) + RegexEscape(value->second);
            i = close + 1;
        }
        return out + pattern.substr(i);
    }

    void ExpectMessage(const std::wstring& titlePattern, const std::wstring& textPattern) {
        HWND box = WaitWindow(WindowSpec{L"msgbox"});
        std::wstring title, text;
        // The texts are set when the box is made: a short wait is enough.
        const DWORD saved = timeoutMs_;
        timeoutMs_ = std::min<DWORD>(saved, 2000);
        Poll([&] {
            title = TextOf(box).value_or(L"");
            text = TextOf(MessageTextOf(box)).value_or(L"");
            return Matches(title, titlePattern) && Matches(text, textPattern);
        });
        timeoutMs_ = saved;
        std::wstring buttons;
        for (HWND child : Descendants(box))
            if (ClassOf(child) == L"Button") buttons += L" [" + TextOf(child).value_or(L"?") + L"]";
        Print(L"    title \"" + Visible(title) + L"\"");
        Print(L"    text  \"" + Visible(text) + L"\"");
        Print(L"    buttons" + buttons);
        if (!Matches(title, titlePattern)) Fail(L"message box title does not match " + titlePattern);
        if (!Matches(text, textPattern)) Fail(L"message box text does not match " + textPattern);
    }

    // Posts the button's command to the dialog and waits until this very
    // window is gone; the post is repeated once, as Wine now and then drops
    // input that arrives while the box is still being laid out.
    void PressAndWait(HWND dialog, int buttonId, const wchar_t* what) {
        for (int attempt = 0; attempt < 2; ++attempt) {
            HWND button = FindDescendant(dialog, buttonId, L"Button");
            PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(buttonId, BN_CLICKED), reinterpret_cast<LPARAM>(button));
            const DWORD saved = timeoutMs_;
            timeoutMs_ = attempt == 0 ? std::min<DWORD>(saved, 5000) : saved;
            const bool gone = Poll([&] { return IsWindow(dialog) == FALSE || IsWindowVisible(dialog) == FALSE; }, true);
            timeoutMs_ = saved;
            if (gone) return;
        }
        TimedOut(std::wstring(what) + L" does not close" + Present());
    }

    // ---- Steps for the dialog object's system dialogs

    void PressIn(const WindowSpec& spec, int id) {
        HWND dialog = WaitWindow(spec);
        if (FindDescendant(dialog, id, L"Button") == nullptr) Fail(L"no button " + std::to_wstring(id) + L" in " + spec.text);
        PressAndWait(dialog, id, L"the dialog");
    }

    // Sent: the dialog hears of the change (EN_CHANGE) as if it were typed.
    void SetTextIn(const WindowSpec& spec, int id, const std::wstring& text) {
        HWND control = FindDescendant(WaitWindow(spec), id, nullptr);
        if (control == nullptr) Fail(L"no control " + std::to_wstring(id) + L" in " + spec.text);
        DWORD_PTR result = 0;
        SendMessageTimeoutW(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()), SMTO_NORMAL,
                            kSendTimeoutMs, &result);
        if (TextOf(control).value_or(L"") != text) Fail(L"control " + std::to_wstring(id) + L" does not take text");
    }

    void PressMessageOk() {
        HWND box = WaitWindow(WindowSpec{L"msgbox"});
        const int id = FindDescendant(box, IDOK, L"Button") != nullptr ? IDOK : IDCANCEL;
        PressAndWait(box, id, L"the message box");
    }

    void OpenFile(const std::wstring& path) {
        HWND dialog = WaitWindow(WindowSpec{L"file-dialog"});
        HWND name = FileNameBox(dialog);
        DWORD_PTR result = 0;
        SendMessageTimeoutW(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()), SMTO_NORMAL, kSendTimeoutMs,
                            &result);
        if (TextOf(name).value_or(L"") != path) Fail(L"the file name box does not take the path");
        PressAndWait(dialog, IDOK, L"the file dialog");
    }

    void CancelDialog() {
        HWND dialog = nullptr;
        if (!Poll([&] {
                for (HWND hwnd : TopLevelWindows(pid_))
                    if (IsFileDialog(hwnd) || IsFolderDialog(hwnd)) return (dialog = hwnd) != nullptr;
                return false;
            }))
            TimedOut(L"no file or folder dialog" + Present());
        PressAndWait(dialog, IDCANCEL, L"the dialog");
    }

    // Text of the folder dialog's selected tree item, read through a buffer in
    // the target's memory: tree messages are not copied across processes.
    std::optional<std::wstring> SelectedFolder(HWND tree, wchar_t* remote) {
        struct Block {
            TVITEMW item;
            wchar_t text[MAX_PATH];
        };
        DWORD_PTR selected = 0;
        if (!SendMessageTimeoutW(tree, TVM_GETNEXTITEM, TVGN_CARET, 0, SMTO_NORMAL, kSendTimeoutMs, &selected) ||
            selected == 0)
            return std::nullopt;
        Block block{};
        block.item.mask = TVIF_TEXT;
        block.item.hItem = reinterpret_cast<HTREEITEM>(selected);
        block.item.pszText = remote + offsetof(Block, text) / sizeof(wchar_t);
        block.item.cchTextMax = MAX_PATH;
        SIZE_T done = 0;
        DWORD_PTR ok = 0;
        if (!WriteProcessMemory(process_, remote, &block, sizeof block, &done) ||
            !SendMessageTimeoutW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(remote), SMTO_NORMAL, kSendTimeoutMs,
                                 &ok) ||
            !ok || !ReadProcessMemory(process_, remote, &block, sizeof block, &done))
            return std::nullopt;
        block.text[MAX_PATH - 1] = L'\0';
        return std::wstring(block.text);
    }

    // Wine ignores text typed into the folder dialog's box; the selection
    // message takes a path in the target's own memory. The tree's selection
    // is checked afterwards: a dialog that cannot show the path keeps its
    // old selection, and OK would choose that one.
    void SelectFolder(const std::wstring& path) {
        HWND dialog = WaitWindow(WindowSpec{L"folder-dialog"});
        HWND tree = nullptr;
        for (HWND child : Descendants(dialog))
            if (ClassOf(child) == L"SysTreeView32") tree = child;
        const SIZE_T bytes = std::max<SIZE_T>((path.size() + 1) * sizeof(wchar_t), 4096);
        auto* remote = static_cast<wchar_t*>(
            VirtualAllocEx(process_, nullptr, bytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
        if (remote == nullptr) Fail(L"cannot allocate memory in the program");
        std::wstring folder = path;
        while (folder.size() > 3 && folder.back() == L'\\') folder.pop_back();
        const std::wstring leaf = folder.substr(folder.find_last_of(L'\\') + 1);
        std::wstring shown = L"(nothing)";
        bool selected = false;
        for (int attempt = 0; attempt < 2 && !selected; ++attempt) {
            SIZE_T written = 0;
            if (!WriteProcessMemory(process_, remote, path.c_str(), (path.size() + 1) * sizeof(wchar_t), &written))
                Fail(L"cannot write the path into the program");
            DWORD_PTR result = 0;
            if (!SendMessageTimeoutW(dialog, BFFM_SETSELECTIONW, TRUE, reinterpret_cast<LPARAM>(remote), SMTO_NORMAL,
                                     10000, &result))
                TimedOut(L"the folder dialog does not answer");
            const std::optional<std::wstring> item = SelectedFolder(tree, remote);
            shown = item.value_or(L"(nothing)");
            selected = item && CompareStringOrdinal(item->c_str(), -1, leaf.c_str(), -1, TRUE) == CSTR_EQUAL;
            if (!selected) Sleep(500);  // a tree still filling in
        }
        if (!selected) Fail(L"the folder dialog shows \"" + shown + L"\" selected instead of \"" + leaf + L"\"");
        PressAndWait(dialog, IDOK, L"the folder dialog");
        if (!TargetEnded()) VirtualFreeEx(process_, remote, 0, MEM_RELEASE);
    }

    void Menu(const std::wstring& caption) {
        const int id = MenuCommand(exePath_, caption);
        PostMessageW(MainWindow(), WM_COMMAND, MAKEWPARAM(id, 0), 0);
    }

    void Close() { PostMessageW(MainWindow(), WM_SYSCOMMAND, SC_CLOSE, 0); }

    // ---- Real input

    // Input goes to the foreground window's thread, so the program's main
    // window must be it, with no box of the program above it.
    HWND BringToFront() {
        HWND main = MainWindow();
        if (!Poll([&] {
                if (GetForegroundWindow() == main) return true;
                SetForegroundWindow(main);
                return false;
            }))
            Fail(L"the main window does not come to the foreground" + Present());
        return main;
    }

    static INPUT KeyInput(WORD vk, bool up) {
        INPUT input{};
        input.type = INPUT_KEYBOARD;
        input.ki.wVk = vk;
        input.ki.wScan = static_cast<WORD>(MapVirtualKeyW(vk, MAPVK_VK_TO_VSC));
        input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
        return input;
    }

    void Key(const std::wstring& keys) {
        static const std::map<std::wstring, WORD> kKeys = {
            {L"tab", VK_TAB},       {L"enter", VK_RETURN}, {L"space", VK_SPACE}, {L"escape", VK_ESCAPE},
            {L"home", VK_HOME},     {L"end", VK_END},      {L"down", VK_DOWN},   {L"up", VK_UP},
        };
        std::vector<WORD> modifiers;
        std::wstring rest = keys;
        for (std::size_t plus; (plus = rest.find(L'+')) != std::wstring::npos; rest.erase(0, plus + 1)) {
            const std::wstring modifier = rest.substr(0, plus);
            if (modifier == L"shift") modifiers.push_back(VK_SHIFT);
            else if (modifier == L"ctrl") modifiers.push_back(VK_CONTROL);
            else BadScript(L"unknown modifier: " + modifier);
        }
        const auto key = kKeys.find(rest);
        if (key == kKeys.end()) BadScript(L"unknown key: " + rest);
        BringToFront();
        std::vector<INPUT> inputs;
        for (WORD m : modifiers) inputs.push_back(KeyInput(m, false));
        inputs.push_back(KeyInput(key->second, false));
        inputs.push_back(KeyInput(key->second, true));
        for (auto m = modifiers.rbegin(); m != modifiers.rend(); ++m) inputs.push_back(KeyInput(*m, true));
        if (SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT)) != inputs.size())
            Fail(L"SendInput refused the keys (error " + std::to_wstring(GetLastError()) + L")");
    }

    void Mouse(int id, const std::wstring& how) {
        if (how != L"click" && how != L"double") BadScript(L"mouse takes click or double");
        HWND control = Control(id);
        BringToFront();
        RECT rect{};
        GetWindowRect(control, &rect);
        const int x = (rect.left + rect.right) / 2;
        const int y = (rect.top + rect.bottom) / 2;
        INPUT move{};
        move.type = INPUT_MOUSE;
        move.mi.dx = MulDiv(x, 65535, GetSystemMetrics(SM_CXSCREEN) - 1);
        move.mi.dy = MulDiv(y, 65535, GetSystemMetrics(SM_CYSCREEN) - 1);
        move.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
        std::vector<INPUT> inputs{move};
        for (int i = 0; i < (how == L"double" ? 2 : 1); ++i) {
            for (DWORD flag : {DWORD{MOUSEEVENTF_LEFTDOWN}, DWORD{MOUSEEVENTF_LEFTUP}}) {
                INPUT button{};
                button.type = INPUT_MOUSE;
                button.mi.dwFlags = flag;
                inputs.push_back(button);
            }
        }
        if (SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT)) != inputs.size())
            Fail(L"SendInput refused the mouse input (error " + std::to_wstring(GetLastError()) + L")");
    }

    // The control with the keyboard focus in the program's window thread.
    HWND FocusedControl() {
        const DWORD thread = GetWindowThreadProcessId(MainWindow(), nullptr);
        GUITHREADINFO info{};
        info.cbSize = sizeof info;
        if (!GetGUIThreadInfo(thread, &info)) return nullptr;
        return info.hwndFocus;
    }

    void Focus(int id) {
        HWND focus = nullptr;
        if (!Poll([&] { return (focus = FocusedControl()) != nullptr && ControlId(focus) == id; }))
            Fail(L"the focus is on " + (focus ? ClassOf(focus) + L" " + std::to_wstring(ControlId(focus)) : L"nothing") +
                 L", not on " + std::to_wstring(id));
        Print(L"    focus on " + std::to_wstring(id));
    }

    void DefaultButton(const std::wstring& which) {
        const int expected = which == L"none" ? 0 : ParseControl(which);
        std::wstring shown;
        if (!Poll([&] {
                shown.clear();
                for (int id : {IDC_COMMAND1, IDC_COMMAND2, IDC_COMMAND3}) {
                    if ((GetWindowLongW(Control(id), GWL_STYLE) & BS_TYPEMASK) == BS_DEFPUSHBUTTON)
                        shown += (shown.empty() ? L"" : L" ") + std::to_wstring(id);
                }
                return shown == (expected ? std::to_wstring(expected) : L"");
            }))
            Fail(L"the default buttons are [" + shown + L"], expected " + which);
    }

    void Selection(int id, int start, int end) {
        HWND control = Control(id);
        DWORD_PTR range = 0;
        if (!Poll([&] {
                return SendMessageTimeoutW(control, EM_GETSEL, 0, 0, SMTO_NORMAL, kSendTimeoutMs, &range) &&
                       static_cast<int>(LOWORD(range)) == start && static_cast<int>(HIWORD(range)) == end;
            }))
            Fail(L"the selection is " + std::to_wstring(LOWORD(range)) + L".." + std::to_wstring(HIWORD(range)) +
                 L", expected " + std::to_wstring(start) + L".." + std::to_wstring(end));
    }

    // Every process the program started, by id, with its image path.
    std::map<DWORD, std::wstring> ChildProcesses() const {
        std::map<DWORD, std::wstring> children;
        HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
        if (snapshot == INVALID_HANDLE_VALUE) return children;
        PROCESSENTRY32W entry{};
        entry.dwSize = sizeof entry;
        for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
            if (entry.th32ParentProcessID != pid_) continue;
            std::wstring image = entry.szExeFile;
            if (HANDLE child = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID)) {
                std::vector<wchar_t> path(MAX_PATH * 4);
                DWORD size = static_cast<DWORD>(path.size());
                if (QueryFullProcessImageNameW(child, 0, path.data(), &size)) image.assign(path.data(), size);
                CloseHandle(child);
            }
            children[entry.th32ProcessID] = image;
        }
        CloseHandle(snapshot);
        return children;
    }

    // Watches for 3 s, so that a second start after a double click shows too,
    // then ends what was started: the test needs no browser.
    void Children(const std::wstring& pattern, int expected) {
        std::map<DWORD, std::wstring> seen;
        const DWORD begin = GetTickCount();
        while (GetTickCount() - begin < 3000) {
            // A process just being made may not have its image name yet.
            for (const auto& [pid, image] : ChildProcesses()) {
                if (!image.empty()) seen[pid] = image;
                else seen.emplace(pid, image);
            }
            Sleep(20);
        }
        int matching = 0;
        for (const auto& [pid, image] : seen) {
            const bool match = Matches(image, pattern);
            matching += match ? 1 : 0;
            Print(L"    started " + (image.empty() ? L"(a process whose image was never named)" : image) +
                  (match ? L"" : L" (does not match)"));
            if (HANDLE child = OpenProcess(PROCESS_TERMINATE, FALSE, pid)) {
                TerminateProcess(child, 0);
                CloseHandle(child);
            }
        }
        if (matching != expected || static_cast<int>(seen.size()) != expected)
            Fail(std::to_wstring(seen.size()) + L" process(es) started, " + std::to_wstring(matching) +
                 L" matching " + pattern + L"; expected " + std::to_wstring(expected));
    }

    HANDLE process_ = nullptr;
    DWORD pid_ = 0;
    std::wstring exePath_;
    DWORD timeoutMs_ = 15000;
    DWORD start_ = 0;
    std::map<std::wstring, std::wstring> captured_;
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
    try {
        const std::vector<std::wstring> lines = ScriptLines(argc > 1 ? argv[1] : nullptr);
        return Driver().Run(lines);
    } catch (const StepError& error) {
        Print(L"ui_driver: " + error.message);
        return error.status;
    }
}
