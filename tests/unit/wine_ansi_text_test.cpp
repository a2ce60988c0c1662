#include "code_page/code_page.h"
#include "wine/ansi_converter.h"
#include "wine/text.h"

#include <gtest/gtest.h>

namespace hivedump::wine {
namespace {

struct ConversionCase {
    std::uint32_t code_page;
    std::u16string text;
    std::string expected;
};

// What the platform's A functions give, checked under Wine.
TEST(AnsiText, ConvertsAsThePlatformDoes)
{
    const ConversionCase cases[] = {
        { 1252, u"plain", "plain" },
        { 1252, u"Andr\u00e9", "Andr\xe9" },
        { 1252, u"\u20ac", "\x80" }, // euro sign in the 0x80 row
        { 1252, u"\u03a9mega", "Omega" }, // best fit
        { 1252, u"\u03c9", "?" }, // no best fit
        { 1252, u"\U0001F600", "??" }, // one "?" per code unit
        { 1252, u"\u30c6", "?" },
        { 932, u"\u30c7\u30b6\u30a4\u30f3\\\u8868", "\x83\x66\x83\x55\x83\x43\x83\x93\\\x95\\" },
        { 932, u"\uff71", "\xb1" }, // half-width katakana, one byte
        { 932, u"a\u00e9", "ae" }, // best fit
        { 1251, u"\u0416", "\xc6" },
        { 4242, u"\u00e9", "\xe9" }, // unknown code page: as 1252
        // UTF-8, the ANSI code page of a locale that has none: a surrogate
        // without its partner is U+FFFD.
        { 65001, u"a\u00e9\u0416\u3042", "a\xc3\xa9\xd0\x96\xe3\x81\x82" },
        { 65001, u"hi\U0001F600", "hi\xf0\x9f\x98\x80" },
        { 65001, u"lo\xd800x", "lo\xef\xbf\xbdx" },
        { 65001, u"tr\xdc00y", "tr\xef\xbf\xbdy" },
        { 65001, u"end\xd800", "end\xef\xbf\xbd" },
        { 65001, u"\xdc00\xd800", "\xef\xbf\xbd\xef\xbf\xbd" },
        { 65001, u"fffe\ufffe\uffff", "fffe\xef\xbf\xbe\xef\xbf\xbf" },
        { 65001, u"\u007f\u0080\u07ff\u0800", "\x7f\xc2\x80\xdf\xbf\xe0\xa0\x80" },
    };
    for (const auto& c : cases) {
        AnsiConverter converter(c.code_page);
        TextView text{ reinterpret_cast<const unsigned char*>(c.text.data()), static_cast<std::uint32_t>(c.text.size()), true };
        std::string converted;
        converter.append(text, converted);
        EXPECT_EQ(converted, c.expected) << c.code_page;
        EXPECT_EQ(converter.converted_size(text), c.expected.size());
    }
}

// As RegEnumValueA fills a name buffer too small for the name under Wine.
TEST(AnsiText, Utf8CharacterThatDoesNotFitIsLeftOutWhole)
{
    struct Case {
        std::u16string text;
        std::size_t capacity;
        std::string expected;
    };
    const Case cases[] = {
        { u"a\u00e9\u0416\u3042", 4, "a\xc3\xa9" },
        { u"a\u00e9\u0416\u3042", 5, "a\xc3\xa9\xd0\x96" },
        { u"\U0001F600", 3, "" },
        { u"x\xd800", 3, "x" },
    };
    AnsiConverter converter(CodePage::utf8);
    for (const auto& c : cases) {
        std::string out(c.capacity, '\x55');
        auto written = converter.convert(view_of(c.text), out.data(), out.size());
        EXPECT_EQ(out.substr(0, written), c.expected) << c.capacity;
    }
}

// MultiByteToWideChar in code page 65001 under Wine, byte for byte.
TEST(AnsiText, Utf8IsReadAsWineReadsIt)
{
    struct Case {
        std::string bytes;
        std::u16string expected;
    };
    const Case cases[] = {
        { "a\xc3\xa9\xd0\x96\xe3\x81\x82", u"a\u00e9\u0416\u3042" },
        { "a\xff\xc3z\xed\xa0\x80", u"a\ufffd\ufffdz\ufffd\ufffd" },
        { "A\xc3", u"A\ufffd" }, // cut short by the end: one U+FFFD
        { "A\xe3\x81", u"A\ufffd" },
        { "A\xf0\x9f\x98", u"A\ufffd" },
        { "\xf0\x9f"
          "A",
            u"\ufffd" }, // the end comes within its length: the A goes too
        { "\xe3"
          "A",
            u"\ufffd" },
        { "\xc0\x80", u"\ufffd\ufffd" }, // overlong
        { "\xc1\xbf", u"\ufffd\ufffd" },
        { "\xc2\x80", u"\u0080" },
        { "\xe0\x80\x80", u"\ufffd\ufffd" },
        { "\xe0\xa0\x80", u"\u0800" },
        { "\xed\xa0\x80", u"\ufffd\ufffd" }, // a surrogate
        { "\xed\xbf\xbf", u"\ufffd\ufffd" },
        { "\xee\x80\x80", u"\ue000" },
        { "\xf0\x80\x80\x80", u"\ufffd\ufffd\ufffd" },
        { "\xf0\x90\x80\x80", u"\U00010000" },
        { "\xf4\x8f\xbf\xbf", u"\U0010FFFF" },
        { "\xf4\x90\x80\x80", u"\ufffd\ufffd\ufffd" }, // past U+10FFFF
        { "\xf5\x80\x80\x80", u"\ufffd\ufffd\ufffd\ufffd" },
        { "\xf8\x88\x80\x80", u"\ufffd\ufffd\ufffd\ufffd" },
        { "\x80\xbf"
          "A",
            u"\ufffd\ufffdA" },
        { "\xe3\xc3\xa9", u"\ufffd\u00e9" },
    };
    AnsiConverter converter(CodePage::utf8);
    std::u16string units;
    for (const auto& c : cases) {
        converter.to_utf16(c.bytes, units);
        EXPECT_EQ(units, c.expected) << c.bytes;
    }
}

TEST(AnsiText, EveryAnsiCodePageHasItsTable)
{
    for (std::uint32_t page : { 874u, 932u, 936u, 949u, 950u, 1250u, 1251u, 1252u, 1253u, 1254u, 1255u, 1256u, 1257u, 1258u, 65001u })
        EXPECT_EQ(AnsiConverter(page).code_page(), page) << page;
}

} // namespace
} // namespace hivedump::wine
