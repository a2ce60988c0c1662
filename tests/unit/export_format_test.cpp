#include "format/export_format.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace hivedump {
namespace {

using testing::bytes_of;
using testing::crlf;
using testing::MemorySink;

struct Rendered {
    MemorySink sink;
    TextStream stream{ sink };
    std::string scratch;
    void value(std::string_view name, std::uint32_t type, std::span<const std::byte> data, CodePage page = CodePage::single_byte(1252))
    {
        write_value(stream, name, type, data, page, scratch);
    }
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

/// String data as the registry holds it, with its terminating zero.
std::vector<std::byte> string_data(std::string_view text)
{
    std::vector<std::byte> data(text.size() + 1);
    std::memcpy(data.data(), text.data(), text.size());
    return data;
}

void PrintTo(const EscapeCase& c, std::ostream* out) { *out << c.label; }

class Escaping : public ::testing::TestWithParam<EscapeCase> { };

TEST_P(Escaping, EscapesBackslashesAndQuotesButNotTrailBytes)
{
    const auto& c = GetParam();
    auto page = CodePage::from_number(c.code_page);
    std::string escaped;
    escape_text(c.input, page, escaped);
    EXPECT_EQ(escaped, c.expected);

    // A value's name is escaped alike, and its string data too, piece by
    // piece on its way into the stream.
    Rendered out;
    out.value(c.input, value_type::string, string_data(c.input), page);
    std::string name = c.input.empty() ? "@" : "\"" + c.expected + "\"";
    EXPECT_EQ(out.text(), name + "=\"" + c.expected + "\"\r\n");
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

struct FormCase {
    const char* label;
    std::string name;
    std::uint32_t type;
    std::vector<std::byte> data;
    std::string line;
};

TEST(ValueForms, FormsByType)
{
    const FormCase cases[] = {
        { "default string", "", 1, string_data("\\"), "@=\"\\\\\"" },
        { "escaped name and data", "a\\b", 1, string_data("C:\\Temp"), "\"a\\\\b\"=\"C:\\\\Temp\"" },
        { "quoted name, empty data", "say \"hi\"", 1, string_data(""), "\"say \\\"hi\\\"\"=\"\"" },
        { "big-endian in stored order", "be", 5, bytes_of({ 0x78, 0x56, 0x34, 0x12 }), "\"be\"=dword:78563412" },
        { "big-endian, named", "n", 5, bytes_of({ 0x12, 0x34, 0x56, 0x78 }), "\"n\"=dword:12345678" },
        { "little-endian, default", "", 4, bytes_of({ 0x01, 0xff, 0x00, 0xab }), "@=dword:ab00ff01" },
        { "little-endian reversed", "le", 4, bytes_of({ 0x78, 0x56, 0x34, 0x12 }), "\"le\"=dword:12345678" },
        { "short dword padded", "short", 4, bytes_of({ 0x01, 0x02 }), "\"short\"=dword:00000201" },
        { "dword longer than four", "float", 4, bytes_of({ 0, 0, 0, 0, 0, 0, 0xf0, 0x3f }), "\"float\"=hex(4):00,00,00,00,00,00,f0,3f" },
        { "big-endian longer than four", "be5", 5, bytes_of({ 1, 2, 3, 4, 5 }), "\"be5\"=hex(5):01,02,03,04,05" },
        { "link", "link", 6, bytes_of({ 'a', 0, 'b', 0 }), "\"link\"=hex(6):61,00,62,00" },
        { "multi-string", "multi", 7, bytes_of({ 'a', 0, 'b', 0, 0 }), "\"multi\"=hex(7):61,00,62,00,00" },
        { "line feed in string", "lines", 1, bytes_of({ 'a', '\n', 'b', 0 }), "\"lines\"=hex(1):61,0a,62,00" },
        { "carriage return in string", "cr", 1, bytes_of({ 'a', '\r', 0 }), "\"cr\"=hex(1):61,0d,00" },
        { "string ends at its first zero", "cut", 1, bytes_of({ 'a', 0, '\n', 0 }), "\"cut\"=\"a\"" },
        { "string without a zero", "unended", 1, bytes_of({ 'x', 'y' }), "\"unended\"=\"xy\"" },
        { "qword", "q", 11, bytes_of({ 1, 0, 0, 0, 0, 0, 0, 0 }), "\"q\"=hex(b):01,00,00,00,00,00,00,00" },
        { "no type, no data", "none", 0, {}, "\"none\"=hex(0):" },
        // Unescaped, the name would end the line and "[HKEY_LOCAL_MACHINE]"
        // would import as a key header of another master key.
        { "line breaks in a name", "a\n[HKEY_LOCAL_MACHINE]\r\n@", 1, string_data("x"), "\"a\\n[HKEY_LOCAL_MACHINE]\\r\\n@\"=\"x\"" },
        { "escaped n in a name", "a\\n", 1, string_data("literal"), "\"a\\\\n\"=\"literal\"" },
    };
    for (const auto& c : cases) {
        Rendered out;
        out.value(c.name, c.type, c.data);
        EXPECT_EQ(out.text(), c.line + "\r\n") << c.label;
    }
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
        out.value("", c.type, {});
        EXPECT_EQ(out.text(), crlf(std::string(c.prefix) + "\n")) << c.type;
    }
}

TEST(ValueForms, ExpandStringKeepsTerminatingZero)
{
    Rendered out;
    auto data = testing::bytes_of({ '%', 'P', 'A', 'T', 'H', '%', 0 });
    out.value("", value_type::expand_string, data);
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
        out.value(c.name, value_type::binary, data);
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
    out.value("", value_type::binary, testing::byte_range(30));
    out.value("Data", value_type::binary, testing::byte_range(60));
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
