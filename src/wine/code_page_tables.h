#pragma once

#include <cstddef>
#include <cstdint>

namespace hivedump::wine::code_page_tables {

/// The characters an ANSI code page holds: pairs of little-endian 16-bit
/// numbers, a UTF-16 code unit and its bytes (a lead byte in the high half
/// for double-byte characters). Code units not listed become "?".
struct Table {
    std::uint32_t number;
    const unsigned char* pairs;
    std::size_t size;
};

extern const Table tables[];
extern const std::size_t table_count;

} // namespace hivedump::wine::code_page_tables
