// The main window Varnox over Win32: controls placed from the twips layout at
// the window's DPI, the handlers, and the platform the conversion command
// talks to. The window procedures only decode messages and call handlers.
#include "shell/main_window_win.h"

#include <commctrl.h>

#include <array>
#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "dialogs/cls_dialog.h"
#include "dialogs/cls_dialog_win.h"
#include "shell/conversion_command.h"
#include "shell/main_window.h"
#include "shell/resource_ids.h"
#include "win/scoped_win.h"

namespace idb::win {

namespace {

// ---------------------------------------------------------------------------
// Owners of Win32 handles.

using w32::ScopedFont;
using w32::ScopedKernelHandle;
using w32::ScopedPen;
using w32::ScopedSelect;
using w32::ScopedWindowDC;

class ScopedPaint {
public:
    explicit ScopedPaint(HWND hwnd) : hwnd_(hwnd) { BeginPaint(hwnd_, &paint_); }
    ScopedPaint(const ScopedPaint&) = delete;
    ScopedPaint& operator=(const ScopedPaint&) = delete;
    ~ScopedPaint() { EndPaint(hwnd_, &paint_); }
    HDC Dc() const noexcept { return paint_.hdc; }

private:
    HWND hwnd_;
    PAINTSTRUCT paint_{};
};

// ---------------------------------------------------------------------------
// Small helpers at the Win32 edge.

// A user32 function that older systems lack, or null.
template <typename Function>
Function User32Function(const char* name) {
    const HMODULE user32 = GetModuleHandleW(L"user32.dll");
    if (!user32) return nullptr;
    // Through void(*)(): the one function pointer type GCC lets us cast from FARPROC quietly.
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(user32, name)));
}

using GetDpiForWindowFunction = UINT(WINAPI*)(HWND);
using GetDpiForSystemFunction = UINT(WINAPI*)();
using AdjustWindowRectExForDpiFunction = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);

constexpr int kFontPoints = 8;

int ScreenDpi() {
    if (const auto forSystem = User32Function<GetDpiForSystemFunction>("GetDpiForSystem")) {
        return static_cast<int>(forSystem());
    }
    const ScopedWindowDC screen(nullptr);
    const int dpi = screen.Get() ? GetDeviceCaps(screen.Get(), LOGPIXELSX) : 0;
    return dpi > 0 ? dpi : USER_DEFAULT_SCREEN_DPI;
}

// The DPI the window is drawn at: the monitor's under per-monitor awareness.
int WindowDpi(HWND hwnd) {
    if (const auto forWindow = User32Function<GetDpiForWindowFunction>("GetDpiForWindow")) {
        const UINT dpi = forWindow(hwnd);
        if (dpi > 0) return static_cast<int>(dpi);
    }
    return ScreenDpi();
}

// The system's dialog font, 8 points at the window's DPI, with the Cyrillic
// character set: the font the twips layout was drawn for. "MS Shell Dlg" is
// the logical name every system maps to its dialog face (Microsoft Sans
// Serif on Windows, Tahoma under Wine); the message font of newer systems is
// larger and would push words out of the designed lines.
ScopedFont CreateDialogFont(int dpi) {
    LOGFONTW font{};
    font.lfHeight = -MulDiv(kFontPoints, dpi, 72);
    font.lfWeight = FW_NORMAL;
    font.lfCharSet = RUSSIAN_CHARSET;
    font.lfOutPrecision = OUT_DEFAULT_PRECIS;
    font.lfClipPrecision = CLIP_DEFAULT_PRECIS;
    font.lfQuality = DEFAULT_QUALITY;
    font.lfPitchAndFamily = DEFAULT_PITCH | FF_DONTCARE;
    lstrcpynW(font.lfFaceName, L"MS Shell Dlg", LF_FACESIZE);
    return ScopedFont(CreateFontIndirectW(&font));
}

std::wstring WindowText(HWND hwnd) {
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(hwnd)) + 1, L'\0');
    const int length = GetWindowTextW(hwnd, text.data(), static_cast<int>(text.size()));
    text.resize(static_cast<std::size_t>(length > 0 ? length : 0));
    return text;
}

std::string Utf8(std::wstring_view text) {
    if (text.empty()) return {};
    const int wideLength = static_cast<int>(text.size());
    const int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), wideLength, nullptr, 0, nullptr, nullptr);
    std::string result(static_cast<std::size_t>(length > 0 ? length : 0), '\0');
    if (length > 0) WideCharToMultiByte(CP_UTF8, 0, text.data(), wideLength, result.data(), length, nullptr, nullptr);
    return result;
}

COLORREF SystemColour(SysColour colour) { return GetSysColor(static_cast<int>(colour)); }
HBRUSH SystemBrush(SysColour colour) { return GetSysColorBrush(static_cast<int>(colour)); }

// Wine shows every button for the raw style 63, so each style gets a standard set.
UINT MessageBoxFlags(MessageStyle style) {
    switch (style) {
    case MessageStyle::StopOk: return MB_ICONSTOP | MB_OK;
    case MessageStyle::Exclamation: return MB_ICONEXCLAMATION | MB_OK;
    case MessageStyle::InformationOk: return MB_ICONINFORMATION | MB_OK;
    }
    return MB_OK;
}

class MainWindow;

// ---------------------------------------------------------------------------
// What the conversion command asks of Windows.

class WinCommandPlatform final : public CommandPlatform {
public:
    explicit WinCommandPlatform(MainWindow& window) : window_(window) {}

    void ShowMessage(const std::wstring& text, const std::wstring& title, MessageStyle style) override;
    dlg::ClsDialog& Dialog() override;
    std::uint32_t TickCount() override { return GetTickCount(); }
    void EnableControls(bool enabled) override;
    void PumpMessages() override;
    std::string DecimalSeparator() override;

    // The user ended the program; a yielding conversion must stop.
    void RequestEnd() noexcept { endRequested_ = true; }

private:
    MainWindow& window_;
    // Declared before the dialog object, so that it outlives it.
    std::unique_ptr<dlg::DialogPlatform> dialogPlatform_;
    std::unique_ptr<dlg::ClsDialog> dialog_;
    bool endRequested_ = false;
};

// ---------------------------------------------------------------------------
// The window.

struct ControlArgs {
    const wchar_t* className = L"BUTTON";
    DWORD style = 0;
    DWORD exStyle = 0;
    std::wstring_view text;
};

ControlArgs ArgsFor(Control control) {
    constexpr DWORD kChild = WS_CHILD | WS_VISIBLE;
    // Captions wrap onto a second line where the font is wider than the layout's.
    constexpr DWORD kButton = kChild | WS_TABSTOP | BS_PUSHBUTTON | BS_MULTILINE;
    switch (control) {
    case Control::Command1: return {L"BUTTON", kButton, 0, L"Распаковать Items.idb"};
    case Control::Command2: return {L"BUTTON", kButton, 0, L"Выход"};
    case Control::Command3: return {L"BUTTON", kButton, 0, L"О программе"};
    case Control::Text1:
        return {L"EDIT", kChild | WS_TABSTOP | WS_VSCROLL | ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL,
                WS_EX_CLIENTEDGE, Text1Text()};
    // Below Text2 and Label1 in the Z order (see CreateControls), clipped by them.
    case Control::Frame1: return {L"BUTTON", kChild | WS_CLIPSIBLINGS | BS_GROUPBOX, 0, L""};
    // Flat: no client edge, no border.
    case Control::Text2: return {L"EDIT", kChild | ES_MULTILINE | ES_READONLY, 0, Text2Text()};
    // One line, cut at the edge rather than wrapped.
    case Control::Label1: return {L"STATIC", kChild | SS_LEFTNOWORDWRAP | SS_NOTIFY | SS_NOPREFIX, 0, kWebAddress};
    case Control::Form: break;
    }
    return {};
}

constexpr DWORD kWindowStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
constexpr DWORD kWindowExStyle = WS_EX_CONTROLPARENT;

class MainWindow {
public:
    explicit MainWindow(HINSTANCE instance) : instance_(instance) {}
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;
    ~MainWindow() {
        // Only reached after the loop; a window still standing would call back into a dead object.
        if (hwnd_) DestroyWindow(hwnd_);
    }

    bool Create(int showCommand);
    // IsDialogMessage first, so that Tab moves between the controls.
    void Dispatch(MSG& message);
    // The window reference: null once an end action ran.
    HWND Handle() const noexcept { return hwnd_; }
    void EnableCommandControls(bool enabled);

private:
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK ControlProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                        DWORD_PTR self);
    LRESULT HandleMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT HandleControlMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, Control control);
    void ReportFailure(std::exception_ptr failure) noexcept;

    bool RegisterWindowClass();
    void CreateControls();
    void PlaceControls(int dpi);
    void PlaceWindow(int dpi);
    HWND ControlWindow(Control control) const;
    void SetLabelColour(std::optional<SysColour> colour);
    HBRUSH ColourStatic(HDC dc, HWND control);
    void PaintLines(HDC dc) const;
    static void PaintFrame(HWND frame);
    void OnCommand(int id, int code, HWND control);
    std::optional<Control> ControlOf(HWND hwnd) const;
    void Form_NextControl(WPARAM wParam, LPARAM lParam);
    void ShowDefaultButton(std::optional<Control> focus);
    LRESULT Form_GetDefId() const;

    // Handlers.
    void Command1_Click();
    void Items_Click();
    void About_Click();
    void Command3_Click();
    void Command2_Click();
    void AppExit_Click();
    void Form_QueryUnload();
    void Form_Unload();
    void Label1_Click();
    void Label1_MouseMove();
    void Form_MouseMove();
    void Frame1_MouseMove();
    void Command1_MouseMove();
    void Text1_MouseMove();
    void Text2_MouseMove();
    void Form_Paint();
    void Form_DpiChanged(int dpi, const RECT& suggested);
    void Form_Activate(bool active);

    void EndAction();

    HINSTANCE instance_;
    HWND hwnd_ = nullptr;
    std::array<HWND, 7> controls_{};  // in the order of Layout()
    ScopedFont font_;
    int dpi_ = USER_DEFAULT_SCREEN_DPI;
    SysColour labelColour_ = kLabelInitialColour;
    HWND focusBeforeDeactivation_ = nullptr;
    // Where the focus was when a conversion switched the buttons off.
    HWND focusBeforeRun_ = nullptr;
    bool ending_ = false;
    WinCommandPlatform platform_{*this};
    ConversionCommand command_{platform_};
};

bool MainWindow::RegisterWindowClass() {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = &MainWindow::WindowProc;
    windowClass.hInstance = instance_;
    windowClass.hIcon = static_cast<HICON>(LoadImageW(instance_, MAKEINTRESOURCEW(IDI_APP), IMAGE_ICON,
                                                      GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON),
                                                      LR_SHARED));
    windowClass.hIconSm = static_cast<HICON>(LoadImageW(instance_, MAKEINTRESOURCEW(IDI_APP), IMAGE_ICON,
                                                        GetSystemMetrics(SM_CXSMICON),
                                                        GetSystemMetrics(SM_CYSMICON), LR_SHARED));
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = SystemBrush(SysColour::ButtonFace);
    windowClass.lpszMenuName = MAKEINTRESOURCEW(IDM_MAIN);
    windowClass.lpszClassName = kWindowClassName.data();
    return RegisterClassExW(&windowClass) != 0;
}

bool MainWindow::Create(int showCommand) {
    if (hwnd_) return true;  // the window reference is set: there is one already
    if (!RegisterWindowClass()) return false;
    // Hidden first: the size depends on the DPI of the monitor it lands on.
    hwnd_ = CreateWindowExW(kWindowExStyle, kWindowClassName.data(), kWindowCaption.data(), kWindowStyle,
                            CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr,
                            instance_, this);
    if (!hwnd_) return false;
    dpi_ = WindowDpi(hwnd_);
    CreateControls();
    PlaceWindow(dpi_);
    PlaceControls(dpi_);
    ShowWindow(hwnd_, showCommand == SW_SHOWDEFAULT || showCommand == 0 ? SW_SHOWNORMAL : showCommand);
    UpdateWindow(hwnd_);
    SetFocus(ControlWindow(Control::Command1));
    return true;
}

void MainWindow::CreateControls() {
    const std::array<ControlLayout, 7>& layout = Layout();
    for (std::size_t i = 0; i < layout.size(); ++i) {
        const ControlArgs args = ArgsFor(layout[i].control);
        // Created in tab order: the order of the child list is the tab order.
        HWND control = CreateWindowExW(args.exStyle, args.className, std::wstring(args.text).c_str(), args.style,
                                       0, 0, 0, 0, hwnd_,
                                       reinterpret_cast<HMENU>(static_cast<INT_PTR>(layout[i].id)), instance_,
                                       nullptr);
        controls_[i] = control;
        if (control) {
            SetWindowSubclass(control, &MainWindow::ControlProc, static_cast<UINT_PTR>(layout[i].control),
                              reinterpret_cast<DWORD_PTR>(this));
        }
    }
    // The group box goes under the controls it frames, or it would hide them
    // from the pointer. It takes no focus, so the tab order does not change.
    SetWindowPos(ControlWindow(Control::Frame1), HWND_BOTTOM, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

void MainWindow::PlaceWindow(int dpi) {
    RECT frame{0, 0, TwipsToPixels(kClientWidthTwips, dpi), TwipsToPixels(kClientHeightTwips, dpi)};
    const auto adjustForDpi = User32Function<AdjustWindowRectExForDpiFunction>("AdjustWindowRectExForDpi");
    if (!adjustForDpi || !adjustForDpi(&frame, kWindowStyle, TRUE, kWindowExStyle, static_cast<UINT>(dpi))) {
        AdjustWindowRectEx(&frame, kWindowStyle, TRUE, kWindowExStyle);
    }
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    MONITORINFO monitor{};
    monitor.cbSize = sizeof(monitor);
    GetMonitorInfoW(MonitorFromWindow(hwnd_, MONITOR_DEFAULTTOPRIMARY), &monitor);
    const RECT& work = monitor.rcWork;
    SetWindowPos(hwnd_, nullptr, work.left + (work.right - work.left - width) / 2,
                 work.top + (work.bottom - work.top - height) / 2, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
    // A menu bar that wrapped, or metrics that differ from the estimate: make the client exact.
    RECT client{};
    GetClientRect(hwnd_, &client);
    const int dw = TwipsToPixels(kClientWidthTwips, dpi) - client.right;
    const int dh = TwipsToPixels(kClientHeightTwips, dpi) - client.bottom;
    if (dw != 0 || dh != 0) {
        SetWindowPos(hwnd_, nullptr, 0, 0, width + dw, height + dh, SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOMOVE);
    }
}

void MainWindow::PlaceControls(int dpi) {
    ScopedFont font = CreateDialogFont(dpi);
    const std::array<ControlLayout, 7>& layout = Layout();
    for (std::size_t i = 0; i < layout.size(); ++i) {
        if (!controls_[i]) continue;
        const TwipsRect rect = ClientRectOf(layout[i]);
        SetWindowPos(controls_[i], nullptr, TwipsToPixels(rect.left, dpi), TwipsToPixels(rect.top, dpi),
                     TwipsToPixels(rect.width, dpi), TwipsToPixels(rect.height, dpi),
                     SWP_NOZORDER | SWP_NOACTIVATE);
        if (font) SendMessageW(controls_[i], WM_SETFONT, reinterpret_cast<WPARAM>(font.Get()), TRUE);
    }
    // The controls hold the new font now; the old one can go.
    if (font) font_ = std::move(font);
    InvalidateRect(hwnd_, nullptr, TRUE);
}

HWND MainWindow::ControlWindow(Control control) const {
    const std::array<ControlLayout, 7>& layout = Layout();
    for (std::size_t i = 0; i < layout.size(); ++i) {
        if (layout[i].control == control) return controls_[i];
    }
    return nullptr;
}

void MainWindow::Dispatch(MSG& message) {
    if (hwnd_ && IsDialogMessageW(hwnd_, &message)) return;
    TranslateMessage(&message);
    DispatchMessageW(&message);
}

void MainWindow::EnableCommandControls(bool enabled) {
    if (!hwnd_) return;
    HWND command1 = ControlWindow(Control::Command1);
    HWND command2 = ControlWindow(Control::Command2);
    HWND text1 = ControlWindow(Control::Text1);
    const bool active = GetActiveWindow() == hwnd_;
    if (!enabled) {
        HWND focus = active ? GetFocus() : focusBeforeDeactivation_;
        focusBeforeRun_ = focus && IsChild(hwnd_, focus) ? focus : nullptr;
        // Focus on a disabled button would leave the keyboard nowhere.
        if (focus == command1 || focus == command2) {
            if (active) SetFocus(text1);
            else focusBeforeDeactivation_ = text1;
        }
    }
    EnableWindow(command1, enabled);
    EnableWindow(command2, enabled);
    const UINT state = enabled ? UINT{MF_ENABLED} : UINT{MF_GRAYED};
    EnableMenuItem(GetMenu(hwnd_), IDM_APPEXIT, MF_BYCOMMAND | state);
    // ClipControls: off while converting, as the conversion has always run.
    const LONG_PTR style = GetWindowLongPtrW(hwnd_, GWL_STYLE);
    SetWindowLongPtrW(hwnd_, GWL_STYLE, enabled ? (style | WS_CLIPCHILDREN) : (style & ~LONG_PTR{WS_CLIPCHILDREN}));
    if (!enabled) return;

    // The focus goes back where it was, unless the user moved it meanwhile
    // from where the run had put it.
    HWND back = focusBeforeRun_;
    focusBeforeRun_ = nullptr;
    if (!back || !IsChild(hwnd_, back) || !IsWindowEnabled(back)) back = command1;
    if (active) {
        HWND focus = GetFocus();
        if (!focus || focus == text1 || !IsChild(hwnd_, focus)) SetFocus(back);
    } else if (!focusBeforeDeactivation_ || focusBeforeDeactivation_ == text1) {
        focusBeforeDeactivation_ = back;
    }
}

void MainWindow::SetLabelColour(std::optional<SysColour> colour) {
    if (!colour || *colour == labelColour_) return;
    labelColour_ = *colour;
    if (HWND label = ControlWindow(Control::Label1)) InvalidateRect(label, nullptr, TRUE);
}

HBRUSH MainWindow::ColourStatic(HDC dc, HWND control) {
    if (control == ControlWindow(Control::Label1)) {
        SetTextColor(dc, SystemColour(labelColour_));
        SetBkColor(dc, SystemColour(SysColour::ButtonFace));
        return SystemBrush(SysColour::ButtonFace);
    }
    if (control == ControlWindow(Control::Text2)) {
        SetTextColor(dc, SystemColour(SysColour::WindowText));
        SetBkColor(dc, SystemColour(SysColour::ButtonFace));
        return SystemBrush(SysColour::ButtonFace);
    }
    if (control == ControlWindow(Control::Text1)) {
        // Read-only, yet drawn like an ordinary text box.
        SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
        SetBkColor(dc, GetSysColor(COLOR_WINDOW));
        return GetSysColorBrush(COLOR_WINDOW);
    }
    return nullptr;
}

void MainWindow::PaintLines(HDC dc) const {
    for (const LineLayout& line : Lines()) {
        const ScopedPen pen(CreatePen(PS_SOLID, 1, SystemColour(line.colour)));
        if (!pen) continue;
        const ScopedSelect select(dc, pen.Get());
        MoveToEx(dc, TwipsToPixels(line.x1, dpi_), TwipsToPixels(line.y1, dpi_), nullptr);
        LineTo(dc, TwipsToPixels(line.x2, dpi_), TwipsToPixels(line.y2, dpi_));
    }
}

void MainWindow::PaintFrame(HWND frame) {
    const ScopedPaint paint(frame);
    RECT rect{};
    GetClientRect(frame, &rect);
    FillRect(paint.Dc(), &rect, SystemBrush(SysColour::ButtonFace));
    DrawEdge(paint.Dc(), &rect, EDGE_ETCHED, BF_RECT);
}

std::optional<Control> MainWindow::ControlOf(HWND hwnd) const {
    if (!hwnd) return std::nullopt;
    const std::array<ControlLayout, 7>& layout = Layout();
    for (std::size_t i = 0; i < layout.size(); ++i) {
        if (controls_[i] == hwnd) return layout[i].control;
    }
    return std::nullopt;
}

// A multi-line edit asks its parent for the next control on Tab, as it would
// ask a dialog; without an answer Tab and Shift+Tab stayed in Text1.
// wParam is the target itself when lParam's low word is set, else the
// direction (0 next, non-zero previous).
void MainWindow::Form_NextControl(WPARAM wParam, LPARAM lParam) {
    HWND target = nullptr;
    if (LOWORD(lParam) != 0) {
        target = reinterpret_cast<HWND>(wParam);
    } else {
        const Control from = ControlOf(GetFocus()).value_or(Control::Form);
        const Control next = NextTabStop(from, wParam != 0, [this](Control c) {
            HWND control = ControlWindow(c);
            return control && IsWindowVisible(control) && IsWindowEnabled(control);
        });
        target = ControlWindow(next);
    }
    if (target && IsChild(hwnd_, target) && IsWindowEnabled(target)) SetFocus(target);
}

// The default-button border follows the focus, as in a dialog; Enter then
// clicks the button that shows it (IsDialogMessage asks its code).
void MainWindow::ShowDefaultButton(std::optional<Control> focus) {
    const std::optional<Control> chosen = focus ? DefaultButtonFor(*focus) : std::nullopt;
    for (Control button : {Control::Command1, Control::Command2, Control::Command3}) {
        HWND control = ControlWindow(button);
        if (!control) continue;
        const LONG_PTR type = chosen == button ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON;
        if ((GetWindowLongPtrW(control, GWL_STYLE) & BS_TYPEMASK) != type) {
            SendMessageW(control, BM_SETSTYLE, static_cast<WPARAM>(type), TRUE);
        }
    }
}

LRESULT MainWindow::Form_GetDefId() const {
    const std::optional<Control> focus = ControlOf(GetFocus());
    const std::optional<Control> button = focus ? DefaultButtonFor(*focus) : std::nullopt;
    if (!button) return 0;
    return MAKELRESULT(LayoutOf(*button).id, DC_HASDEFID);
}

// ---------------------------------------------------------------------------
// Message decoding.

LRESULT CALLBACK MainWindow::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* self = reinterpret_cast<MainWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!self) return DefWindowProcW(hwnd, message, wParam, lParam);
    // No exception may cross into the system's code.
    try {
        return self->HandleMessage(hwnd, message, wParam, lParam);
    } catch (...) {
        self->ReportFailure(std::current_exception());
        return 0;
    }
}

LRESULT CALLBACK MainWindow::ControlProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                         DWORD_PTR self) {
    auto* window = reinterpret_cast<MainWindow*>(self);
    try {
        return window->HandleControlMessage(hwnd, message, wParam, lParam, static_cast<Control>(id));
    } catch (...) {
        window->ReportFailure(std::current_exception());
        return 0;
    }
}

LRESULT MainWindow::HandleMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_COMMAND:
        OnCommand(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam));
        return 0;
    case WM_NEXTDLGCTL:
        Form_NextControl(wParam, lParam);
        return 0;
    case DM_GETDEFID:
        return Form_GetDefId();
    case DM_SETDEFID:
        return TRUE;  // the default follows the focus; nothing to remember
    case WM_CLOSE:
        Form_QueryUnload();
        return 0;
    case WM_DESTROY:
        Form_Unload();
        return 0;
    case WM_NCDESTROY:
        hwnd_ = nullptr;
        controls_.fill(nullptr);
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
        return DefWindowProcW(hwnd, message, wParam, lParam);
    case WM_PAINT:
        Form_Paint();
        return 0;
    case WM_MOUSEMOVE:
        Form_MouseMove();
        return 0;
    case WM_CTLCOLORSTATIC:
        if (HBRUSH brush = ColourStatic(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam))) {
            return reinterpret_cast<LRESULT>(brush);
        }
        break;
    case WM_ACTIVATE:
        Form_Activate(LOWORD(wParam) != WA_INACTIVE);
        return 0;
    case WM_DPICHANGED:
        Form_DpiChanged(HIWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
        return 0;
    default:
        break;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

LRESULT MainWindow::HandleControlMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, Control control) {
    switch (message) {
    case WM_MOUSEMOVE:
        switch (control) {
        case Control::Label1: Label1_MouseMove(); break;
        case Control::Frame1: Frame1_MouseMove(); break;
        case Control::Command1: Command1_MouseMove(); break;
        case Control::Text1: Text1_MouseMove(); break;
        case Control::Text2: Text2_MouseMove(); break;
        default: break;  // Command2 and Command3 have no mouse-move handler
        }
        break;
    case WM_SETCURSOR:
        if (LOWORD(lParam) == HTCLIENT) {
            if (control == Control::Label1) {
                SetCursor(LoadCursorW(instance_, MAKEINTRESOURCEW(IDC_HAND_LINK)));
                return TRUE;
            }
            if (control == Control::Text1 || control == Control::Text2) {
                SetCursor(LoadCursorW(nullptr, IDC_ARROW));
                return TRUE;
            }
        }
        break;
    case WM_NCHITTEST:
        // A group box is transparent to the pointer; this one has a mouse-move handler.
        if (control == Control::Frame1) return HTCLIENT;
        break;
    case WM_PAINT:
        // Drawn here as a plain etched frame: Wine's themed group box leaves a
        // dark line inside the box.
        if (control == Control::Frame1) {
            PaintFrame(hwnd);
            return 0;
        }
        break;
    case WM_KEYDOWN:
        // A multi-line edit under IsDialogMessage posts WM_CLOSE on Escape,
        // which here would end the program.
        if (wParam == VK_ESCAPE && (control == Control::Text1 || control == Control::Text2)) return 0;
        break;
    case WM_GETDLGCODE:
        // Tabbing into Text1 would select all of it; the caret stays where it
        // is, at the start unless the user put it elsewhere.
        if (control == Control::Text1) {
            return DefSubclassProc(hwnd, message, wParam, lParam) & ~static_cast<LRESULT>(DLGC_HASSETSEL);
        }
        break;
    case WM_SETFOCUS:
        if (IsPushButton(control)) ShowDefaultButton(control);
        break;
    case WM_KILLFOCUS: {
        // Focus leaving for a control that is no push button takes the border along.
        const std::optional<Control> next = ControlOf(reinterpret_cast<HWND>(wParam));
        if (IsPushButton(control) && !(next && IsPushButton(*next))) ShowDefaultButton(next);
        break;
    }
    case WM_NCDESTROY:
        RemoveWindowSubclass(hwnd, &MainWindow::ControlProc, static_cast<UINT_PTR>(control));
        break;
    default:
        break;
    }
    return DefSubclassProc(hwnd, message, wParam, lParam);
}

void MainWindow::OnCommand(int id, int code, HWND control) {
    if (!IsActivation(code, control != nullptr)) return;
    switch (id) {
    case IDC_COMMAND1: Command1_Click(); break;
    case IDC_COMMAND2: Command2_Click(); break;
    case IDC_COMMAND3: Command3_Click(); break;
    case IDC_LABEL1: Label1_Click(); break;
    case IDM_ITEMS: Items_Click(); break;
    case IDM_ABOUT: About_Click(); break;
    case IDM_APPEXIT: AppExit_Click(); break;
    default: break;  // IDOK and IDCANCEL from IsDialogMessage: Enter and Escape do nothing here
    }
}

void MainWindow::ReportFailure(std::exception_ptr failure) noexcept {
    try {
        std::rethrow_exception(failure);
    } catch (const EndRequested&) {
        // The program is ending; nothing to say.
    } catch (const std::exception& error) {
        try {
            MessageBoxW(hwnd_, FailureText(error).c_str(), kErrorTitle.data(), MB_ICONSTOP | MB_OK);
        } catch (...) {
            MessageBoxW(hwnd_, L"Недостаточно памяти.", kErrorTitle.data(), MB_ICONSTOP | MB_OK);
        }
    } catch (...) {
        MessageBoxW(hwnd_, L"Непредвиденная ошибка.", kErrorTitle.data(), MB_ICONSTOP | MB_OK);
    }
}

// ---------------------------------------------------------------------------
// Handlers.

void MainWindow::Command1_Click() { command_.Run(); }
void MainWindow::Items_Click() { Command1_Click(); }

void MainWindow::About_Click() {
    if (!hwnd_) return;
    const std::wstring text = AboutText(WindowText(ControlWindow(Control::Text1)),
                                        WindowText(ControlWindow(Control::Text2)),
                                        WindowText(ControlWindow(Control::Label1)));
    MessageBoxW(hwnd_, text.c_str(), kAboutTitle.data(), MB_ICONINFORMATION | MB_OK);
}

void MainWindow::Command3_Click() { About_Click(); }
void MainWindow::Command2_Click() { EndAction(); }
void MainWindow::AppExit_Click() { EndAction(); }
// The close box always ends the program; nothing cancels it.
void MainWindow::Form_QueryUnload() { EndAction(); }
// Destroyed by any other road (the session ending): the same end.
void MainWindow::Form_Unload() { EndAction(); }

// The Windows folder's explorer.exe by its full path: a bare "explorer"
// would be looked for in the program's folder and the current folder first,
// and the file dialog makes the current folder wherever the database was.
std::wstring ExplorerPath() {
    std::array<wchar_t, MAX_PATH> folder{};
    const UINT length = GetSystemWindowsDirectoryW(folder.data(), static_cast<UINT>(folder.size()));
    if (length == 0 || length >= folder.size()) return {};
    std::wstring path(folder.data(), length);
    if (path.back() != L'\\') path += L'\\';
    return path + L"explorer.exe";
}

void MainWindow::Label1_Click() {
    const std::wstring explorer = ExplorerPath();
    if (explorer.empty()) return;
    std::wstring commandLine = L"explorer " + std::wstring(kWebAddress);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWMAXIMIZED;
    PROCESS_INFORMATION process{};
    // Whether the browser came up is not ours to report.
    if (CreateProcessW(explorer.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                       &process)) {
        const ScopedKernelHandle processHandle(process.hProcess);
        const ScopedKernelHandle threadHandle(process.hThread);
    }
}

void MainWindow::Label1_MouseMove() { SetLabelColour(LabelColourOnMouseMove(Control::Label1)); }
void MainWindow::Form_MouseMove() { SetLabelColour(LabelColourOnMouseMove(Control::Form)); }
void MainWindow::Frame1_MouseMove() { SetLabelColour(LabelColourOnMouseMove(Control::Frame1)); }
void MainWindow::Command1_MouseMove() { SetLabelColour(LabelColourOnMouseMove(Control::Command1)); }
void MainWindow::Text1_MouseMove() { SetLabelColour(LabelColourOnMouseMove(Control::Text1)); }
void MainWindow::Text2_MouseMove() { SetLabelColour(LabelColourOnMouseMove(Control::Text2)); }

void MainWindow::Form_Paint() {
    if (!hwnd_) return;
    const ScopedPaint paint(hwnd_);
    PaintLines(paint.Dc());
}

void MainWindow::Form_DpiChanged(int dpi, const RECT& suggested) {
    dpi_ = dpi;
    SetWindowPos(hwnd_, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
                 suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
    PlaceControls(dpi);
}

// A plain window forgets its focused control when deactivated; keep it.
void MainWindow::Form_Activate(bool active) {
    if (!active) {
        focusBeforeDeactivation_ = GetFocus();
        return;
    }
    HWND focus = focusBeforeDeactivation_;
    if (!focus || !IsChild(hwnd_, focus) || !IsWindowEnabled(focus)) focus = ControlWindow(Control::Command1);
    if (focus && IsWindowEnabled(focus)) SetFocus(focus);
}

// Clears the window reference, destroys the window and ends the message
// loop. A conversion yielding below us is told through the platform, so it
// unwinds (keeping what it wrote) before the loop sees WM_QUIT.
void MainWindow::EndAction() {
    if (ending_) return;
    ending_ = true;
    platform_.RequestEnd();
    HWND window = std::exchange(hwnd_, nullptr);
    if (window) DestroyWindow(window);
    PostQuitMessage(0);
}

// ---------------------------------------------------------------------------
// WinCommandPlatform.

void WinCommandPlatform::ShowMessage(const std::wstring& text, const std::wstring& title, MessageStyle style) {
    const std::wstring shownTitle = title.empty() ? std::wstring(kWindowCaption) : title;
    MessageBoxW(window_.Handle(), text.c_str(), shownTitle.c_str(), MessageBoxFlags(style));
}

dlg::ClsDialog& WinCommandPlatform::Dialog() {
    if (!dialog_) {
        dialogPlatform_ = dlg::MakeWindowsDialogPlatform();
        dialog_ = std::make_unique<dlg::ClsDialog>(*dialogPlatform_);
        // Owned by the window, the dialogs are modal: no second command under an open one.
        dialog_->hOwner(reinterpret_cast<std::intptr_t>(window_.Handle()));
    }
    return *dialog_;
}

void WinCommandPlatform::EnableControls(bool enabled) { window_.EnableCommandControls(enabled); }

void WinCommandPlatform::PumpMessages() {
    if (endRequested_) throw EndRequested();
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            // The outer loop must still see it.
            PostQuitMessage(static_cast<int>(message.wParam));
            endRequested_ = true;
            break;
        }
        window_.Dispatch(message);
        if (endRequested_) break;
    }
    if (endRequested_) throw EndRequested();
}

std::string WinCommandPlatform::DecimalSeparator() {
    wchar_t separator[8] = {};
    const int length = GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, LOCALE_SDECIMAL, separator, 8);
    if (length <= 1) return ".";
    return Utf8(std::wstring_view(separator, static_cast<std::size_t>(length - 1)));
}

}  // namespace

int RunProgram(HINSTANCE instance, int showCommand) {
    MainWindow window(instance);
    if (!window.Create(showCommand)) {
        MessageBoxW(nullptr, L"Не удалось создать главное окно.", kErrorTitle.data(), MB_ICONSTOP | MB_OK);
        return 1;
    }
    MSG message{};
    int status;
    while ((status = GetMessageW(&message, nullptr, 0, 0)) > 0) window.Dispatch(message);
    return status == 0 ? static_cast<int>(message.wParam) : 1;
}

}  // namespace idb::win
