#pragma once

#include <cstdint>

namespace hivedump {

/// Value type numbers as the platform numbers them. Numbers, not an enum:
/// a value may carry any 32-bit type and is exported with it.
namespace value_type {
inline constexpr std::uint32_t none = 0;
inline constexpr std::uint32_t string = 1;
inline constexpr std::uint32_t expand_string = 2;
inline constexpr std::uint32_t binary = 3;
inline constexpr std::uint32_t dword = 4;
inline constexpr std::uint32_t dword_big_endian = 5;
inline constexpr std::uint32_t link = 6;
inline constexpr std::uint32_t multi_string = 7;
inline constexpr std::uint32_t qword = 11;
} // namespace value_type

} // namespace hivedump
