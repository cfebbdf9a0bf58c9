// A model of what spreadsheets make of a cell of a Tab-separated text when
// they open it with their default import and save it again, in English and
// Russian locales, with the detection of special numbers on and off. Calc's
// side follows what Calc 7.4 was seen to do; Excel's is taken to convert at
// least as much (dates and times always, formulas after + - @, and what it
// saves is what its General format shows in 11 characters). Every
// cell unpack writes must survive it: it stays text, or it is a plain
// decimal number whose re-display packs back to the same bytes.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "gamedb/byte_io.h"
#include "gamedb/cells.h"
#include "gamedb/error.h"
#include "gamedb/folder.h"
#include "gamedb/pack.h"
#include "gamedb/unpack.h"
#include "tests/support/gamedb_gen.h"

namespace gamedb::testing {
namespace {

enum class Locale { English, Russian };
enum class App { Calc, Excel };

struct Setting {
    App app;
    Locale locale;
    bool detectSpecial;
};

enum class Seen { Text, Number, Other };

struct Reading {
    Seen seen = Seen::Text;
    double number = 0;
};

bool Digit(char c) { return c >= '0' && c <= '9'; }

// Blanks the import trims before it recognises a value.
std::string_view Trim(std::string_view t) {
    for (;;) {
        if (t.starts_with(' ')) t.remove_prefix(1);
        else if (t.starts_with("\xC2\xA0")) t.remove_prefix(2);
        else if (t.ends_with(' ')) t.remove_suffix(1);
        else if (t.ends_with("\xC2\xA0")) t.remove_suffix(2);
        else return t;
    }
}

std::string Lower(std::string_view t) {
    std::string out(t);
    for (std::size_t i = 0; i < out.size(); ++i) {
        const auto c = static_cast<unsigned char>(out[i]);
        if (c >= 'A' && c <= 'Z') out[i] = static_cast<char>(c + 32);
        // Cyrillic capitals А-П (D0 90-9F) and Р-Я (D0 A0-AF).
        if (c == 0xD0 && i + 1 < out.size()) {
            const auto d = static_cast<unsigned char>(out[i + 1]);
            if (d >= 0x90 && d <= 0x9F) out[i + 1] = static_cast<char>(d + 0x20);
            else if (d >= 0xA0 && d <= 0xAF) {
                out[i] = static_cast<char>(0xD1);
                out[i + 1] = static_cast<char>(d - 0x20);
            }
        }
    }
    return out;
}

// A decimal number of the locale: sign, digits (grouped or not), decimal
// separator, exponent. Sets `plain` when it has no grouping and no exponent.
bool LocaleNumber(std::string_view t, Locale locale, double& value, bool& plain) {
    const char decimal = locale == Locale::English ? '.' : ',';
    // The length of a digit-group separator at `i`, 0 when there is none.
    const auto groupSeparator = [&](std::size_t i) -> std::size_t {
        if (locale == Locale::English) return t[i] == ',' ? 1 : 0;
        if (t[i] == ' ') return 1;
        return t.substr(i).starts_with("\xC2\xA0") ? 2 : 0;
    };
    std::string digits;
    std::size_t i = 0;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) digits += t[i++];
    std::size_t run = 0;
    bool any = false;
    bool grouped = false;
    while (i < t.size()) {
        if (Digit(t[i])) {
            digits += t[i++];
            ++run;
            any = true;
            continue;
        }
        const std::size_t sep = groupSeparator(i);
        if (sep && run > 0 && i + sep < t.size() && Digit(t[i + sep])) {
            if (grouped ? run != 3 : run > 3) return false;
            grouped = true;
            run = 0;
            i += sep;
            continue;
        }
        break;
    }
    if (grouped && run != 3) return false;
    plain = !grouped;
    if (i < t.size() && t[i] == decimal) {
        digits += '.';
        ++i;
        while (i < t.size() && Digit(t[i])) {
            digits += t[i++];
            any = true;
        }
    }
    if (!any) return false;
    if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
        std::string exponent = "e";
        std::size_t k = i + 1;
        if (k < t.size() && (t[k] == '+' || t[k] == '-')) exponent += t[k++];
        const std::size_t first = k;
        while (k < t.size() && Digit(t[k])) exponent += t[k++];
        if (k == first) return false;
        digits += exponent;
        i = k;
        plain = false;
    }
    if (i != t.size()) return false;
    value = std::strtod(digits.c_str(), nullptr);
    return true;
}

bool AllDigits(std::string_view t) {
    if (t.empty()) return false;
    for (const char c : t)
        if (!Digit(c)) return false;
    return true;
}

// "1/2", "1/2/2020", "2020-01-05", "5.1.2020", "5.1.", "1-2-3", "3:00", "3:00:15", "3:00 pm", "1 1/2".
bool DateTimeOrFraction(std::string_view t, Locale locale) {
    for (const char sep : {'/', '-', ':', '.'}) {
        std::vector<std::string_view> parts;
        std::size_t begin = 0;
        for (std::size_t i = 0; i <= t.size(); ++i)
            if (i == t.size() || t[i] == sep) {
                parts.push_back(t.substr(begin, i - begin));
                begin = i + 1;
            }
        if (parts.size() < 2 || parts.size() > 3) continue;
        std::string_view last = parts.back();
        if (sep == ':' && (last.ends_with(" am") || last.ends_with(" pm") || last.ends_with("am") || last.ends_with("pm")))
            last = Trim(last.substr(0, last.size() - 2));
        // A fraction "1 1/2": the first part may hold a whole number before a blank.
        std::string_view first = parts[0];
        if (sep == '/' && first.find(' ') != std::string_view::npos) first = first.substr(first.rfind(' ') + 1);
        bool ok = AllDigits(first);
        for (std::size_t k = 1; ok && k + 1 < parts.size(); ++k) ok = AllDigits(parts[k]);
        // "5.1." ends with the separator: the Russian day-month date.
        if (sep == '.' && parts.size() == 3 && last.empty()) {
            if (ok && locale == Locale::Russian) return true;
            continue;
        }
        ok = ok && AllDigits(last);
        if (!ok) continue;
        // "1.5" is a decimal in English and no date in Russian; "5.1.2020" is a date.
        if (sep == '.' && parts.size() == 2) continue;
        return true;
    }
    return false;
}

bool MonthDate(std::string_view t) {
    static constexpr std::string_view kMonths[] = {"jan", "feb", "mar", "apr", "may", "jun", "jul", "aug", "sep", "oct",
                                                   "nov", "dec", "янв", "фев", "мар", "апр", "мая", "май", "июн",
                                                   "июл", "авг", "сен", "окт", "ноя", "дек"};
    const std::string lower = Lower(t);
    bool digit = false;
    for (const char c : lower) digit |= Digit(c);
    if (!digit) return false;
    for (const std::string_view month : kMonths) {
        const std::size_t at = lower.find(month);
        if (at == std::string::npos) continue;
        // The month stands after digits and a blank or dash ("5 Jan", "5-jan"), or first.
        if (at == 0) return true;
        const char before = lower[at - 1];
        if ((before == ' ' || before == '-' || before == '.') && at >= 2 && Digit(lower[at - 2])) {
            // Only "digits sep month [...]".
            bool allDigits = true;
            for (std::size_t k = 0; k + 1 < at; ++k) allDigits &= Digit(lower[k]) || lower[k] == ' ';
            if (allDigits) return true;
        }
    }
    return false;
}

// What the spreadsheet makes of a cell it imports. Excel is told to read
// numbers with a decimal point (the README's step for a Russian Windows);
// it saves them in its locale.
Reading Read(std::string_view cell, const Setting& s) {
    // A backslash first is text to every spreadsheet (Calc was seen to keep them all).
    if (cell.empty() || cell[0] == '\\') return {};
    // Formulas; Excel also starts one with '+', '-' and '@' when what follows is no number.
    if (cell[0] == '=') return {Seen::Other};
    const std::string_view t = Trim(cell);
    double value = 0;
    bool plain = false;
    const Locale numbers = s.app == App::Excel ? Locale::English : s.locale;
    const bool number = LocaleNumber(t, numbers, value, plain) && !t.empty();
    if (s.app == App::Excel && (cell[0] == '+' || cell[0] == '-' || cell[0] == '@') && !number) return {Seen::Other};
    const std::string lower = Lower(t);
    if (lower == "true" || lower == "false" || lower == "истина" || lower == "ложь") return {Seen::Other};
    if (number) {
        // A blank, a grouping, an exponent or a '+' changes what is saved.
        if (!plain || t.size() != cell.size() || t[0] == '+') return {Seen::Other, value};
        return {Seen::Number, value};
    }
    // Percents, amounts and negatives in parentheses.
    if (t.size() > 1 && t.back() == '%') {
        double v = 0;
        bool p = false;
        if (LocaleNumber(Trim(t.substr(0, t.size() - 1)), s.locale, v, p)) return {Seen::Other};
    }
    for (const std::string_view currency : {"$", "€", "₽", "£", "¥", "("})
        if (t.starts_with(currency)) {
            std::string_view rest = t.substr(currency.size());
            if (currency == "(" && rest.ends_with(')')) rest.remove_suffix(1);
            double v = 0;
            bool p = false;
            if (LocaleNumber(Trim(rest), s.locale, v, p)) return {Seen::Other};
        }
    if (t.ends_with(" р.") || t.ends_with("р.") || t.ends_with(" ₽")) return {Seen::Other};
    // A trailing minus is a negative number to Calc ("5-").
    if (t.size() > 1 && t.back() == '-') {
        double v = 0;
        bool p = false;
        if (LocaleNumber(t.substr(0, t.size() - 1), s.locale, v, p)) return {Seen::Other};
    }
    // Excel finds dates and times whatever the option says; Calc only with it.
    if (s.detectSpecial || s.app == App::Excel)
        if (DateTimeOrFraction(t, s.locale) || MonthDate(t)) return {Seen::Other};
    // Calc reads ISO dates even without the option.
    if (t.size() == 10 && t[4] == '-' && t[7] == '-') return {Seen::Other};
    return {};
}

// The text a spreadsheet saves for a number: Calc its value to 15
// significant digits, Excel what its General format shows in 11 characters.
std::string Saved(double value, const Setting& s) {
    char text[64];
    if (value == 0) return "0";  // -0 shows as 0
    if (s.app == App::Calc) {
        std::snprintf(text, sizeof text, "%.15g", value);
    } else {
        std::snprintf(text, sizeof text, "%.15g", value);
        for (int digits = 10; digits > 0 && std::strlen(text) > 11; --digits)
            std::snprintf(text, sizeof text, "%.*g", digits, value);
    }
    std::string out(text);
    if (s.locale == Locale::Russian)
        for (char& c : out)
            if (c == '.') c = ',';
    return out;
}

const std::vector<Setting>& Settings() {
    static const std::vector<Setting> settings = [] {
        std::vector<Setting> all;
        for (const App app : {App::Calc, App::Excel})
            for (const Locale locale : {Locale::English, Locale::Russian})
                for (const bool detect : {false, true}) all.push_back({app, locale, detect});
        return all;
    }();
    return settings;
}

std::string Describe(const Setting& s) {
    return std::string(s.app == App::Calc ? "calc" : "excel") + (s.locale == Locale::English ? " en" : " ru") +
           (s.detectSpecial ? " detect" : "");
}

std::vector<std::string_view> SplitTabs(std::string_view line) {
    std::vector<std::string_view> cells;
    std::size_t begin = 0;
    for (std::size_t i = 0; i <= line.size(); ++i)
        if (i == line.size() || line[i] == '\t') {
            cells.push_back(line.substr(begin, i - begin));
            begin = i + 1;
        }
    return cells;
}

// Opens and saves every table of the folder as the spreadsheet would; a cell
// it turns into something else fails the test, naming the setting.
void OpenAndSave(MemoryFolder& folder, const Setting& s) {
    for (auto& [name, content] : folder.Files()) {
        if (!name.ends_with(kTableExtension)) continue;
        std::string saved;
        std::size_t begin = 0;
        while (begin < content.size()) {
            std::size_t end = content.find("\r\n", begin);
            if (end == std::string::npos) end = content.size();
            std::string_view line(content.data() + begin, end - begin);
            if (begin == 0 && line.starts_with("\xEF\xBB\xBF")) {
                saved += "\xEF\xBB\xBF";
                line.remove_prefix(3);
            }
            bool first = true;
            for (const std::string_view cell : SplitTabs(line)) {
                if (!first) saved += '\t';
                first = false;
                const Reading r = Read(cell, s);
                if (r.seen == Seen::Other) {
                    ADD_FAILURE() << Describe(s) << ": " << name << ": the cell \"" << cell
                                  << "\" would not stay as it is";
                    saved += cell;
                } else if (r.seen == Seen::Number) {
                    saved += Saved(r.number, s);
                } else {
                    saved += cell;
                }
            }
            saved += "\r\n";
            begin = end + 2;
        }
        content = std::move(saved);
    }
}

void ExpectSurvives(const Bytes& original, const KindSpec& kind, const std::string& what) {
    for (const Setting& s : Settings()) {
        MemoryFolder folder;
        MemorySource source(original, "db");
        Unpack(source, kind, folder);
        const int failures = ::testing::Test::HasFailure() ? 1 : 0;
        OpenAndSave(folder, s);
        if (::testing::Test::HasFailure() && !failures) {
            ADD_FAILURE() << what;
            return;
        }
        MemorySink sink;
        try {
            Pack(folder, sink);
        } catch (const Error& e) {
            ADD_FAILURE() << what << ", " << Describe(s) << ": " << e.what();
            return;
        }
        if (sink.Bytes() != original) {
            ADD_FAILURE() << what << ", " << Describe(s) << ": packs to other bytes";
            return;
        }
    }
}

// The model itself: the cases the spreadsheets were seen to change.
TEST(SpreadsheetModel, KnowsWhatSpreadsheetsConvert) {
    const Setting calcEn{App::Calc, Locale::English, false};
    const Setting calcRuDetect{App::Calc, Locale::Russian, true};
    const Setting excelEn{App::Excel, Locale::English, false};
    for (const char* cell : {"007", "1.10", "1e5", "+7", "1,000", " 5", "-0", "=1+1", "TRUE"})
        EXPECT_NE(Read(cell, calcEn).seen, Seen::Text) << cell;
    for (const char* cell : {"1/2", "3:00", "50%", "5-Jan", "Jan 5", "100 100", "1 000", "5.1.", "ложь", "$5"})
        EXPECT_EQ(Read(cell, calcRuDetect).seen, Seen::Other) << cell;
    for (const char* cell : {"-inf", "@x", "+x"}) EXPECT_EQ(Read(cell, excelEn).seen, Seen::Other) << cell;
    for (const char* cell : {"\\e007", "#000000", "nan:0x7FC00000", "inf", "Шкура волка", "im1", "dex|str", "a b"})
        EXPECT_EQ(Read(cell, calcRuDetect).seen, Seen::Text) << cell;
    EXPECT_EQ(Read("1.5", calcEn).seen, Seen::Number);
    EXPECT_EQ(Read("1,5", calcRuDetect).seen, Seen::Number);
}

// Every kind, as the game writes it and irregular, with the odd floats the
// generator mixes in (-0, infinities, NaN payloads, subnormals, nine-digit values).
TEST(SpreadsheetModel, GeneratedDatabasesSurviveOpenAndSave) {
    for (const KindSpec& kind : Kinds()) {
        for (std::uint64_t seed = 1; seed <= 6; ++seed) {
            GenOptions options = seed % 2 ? GenOptions{} : GenOptions::Irregular(seed, 0.1);
            options.seed = seed;
            options.oddFloatRate = 0.3;
            const Bytes original = Serialize(Generate(kind, options));
            ExpectSurvives(original, kind, std::string(kind.name) + " seed " + std::to_string(seed));
            if (HasFailure()) return;
        }
    }
}

// Texts people type that spreadsheets take for something else, in every
// place a text goes: a text, a list, a code, a nested record's text.
TEST(SpreadsheetModel, TextsThatLookLikeValuesSurvive) {
    const std::vector<std::string> texts = {
        "007", "1.10", "1e5", "+7", "-7", "1,000", "1/2", "3:00", "50%", "=A1", "@x", "-x", "'x", " 5", "5 ",
        "TRUE", "false", "ИСТИНА", "Ложь", "5 Jan", "Jan 5", "5-янв", "Май 2020", "$5", "(5)", "€5", "1 1/2",
        "100 100 100", "2020-01-05", "5.1.", "12 items", "inf", "nan", "0", "", "#", "\"q\"", "\\e"};
    const KindSpec& items = *FindKind("items");
    const KindSpec& units = *FindKind("units");
    const KindSpec& spells = *FindKind("spells");
    for (const std::string& text : texts) {
        std::string cp1251;
        for (std::size_t i = 0; i < text.size(); ++i) {
            const auto c = static_cast<unsigned char>(text[i]);
            if (c < 0x80) cp1251 += static_cast<char>(c);
            else {
                // Cyrillic only: U+0410..U+044F as C0..FF.
                const unsigned cp = (c & 0x1Fu) << 6 | (static_cast<unsigned char>(text[++i]) & 0x3Fu);
                cp1251 += static_cast<char>(cp - 0x410 + 0xC0);
            }
        }
        GenOptions options;
        options.minRecords = options.maxRecords = 1;
        GenDatabase db = Generate(items, options);
        db.FindBlock(1)->records[0].Find(1)->payload = TextPayload(cp1251);  // materials.kind
        Bytes list;
        AppendNode(list, 1, TextPayload(cp1251));
        db.FindBlock(5)->records[0].Find(22)->payload = list;  // quest_items.zones
        ExpectSurvives(Serialize(db), items, "text \"" + text + "\"");

        GenDatabase u = Generate(units, options);
        Bytes head;
        AppendNode(head, 0, TextPayload(cp1251));
        AppendNode(head, 1, Int32Payload(7));
        AppendNode(head, 2, FloatPayload(1.5f));
        AppendNode(head, 3, FloatPayload(2));
        u.FindBlock(2)->records[0].Find(12)->payload = head;  // races.head
        ExpectSurvives(Serialize(u), units, "nested text \"" + text + "\"");

        if (cp1251.size() <= 4) {
            GenDatabase sp = Generate(spells, options);
            Bytes code(cp1251.begin(), cp1251.end());
            code.resize(4, 0);
            if (std::memchr(cp1251.data(), 0, cp1251.size()) == nullptr) {
                sp.FindBlock(2)->records[0].Find(1)->payload = code;  // spell_modifiers.code
                ExpectSurvives(Serialize(sp), spells, "code \"" + text + "\"");
            }
        }
        if (HasFailure()) return;
    }
}

// Floats at the edges of what a spreadsheet shows, and raw fields of digits.
TEST(SpreadsheetModel, SpecialNumbersAndRawDigitsSurvive) {
    const std::vector<std::uint32_t> bits = {
        0x80000000u, 0x7F800000u, 0xFF800000u, 0x7FC00000u, 0xFFC00001u, 0x7F800001u, 0x00000001u, 0x807FFFFFu,
        0x00800000u, 0x7F7FFFFFu, 0xFF7FFFFFu, std::bit_cast<std::uint32_t>(400000.0f),
        std::bit_cast<std::uint32_t>(17000000.0f), std::bit_cast<std::uint32_t>(0.1f),
        std::bit_cast<std::uint32_t>(1.23456789f), std::bit_cast<std::uint32_t>(-0.123456789f),
        std::bit_cast<std::uint32_t>(1e10f), std::bit_cast<std::uint32_t>(1e11f), std::bit_cast<std::uint32_t>(1e-5f),
        std::bit_cast<std::uint32_t>(3.4028235e38f), std::bit_cast<std::uint32_t>(123456.79f)};
    const KindSpec& items = *FindKind("items");
    GenOptions options;
    options.minRecords = options.maxRecords = 1;
    for (const std::uint32_t b : bits) {
        GenDatabase db = Generate(items, options);
        db.FindBlock(1)->records[0].Find(4)->payload = FloatBitsPayload(b);  // materials.price
        Bytes split;
        for (int i = 0; i < 7; ++i) {
            const Bytes one = FloatBitsPayload(b);
            split.insert(split.end(), one.begin(), one.end());
        }
        db.FindBlock(1)->records[0].Find(11)->payload = split;  // materials.absorption
        db.FindBlock(2)->records[0].Find(27)->payload = Bytes{0, 0, 0};  // weapons.unk27
        db.FindBlock(2)->records[0].Find(28)->payload = Bytes{0, 0, 0, 0, 4, 0, 0, 0};
        char what[32];
        std::snprintf(what, sizeof what, "float 0x%08X", static_cast<unsigned>(b));
        ExpectSurvives(Serialize(db), items, what);
        if (HasFailure()) return;
    }
}

}  // namespace
}  // namespace gamedb::testing
