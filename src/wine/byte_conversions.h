#pragma once

#include <cstdint>
#include <span>

namespace hivedump::wine {

/// How Wine turns one code page's bytes back into UTF-16, where reading the
/// unit-to-bytes table backwards gives another answer. `exceptions` is sorted:
/// bytes << 16 | unit, the bytes a lead byte in the high half and a trail
/// byte in the low half; unit 0xFFFF means the lead byte stands alone.
struct ByteConversions {
    std::uint32_t number;
    char16_t default_unit; ///< for a lead byte that makes no character
    std::span<const std::uint32_t> exceptions;
};

const ByteConversions* find_byte_conversions(std::uint32_t number);

} // namespace hivedump::wine
