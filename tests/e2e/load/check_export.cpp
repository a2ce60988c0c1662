// Checks one export taken while churn.exe was changing the key: the file must
// parse, hold the ancestors and the key itself, only keys churn makes below
// it, every block complete, and every value whole in the form churn gave it
// (a value is read in one go, so its length and bytes must agree).
//
//   check_export FILE CODE_PAGE KEY
//
// Prints "KEYS keys VALUES values" and exits 0, or prints what is wrong and
// exits 1 (2 for a usage error or an unreadable file).

#include "export_reader.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>

namespace {

using hivedump::testing::ReadValue;

std::uint8_t byte_at(const ReadValue& value, std::size_t index) { return static_cast<std::uint8_t>(value.data[index]); }

std::string text_of(const ReadValue& value)
{
    std::string text;
    for (auto byte : value.data)
        text.push_back(static_cast<char>(byte));
    return text;
}

// Empty when the value is one churn could have written, else what is wrong.
std::string check_value(const ReadValue& value)
{
    std::string_view name = value.name;
    if (name.starts_with("\xe9"))
        name.remove_prefix(1);
    if (name.starts_with("bin")) {
        if (value.type != 3)
            return "not binary";
        if (value.data.size() < 5)
            return "binary shorter than its header";
        std::uint32_t length
            = byte_at(value, 0) | byte_at(value, 1) << 8 | byte_at(value, 2) << 16 | static_cast<std::uint32_t>(byte_at(value, 3)) << 24;
        if (length != value.data.size())
            return "binary of " + std::to_string(value.data.size()) + " bytes says it has " + std::to_string(length);
        std::uint8_t seed = byte_at(value, 4);
        for (std::size_t i = 5; i < value.data.size(); ++i) {
            if (byte_at(value, i) != static_cast<std::uint8_t>(seed + i))
                return "binary byte " + std::to_string(i) + " does not follow the seed";
        }
        return {};
    }
    if (value.name != name)
        return "unexpected name";
    if (name.starts_with("str")) {
        if (value.type != 1)
            return "not a string";
        std::string text = text_of(value);
        std::size_t colon = text.find(':');
        if (colon == std::string::npos || colon == 0)
            return "string without its length";
        std::size_t length = std::strtoul(text.substr(0, colon).c_str(), nullptr, 10);
        if (text.size() - colon - 1 != length || text.find_first_not_of('s', colon + 1) != std::string::npos)
            return "string of " + std::to_string(text.size() - colon - 1) + " characters says " + std::to_string(length);
        return {};
    }
    if (name.starts_with("dw"))
        return value.type == 4 && value.data.size() == 4 ? "" : "not a double word";
    if (name.starts_with("multi")) {
        if (value.type != 7)
            return "not a multi-string";
        std::string text = text_of(value);
        if (text.size() < 2 || !text.ends_with(std::string_view("\0\0", 2)))
            return "multi-string without its two zeros";
        std::size_t run = 0;
        for (std::size_t i = 0; i + 1 < text.size(); ++i) {
            if (text[i] == 'm' && run < 9) {
                ++run;
            } else if (text[i] == '\0' && run > 0) {
                run = 0;
            } else {
                return "multi-string broken at byte " + std::to_string(i);
            }
        }
        return {};
    }
    return "a value churn never writes";
}

bool churn_key_path(std::string_view rest)
{
    // "\kN" one to four times.
    int levels = 0;
    while (!rest.empty()) {
        if (rest.size() < 3 || rest[0] != '\\' || rest[1] != 'k' || rest[2] < '0' || rest[2] > '3')
            return false;
        rest.remove_prefix(3);
        ++levels;
    }
    return levels >= 1 && levels <= 4;
}

/// Where the key's own block is: the ancestors below the master key come
/// first, one header each without values. Empty when they are not so.
std::optional<std::size_t> key_block(const hivedump::testing::ReadExport& parsed, const std::string& key, const char* name)
{
    std::size_t at = 0;
    std::size_t first = key.find('\\');
    for (std::size_t slash = first == std::string::npos ? first : key.find('\\', first + 1); slash != std::string::npos;
         slash = key.find('\\', slash + 1), ++at) {
        if (at >= parsed.keys.size() || parsed.keys[at].path != key.substr(0, slash) || !parsed.keys[at].values.empty()) {
            std::cout << name << ": block " << at + 1 << " is not the ancestor " << key.substr(0, slash) << '\n';
            return std::nullopt;
        }
    }
    if (at >= parsed.keys.size() || parsed.keys[at].path != key) {
        std::cout << name << ": the key itself is missing\n";
        return std::nullopt;
    }
    return at;
}

/// The values of the blocks from the key's on, all of them whole; every block
/// complete. Empty when one is not.
std::optional<std::size_t> whole_values(
    const hivedump::testing::ReadExport& parsed, const std::string& key, std::size_t at, const char* name)
{
    std::size_t values = 0;
    for (std::size_t i = 0; i < parsed.keys.size(); ++i) {
        const auto& block = parsed.keys[i];
        if (!block.closed) {
            std::cout << name << ": [" << block.path << "] is not complete\n";
            return std::nullopt;
        }
        if (i < at)
            continue;
        if (i > at && (!block.path.starts_with(key) || !churn_key_path(std::string_view(block.path).substr(key.size())))) {
            std::cout << name << ": [" << block.path << "] is no key churn makes\n";
            return std::nullopt;
        }
        for (const auto& value : block.values) {
            if (auto wrong = check_value(value); !wrong.empty()) {
                std::cout << name << ": [" << block.path << "] \"" << value.name << "\": " << wrong << '\n';
                return std::nullopt;
            }
            ++values;
        }
    }
    return values;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::cerr << "usage: check_export FILE CODE_PAGE KEY\n";
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    if (!in) {
        std::cout << argv[1] << ": cannot be read\n";
        return 2;
    }
    std::ostringstream content;
    content << in.rdbuf();
    std::string file = content.str();
    auto code_page = hivedump::CodePage::from_number(static_cast<std::uint32_t>(std::strtoul(argv[2], nullptr, 10)));
    std::string key = argv[3];

    auto parsed = hivedump::testing::read_export(file, code_page);
    if (!parsed.ok()) {
        std::cout << argv[1] << ": does not parse: " << parsed.error << '\n';
        return 1;
    }
    auto at = key_block(parsed, key, argv[1]);
    if (!at)
        return 1;
    auto values = whole_values(parsed, key, *at, argv[1]);
    if (!values)
        return 1;
    std::cout << parsed.keys.size() - *at << " keys " << *values << " values\n";
    return 0;
}
