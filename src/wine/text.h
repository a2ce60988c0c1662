#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

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

/// ASCII text as code units, for the names the reader makes itself.
inline std::u16string ascii_units(std::string_view text) { return { text.begin(), text.end() }; }

/// The server's case folding: to lower case, one code unit at a time, only
/// where the mapping goes both ways (so the Kelvin sign stays itself).
char16_t fold_case(char16_t unit);

/// Orders names as the server keeps them: folded unit by unit, a name before
/// a longer one that it begins.
int compare_names(const TextView& left, const TextView& right);
bool names_equal(const TextView& left, const TextView& right);
std::uint32_t name_hash(const TextView& name);

} // namespace hivedump::wine
