#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <vector>

#include "dialogs/cls_dialog.h"

namespace {

using dlg::ClsDialog;
using dlg::DialogCancelled;
using dlg::PrinterSettings;
using namespace std::string_literals;

struct Message {
    std::intptr_t owner;
    std::wstring text, title;
    std::uint32_t style;
};

struct PropertiesCall {
    std::uint32_t type;
    std::wstring object, tab;
};

// Scripted system for the colour, font, printer and shell dialogs: each
// dialog call runs the test's answer over the record and keeps a copy of
// the record as it was handed over.
class FakePlatform : public dlg::DialogPlatform {
public:
    std::wstring ModuleFolder() override { return L"C:\\P"; }
    int OpenFileDialog(dlg::FileDialogRecord&) override { return 0; }
    int SaveFileDialog(dlg::FileDialogRecord&) override { return 0; }
    std::optional<std::wstring> BrowseForFolder(const dlg::FolderDialogRecord&) override { return std::nullopt; }

    std::vector<dlg::ColorDialogRecord> colorRecords;
    std::function<int(dlg::ColorDialogRecord&)> colorAnswer = [](auto&) { return 0; };
    int ColorDialog(dlg::ColorDialogRecord& record) override {
        colorRecords.push_back(record);
        return colorAnswer(record);
    }

    std::vector<dlg::FontDialogRecord> fontRecords;
    std::function<int(dlg::FontDialogRecord&)> fontAnswer = [](auto&) { return 0; };
    std::optional<dlg::TextFace> face;
    std::vector<dlg::FontRecord> faceAsked;
    int FontDialog(dlg::FontDialogRecord& record) override {
        fontRecords.push_back(record);
        return fontAnswer(record);
    }
    std::optional<dlg::TextFace> FontFace(std::intptr_t, const dlg::FontRecord& font) override {
        faceAsked.push_back(font);
        return face;
    }

    std::vector<dlg::PrinterDialogRecord> printerRecords;
    std::function<int(dlg::PrinterDialogRecord&)> printerAnswer = [](auto&) { return 0; };
    dlg::PrinterLookup defaultPrinter;
    int defaultAsked = 0;
    std::vector<PrinterSettings> installed;
    int installedAsked = 0;
    std::vector<Message> messages;
    int PrinterDialog(dlg::PrinterDialogRecord& record) override {
        printerRecords.push_back(record);
        return printerAnswer(record);
    }
    dlg::PrinterLookup DefaultPrinter() override {
        ++defaultAsked;
        return defaultPrinter;
    }
    std::vector<PrinterSettings> InstalledPrinters() override {
        ++installedAsked;
        return installed;
    }
    void ShowMessage(std::intptr_t owner, const std::wstring& text, const std::wstring& title,
                     std::uint32_t style) override {
        messages.push_back({owner, text, title, style});
    }

    std::vector<dlg::IconPickRecord> iconRecords;
    std::function<int(dlg::IconPickRecord&)> iconAnswer = [](auto&) { return 0; };
    std::vector<std::pair<std::wstring, std::int32_t>> extracted;
    std::intptr_t extractedIcon = 0;
    int ChangeIconDialog(dlg::IconPickRecord& record) override {
        iconRecords.push_back(record);
        return iconAnswer(record);
    }
    std::intptr_t ExtractChosenIcon(const std::wstring& file, std::int32_t index, bool large) override {
        extracted.emplace_back(file, index);
        return extractedIcon == 0 || large ? extractedIcon : extractedIcon + 1;
    }

    std::vector<dlg::RunDialogRecord> runRecords;
    std::vector<std::uint32_t> restartFlags;
    std::vector<PropertiesCall> properties;
    std::vector<std::wstring> started;
    std::vector<std::wstring> aboutNames;
    void RunDialog(const dlg::RunDialogRecord& record) override { runRecords.push_back(record); }
    void RestartDialog(std::intptr_t, const std::wstring&, std::uint32_t flags) override {
        restartFlags.push_back(flags);
    }
    void ObjectProperties(std::intptr_t, std::uint32_t type, const std::wstring& object,
                          const std::wstring& tab) override {
        properties.push_back({type, object, tab});
    }
    void StartProgram(const std::wstring& commandLine) override { started.push_back(commandLine); }
    void AboutBox(std::intptr_t, const std::wstring& appName, const std::wstring&, std::intptr_t) override {
        aboutNames.push_back(appName);
    }
    int HelpWindow(std::intptr_t, const std::wstring&, std::uint32_t command, std::uint32_t data) override {
        return static_cast<int>(command * 1000 + data);
    }
    int FormatDrive(std::intptr_t, std::uint32_t drive, std::uint32_t capacity, std::uint32_t options) override {
        return static_cast<int>(drive * 100 + capacity * 10 + options);
    }
};

class ClsDialogOtherTest : public ::testing::Test {
protected:
    FakePlatform platform;
    ClsDialog dialog{platform};

    void ExpectCancelErrorZero(const std::function<void()>& show) {
        dialog.CancelError(true);
        try {
            show();
            ADD_FAILURE() << "no cancel error";
        } catch (const DialogCancelled& cancelled) {
            EXPECT_EQ(cancelled.Number(), 0);
        }
        dialog.CancelError(false);
    }
};

// ---- Colour ----------------------------------------------------------------

TEST_F(ClsDialogOtherTest, ColorStartsFromRGBResultWithFreshCustomColoursTwice) {
    platform.colorAnswer = [](dlg::ColorDialogRecord& record) {
        record.color += 0x010101;
        record.customColors[3] = 0x123456;  // the user defines a custom colour
        return 1;
    };
    dialog.RGBResult(0x00102030);
    dialog.flags(0x7F);
    dialog.hOwner(9);
    dialog.ShowColor();
    dialog.ShowColor();
    ASSERT_EQ(platform.colorRecords.size(), 2u);
    const dlg::ColorDialogRecord& second = platform.colorRecords[1];
    EXPECT_EQ(second.structSize, 36u);
    EXPECT_EQ(second.owner, 9);
    EXPECT_EQ(second.flags, 0xFu);
    EXPECT_EQ(second.color, 0x00112131u) << "starts from the first result";
    for (std::uint32_t custom : second.customColors) EXPECT_EQ(custom, 0xFFFFFFFFu);
    EXPECT_EQ(dialog.RGBResult(), 0x00122232);
    EXPECT_EQ(dialog.LastResult(), 1);
}

TEST_F(ClsDialogOtherTest, CancelledColourFontAndPrinterKeepPropertiesOrRaiseZero) {
    dialog.RGBResult(0x55);
    dialog.FontSize(11);
    dialog.Bold(true);
    dialog.ShowColor();
    dialog.ShowFont();
    dialog.ShowPrinter();
    EXPECT_EQ(dialog.RGBResult(), 0x55);
    EXPECT_EQ(dialog.FontSize(), 11);
    EXPECT_TRUE(dialog.Bold());
    EXPECT_EQ(dialog.LastResult(), 0);
    ExpectCancelErrorZero([&] { dialog.ShowColor(); });
    ExpectCancelErrorZero([&] { dialog.ShowFont(); });
    ExpectCancelErrorZero([&] { dialog.ShowPrinter(); });
    EXPECT_TRUE(platform.faceAsked.empty());
}

// ---- Font ------------------------------------------------------------------

// The height is size × 13 / 10 on the exact rational, a tie going to the
// even integer; 1.3 in binary would put 10 × 1.3 a hair off 13.
TEST_F(ClsDialogOtherTest, FontHeightIsSizeTimesOnePointThreeHalfToEven) {
    const std::pair<std::int32_t, std::int32_t> rows[] = {
        {0, 0}, {1, 1}, {2, 3}, {5, 6}, {10, 13}, {12, 16}, {15, 20}, {25, 32}, {35, 46}, {-5, -6}, {-15, -20}};
    for (const auto& [size, height] : rows) {
        dialog.FontSize(size);
        dialog.ShowFont();
        EXPECT_EQ(platform.fontRecords.back().font.height, height) << size;
        EXPECT_EQ(platform.fontRecords.back().pointSize, size * 10) << size;
    }
}

TEST_F(ClsDialogOtherTest, FontRecordCarriesTheProperties) {
    dialog.hOwner(4);
    dialog.FontName(L"Courier New");
    dialog.Bold(true);
    dialog.Underline(true);
    dialog.RGBResult(0xFF);
    dialog.ShowFont();
    dialog.Bold(false);
    dialog.Italic(true);
    dialog.StrikeThru(true);
    dialog.Underline(false);
    dialog.ShowFont();
    const dlg::FontDialogRecord& bold = platform.fontRecords[0];
    EXPECT_EQ(bold.structSize, 60u);
    EXPECT_EQ(bold.owner, 4);
    EXPECT_EQ(bold.flags, 0x141u);
    EXPECT_EQ(bold.fontType, 0x2000u);
    EXPECT_EQ(bold.color, 0xFFu);
    EXPECT_EQ(bold.font.faceName, L"Courier New");
    EXPECT_EQ(bold.font.weight, 700);
    EXPECT_EQ(bold.font.italic + bold.font.underline * 2 + bold.font.strikeOut * 4, 2);
    const dlg::FontDialogRecord& other = platform.fontRecords[1];
    EXPECT_EQ(other.font.weight, 0);
    EXPECT_EQ(other.font.italic + other.font.underline * 2 + other.font.strikeOut * 4, 5);
}

TEST_F(ClsDialogOtherTest, FontNameOver32OrOversizedFontFailsBeforeTheDialog) {
    dialog.FontName(std::wstring(32, L'ш'));
    dialog.ShowFont();
    EXPECT_EQ(platform.fontRecords.size(), 1u);
    dialog.FontName(std::wstring(33, L'x'));
    EXPECT_THROW(dialog.ShowFont(), std::out_of_range);
    dialog.FontName(L"Arial");
    dialog.FontSize(1'700'000'000);  // × 1.3 passes 2^31
    EXPECT_THROW(dialog.ShowFont(), std::out_of_range);
    EXPECT_EQ(platform.fontRecords.size(), 1u);
}

TEST_F(ClsDialogOtherTest, ConfirmedFontReadsBackTheChoice) {
    platform.fontAnswer = [](dlg::FontDialogRecord& record) {
        record.pointSize = 129;  // 12.9 points: truncated
        record.fontType = 0x2000 | 0x200;  // regular, not bold
        record.font.weight = 700;          // the record's weight is not what counts
        record.font.italic = 0xFF;
        record.font.underline = 0;
        record.font.strikeOut = 1;
        record.color = 0x00ABCDEF;
        record.font.faceName = L"typed name";
        return 1;
    };
    // The system counts the closing NUL in the length.
    platform.face = dlg::TextFace{7, L"Tahoma\0\0\0"s};
    dialog.Bold(true);
    dialog.Underline(true);
    dialog.FontSize(10);
    dialog.ShowFont();
    EXPECT_EQ(dialog.FontSize(), 12);
    EXPECT_FALSE(dialog.Bold());
    EXPECT_TRUE(dialog.Italic());
    EXPECT_FALSE(dialog.Underline());
    EXPECT_TRUE(dialog.StrikeThru());
    EXPECT_EQ(dialog.RGBResult(), 0x00ABCDEF);
    EXPECT_EQ(dialog.FontName(), L"Tahoma");
    EXPECT_EQ(dialog.LastResult(), 7);
    ASSERT_EQ(platform.faceAsked.size(), 1u);
    EXPECT_EQ(platform.faceAsked[0].faceName, L"typed name") << "the font is made from the returned record";

    // No font made, or no face read: the name stays.
    platform.fontAnswer = [](dlg::FontDialogRecord& record) {
        record.fontType = 0x100;
        return 1;
    };
    for (auto face : {std::optional<dlg::TextFace>{}, std::optional<dlg::TextFace>{dlg::TextFace{0, L""}}}) {
        platform.face = face;
        dialog.ShowFont();
        EXPECT_EQ(dialog.FontName(), L"Tahoma");
        EXPECT_TRUE(dialog.Bold());
    }
    EXPECT_EQ(dialog.LastResult(), 0);
}

// ---- Printer ---------------------------------------------------------------

PrinterSettings Printer(std::wstring device, std::wstring driver = L"drv", std::wstring port = L"LPT1:") {
    PrinterSettings printer;
    printer.deviceName = std::move(device);
    printer.driverName = std::move(driver);
    printer.portName = std::move(port);
    printer.orientation = 1;
    printer.copies = 1;
    printer.duplex = 2;
    return printer;
}

// The dialog's answer: the device mode as the user left it.
auto ChoosePrinter(std::wstring field, std::int16_t copies, std::int16_t duplex, std::int16_t orientation) {
    return [=](dlg::PrinterDialogRecord& record) {
        record.deviceMode.deviceName = field;
        record.deviceMode.copies = copies;
        record.deviceMode.duplex = duplex;
        record.deviceMode.orientation = orientation;
        return 1;
    };
}

std::wstring Field(const std::wstring& name) {
    std::wstring field = name;
    field.resize(dlg::DeviceNameSize, L'\0');
    return field;
}

TEST_F(ClsDialogOtherTest, PrinterRecordsComeFromTheCurrentPrinter) {
    platform.defaultPrinter = {Printer(L"Office", L"PS Driver", L"USB001"), {}};
    dialog.flags(-1);
    dialog.ShowPrinter();
    const dlg::PrinterDialogRecord& record = platform.printerRecords.at(0);
    EXPECT_EQ(record.structSize, 66u);
    EXPECT_EQ(record.flags, 0x1C0FFFu);
    EXPECT_EQ(record.deviceMode.deviceName, L"Office");
    EXPECT_EQ(record.deviceMode.size, 122u);
    EXPECT_EQ(record.deviceMode.fields, 0x1001u);
    EXPECT_EQ(record.deviceMode.orientation, 1);
    EXPECT_EQ(record.deviceMode.duplex, 2);
    EXPECT_EQ(record.deviceMode.copies, 0);
    const dlg::PrinterDeviceNames& names = record.deviceNames;
    EXPECT_EQ(names.driverOffset, 8u);
    EXPECT_EQ(names.deviceOffset, 8u + 9 + 1);
    EXPECT_EQ(names.outputOffset, 18u + 6 + 1);
    EXPECT_EQ(names.defaultFlag, 0u);
    EXPECT_EQ(names.text, L"PS Driver\0Office\0USB001\0"s + std::wstring(100 - 24, L'\0'));

    // Long names: the device mode keeps what its field holds, the text area grows.
    platform.printerRecords.clear();
    ClsDialog other(platform);
    platform.defaultPrinter = {Printer(std::wstring(40, L'N'), std::wstring(70, L'D'), L"P"), {}};
    other.ShowPrinter();
    const dlg::PrinterDialogRecord& big = platform.printerRecords.at(0);
    EXPECT_EQ(big.deviceMode.deviceName, std::wstring(31, L'N'));
    EXPECT_EQ(big.deviceNames.text, std::wstring(70, L'D') + L'\0' + std::wstring(40, L'N') + L"\0P\0"s);
    EXPECT_EQ(big.deviceNames.outputOffset, 8u + 71 + 41);
}

TEST_F(ClsDialogOtherTest, NoPrinterIsReportedAndTheDialogStillOpens) {
    platform.defaultPrinter = {std::nullopt, L"No default printer is installed."};
    dialog.hOwner(3);
    dialog.ShowPrinter();
    ASSERT_EQ(platform.messages.size(), 1u);
    EXPECT_EQ(platform.messages[0].text, L"No default printer is installed.");
    EXPECT_EQ(platform.messages[0].title, L"Printer Error");
    EXPECT_EQ(platform.messages[0].style, 48u);
    EXPECT_EQ(platform.messages[0].owner, 3);
    ASSERT_EQ(platform.printerRecords.size(), 1u);
    const dlg::PrinterDeviceNames& names = platform.printerRecords[0].deviceNames;
    EXPECT_EQ(names.deviceOffset, 9u);
    EXPECT_EQ(names.outputOffset, 10u);
    EXPECT_FALSE(dialog.CurrentPrinter());

    // Asked again next time: a printer may have been installed since.
    platform.defaultPrinter = {Printer(L"New"), {}};
    dialog.ShowPrinter();
    EXPECT_EQ(platform.defaultAsked, 2);
    EXPECT_EQ(platform.messages.size(), 1u);
    EXPECT_EQ(dialog.CurrentPrinter()->deviceName, L"New");
}

TEST_F(ClsDialogOtherTest, ConfirmedPrinterSwitchesByUpperCaseNameAndTakesItsSettings) {
    platform.defaultPrinter = {Printer(L"Office"), {}};
    platform.installed = {Printer(L"office", L"a"), Printer(L"Laser", L"b", L"LPT2:"), Printer(L"LASER", L"c")};
    platform.printerAnswer = ChoosePrinter(Field(L"laser"), 3, 1, 2);
    dialog.hOwner(21);
    dialog.ShowPrinter();
    const PrinterSettings& current = *dialog.CurrentPrinter();
    EXPECT_EQ(current.deviceName, L"LASER") << "the last match wins";
    EXPECT_EQ(current.driverName, L"c");
    EXPECT_EQ(current.copies, 3);
    EXPECT_EQ(current.duplex, 1);
    EXPECT_EQ(current.orientation, 2);
    EXPECT_EQ(dialog.hOwner(), 21) << "the owner stays a window";
    EXPECT_EQ(dialog.LastResult(), 1);

    // The same name again: no search; the next dialog starts from the switch.
    platform.printerAnswer = ChoosePrinter(Field(L"LASER"), 1, 1, 1);
    dialog.ShowPrinter();
    EXPECT_EQ(platform.installedAsked, 1);
    EXPECT_EQ(platform.defaultAsked, 1);
    EXPECT_EQ(platform.printerRecords[1].deviceMode.deviceName, L"LASER");
    EXPECT_EQ(platform.printerRecords[1].deviceMode.orientation, 2);
    EXPECT_EQ(dialog.CurrentPrinter()->copies, 1);

    // A name matching no installed printer keeps the current one.
    platform.printerAnswer = ChoosePrinter(Field(L"Gone"), 5, 1, 1);
    dialog.ShowPrinter();
    EXPECT_EQ(dialog.CurrentPrinter()->driverName, L"c");
    EXPECT_EQ(dialog.CurrentPrinter()->copies, 5);
}

TEST_F(ClsDialogOtherTest, PrinterNamesLongerThanTheFieldMatchOnTheirStart) {
    const std::wstring longName = L"Departmental colour laser printer, floor 2";
    platform.defaultPrinter = {Printer(L"Office"), {}};
    platform.installed = {Printer(longName, L"x")};
    platform.printerAnswer = ChoosePrinter(Field(longName.substr(0, 31)), 2, 1, 1);
    dialog.ShowPrinter();
    EXPECT_EQ(dialog.CurrentPrinter()->deviceName, longName);
}

TEST_F(ClsDialogOtherTest, UnterminatedChosenDeviceNameIsAnArgumentError) {
    platform.defaultPrinter = {Printer(L"Office"), {}};
    platform.printerAnswer = ChoosePrinter(std::wstring(dlg::DeviceNameSize, L'Z'), 2, 1, 1);
    EXPECT_THROW(dialog.ShowPrinter(), std::invalid_argument);
    EXPECT_EQ(dialog.CurrentPrinter()->copies, 1);
}

// ---- Icon ------------------------------------------------------------------

TEST_F(ClsDialogOtherTest, IconFromTheFileTheUserEndedOnWithFileNameKept) {
    platform.iconAnswer = [](dlg::IconPickRecord& record) {
        record.file.replace(0, 13, L"C:\\other.dll"s + L'\0');
        record.index = 4;
        return 1;
    };
    platform.extractedIcon = 500;
    dialog.FileName(L"C:\\shell32.dll");
    dialog.ShowIcon(true);
    ASSERT_EQ(platform.iconRecords.size(), 1u);
    EXPECT_EQ(platform.iconRecords[0].file, L"C:\\shell32.dll" + std::wstring(260 - 14, L'\0'));
    EXPECT_EQ(platform.iconRecords[0].index, 0);
    ASSERT_EQ(platform.extracted.size(), 1u);
    EXPECT_EQ(platform.extracted[0], std::make_pair(L"C:\\other.dll"s, 4));
    EXPECT_EQ(dialog.hIcon(), 500);
    EXPECT_EQ(dialog.FileName(), L"C:\\shell32.dll");
    dialog.ShowIcon(false);
    EXPECT_EQ(dialog.hIcon(), 501);

    // Nothing extracted, or the dialog cancelled or failed to show: hIcon stays.
    platform.extractedIcon = 0;
    dialog.ShowIcon(false);
    for (int result : {0, -1}) {
        platform.iconAnswer = [result](dlg::IconPickRecord&) { return result; };
        dialog.ShowIcon(true);
    }
    EXPECT_EQ(dialog.hIcon(), 501);
    EXPECT_EQ(platform.extracted.size(), 3u);
}

TEST_F(ClsDialogOtherTest, IconDoesNothingForAFolderAndRefusesOver260) {
    dialog.hIcon(7);
    dialog.FileName(std::wstring(300, L'x') + L"\\");
    dialog.ShowIcon(true);
    dialog.FileName(std::wstring(261, L'x'));
    EXPECT_THROW(dialog.ShowIcon(true), std::invalid_argument);
    EXPECT_TRUE(platform.iconRecords.empty());
    dialog.FileName(std::wstring(260, L'x'));
    dialog.ShowIcon(true);
    EXPECT_EQ(platform.iconRecords.size(), 1u);
    EXPECT_EQ(dialog.hIcon(), 7);
}

// ---- Shell wrappers --------------------------------------------------------

TEST_F(ClsDialogOtherTest, ObjectPropertiesChoiceByFlagBitsEightToEleven) {
    struct Row {
        std::int32_t flags;
        std::uint32_t type;
        std::wstring object;
    };
    const Row rows[] = {{0x100, 1, L"obj"}, {0x200, 2, L"obj"}, {0x7FF, 2, L"c:\\recycled"},
                        {0, 2, L""},       {0x300, 2, L""},    {0xF00, 2, L""}};
    for (const Row& row : rows) {
        dialog.flags(row.flags);
        dialog.ShowObjectProp(L"obj", L"General");
        ASSERT_FALSE(platform.properties.empty());
        EXPECT_EQ(platform.properties.back().type, row.type) << std::hex << row.flags;
        EXPECT_EQ(platform.properties.back().object, row.object) << std::hex << row.flags;
        EXPECT_EQ(platform.properties.back().tab, L"General");
    }
    dialog.flags(0x800);
    dialog.ShowObjectProp(L"obj", L"");
    EXPECT_EQ(platform.properties.size(), std::size(rows)) << "display settings instead";
    EXPECT_EQ(platform.started, std::vector<std::wstring>{L"rundll32.exe shell32.dll,Control_RunDLL desk.cpl,,0"});
}

TEST_F(ClsDialogOtherTest, ShellWrappersPassTheirPropertiesAndBits) {
    dialog.flags(0x1AF);
    dialog.hIcon(66);
    dialog.DialogTitle(L"Run");
    dialog.ShowRun(99);
    dialog.ShowRestart();
    ASSERT_EQ(platform.runRecords.size(), 1u);
    EXPECT_EQ(platform.runRecords[0].icon, 66) << "the argument is not used";
    EXPECT_EQ(platform.runRecords[0].flags, 0xAu);
    EXPECT_EQ(platform.runRecords[0].title, L"Run");
    EXPECT_EQ(platform.restartFlags, std::vector<std::uint32_t>{7});
    EXPECT_EQ(dialog.ShowFormat(2, 3, 1), 231);

    dialog.HelpKey(5);
    dialog.HelpCommand(3);
    dialog.ShowHelp();
    EXPECT_EQ(dialog.HelpKey(), 257);
    EXPECT_EQ(dialog.LastResult(), 3257);

    dialog.ShowAbout();
    dialog.ShowAbout();
    EXPECT_EQ(dialog.AppName(), L"\0"s);
    EXPECT_EQ(platform.aboutNames, (std::vector<std::wstring>{L"\0"s, L"\0"s}));
}

}  // namespace
