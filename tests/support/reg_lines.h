#pragma once

// The lines of a registry file, each chosen from the bytes: names, section
// headers, values of every form, links' values, broken lines, line ends.

#include "reg_generator.h"
#include "reg_text.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace hivedump::testing {

/// A name and a digit.
std::u16string numbered(std::u16string_view stem, std::uint32_t digit);

/// A path folded to ASCII lower case, its names apart: enough to order
/// sections as Wine writes them.
std::u16string sort_key(const std::vector<std::u16string>& names);

class RegLines {
public:
    RegLines(ByteChoices& choices, bool for_wine)
        : c_(choices)
        , wine_(for_wine)
    {
    }

    /// A key or value name: plain, punctuated, with control characters,
    /// beyond ASCII, or around the longest the server takes.
    std::u16string name();
    std::string section_header(const std::vector<std::u16string>& names);
    /// The value that makes a key a link to `target` (from \Registry).
    std::string link_value(std::u16string target);
    std::string value_line();
    std::string broken_line();
    /// A variation of a file's header: a carriage return, no relative path,
    /// another architecture, user or version.
    void vary_header(std::string& header);
    std::string with_line_ends(const std::string& text);

    /// The longest name the lines hold, in UTF-16 units.
    std::size_t longest_name() const { return longest_name_; }
    /// The names of the links' targets, each a key the files can make.
    std::size_t link_components() const { return link_components_; }

private:
    std::string escape(std::u16string_view text, bool section) { return escape_reg_text(text, section, static_cast<int>(c_.below(8))); }
    std::string hex_value_line(std::string line);
    std::u16string some_text();
    std::string hex_bytes(std::size_t column, const std::vector<unsigned char>& bytes);
    void note_name(std::size_t length) { longest_name_ = std::max(longest_name_, length); }

    ByteChoices& c_;
    bool wine_;
    std::size_t longest_name_ = 0;
    std::size_t link_components_ = 0;
};

} // namespace hivedump::testing
