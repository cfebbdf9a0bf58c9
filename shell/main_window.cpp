#include "shell/main_window.h"

#include <stdexcept>

#include "shell/resource_ids.h"

namespace idb {

namespace {

// The first line carries the program's name ahead of the sentence the next
// line continues; every wrapped line keeps the blank it was broken at.
constexpr std::wstring_view kText1 =
    L" Vev Azoverud 1.1 - это полезная программа \r\n"
    L"для распаковки и генерации исходных текстов \r\n"
    L"из файлов Items DataBase (*.idb) игры Проклятые \r\n"
    L"Земли.\r\n"
    L"\r\n"
    L"В версии 1.0 программа читает значения \r\n"
    L"непосредственно из файла базы данных, \r\n"
    L"поэтому необходимо указать файл idb в диалоге \r\n"
    L"открытия файла и указать папку, куда \r\n"
    L"запишутся txt файлы.\r\n"
    L"\r\n"
    L"В версии 1.1 распаковываются все известные \r\n"
    L"поля. Также в этой версии генерируемые файлы \r\n"
    L"могут корректно запаковываться стандартными \r\n"
    L"утилитами.\r\n"
    L"\r\n"
    L"В дальнейшем планируется разобрать все форматы *.?db и написать пакет утилит по их распаковке.\r\n";

constexpr std::wstring_view kText2 =
    L"Программа является примером для описания формата idb. Описание находится на сайте:\r\n";

constexpr std::array<ControlLayout, 7> kLayout = {{
    {Control::Command1, IDC_COMMAND1, 45, 45, 1575, 500, 0, false},
    {Control::Text1, IDC_TEXT1, 1710, 0, 4110, 3435, 1, false},
    {Control::Command2, IDC_COMMAND2, 45, 1125, 1575, 500, 2, false},
    {Control::Command3, IDC_COMMAND3, 45, 585, 1575, 500, 3, false},
    {Control::Frame1, IDC_FRAME1, 45, 1665, 1590, 1770, 4, false},
    {Control::Text2, IDC_TEXT2, 45, 135, 1455, 1365, 5, true},
    {Control::Label1, IDC_LABEL1, 45, 1530, 1500, 195, 6, true},
}};

constexpr std::array<LineLayout, 2> kLines = {{
    {1650, 3600, 1650, 0, SysColour::ButtonHighlight},
    {1660, 3555, 1660, 0, SysColour::ButtonShadow},
}};

}  // namespace

std::wstring_view Text1Text() { return kText1; }
std::wstring_view Text2Text() { return kText2; }

std::wstring AboutText(std::wstring_view text1, std::wstring_view text2, std::wstring_view label) {
    std::wstring text;
    text.reserve(text1.size() + text2.size() + label.size() + kAuthorLine.size() + 6);
    text.append(text1).append(L"\r\n").append(text2).append(label).append(L"\r\n\r\n").append(kAuthorLine);
    return text;
}

const std::array<ControlLayout, 7>& Layout() { return kLayout; }

const ControlLayout& LayoutOf(Control control) {
    for (const ControlLayout& layout : kLayout) {
        if (layout.control == control) return layout;
    }
    throw std::invalid_argument("the form itself has no control layout");
}

TwipsRect ClientRectOf(const ControlLayout& layout) {
    TwipsRect rect{layout.left, layout.top, layout.width, layout.height};
    if (layout.inFrame) {
        const ControlLayout& frame = LayoutOf(Control::Frame1);
        rect.left += frame.left;
        rect.top += frame.top;
    }
    return rect;
}

const std::array<LineLayout, 2>& Lines() { return kLines; }

int TwipsToPixels(int twips, int dpi) {
    // In 64 bits, then half away from zero, as MulDiv rounds.
    const long long scaled = static_cast<long long>(twips) * dpi;
    const long long rounded = scaled >= 0 ? (scaled + 720) / 1440 : -((-scaled + 720) / 1440);
    return static_cast<int>(rounded);
}

bool IsTabStop(Control control) {
    switch (control) {
    case Control::Command1:
    case Control::Text1:
    case Control::Command2:
    case Control::Command3:
        return true;
    default:
        return false;
    }
}

bool IsPushButton(Control control) {
    return control == Control::Command1 || control == Control::Command2 || control == Control::Command3;
}

std::optional<Control> DefaultButtonFor(Control focus) {
    if (IsPushButton(focus)) return focus;
    return std::nullopt;
}

bool IsActivation(int notification, bool fromControl) {
    if (fromControl) return notification == 0;
    return notification == 0 || notification == 1;
}

std::optional<SysColour> LabelColourOnMouseMove(Control source) {
    switch (source) {
    case Control::Label1:
        return SysColour::Highlight;
    case Control::Form:
    case Control::Frame1:
    case Control::Command1:
    case Control::Text1:
    case Control::Text2:
        return SysColour::WindowText;
    case Control::Command2:
    case Control::Command3:
        return std::nullopt;
    }
    return std::nullopt;
}

}  // namespace idb
