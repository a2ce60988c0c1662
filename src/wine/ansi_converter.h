#pragma once

#include "wine/text.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace hivedump::wine {

/// Wine's conversions between UTF-16 and one ANSI code page, including its
/// best-fit replacements; a unit it cannot map becomes '?'. Code page 65001
/// is UTF-8, which Wine makes the ANSI code page of a locale that has none.
class AnsiConverter {
public:
    explicit AnsiConverter(std::uint32_t code_page);
    ~AnsiConverter();
    AnsiConverter(const AnsiConverter&) = delete;
    AnsiConverter& operator=(const AnsiConverter&) = delete;

    std::uint32_t code_page() const { return code_page_; }

    /// Bytes that `text` takes in the code page.
    std::size_t converted_size(const TextView& text) const;
    /// Converts the first units of `text` that fit into `out`; returns the bytes written.
    std::size_t convert(const TextView& text, char* out, std::size_t capacity) const;
    void append(const TextView& text, std::string& out) const;

    /// Converts ANSI text back to UTF-16, as a path handed to an A function
    /// is, into `result`, whose room is kept for the next call.
    void to_utf16(std::string_view text, std::u16string& result) const;

private:
    std::size_t utf8_size(const TextView& text) const;
    std::size_t utf8_convert(const TextView& text, char* out, std::size_t capacity) const;
    void utf8_to_utf16(std::string_view text, std::u16string& result) const;
    std::vector<char16_t> make_byte_units() const;

    struct Tables;
    std::uint32_t code_page_ = 1252;
    bool double_byte_ = false;
    bool utf8_ = false;
    bool low_units_single_ = false; ///< every unit below 0x100 becomes one byte
    std::shared_ptr<Tables> tables_; ///< one set for each code page, shared
};

} // namespace hivedump::wine
