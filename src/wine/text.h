#pragma once

#include "code_page/code_page.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace hivedump::wine {

/// A run of UTF-16 code units as the hive stores it: one byte per unit when
/// every unit is below 0x100, else two bytes per unit, little-endian.
struct TextView {
    const unsigned char* bytes = nullptr;
    std::uint32_t length = 0; ///< code units
    bool wide = false;

    char16_t operator[](std::size_t index) const
    {
        if (!wide)
            return bytes[index];
        return static_cast<char16_t>(bytes[2 * index] | (bytes[2 * index + 1] << 8));
    }
};

/// Writes units into `out` in the stored form, one byte a unit unless
/// `wide`; `out` has room for that many bytes.
TextView pack_units(unsigned char* out, const char16_t* units, std::size_t length, bool wide);

/// The subkey a 32-bit program on a 64-bit prefix sees in place of the key
/// above it.
inline constexpr std::u16string_view wow64_node_name = u"Wow6432Node";

inline TextView view_of(std::u16string_view text)
{
    return { reinterpret_cast<const unsigned char*>(text.data()), static_cast<std::uint32_t>(text.size()), true };
}

/// The names of a key path, in order; runs of backslashes separate them,
/// as the server reads a path.
class PathNames {
public:
    explicit PathNames(std::u16string_view path)
        : rest_(path)
    {
    }

    std::optional<std::u16string_view> next()
    {
        auto start = rest_.find_first_not_of(u'\\');
        if (start == std::u16string_view::npos)
            return std::nullopt;
        rest_.remove_prefix(start);
        auto name = rest_.substr(0, rest_.find(u'\\'));
        rest_.remove_prefix(name.size());
        return name;
    }

private:
    std::u16string_view rest_;
};

/// The server's case folding: to lower case, one code unit at a time, only
/// where the mapping goes both ways (so the Kelvin sign stays itself).
char16_t fold_case(char16_t unit);

/// Orders names as the server keeps them: folded unit by unit, a name before
/// a longer one that it begins.
int compare_names(const TextView& left, const TextView& right);
bool names_equal(const TextView& left, const TextView& right);
std::uint32_t name_hash(const TextView& name);

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
