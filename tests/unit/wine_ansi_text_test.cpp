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
        { 1252, u"plain", "plain" }, { 1252, u"Andr\u00e9", "Andr\xe9" }, { 1252, u"\u20ac", "\x80" }, // euro sign in the 0x80 row
        { 1252, u"\u03a9mega", "Omega" }, // best fit
        { 1252, u"\u03c9", "?" }, // no best fit
        { 1252, u"\U0001F600", "??" }, // one "?" per code unit
        { 1252, u"\u30c6", "?" }, { 932, u"\u30c7\u30b6\u30a4\u30f3\\\u8868", "\x83\x66\x83\x55\x83\x43\x83\x93\\\x95\\" },
        { 932, u"\uff71", "\xb1" }, // half-width katakana, one byte
        { 932, u"a\u00e9", "ae" }, // best fit
        { 1251, u"\u0416", "\xc6" }, { 4242, u"\u00e9", "\xe9" }, // unknown code page: as 1252
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

TEST(AnsiText, EveryAnsiCodePageHasItsTable)
{
    for (std::uint32_t page : { 874u, 932u, 936u, 949u, 950u, 1250u, 1251u, 1252u, 1253u, 1254u, 1255u, 1256u, 1257u, 1258u })
        EXPECT_EQ(AnsiConverter(page).code_page(), page) << page;
}

} // namespace
} // namespace hivedump::wine
