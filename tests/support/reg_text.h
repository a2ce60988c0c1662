#pragma once

// How registry files spell text: escapes, UTF-8, hex digits.

#include <string>
#include <string_view>
#include <vector>

namespace hivedump::testing {

void append_utf8(std::string& out, char32_t code);
/// `value` in lower-case hex, at least `digits` digits.
void append_hex(std::string& out, unsigned value, int digits);
/// Text escaped for a section (`]` ends it) or a quoted name or string, in
/// one of the ways Wine reads (`style` below 8); Wine writes \x with as few
/// digits as it can, and raw UTF-8 reads the same.
std::string escape_reg_text(std::u16string_view text, bool section, int style);
/// UTF-16 little-endian, as the server holds strings.
std::vector<unsigned char> utf16_bytes(std::u16string_view text);

} // namespace hivedump::testing
