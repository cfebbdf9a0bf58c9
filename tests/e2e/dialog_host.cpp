// dialog_host: runs one operation of the dialog object over the real system
// dialogs from a window of its own, then prints the object's properties, for
// the end-to-end tests under Wine (tools/wine-e2e-dialogs.sh).
//
//   dialog_host OPERATION [ARGUMENT] [OPTIONS]
//
// Operations: color, colortwice (two colour dialogs on one object), font,
// about, run, icon FILE, printer. Options: --out FILE (else stdout),
// --cancel-error, --rgb N, --flags N, --size N, --bold, --italic, --name FACE,
// --app NAME, --prompt TEXT, --title TEXT, --large. Numbers may be 0x-prefixed.
//
// Output, UTF-8, one "Name=value" a line, after each call: "call=N", the
// properties, "LastResult", and "Cancelled=0" when the call raised the cancel
// error (else "Cancelled=none"), "Error=TEXT" for any other error.
// Exit status 0, or 2 for a bad command line.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "dialogs/cls_dialog.h"
#include "dialogs/cls_dialog_win.h"
#include "tests/e2e/win_text.h"

namespace {

std::wstring Hex(std::uint32_t value) {
    wchar_t text[16];
    std::swprintf(text, 16, L"0x%08X", value);
    return text;
}

// Everything goes out in one write at the end, so a reader never sees half a report.
class Report {
public:
    void Line(const std::wstring& name, const std::wstring& value) { text_ += ToUtf8(name + L"=" + value) + "\n"; }
    void Line(const std::wstring& name, long long value) { Line(name, std::to_wstring(value)); }

    bool WriteTo(const std::wstring& path) const {
        HANDLE file = path.empty() ? GetStdHandle(STD_OUTPUT_HANDLE)
                                   : CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                                 FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE || file == nullptr) return false;
        DWORD written = 0;
        const BOOL ok = WriteFile(file, text_.data(), static_cast<DWORD>(text_.size()), &written, nullptr);
        if (!path.empty()) CloseHandle(file);
        return ok && written == text_.size();
    }

private:
    std::string text_;
};

struct Options {
    std::wstring operation;
    std::wstring argument;
    std::wstring out;
    bool cancelError = false;
    std::int32_t rgb = 0;
    std::int32_t flags = 0;
    std::int32_t size = 0;
    bool bold = false;
    bool italic = false;
    bool large = false;
    std::wstring name;
    std::wstring app;
    std::wstring prompt;
    std::wstring title;
};

std::int32_t Number(const std::wstring& text) {
    return static_cast<std::int32_t>(std::wcstoul(text.c_str(), nullptr, 0));
}

bool Parse(int argc, wchar_t** argv, Options& options) {
    if (argc < 2) return false;
    options.operation = argv[1];
    int i = 2;
    if (options.operation == L"icon") {
        if (argc < 3) return false;
        options.argument = argv[i++];
    }
    for (; i < argc; ++i) {
        const std::wstring option = argv[i];
        const bool hasValue = i + 1 < argc;
        if (option == L"--cancel-error") options.cancelError = true;
        else if (option == L"--bold") options.bold = true;
        else if (option == L"--italic") options.italic = true;
        else if (option == L"--large") options.large = true;
        else if (!hasValue) return false;
        else if (option == L"--out") options.out = argv[++i];
        else if (option == L"--rgb") options.rgb = Number(argv[++i]);
        else if (option == L"--flags") options.flags = Number(argv[++i]);
        else if (option == L"--size") options.size = Number(argv[++i]);
        else if (option == L"--name") options.name = argv[++i];
        else if (option == L"--app") options.app = argv[++i];
        else if (option == L"--prompt") options.prompt = argv[++i];
        else if (option == L"--title") options.title = argv[++i];
        else return false;
    }
    return true;
}

void Describe(const dlg::ClsDialog& dialog, Report& report) {
    report.Line(L"RGBResult", Hex(static_cast<std::uint32_t>(dialog.RGBResult())));
    report.Line(L"FontSize", dialog.FontSize());
    report.Line(L"Bold", dialog.Bold());
    report.Line(L"Italic", dialog.Italic());
    report.Line(L"Underline", dialog.Underline());
    report.Line(L"StrikeThru", dialog.StrikeThru());
    report.Line(L"FontName", dialog.FontName());
    report.Line(L"hIcon", dialog.hIcon() != 0 ? L"set" : L"0");
    report.Line(L"FileName", dialog.FileName());
    report.Line(L"AppNameLength", static_cast<long long>(dialog.AppName().size()));
    const auto& printer = dialog.CurrentPrinter();
    report.Line(L"CurrentPrinter", printer ? printer->deviceName : L"none");
    report.Line(L"LastResult", dialog.LastResult());
}

// One call of the operation, reported whatever it raised.
template <typename Call>
void Run(int number, dlg::ClsDialog& dialog, Report& report, Call call) {
    report.Line(L"call", number);
    std::wstring cancelled = L"none";
    try {
        call();
    } catch (const dlg::DialogCancelled& error) {
        cancelled = std::to_wstring(error.Number());
    } catch (const std::exception& error) {
        std::string what = error.what();
        report.Line(L"Error", std::wstring(what.begin(), what.end()));
    }
    report.Line(L"Cancelled", cancelled);
    Describe(dialog, report);
}

LRESULT CALLBACK HostProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcW(window, message, wParam, lParam);
}

HWND MakeOwnerWindow() {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = HostProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // the arrow
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = L"DialogHostWindow";
    RegisterClassW(&windowClass);
    HWND window = CreateWindowExW(0, windowClass.lpszClassName, L"dialog host", WS_OVERLAPPEDWINDOW, 40, 40, 320,
                                  200, nullptr, nullptr, windowClass.hInstance, nullptr);
    if (window != nullptr) ShowWindow(window, SW_SHOWNORMAL);
    return window;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    Options options;
    if (!Parse(argc, argv, options)) {
        std::fputs("usage: dialog_host color|colortwice|font|about|run|icon FILE|printer [options]\n", stderr);
        return 2;
    }
    HWND owner = MakeOwnerWindow();
    std::unique_ptr<dlg::DialogPlatform> platform = dlg::MakeWindowsDialogPlatform();
    dlg::ClsDialog dialog(*platform);
    dialog.hOwner(reinterpret_cast<std::intptr_t>(owner));
    dialog.CancelError(options.cancelError);
    dialog.flags(options.flags);
    dialog.RGBResult(options.rgb);
    dialog.FontSize(options.size);
    dialog.Bold(options.bold);
    dialog.Italic(options.italic);
    dialog.FontName(options.name);
    dialog.AppName(options.app);
    dialog.DialogPrompt(options.prompt);
    dialog.DialogTitle(options.title);

    Report report;
    const std::wstring& op = options.operation;
    if (op == L"color") {
        Run(1, dialog, report, [&] { dialog.ShowColor(); });
    } else if (op == L"colortwice") {
        Run(1, dialog, report, [&] { dialog.ShowColor(); });
        Run(2, dialog, report, [&] { dialog.ShowColor(); });
    } else if (op == L"font") {
        Run(1, dialog, report, [&] { dialog.ShowFont(); });
    } else if (op == L"about") {
        Run(1, dialog, report, [&] { dialog.ShowAbout(); });
    } else if (op == L"run") {
        Run(1, dialog, report, [&] { dialog.ShowRun(0); });
    } else if (op == L"icon") {
        dialog.FileName(options.argument);
        Run(1, dialog, report, [&] { dialog.ShowIcon(options.large); });
    } else if (op == L"printer") {
        Run(1, dialog, report, [&] { dialog.ShowPrinter(); });
    } else {
        std::fputs("dialog_host: unknown operation\n", stderr);
        return 2;
    }
    if (dialog.hIcon() != 0) DestroyIcon(reinterpret_cast<HICON>(dialog.hIcon()));  // ours: the picker's copy
    if (owner != nullptr) DestroyWindow(owner);
    return report.WriteTo(options.out) ? 0 : 1;
}
