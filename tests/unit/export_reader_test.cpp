// The reader that the fault loops and the fuzz targets trust must refuse
// what the tool never writes, or their checks would pass on broken files.

#include "export_reader.h"
#include "test_support.h"

#include <gtest/gtest.h>

namespace hivedump {
namespace {

using testing::crlf;
using testing::read_export;
using testing::ReadValue;

std::vector<std::byte> text_bytes(std::string_view text)
{
    std::vector<std::byte> bytes;
    for (char c : text)
        bytes.push_back(static_cast<std::byte>(c));
    return bytes;
}

TEST(ExportReader, ReadsEveryForm)
{
    std::string file = crlf("REGEDIT4\n\n[HKEY_USERS\\A]\n\n[HKEY_USERS\\A\\B]\n"
                            "\"a\\\\b\"=\"C:\\\\Temp\"\n\"say \\\"hi\\\"\"=\"\"\n@=\"\\\\\"\n"
                            "\"le\"=dword:12345678\n@=hex(2):25,50,41,54,48,25,00\n\"e\"=hex:\n"
                            "@=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,16,17,\\\n  18,19\n\n"
                            "[HKEY_USERS\\A\\abandoned]\n");
    auto read = read_export(file, CodePage::single_byte(1252));
    ASSERT_TRUE(read.ok()) << read.error;
    ASSERT_EQ(read.keys.size(), 3u);
    EXPECT_TRUE(read.keys[0].closed);
    EXPECT_FALSE(read.keys[2].closed);
    std::vector<std::byte> counted = testing::byte_range(26);
    std::vector<ReadValue> expected{
        { "a\\b", 1, text_bytes("C:\\Temp") },
        { "say \"hi\"", 1, {} },
        { "", 1, text_bytes("\\") },
        { "le", 4, testing::bytes_of({ 0x78, 0x56, 0x34, 0x12 }) },
        { "", 2, text_bytes(std::string_view("%PATH%\0", 7)) },
        { "e", 3, {} },
        { "", 3, counted },
    };
    EXPECT_EQ(read.keys[1].values, expected);
}

TEST(ExportReader, TrailBytesOfTheCodePageStandUnescaped)
{
    CodePage japanese = CodePage::from_number(932);
    // 0x95 0x5C and 0x95 0x22 are characters; a lead byte at the end of a
    // name has nothing to pair with and leaves the closing quote alone.
    auto read = read_export(crlf("REGEDIT4\n\n[K]\n\"\x95\\\x95\"\"=\"A\\\\\"\n\"\x95\"=dword:00000001\n\n"), japanese);
    ASSERT_TRUE(read.ok()) << read.error;
    ASSERT_EQ(read.keys[0].values.size(), 2u);
    EXPECT_EQ(read.keys[0].values[0].name, "\x95\\\x95\"");
    EXPECT_EQ(read.keys[0].values[0].data, text_bytes("A\\"));
    EXPECT_EQ(read.keys[0].values[1].name, "\x95");
}

TEST(ExportReader, RefusesWhatTheToolNeverWrites)
{
    const std::string head = "REGEDIT4\n\n[K]\n";
    const struct {
        const char* label;
        std::string file;
    } cases[] = {
        { "no header", crlf("REGEDIT5\n\n") },
        { "bare line feed", "REGEDIT4\r\n\r\n[K]\n\r\n" },
        { "no final line end", crlf(head) + "\"a\"=\"b\"" },
        { "single backslash", crlf(head + "\"a\\b\"=\"\"\n\n") },
        { "unescaped quote in text", crlf(head + "\"a\"=\"b\"c\"\n\n") },
        { "empty quoted name", crlf(head + "\"\"=\"\"\n\n") },
        { "upper-case hex", crlf(head + "@=hex:0A\n\n") },
        { "short dword", crlf(head + "@=dword:1234\n\n") },
        { "type with leading zero", crlf(head + "@=hex(0b):00\n\n") },
        { "upper-case type", crlf(head + "@=hex(B):00\n\n") },
        { "trailing comma", crlf(head + "@=hex:00,\n\n") },
        // 6 + 3 * 23 = 75 does not pass the limit, so no break is due here.
        { "early continuation", crlf(head + "@=hex:" + std::string("00,", 3) + "\\\n  00\n\n") },
        // 6 + 3 * 24 = 78 passes it: the line must break after the 24th byte.
        { "missing continuation", crlf(head + "@=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,16,17,18\n\n") },
        { "continuation without blanks",
            crlf(head + "@=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,16,17,\\\n18\n\n") },
        { "continuation at the end", crlf(head + "@=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,16,17,\\\n") },
        { "value before any key", crlf("REGEDIT4\n\n@=\"x\"\n\n") },
    };
    for (const auto& c : cases)
        EXPECT_FALSE(read_export(c.file, CodePage::single_byte(1252)).ok()) << c.label;
}

} // namespace
} // namespace hivedump
