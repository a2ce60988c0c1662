#pragma once

#include "format/code_page.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace hivedump::registry {

/// Converts 16-bit registry text to an ANSI code page as the platform's A
/// functions do: each code unit becomes the bytes the code page gives it,
/// best-fit replacements included, or "?" when it has none.
class AnsiText {
public:
    /// Code pages without a table convert like 1252.
    explicit AnsiText(std::uint32_t code_page);

    void append(std::u16string_view text, std::string& out) const;
    std::string convert(std::u16string_view text) const
    {
        std::string out;
        append(text, out);
        return out;
    }
    /// Bytes that `text` takes once converted.
    std::size_t converted_size(std::u16string_view text) const;

    std::uint32_t number() const { return number_; }
    CodePage code_page() const { return CodePage::from_number(number_); }

private:
    std::uint32_t number_;
    // Shared between converters of the same code page; built once.
    std::shared_ptr<const std::vector<std::uint16_t>> table_;
};

/// True when a table for that code page is built in.
bool has_code_page_table(std::uint32_t code_page);

} // namespace hivedump::registry
