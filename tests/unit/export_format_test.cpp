#include "format/export_format.h"
#include "test_support.h"

#include <gtest/gtest.h>

namespace hivedump {
namespace {

using testing::crlf;
using testing::MemorySink;

struct Rendered {
    MemorySink sink;
    TextStream stream{ sink };
    std::string text()
    {
        stream.close();
        return sink.text();
    }
};

struct EscapeCase {
    const char* label;
    std::uint32_t code_page;
    std::string input;
    std::string expected;
};

void PrintTo(const EscapeCase& c, std::ostream* out) { *out << c.label; }

class Escaping : public ::testing::TestWithParam<EscapeCase> { };

TEST_P(Escaping, EscapesBackslashesAndQuotesButNotTrailBytes)
{
    const auto& c = GetParam();
    auto page = CodePage::from_number(c.code_page);
    std::string escaped;
    escape_text(c.input, page, escaped);
    EXPECT_EQ(escaped, c.expected);

    // The one-pass form must agree with escaping each character in turn.
    std::string in_turn = c.input;
    escape_char(in_turn, '\\', page);
    escape_char(in_turn, '"', page);
    EXPECT_EQ(in_turn, c.expected);
}

INSTANTIATE_TEST_SUITE_P(Table, Escaping,
    ::testing::Values(EscapeCase{ "backslash", 1252, "C:\\Temp", "C:\\\\Temp" },
        EscapeCase{ "quotes", 1252, "say \"hi\"", "say \\\"hi\\\"" }, EscapeCase{ "first byte", 1252, "\\x", "\\\\x" },
        EscapeCase{ "first byte quote", 1252, "\"x", "\\\"x" }, EscapeCase{ "backslash then quote", 1252, "\\\"", "\\\\\\\"" },
        EscapeCase{ "after e acute", 1252, "Andr\xE9\\Documents", "Andr\xE9\\\\Documents" },
        EscapeCase{ "after 0x95 single byte", 1252, "\x95\\", "\x95\\\\" }, EscapeCase{ "trail backslash", 932, "\x95\\", "\x95\\" },
        EscapeCase{ "trail quote", 932, "\x95\"", "\x95\"" }, EscapeCase{ "ascii then backslash", 932, "A\\", "A\\\\" },
        EscapeCase{ "after trail 0x93", 932, "\x83\x66\x83\x55\x83\x43\x83\x93\\\x95\\", "\x83\x66\x83\x55\x83\x43\x83\x93\\\\\x95\\" },
        EscapeCase{ "half-width kana is single", 932, "\xB1\\", "\xB1\\\\" }, EscapeCase{ "lead byte last", 932, "a\x95", "a\x95" },
        EscapeCase{ "empty", 932, "", "" }),
    [](const auto& info) {
        std::string name = info.param.label;
        for (auto& c : name)
            if (!isalnum(static_cast<unsigned char>(c)))
                c = '_';
        return name;
    });

TEST(ValueForms, StringsNamedAndDefault)
{
    Rendered out;
    write_string_value(out.stream, "a\\\\b", "C:\\\\Temp");
    write_string_value(out.stream, "say \\\"hi\\\"", "");
    write_string_value(out.stream, "", "\\\\");
    EXPECT_EQ(out.text(), crlf("\"a\\\\b\"=\"C:\\\\Temp\"\n\"say \\\"hi\\\"\"=\"\"\n@=\"\\\\\"\n"));
}

TEST(ValueForms, DoubleWordDigitsInGivenOrder)
{
    Rendered out;
    write_dword_value(out.stream, "n", { 0x12, 0x34, 0x56, 0x78 });
    write_dword_value(out.stream, "", { 0xab, 0x00, 0xff, 0x01 });
    EXPECT_EQ(out.text(), crlf("\"n\"=dword:12345678\n@=dword:ab00ff01\n"));
}

struct TypeCase {
    std::uint32_t type;
    const char* prefix;
};

TEST(ValueForms, TypeNumberInLowerCaseHexWithoutSign)
{
    for (auto c : { TypeCase{ 0, "@=hex(0):" }, TypeCase{ 2, "@=hex(2):" }, TypeCase{ 3, "@=hex:" }, TypeCase{ 7, "@=hex(7):" },
             TypeCase{ 9, "@=hex(9):" }, TypeCase{ 10, "@=hex(a):" }, TypeCase{ 11, "@=hex(b):" }, TypeCase{ 0xffff, "@=hex(ffff):" },
             TypeCase{ 0x80000000u, "@=hex(80000000):" }, TypeCase{ 0xffffffffu, "@=hex(ffffffff):" } }) {
        Rendered out;
        write_hex_value(out.stream, "", c.type, {});
        EXPECT_EQ(out.text(), crlf(std::string(c.prefix) + "\n")) << c.type;
    }
}

TEST(ValueForms, ExpandStringKeepsTerminatingZero)
{
    Rendered out;
    auto data = testing::bytes_of({ '%', 'P', 'A', 'T', 'H', '%', 0 });
    write_hex_value(out.stream, "", 2, data);
    EXPECT_EQ(out.text(), crlf("@=hex(2):25,50,41,54,48,25,00\n"));
}

struct WrapCase {
    const char* label;
    std::string name;
    int bytes;
    std::size_t first_line_bytes; // bytes before the first break, or all of them
};

// The first line takes bytes while prefix + 3 * bytes stays at 76 or below.
TEST(HexWrapping, BreaksPastColumnLimit)
{
    const WrapCase cases[] = {
        { "default 24 fit: 6 + 3*24 = 78 > 76 only after the last", "", 24, 24 },
        { "default 25: 6 + 3*24 = 78 breaks before byte 25", "", 25, 24 },
        { "default 30", "", 30, 24 },
        { "named Data 60: 11 + 3*22 = 77", "Data", 60, 22 },
        { "one byte never breaks", std::string(200, 'n'), 1, 1 },
        { "74-char prefix puts one byte first: 74 + 3 = 77", std::string(67, 'n'), 2, 1 },
        { "73-char prefix: 73 + 3 = 76 fits, 79 does not", std::string(66, 'n'), 3, 2 },
    };
    for (const auto& c : cases) {
        Rendered out;
        auto data = testing::byte_range(c.bytes);
        write_hex_value(out.stream, c.name, 3, data);
        std::string text = out.text();
        auto first_break = text.find("\\\r\n");
        std::string first_line = text.substr(0, first_break == std::string::npos ? text.find("\r\n") : first_break);
        auto hex = first_line.substr(first_line.find("hex:") + 4);
        std::size_t on_first = (hex.size() + 1) / 3;
        EXPECT_EQ(on_first, c.first_line_bytes) << c.label << "\n" << text;
        // Every continuation line starts with two blanks and holds 25 bytes at most.
        for (std::size_t at = first_break; at != std::string::npos; at = text.find("\\\r\n", at + 1)) {
            EXPECT_EQ(text.substr(at + 3, 2), "  ") << c.label;
        }
        EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
        EXPECT_NE(text.substr(text.size() - 4, 2), ",\\") << c.label;
    }
}

TEST(HexWrapping, ExamplesByteForByte)
{
    Rendered out;
    write_hex_value(out.stream, "", 3, testing::byte_range(30));
    write_hex_value(out.stream, "Data", 3, testing::byte_range(60));
    EXPECT_EQ(out.text(),
        crlf("@=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,16,17,\\\n"
             "  18,19,1a,1b,1c,1d\n"
             "\"Data\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,\\\n"
             "  16,17,18,19,1a,1b,1c,1d,1e,1f,20,21,22,23,24,25,26,27,28,29,2a,2b,2c,2d,2e,\\\n"
             "  2f,30,31,32,33,34,35,36,37,38,39,3a,3b\n"));
}

TEST(Headers, KeyAndAncestorHeaders)
{
    Rendered out;
    write_file_header(out.stream);
    write_ancestor_header(out.stream, "HKEY_USERS", ".Default");
    write_key_header(out.stream, "HKEY_USERS", "");
    write_key_header(out.stream, "HKEY_USERS", ".Default\\x");
    write_block_end(out.stream);
    EXPECT_EQ(out.text(), crlf("REGEDIT4\n\n[HKEY_USERS\\.Default]\n\n[HKEY_USERS]\n[HKEY_USERS\\.Default\\x]\n\n"));
}

} // namespace
} // namespace hivedump
