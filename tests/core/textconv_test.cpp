#include "base/Errors.h"
#include "base/TextConv.h"
#include "base/Utf16.h"

#include <gtest/gtest.h>

#include <climits>

using namespace kiv;

namespace {

std::string ConvertError(const std::string& text) {
    try {
        const std::int32_t value = StrToInt(text);
        return "converted to " + std::to_string(value);
    } catch (const EConvertError& e) {
        return e.what();
    }
}

} // namespace

TEST(IntToStr, WritesSignedDecimal) {
    EXPECT_EQ(IntToStr(0), "0");
    EXPECT_EQ(IntToStr(-12), "-12");
    EXPECT_EQ(IntToStr(614400), "614400");
    EXPECT_EQ(IntToStr(INT_MIN), "-2147483648");
    EXPECT_EQ(IntToStr(4294967296LL), "4294967296");
}

TEST(IntToHex, PadsToTheMinimumAndGrowsWhenTheValueNeedsIt) {
    EXPECT_EQ(IntToHex(0, 6), "000000");
    EXPECT_EQ(IntToHex(5000, 6), "001388");
    EXPECT_EQ(IntToHex(0xABCDEF, 6), "ABCDEF");
    EXPECT_EQ(IntToHex(1u << 24, 6), "1000000");
    EXPECT_EQ(IntToHex(static_cast<std::uint32_t>(-1), 6), "FFFFFFFF");
    EXPECT_EQ(IntToHex(static_cast<std::uint32_t>(-16), 6), "FFFFFFF0");
    EXPECT_EQ(IntToHex(0x1F, 1), "1F");
    EXPECT_EQ(IntToHex(0x1F, 0), "1F");
    EXPECT_EQ(IntToHex(7, 10), "0000000007");
}

TEST(StrToInt, ReadsDecimalWithinTheSignedRange) {
    EXPECT_EQ(StrToInt("0"), 0);
    EXPECT_EQ(StrToInt("42"), 42);
    EXPECT_EQ(StrToInt("+42"), 42);
    EXPECT_EQ(StrToInt("-42"), -42);
    EXPECT_EQ(StrToInt("-0"), 0);
    EXPECT_EQ(StrToInt("   17"), 17);
    EXPECT_EQ(StrToInt("007"), 7);
    EXPECT_EQ(StrToInt("00000000000000000000000012"), 12);
    EXPECT_EQ(StrToInt("2147483647"), INT_MAX);
    EXPECT_EQ(StrToInt("-2147483648"), INT_MIN);
}

TEST(StrToInt, ReadsOneToEightHexDigitsAfterEveryPrefix) {
    for (const std::string prefix : {"$", "x", "X", "0x", "0X"}) {
        SCOPED_TRACE(prefix);
        EXPECT_EQ(StrToInt(prefix + "1"), 1);
        EXPECT_EQ(StrToInt(prefix + "1388"), 5000);
        EXPECT_EQ(StrToInt(prefix + "abCDef"), 0xABCDEF);
        EXPECT_EQ(StrToInt(prefix + "7FFFFFFF"), INT_MAX);
        EXPECT_EQ(StrToInt(prefix + "80000000"), INT_MIN);
        EXPECT_EQ(StrToInt(prefix + "FFFFFFFF"), -1);
        EXPECT_EQ(StrToInt("  " + prefix + "00000010"), 16);
    }
}

TEST(StrToInt, RefusesEverythingElseQuotingTheTextUnchanged) {
    const std::string refused[] = {
        "",      " ",   "-",   "+",          "--1",         "+-1",
        "1 ",    "12a", "1.5", "2147483648", "-2147483649", "99999999999999999999",
        "$",     "0x",  "x",   "$123456789", "$00000000F",  "$G",
        "$-1",   "$ 1", "-$1", "0x1 ",       "1e3",         "Start",
        "$Start"};
    for (const auto& text : refused)
        EXPECT_EQ(ConvertError(text), "'" + text + "' is not a valid integer value") << text;
    EXPECT_EQ(ConvertError("Error"), "'Error' is not a valid integer value");
}

TEST(Utf8ToUtf16, ConvertsEveryLengthAndRefusesDamagedText) {
    EXPECT_EQ(Utf8ToUtf16("Modgen.dat"), u"Modgen.dat");
    EXPECT_EQ(Utf8ToUtf16(""), u"");
    // Two, three and four bytes; the last becomes a surrogate pair.
    EXPECT_EQ(Utf8ToUtf16("\xC3\xA9t\xC3\xA9_\xE2\x82\xAC_\xF0\x9F\x98\x80.s16"),
              u"\u00E9t\u00E9_\u20AC_\U0001F600.s16");
    EXPECT_EQ(Utf8ToUtf16("\xF4\x8F\xBF\xBF"), u"\U0010FFFF");
    for (const char* bad : {"\x80", "a\xC3", "\xC3(", "\xC0\xAF", "\xE0\x80\xAF", "\xED\xA0\x80",
                            "\xF4\x90\x80\x80", "\xF8\x88\x80\x80\x80", "\xFF"})
        EXPECT_EQ(Utf8ToUtf16(bad), std::nullopt) << bad;
}

TEST(EscapedText, WritesEveryByteThatActsOnATerminalAsHexAndKeepsValidText) {
    const std::pair<std::string, std::string> cases[] = {
        {"hero.s16", "hero.s16"},
        {"\xC3\xA9t\xC3\xA9_\xE2\x82\xAC_\xF0\x9F\x98\x80",
         "\xC3\xA9t\xC3\xA9_\xE2\x82\xAC_\xF0\x9F\x98\x80"},
        {"\x1B[2J", "\\x1B[2J"},
        {"a\nb\tc\x7F", "a\\x0Ab\\x09c\\x7F"},
        {"\xC2\x9B"
         "31m",
         "\\xC2\\x9B31m"},            // the one-character control sequence introducer
        {"\xE9t\xE9", "\\xE9t\\xE9"}, // an 8-bit name, not UTF-8
        {"a\xC3", "a\\xC3"},
        {"\xC0\xAF\xED\xA0\x80", "\\xC0\\xAF\\xED\\xA0\\x80"}, // overlong; a surrogate
        {"C:\\mods\\x.s16", "C:\\mods\\x.s16"},
        {"txt.\xE2\x80\xAE"
         "exe",
         "txt.\\xE2\\x80\\xAEexe"}, // direction turned round
        {"\xE2\x81\xA6"
         "a\xE2\x80\x8F",
         "\\xE2\\x81\\xA6a\\xE2\\x80\\x8F"},
    };
    for (const auto& [text, shown] : cases) {
        EXPECT_EQ(EscapedText(text), shown);
        EXPECT_EQ(EscapedText(shown), shown);
    }
    // Names on stdout show each such character as one '?'.
    EXPECT_EQ(kiv::PrintableName("txt.\xE2\x80\xAE"
                                 "exe\x01"),
              "txt.?exe?");
}
