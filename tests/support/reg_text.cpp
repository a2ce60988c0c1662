#include "reg_text.h"

namespace hivedump::testing {

namespace {

bool is_hex_digit(char16_t unit) { return (unit >= '0' && unit <= '9') || (unit >= 'a' && unit <= 'f') || (unit >= 'A' && unit <= 'F'); }

/// The escape of a unit that has one of its own, or null.
const char* named_escape(char16_t unit, bool section, int style)
{
    switch (unit) {
    case u'\\':
        return "\\\\";
    case u'"':
        return section && style != 1 ? "\"" : "\\\"";
    case u'[':
        return section && style != 2 ? "\\[" : "[";
    case u']':
        return section ? "\\]" : "]";
    case u'\a':
        return "\\a";
    case u'\b':
        return "\\b";
    case u'\x1b':
        return "\\e";
    case u'\f':
        return "\\f";
    case u'\n':
        return "\\n";
    case u'\r':
        return "\\r";
    case u'\t':
        return style == 3 ? "\t" : "\\t";
    case u'\v':
        return "\\v";
    default:
        return nullptr;
    }
}

/// A control character: \x, or octal in as few digits as the next
/// character leaves unambiguous.
void append_control(std::string& out, char16_t unit, int style, bool next_hex, bool next_octal)
{
    if (style == 4) {
        out += "\\x";
        append_hex(out, unit, next_hex ? 4 : 1);
        return;
    }
    out += "\\";
    int digits = unit >= 010 ? 2 : 1;
    if (next_octal)
        digits = 3;
    for (int digit = digits - 1; digit >= 0; --digit)
        out.push_back(static_cast<char>('0' + (unit >> (3 * digit) & 7)));
}

/// A unit from DEL on, raw UTF-8 (a surrogate pair as one character) or
/// \x; returns the index of the last unit it took.
std::size_t append_wide(std::string& out, std::u16string_view text, std::size_t at, int style, bool next_hex)
{
    char16_t unit = text[at];
    bool surrogate_pair = unit >= 0xD800 && unit < 0xDC00 && at + 1 < text.size() && text[at + 1] >= 0xDC00 && text[at + 1] < 0xE000;
    if (style >= 5 && unit != 0x7f && (unit < 0xD800 || unit >= 0xE000 || surrogate_pair)) {
        char32_t code = unit;
        if (surrogate_pair)
            code = 0x10000 + ((unit - 0xD800) << 10) + (text[++at] - 0xDC00);
        append_utf8(out, code);
        return at;
    }
    if (unit == 0x7f) {
        out.push_back('\x7f');
        return at;
    }
    out += "\\x";
    append_hex(out, unit, next_hex || style == 4 ? 4 : 1);
    return at;
}

} // namespace

void append_utf8(std::string& out, char32_t code)
{
    if (code < 0x80) {
        out.push_back(static_cast<char>(code));
    } else if (code < 0x800) {
        out.push_back(static_cast<char>(0xC0 | code >> 6));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else if (code < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | code >> 12));
        out.push_back(static_cast<char>(0x80 | (code >> 6 & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | code >> 18));
        out.push_back(static_cast<char>(0x80 | (code >> 12 & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (code >> 6 & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }
}

void append_hex(std::string& out, unsigned value, int digits)
{
    static constexpr char hex[] = "0123456789abcdef";
    char text[8];
    int length = 0;
    do {
        text[length++] = hex[value & 15];
        value >>= 4;
    } while (value != 0);
    while (length < digits)
        text[length++] = '0';
    while (length > 0)
        out.push_back(text[--length]);
}

std::string escape_reg_text(std::u16string_view text, bool section, int style)
{
    std::string out;
    for (std::size_t at = 0; at < text.size(); ++at) {
        char16_t unit = text[at];
        bool next_hex = at + 1 < text.size() && is_hex_digit(text[at + 1]);
        bool next_octal = at + 1 < text.size() && text[at + 1] >= '0' && text[at + 1] <= '7';
        if (const char* escaped = named_escape(unit, section, style))
            out += escaped;
        else if (unit < 0x20)
            append_control(out, unit, style, next_hex, next_octal);
        else if (unit < 0x7f)
            out.push_back(static_cast<char>(unit));
        else
            at = append_wide(out, text, at, style, next_hex);
    }
    return out;
}

std::vector<unsigned char> utf16_bytes(std::u16string_view text)
{
    std::vector<unsigned char> bytes;
    for (auto unit : text) {
        bytes.push_back(static_cast<unsigned char>(unit & 0xFF));
        bytes.push_back(static_cast<unsigned char>(unit >> 8));
    }
    return bytes;
}

} // namespace hivedump::testing
