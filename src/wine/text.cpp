#include "wine/text.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace hivedump::wine {

TextView pack_units(unsigned char* out, const char16_t* units, std::size_t length, bool wide)
{
    if (wide) {
        if (length != 0)
            std::memcpy(out, units, length * 2);
    } else {
        for (std::size_t index = 0; index < length; ++index)
            out[index] = static_cast<unsigned char>(units[index]);
    }
    return { out, static_cast<std::uint32_t>(length), wide };
}

namespace {

struct CaseRun {
    char16_t first;
    std::uint16_t count;
    std::int32_t delta;
    std::uint16_t stride;
};

// Upper-case letters whose lower case maps back to them, from the Unicode
// character data, as runs of equal distance.
// clang-format off
constexpr CaseRun case_runs[] = {
#include "wine/case_data.inc"
};
// clang-format on

const std::array<char16_t, 0x10000>& fold_table()
{
    static const auto table = [] {
        std::array<char16_t, 0x10000> result{};
        for (std::size_t unit = 0; unit < result.size(); ++unit)
            result[unit] = static_cast<char16_t>(unit);
        for (const auto& run : case_runs) {
            for (std::uint32_t index = 0; index < run.count; ++index) {
                auto unit = run.first + index * run.stride;
                result[unit] = static_cast<char16_t>(static_cast<std::int32_t>(unit) + run.delta);
            }
        }
        return result;
    }();
    return table;
}

} // namespace

char16_t fold_case(char16_t unit) { return fold_table()[unit]; }

int compare_names(const TextView& left, const TextView& right)
{
    const auto& table = fold_table();
    auto common = std::min(left.length, right.length);
    if (!left.wide && !right.wide) {
        // Most names are one byte a unit: no unit to assemble, and equal
        // bytes need no folding.
        for (std::uint32_t index = 0; index < common; ++index) {
            unsigned a = left.bytes[index];
            unsigned b = right.bytes[index];
            if (a == b)
                continue;
            int difference = static_cast<int>(table[a]) - static_cast<int>(table[b]);
            if (difference != 0)
                return difference;
        }
    } else {
        for (std::uint32_t index = 0; index < common; ++index) {
            int difference = static_cast<int>(table[left[index]]) - static_cast<int>(table[right[index]]);
            if (difference != 0)
                return difference;
        }
    }
    return static_cast<int>(left.length) - static_cast<int>(right.length);
}

bool names_equal(const TextView& left, const TextView& right) { return left.length == right.length && compare_names(left, right) == 0; }

std::uint32_t name_hash(const TextView& name)
{
    const auto& table = fold_table();
    std::uint32_t hash = 2166136261u;
    if (!name.wide) {
        for (std::uint32_t index = 0; index < name.length; ++index)
            hash = (hash ^ table[name.bytes[index]]) * 16777619u;
        return hash;
    }
    for (std::uint32_t index = 0; index < name.length; ++index)
        hash = (hash ^ table[name[index]]) * 16777619u;
    return hash;
}

} // namespace hivedump::wine
