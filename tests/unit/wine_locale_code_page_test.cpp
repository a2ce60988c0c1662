#include "wine/argument_text.h"
#include "wine/locale_code_page.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace hivedump::wine {
namespace {

std::vector<std::string> split(const std::string& line)
{
    std::vector<std::string> fields;
    std::string field;
    std::istringstream in(line);
    while (std::getline(in, field, '\t'))
        fields.push_back(field);
    if (!line.empty() && line.back() == '\t')
        fields.emplace_back();
    return fields;
}

std::string from_hex(const std::string& hex)
{
    std::string bytes;
    for (std::size_t at = 0; at + 1 < hex.size(); at += 2)
        bytes.push_back(static_cast<char>(std::stoi(hex.substr(at, 2), nullptr, 16)));
    return bytes;
}

std::string to_hex(const std::string& bytes)
{
    static constexpr char digits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned char byte : bytes) {
        hex.push_back(digits[byte >> 4]);
        hex.push_back(digits[byte & 0xF]);
    }
    return hex;
}

std::optional<std::string_view> variable(const std::string& field)
{
    if (field == "-")
        return std::nullopt;
    return std::string_view(field);
}

// Every row recorded under wine64: the code page GetACP gave and the bytes a
// program received as its argument, for LC_ALL, LC_CTYPE and LANG as set,
// with the locale generated or not.
TEST(LocaleCodePage, ChosenAsWineChoseItForEveryRecordedLocale)
{
    std::ifstream recording(HIVEDUMP_LOCALE_RECORDING);
    ASSERT_TRUE(recording) << HIVEDUMP_LOCALE_RECORDING;
    const std::string given_prefix = "# argument given: ";
    std::string argument;
    std::string line;
    std::size_t rows = 0;
    while (std::getline(recording, line)) {
        if (line.rfind(given_prefix, 0) == 0) {
            argument = from_hex(line.substr(given_prefix.size()));
            continue;
        }
        if (line.empty() || line[0] == '#')
            continue;
        auto fields = split(line);
        ASSERT_EQ(fields.size(), 7u) << line;
        LocaleVariables variables{ variable(fields[0]), variable(fields[1]), variable(fields[2]) };
        auto expected = static_cast<std::uint32_t>(std::stoul(fields[5]));
        auto chosen = code_page_for_environment(variables, fields[3] == "yes");
        EXPECT_EQ(chosen, expected) << line;
        auto converted = locale_to_code_page(argument, fields[4], CodePage::from_number(expected));
        EXPECT_EQ(to_hex(converted), fields[6]) << line;
        ++rows;
    }
    EXPECT_GT(rows, 1000u);
}

} // namespace
} // namespace hivedump::wine
