// The main window's texts, About text, layout and link hover colours.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "shell/main_window.h"
#include "shell/resource_ids.h"

namespace {

using idb::Control;
using idb::SysColour;

std::vector<std::wstring_view> SplitLines(std::wstring_view text) {
    std::vector<std::wstring_view> lines;
    while (!text.empty()) {
        const std::size_t end = text.find(L"\r\n");
        if (end == std::wstring_view::npos) {
            lines.push_back(text);  // an unterminated tail shows up as its own entry
            break;
        }
        lines.push_back(text.substr(0, end));
        text.remove_prefix(end + 2);
    }
    return lines;
}

TEST(MainWindowTexts, Text1IsSeventeenTerminatedLinesOf591Characters) {
    const std::wstring_view text = idb::Text1Text();
    EXPECT_EQ(text.size(), 591u);
    ASSERT_TRUE(text.ends_with(L"\r\n"));
    const std::vector<std::wstring_view> lines = SplitLines(text);
    ASSERT_EQ(lines.size(), 17u);
    // No stray CR or LF inside a line.
    for (std::wstring_view line : lines) {
        EXPECT_EQ(line.find_first_of(L"\r\n"), std::wstring_view::npos);
    }
    // Wrapped lines keep the blank they were broken at; sentence ends do not.
    EXPECT_EQ(lines[1], L"для распаковки и генерации исходных текстов ");
    EXPECT_EQ(lines[3], L"Земли.");
    EXPECT_TRUE(lines[4].empty());
    EXPECT_TRUE(lines[10].empty());
    EXPECT_TRUE(lines[15].empty());
    EXPECT_EQ(lines[16], L"В дальнейшем планируется разобрать все форматы *.?db и написать пакет утилит по их распаковке.");
}

TEST(MainWindowTexts, Text2Is84CharactersEndedByCrLf) {
    EXPECT_EQ(idb::Text2Text(),
              L"Программа является примером для описания формата idb. Описание находится на сайте:\r\n");
    EXPECT_EQ(idb::Text2Text().size(), 84u);
}

TEST(MainWindowTexts, WebAddressIsLowerCaseWithoutTrailingSlash) {
    const std::wstring_view address = idb::kWebAddress;
    EXPECT_TRUE(address.starts_with(L"http://"));
    EXPECT_FALSE(address.ends_with(L"/"));
    EXPECT_TRUE(std::none_of(address.begin(), address.end(), [](wchar_t c) { return c >= L'A' && c <= L'Z'; }));
    EXPECT_EQ(address.find(L' '), std::wstring_view::npos);  // it follows "explorer " on a command line
}

TEST(AboutText, IsAssembledFromWhatTheControlsShow) {
    EXPECT_EQ(idb::AboutText(L"one\r\n", L"two\r\n", L"http://x"),
              L"one\r\n\r\ntwo\r\nhttp://x\r\n\r\n" + std::wstring(idb::kAuthorLine));
    // Edited controls change the box: nothing comes from the constants.
    EXPECT_EQ(idb::AboutText(L"", L"", L""), L"\r\n\r\n\r\n" + std::wstring(idb::kAuthorLine));
}

TEST(AboutText, PutsTheAddressOnALineOfItsOwn) {
    const std::wstring about = idb::AboutText(idb::Text1Text(), idb::Text2Text(), idb::kWebAddress);
    const std::vector<std::wstring_view> lines = SplitLines(about);
    // 17 lines of Text1, the blank line, Text2, the address, a blank line, the author.
    ASSERT_EQ(lines.size(), 22u);
    EXPECT_TRUE(lines[17].empty());
    EXPECT_EQ(lines[18], idb::Text2Text().substr(0, idb::Text2Text().size() - 2));
    EXPECT_EQ(lines[19], idb::kWebAddress);
    EXPECT_TRUE(lines[20].empty());
    EXPECT_EQ(lines[21], idb::kAuthorLine);
}

TEST(Layout, ListsTheControlsInTabOrderWithTheirIds) {
    const std::vector<std::pair<Control, int>> expected = {
        {Control::Command1, IDC_COMMAND1}, {Control::Text1, IDC_TEXT1},   {Control::Command2, IDC_COMMAND2},
        {Control::Command3, IDC_COMMAND3}, {Control::Frame1, IDC_FRAME1}, {Control::Text2, IDC_TEXT2},
        {Control::Label1, IDC_LABEL1},
    };
    const auto& layout = idb::Layout();
    ASSERT_EQ(layout.size(), expected.size());
    for (std::size_t i = 0; i < layout.size(); ++i) {
        EXPECT_EQ(layout[i].control, expected[i].first) << i;
        EXPECT_EQ(layout[i].id, expected[i].second) << i;
        EXPECT_EQ(layout[i].tabIndex, static_cast<int>(i));
    }
}

TEST(Layout, PlacesFrameChildrenRelativeToTheFrame) {
    const idb::TwipsRect label = idb::ClientRectOf(idb::LayoutOf(Control::Label1));
    EXPECT_EQ(label.left, 90);
    EXPECT_EQ(label.top, 3195);
    const idb::TwipsRect text2 = idb::ClientRectOf(idb::LayoutOf(Control::Text2));
    EXPECT_EQ(text2.left, 90);
    EXPECT_EQ(text2.top, 1800);
    const idb::TwipsRect text1 = idb::ClientRectOf(idb::LayoutOf(Control::Text1));
    EXPECT_EQ(text1.left, 1710);
    EXPECT_EQ(text1.top, 0);
    EXPECT_THROW(idb::LayoutOf(Control::Form), std::invalid_argument);
}

TEST(Layout, KeepsEveryControlInsideTheClientAreaAndFrameChildrenInsideTheFrame) {
    const idb::TwipsRect frame = idb::ClientRectOf(idb::LayoutOf(Control::Frame1));
    for (const idb::ControlLayout& control : idb::Layout()) {
        const idb::TwipsRect r = idb::ClientRectOf(control);
        EXPECT_GE(r.left, 0);
        EXPECT_GE(r.top, 0);
        EXPECT_LE(r.left + r.width, idb::kClientWidthTwips) << control.id;
        EXPECT_LE(r.top + r.height, idb::kClientHeightTwips) << control.id;
        if (control.inFrame) {
            EXPECT_LE(r.left + r.width, frame.left + frame.width) << control.id;
            EXPECT_LE(r.top + r.height, frame.top + frame.height) << control.id;
        }
    }
}

TEST(Layout, SeparatorLinesRunBetweenTheButtonsAndText1) {
    const auto& lines = idb::Lines();
    EXPECT_EQ(lines[0].colour, SysColour::ButtonHighlight);
    EXPECT_EQ(lines[1].colour, SysColour::ButtonShadow);
    const idb::TwipsRect frame = idb::ClientRectOf(idb::LayoutOf(Control::Frame1));
    const idb::TwipsRect text1 = idb::ClientRectOf(idb::LayoutOf(Control::Text1));
    for (const idb::LineLayout& line : lines) {
        EXPECT_EQ(line.x1, line.x2);  // vertical
        EXPECT_GT(line.x1, frame.left + frame.width);
        EXPECT_LT(line.x1, text1.left);
    }
}

TEST(TwipsToPixels, RoundsToTheNearestPixel) {
    struct Row {
        int twips, dpi, pixels;
    };
    const Row rows[] = {
        {0, 96, 0},      {15, 96, 1},      {5880, 96, 392}, {3480, 96, 232},  {45, 96, 3},
        {7, 96, 0},      {8, 96, 1},       {1575, 120, 131}, {1440, 144, 144}, {4110, 144, 411},
        {15, 48, 1},     // exactly half rounds up
        {-15, 48, -1},   // and half away from zero below it
        {3435, 192, 458}, {1665, 96, 111},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(idb::TwipsToPixels(row.twips, row.dpi), row.pixels) << row.twips << " twips at " << row.dpi;
    }
}

TEST(LabelHover, EachControlSetsItsColourOrNone) {
    EXPECT_EQ(idb::LabelColourOnMouseMove(Control::Label1), SysColour::Highlight);
    for (Control c : {Control::Form, Control::Frame1, Control::Command1, Control::Text1, Control::Text2}) {
        EXPECT_EQ(idb::LabelColourOnMouseMove(c), SysColour::WindowText);
    }
    EXPECT_FALSE(idb::LabelColourOnMouseMove(Control::Command2).has_value());
    EXPECT_FALSE(idb::LabelColourOnMouseMove(Control::Command3).has_value());
}

TEST(LabelHover, StaysHighlightedWhenThePointerGoesFromTheLabelToCommand2OrCommand3) {
    SysColour colour = idb::kLabelInitialColour;
    EXPECT_EQ(colour, SysColour::ButtonText);
    for (Control c : {Control::Label1, Control::Command2, Control::Command3}) {
        colour = idb::LabelColourOnMouseMove(c).value_or(colour);
    }
    EXPECT_EQ(colour, SysColour::Highlight);
    colour = idb::LabelColourOnMouseMove(Control::Frame1).value_or(colour);
    EXPECT_EQ(colour, SysColour::WindowText);
}

}  // namespace

namespace {

// ---------------------------------------------------------------------------
// Keyboard

TEST(TabOrder, VisitsTheFourStopsInTheirOrderBothWays) {
    const auto all = [](Control) { return true; };
    struct Case {
        Control from;
        Control forward;
        Control backward;
    };
    const Case cases[] = {
        {Control::Command1, Control::Text1, Control::Command3},
        {Control::Text1, Control::Command2, Control::Command1},
        {Control::Command2, Control::Command3, Control::Text1},
        {Control::Command3, Control::Command1, Control::Command2},
        // From a control that is no stop, the search goes on from its place.
        {Control::Label1, Control::Command1, Control::Command3},
        {Control::Frame1, Control::Command1, Control::Command3},
        {Control::Form, Control::Command1, Control::Command3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.from));
        EXPECT_EQ(idb::NextTabStop(c.from, false, all), c.forward);
        EXPECT_EQ(idb::NextTabStop(c.from, true, all), c.backward);
    }
}

TEST(TabOrder, SkipsTheButtonsSwitchedOffDuringAConversion) {
    const auto running = [](Control c) { return c != Control::Command1 && c != Control::Command2; };
    EXPECT_EQ(idb::NextTabStop(Control::Text1, false, running), Control::Command3);
    EXPECT_EQ(idb::NextTabStop(Control::Text1, true, running), Control::Command3);
    EXPECT_EQ(idb::NextTabStop(Control::Command3, false, running), Control::Text1);
    const auto onlyText1 = [](Control c) { return c == Control::Text1; };
    EXPECT_EQ(idb::NextTabStop(Control::Text1, false, onlyText1), Control::Text1);
    const auto nothing = [](Control) { return false; };
    EXPECT_EQ(idb::NextTabStop(Control::Command3, true, nothing), Control::Command3);
}

TEST(DefaultButton, IsTheFocusedPushButtonAndNoneElsewhere) {
    for (Control c : {Control::Command1, Control::Command2, Control::Command3}) {
        EXPECT_EQ(idb::DefaultButtonFor(c), c);
    }
    // Enter in the description or anywhere else starts nothing.
    for (Control c : {Control::Text1, Control::Text2, Control::Label1, Control::Frame1, Control::Form}) {
        EXPECT_EQ(idb::DefaultButtonFor(c), std::nullopt) << static_cast<int>(c);
    }
}

TEST(Activation, OneClickIsOneCommand) {
    struct Case {
        int notification;
        bool fromControl;
        bool activates;
    };
    const Case cases[] = {
        {0, true, true},    // BN_CLICKED, STN_CLICKED
        {1, true, false},   // STN_DBLCLK: the second half of a double click
        {5, true, false},   // BN_DOUBLECLICKED
        {6, true, false},   // BN_SETFOCUS
        {0, false, true},   // a menu entry
        {1, false, true},   // an accelerator
        {2, false, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(idb::IsActivation(c.notification, c.fromControl), c.activates)
            << c.notification << (c.fromControl ? " from a control" : " from no control");
    }
}

}  // namespace
