#include "wine/lexer.h"

#include "registry/value_type.h"

#include <algorithm>

namespace hivedump::wine {

namespace {

/// Writes the code units of one UTF-8 sequence; bytes that begin no valid
/// sequence are dropped, as the server drops them.
char16_t* decode_utf8(Cursor& cursor, char16_t* out)
{
    auto byte = [&](std::ptrdiff_t offset) -> unsigned {
        return cursor.end - cursor.at > offset ? static_cast<unsigned char>(cursor.at[offset]) : 0u;
    };
    auto continuation = [&](std::ptrdiff_t offset) { return (byte(offset) & 0xC0) == 0x80; };
    unsigned lead = byte(0);
    if (lead >= 0xC2 && lead <= 0xDF && continuation(1)) {
        *out++ = static_cast<char16_t>((lead & 0x1F) << 6 | (byte(1) & 0x3F));
        cursor.at += 2;
        return out;
    }
    if (lead >= 0xE0 && lead <= 0xEF && continuation(1) && continuation(2) && (lead != 0xE0 || byte(1) >= 0xA0)) {
        *out++ = static_cast<char16_t>((lead & 0x0F) << 12 | (byte(1) & 0x3F) << 6 | (byte(2) & 0x3F));
        cursor.at += 3;
        return out;
    }
    if (lead >= 0xF0 && lead <= 0xF4 && continuation(1) && continuation(2) && continuation(3) && (lead != 0xF0 || byte(1) >= 0x90)
        && (lead != 0xF4 || byte(1) <= 0x8F)) {
        std::uint32_t code = (lead & 0x07) << 18 | (byte(1) & 0x3F) << 12 | (byte(2) & 0x3F) << 6 | (byte(3) & 0x3F);
        code -= 0x10000;
        *out++ = static_cast<char16_t>(0xD800 | (code >> 10));
        *out++ = static_cast<char16_t>(0xDC00 | (code & 0x3FF));
        cursor.at += 4;
        return out;
    }
    ++cursor.at;
    return out;
}

} // namespace

bool read_unsigned_hex(Cursor& cursor, std::uint64_t& value)
{
    Cursor probe = cursor;
    probe.skip_spaces();
    bool negative = false;
    if (probe.peek() == '+' || probe.peek() == '-') {
        negative = probe.peek() == '-';
        ++probe.at;
    }
    if (probe.peek() == '0' && probe.end - probe.at >= 3 && (probe.at[1] | 0x20) == 'x' && is_hex_digit(probe.at[2]))
        probe.at += 2;
    if (!is_hex_digit(probe.peek()))
        return false;
    std::uint64_t result = 0;
    bool overflow = false;
    while (!probe.done() && is_hex_digit(*probe.at)) {
        if (result >> 60 != 0)
            overflow = true;
        result = result << 4 | hex_value(*probe.at);
        ++probe.at;
    }
    if (overflow)
        result = ~std::uint64_t{ 0 };
    else if (negative)
        result = ~result + 1;
    value = result;
    cursor = probe;
    return true;
}

namespace {

/// decode_utf8, noting in `high` the units above 0xFF.
char16_t* decode_utf8_noting(Cursor& cursor, char16_t* out, char16_t& high)
{
    char16_t* start = out;
    out = decode_utf8(cursor, out);
    for (const char16_t* unit = start; unit != out; ++unit)
        high |= static_cast<char16_t>(*unit & 0xFF00);
    return out;
}

/// Copies the plain ASCII at the cursor in one tight run, sixteen bytes a
/// step while there are as many left. The room holds a unit for each byte of
/// the line, so a step may write past the run it copies.
inline char16_t* copy_plain(Cursor& cursor, char16_t* out)
{
    const char* at = cursor.at;
#if defined(__SSE2__)
    while (cursor.end - at >= 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
        const __m128i special
            = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('\\')), _mm_cmpeq_epi8(bytes, _mm_set1_epi8('"'))),
                _mm_cmpeq_epi8(bytes, _mm_set1_epi8(']')));
        // A byte of 0x80 and up has its top bit set, as a match has.
        const auto stops = static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(special, bytes)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_unpacklo_epi8(bytes, _mm_setzero_si128()));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 8), _mm_unpackhi_epi8(bytes, _mm_setzero_si128()));
        const unsigned plain = stops == 0 ? 16 : static_cast<unsigned>(__builtin_ctz(stops));
        at += plain;
        out += plain;
        if (plain != 16)
            break;
    }
#endif
    while (at != cursor.end && is_plain(*at))
        *out++ = static_cast<char16_t>(*at++);
    cursor.at = at;
    return out;
}

/// The unit of a backslash and one letter, or 0 when the letter makes none.
constexpr char16_t letter_escape(char c)
{
    switch (c) {
    case 'a':
        return u'\a';
    case 'b':
        return u'\b';
    case 'e':
        return u'\x1b';
    case 'f':
        return u'\f';
    case 'n':
        return u'\n';
    case 'r':
        return u'\r';
    case 't':
        return u'\t';
    case 'v':
        return u'\v';
    default:
        return 0;
    }
}

/// Reads what follows a backslash, the cursor on it: a letter escape, up
/// to four hex digits after an x, up to three octal digits, or a character
/// that stands for itself.
char16_t* read_escape(Cursor& cursor, char16_t* out, char16_t& high)
{
    const char c = *cursor.at;
    if (char16_t unit = letter_escape(c); unit != 0) {
        *out++ = unit;
        ++cursor.at;
        return out;
    }
    unsigned unit = 0;
    if (c == 'x') {
        ++cursor.at;
        if (!is_hex_digit(cursor.peek())) {
            *out++ = u'x';
            return out;
        }
        for (int digits = 0; digits < 4 && is_hex_digit(cursor.peek()); ++digits, ++cursor.at)
            unit = unit * 16 + hex_value(*cursor.at);
    } else if (c >= '0' && c <= '7') {
        for (int digits = 0; digits < 3 && cursor.peek() >= '0' && cursor.peek() <= '7'; ++digits, ++cursor.at)
            unit = unit * 8 + static_cast<unsigned>(*cursor.at - '0');
    } else if (static_cast<unsigned char>(c) >= 0x80) {
        return decode_utf8_noting(cursor, out, high);
    } else {
        *out++ = static_cast<char16_t>(c);
        ++cursor.at;
        return out;
    }
    *out++ = static_cast<char16_t>(unit);
    high |= static_cast<char16_t>(unit & 0xFF00);
    return out;
}

} // namespace

bool read_text(Cursor& cursor, char terminator, Units& text)
{
    char16_t* const begin = text.prepare(static_cast<std::size_t>(cursor.end - cursor.at));
    char16_t* out = begin;
    char16_t high = 0; // the units above 0xFF or'ed together
    bool found = false;
    while (!cursor.done()) {
        // Most text is plain ASCII.
        out = copy_plain(cursor, out);
        if (cursor.done())
            break;
        char c = *cursor.at;
        if (c == terminator) {
            ++cursor.at;
            found = true;
            break;
        }
        if (static_cast<unsigned char>(c) >= 0x80) {
            out = decode_utf8_noting(cursor, out, high);
            continue;
        }
        ++cursor.at;
        if (c != '\\') {
            *out++ = static_cast<char16_t>(c);
            continue;
        }
        if (cursor.done())
            break;
        out = read_escape(cursor, out, high);
    }
    text.length = static_cast<std::size_t>(out - begin);
    text.wide = high != 0;
    return found;
}

Hex read_hex_bytes(Cursor& line, Lines& lines, bool last, std::vector<unsigned char>* bytes)
{
    for (;;) {
        if (bytes != nullptr) {
            // Room for the line's bytes, growing by doubling: a value may
            // go on over millions of lines.
            std::size_t wanted = bytes->size() + static_cast<std::size_t>(line.end - line.at) / 2 + 1;
            if (wanted > bytes->capacity())
                bytes->reserve(std::max(wanted, bytes->capacity() * 2));
        }
        // The form the server writes, "hh," after "hh,": read without the
        // general steps, to the same effect.
        while (line.end - line.at >= 3 && line.at[2] == ',' && is_hex_digit(line.at[0]) && is_hex_digit(line.at[1])) {
            if (bytes != nullptr)
                bytes->push_back(static_cast<unsigned char>(hex_value(line.at[0]) << 4 | hex_value(line.at[1])));
            line.at += 3;
            line.skip_spaces();
        }
        while (is_hex_digit(line.peek())) {
            unsigned byte;
            // Two digits and no third, the form the server writes: no
            // sign, prefix or overflow to care about.
            if (line.end - line.at >= 2 && is_hex_digit(line.at[1]) && (line.end - line.at == 2 || !is_hex_digit(line.at[2]))) {
                byte = hex_value(line.at[0]) << 4 | hex_value(line.at[1]);
                line.at += 2;
            } else {
                std::uint64_t number = 0;
                read_unsigned_hex(line, number);
                if (number > 0xFF)
                    return Hex::failed;
                byte = static_cast<unsigned>(number);
            }
            if (bytes != nullptr)
                bytes->push_back(static_cast<unsigned char>(byte));
            line.skip_spaces();
            if (line.peek() == ',')
                ++line.at;
            line.skip_spaces();
        }
        line.skip_spaces();
        if (line.done())
            return Hex::done;
        if (*line.at != '\\')
            return Hex::failed;
        if (!lines.next(line))
            return last ? Hex::failed : Hex::more;
        line.skip_spaces();
    }
}

bool read_value_head(Cursor& line, Units& name)
{
    if (*line.at == '@') {
        ++line.at;
        name.length = 0;
        name.wide = false;
    } else {
        ++line.at;
        if (!read_text(line, '"', name) || name.length > max_value_name)
            return false;
    }
    // Without the equals sign the server takes the name as malformed and keeps nothing.
    line.skip_spaces();
    if (line.peek() != '=')
        return false;
    ++line.at;
    line.skip_spaces();
    return true;
}

HexTag read_hex_tag(Cursor& line, std::uint32_t& type)
{
    if (line.starts_with("hex:")) {
        line.at += 4;
        type = value_type::binary;
        return HexTag::found;
    }
    if (!line.starts_with("hex("))
        return HexTag::none;
    line.at += 4;
    std::uint64_t number = 0;
    read_unsigned_hex(line, number);
    if (!line.starts_with("):"))
        return HexTag::malformed;
    line.at += 2;
    type = static_cast<std::uint32_t>(number);
    return HexTag::found;
}
} // namespace hivedump::wine
