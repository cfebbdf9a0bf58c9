// The main window as data: its texts, the About text, the control layout in
// twips and the link label's hover colours. No platform headers, so that it
// is tested on any system; shell/main_window_win.cpp turns it into windows.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace idb {

inline constexpr std::wstring_view kWindowClassName = L"Varnox";
inline constexpr std::wstring_view kWindowCaption = L"Vev Azoverud";

// The link label's caption and the page the click opens: lower case, no
// trailing "/", short enough for the label at 8 points. The .test domain is
// reserved, so the link never reaches a stranger.
inline constexpr std::wstring_view kWebAddress = L"http://vevaz.test";
inline constexpr std::wstring_view kAuthorLine = L"Автор: vevaz, e-mail: vevaz@vevaz.test";
inline constexpr std::wstring_view kAboutTitle = L"О программе";
inline constexpr std::wstring_view kErrorTitle = L"Ошибка";

// The description in Text1: 17 lines, each ended by CR LF, blanks at line ends kept.
std::wstring_view Text1Text();
// The note in Text2, ended by CR LF.
std::wstring_view Text2Text();

// The About box text from what the controls show at the moment of the click.
// Text2 ends with CR LF, so the address stands on a line of its own.
std::wstring AboutText(std::wstring_view text1, std::wstring_view text2, std::wstring_view label);

// System colour indexes as GetSysColor numbers them.
enum class SysColour : int {
    WindowText = 8,
    Highlight = 13,
    ButtonFace = 15,
    ButtonShadow = 16,
    ButtonText = 18,
    ButtonHighlight = 20,
};

enum class Control { Form, Command1, Command2, Command3, Frame1, Text1, Text2, Label1 };

struct ControlLayout {
    Control control;
    int id;          // the child window id from shell/resource_ids.h
    int left;        // twips; relative to Frame1 when inFrame
    int top;
    int width;
    int height;
    int tabIndex;
    bool inFrame;
};

inline constexpr int kClientWidthTwips = 5880;
inline constexpr int kClientHeightTwips = 3480;

// Every child control, in tab order: Command1, Text1, Command2, Command3,
// Frame1, Text2, Label1.
const std::array<ControlLayout, 7>& Layout();
const ControlLayout& LayoutOf(Control control);

// The control's rectangle in the window's client area, in twips.
struct TwipsRect {
    int left;
    int top;
    int width;
    int height;
};
TwipsRect ClientRectOf(const ControlLayout& layout);

// The etched separator between the buttons and Text1.
struct LineLayout {
    int x1, y1, x2, y2;  // twips
    SysColour colour;
};
const std::array<LineLayout, 2>& Lines();

// Twips to pixels at `dpi`, rounded to the nearest pixel: 15 twips = 1 px at 96 dpi.
int TwipsToPixels(int twips, int dpi);

// ---------------------------------------------------------------------------
// Keyboard

// Command1, Text1, Command2 and Command3 take the focus by Tab; the frame,
// Text2 and the label do not.
bool IsTabStop(Control control);

// The control Tab (or Shift+Tab when `backwards`) moves to from `from`, in
// the tab order, wrapping round and skipping what `canFocus` refuses (the
// buttons switched off during a conversion); `from` itself when nothing else
// can take the focus.
template <typename CanFocus>
Control NextTabStop(Control from, bool backwards, CanFocus&& canFocus);

bool IsPushButton(Control control);

// The push button Enter clicks while `focus` has the focus. No button is the
// window's standing default, Command1 included: a focused push button is
// the default (and is drawn so), and Enter elsewhere, in Text1 for one, does
// nothing, so that Enter never starts a conversion or ends the program that
// the focus did not show.
std::optional<Control> DefaultButtonFor(Control focus);

// Which WM_COMMAND notifications are a click: from a control only the click
// itself (BN_CLICKED, STN_CLICKED; a double click on the link label adds
// STN_DBLCLK, which must not start a second browser); from no control, a
// menu entry (0) or an accelerator (1).
bool IsActivation(int notification, bool fromControl);

// The label's colour before the pointer has moved anywhere.
inline constexpr SysColour kLabelInitialColour = SysColour::ButtonText;

// What a mouse move over `source` does to the label's colour: the label
// lights up, the free area and most controls put it back, Command2 and
// Command3 leave it alone.
std::optional<SysColour> LabelColourOnMouseMove(Control source);

template <typename CanFocus>
Control NextTabStop(Control from, bool backwards, CanFocus&& canFocus) {
    const std::array<ControlLayout, 7>& layout = Layout();
    const int count = static_cast<int>(layout.size());
    int at = 0;
    while (at < count && layout[static_cast<std::size_t>(at)].control != from) ++at;
    if (at == count) at = backwards ? 0 : count - 1;  // from the form: the first or last stop
    for (int step = 1; step <= count; ++step) {
        const int index = ((backwards ? at - step : at + step) % count + count) % count;
        const Control candidate = layout[static_cast<std::size_t>(index)].control;
        if (IsTabStop(candidate) && canFocus(candidate)) return candidate;
    }
    return from;
}

}  // namespace idb
