// The tokens of one line of a registry file, read as Wine's server reads
// them, and the lines of a piece of the file.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace hivedump::wine {

// Longest names the server accepts, in code units.
inline constexpr std::size_t max_key_name = 256;
inline constexpr std::size_t max_value_name = 16383;

namespace detail {
inline constexpr std::uint8_t class_space = 1;
inline constexpr std::uint8_t class_hex = 2;
inline constexpr std::uint8_t class_plain = 4; ///< text that stands for itself in any quoted form

constexpr std::array<std::uint8_t, 256> make_classes()
{
    std::array<std::uint8_t, 256> classes{};
    for (unsigned c : { ' ', '\t', '\n', '\v', '\f', '\r' })
        classes[c] |= class_space;
    for (unsigned c = '0'; c <= '9'; ++c)
        classes[c] |= class_hex;
    for (unsigned c = 'a'; c <= 'f'; ++c)
        classes[c] |= class_hex;
    for (unsigned c = 'A'; c <= 'F'; ++c)
        classes[c] |= class_hex;
    for (unsigned c = 0; c < 0x80; ++c) {
        if (c != '\\' && c != '"' && c != ']')
            classes[c] |= class_plain;
    }
    return classes;
}

// Looked up rather than compared: the reader spends its time in these tests.
inline constexpr auto classes = make_classes();
} // namespace detail

inline bool is_space(char c) { return (detail::classes[static_cast<unsigned char>(c)] & detail::class_space) != 0; }
inline bool is_hex_digit(char c) { return (detail::classes[static_cast<unsigned char>(c)] & detail::class_hex) != 0; }
inline bool is_plain(char c) { return (detail::classes[static_cast<unsigned char>(c)] & detail::class_plain) != 0; }
inline unsigned hex_value(char c)
{
    if (c <= '9')
        return static_cast<unsigned>(c - '0');
    return static_cast<unsigned>((c | 0x20) - 'a' + 10);
}

struct Cursor {
    const char* at;
    const char* end;
    bool done() const { return at == end; }
    char peek() const { return at == end ? '\0' : *at; }
    void skip_spaces()
    {
        while (at != end && is_space(*at))
            ++at;
    }
    bool starts_with(std::string_view text) const
    {
        return static_cast<std::size_t>(end - at) >= text.size() && std::memcmp(at, text.data(), text.size()) == 0;
    }
};

/// strtoul with base 16, as the C library reads it: blanks, a sign, an
/// optional 0x; saturates on overflow. Returns false when no digit was read.
bool read_unsigned_hex(Cursor& cursor, std::uint64_t& value);

/// Decoded text: never more units than the bytes it came from, so room for
/// the whole rest of the line is made once and filled without checks.
class Units {
public:
    char16_t* prepare(std::size_t most)
    {
        if (most > capacity_) {
            capacity_ = std::max(most, capacity_ * 2);
            units_ = std::make_unique_for_overwrite<char16_t[]>(capacity_);
        }
        return units_.get();
    }
    const char16_t* data() const { return units_.get(); }
    char16_t* data() { return units_.get(); }

    std::size_t length = 0;
    bool wide = false; ///< some unit is above 0xFF

private:
    std::unique_ptr<char16_t[]> units_;
    std::size_t capacity_ = 0;
};

/// Reads escaped text up to `terminator` (a quote or a closing bracket),
/// leaving the cursor after it. Returns false when the line ends first.
bool read_text(Cursor& cursor, char terminator, Units& text);

/// The first `byte` in [at, end), or null. Inline and sixteen bytes at a
/// time: most lines are short, and a call to memchr for each one cost more
/// than reading the line.
inline const char* find_byte(const char* at, const char* end, char byte)
{
#if defined(__SSE2__)
    const __m128i wanted = _mm_set1_epi8(byte);
    for (; end - at >= 16; at += 16) {
        auto found = _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(at)), wanted));
        if (found != 0)
            return at + __builtin_ctz(static_cast<unsigned>(found));
    }
#endif
    return static_cast<const char*>(std::memchr(at, byte, static_cast<std::size_t>(end - at)));
}

/// The first `a` or `b` in [at, end), or null: `find_byte` for two bytes.
inline const char* find_either(const char* at, const char* end, char a, char b)
{
#if defined(__SSE2__)
    const __m128i first = _mm_set1_epi8(a);
    const __m128i second = _mm_set1_epi8(b);
    for (; end - at >= 16; at += 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
        auto found = _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(bytes, first), _mm_cmpeq_epi8(bytes, second)));
        if (found != 0)
            return at + __builtin_ctz(static_cast<unsigned>(found));
    }
#endif
    for (; at != end; ++at)
        if (*at == a || *at == b)
            return at;
    return nullptr;
}

/// The lines of a block of whole lines. The server reads lines as C strings:
/// a zero byte ends one; a carriage return before the line feed is dropped.
class Lines {
public:
    Lines() = default;
    Lines(const char* begin, const char* end)
        : at_(begin)
        , end_(end)
    {
    }
    bool next(Cursor& line)
    {
        if (at_ == end_)
            return false;
        // One look for both: a zero byte is rare, and a pass of its own over
        // every block cost more than this.
        const char* stop = find_either(at_, end_, '\n', '\0');
        if (stop != nullptr && *stop == '\0') {
            line = { at_, stop };
            const char* newline = find_byte(stop, end_, '\n');
            at_ = newline != nullptr ? newline + 1 : end_;
            return true;
        }
        line = { at_, stop != nullptr ? stop : end_ };
        at_ = stop != nullptr ? stop + 1 : end_;
        if (stop != nullptr && line.end != line.at && line.end[-1] == '\r')
            --line.end;
        return true;
    }
    /// Where the next line starts.
    const char* position() const { return at_; }

private:
    const char* at_ = nullptr;
    const char* end_ = nullptr;
};

enum class Hex { done, failed, more };

/// Reads the hex bytes of a value's data into `bytes` (null: only checks
/// them); a backslash after them carries the data on into the next line,
/// whatever that line holds. `more`: the block ended while the data goes on.
Hex read_hex_bytes(Cursor& line, Lines& lines, bool last, std::vector<unsigned char>* bytes);

/// Reads a value line's name ('@' or quoted) and its equals sign, the
/// cursor on the line's first non-blank byte; false when the server passes the line over.
bool read_value_head(Cursor& line, Units& name);

/// Whether a value line could carry its hex data on into the next line: a
/// name, '=', "hex" and a backslash somewhere after it. Cheap: only lines
/// that pass need reading in full. Inline: the first pass asks it of every
/// value line.
inline bool may_continue_hex(const Cursor& line)
{
    const char* at = line.at + 1;
    if (*line.at == '"') {
        for (;;) {
            if (at >= line.end)
                return false;
            // Names are short: a byte at a time beats a wider search here.
            if (*at == '\\') {
                at += 2;
                continue;
            }
            if (*at++ == '"')
                break;
        }
    }
    while (at != line.end && is_space(*at))
        ++at;
    if (at == line.end || *at != '=')
        return false;
    ++at;
    while (at != line.end && is_space(*at))
        ++at;
    if (line.end - at < 4 || std::memcmp(at, "hex", 3) != 0)
        return false;
    return find_byte(at + 3, line.end, '\\') != nullptr;
}

enum class HexTag { none, found, malformed };
/// Reads "hex:" (binary data) or "hex(type):" at the cursor.
HexTag read_hex_tag(Cursor& line, std::uint32_t& type);

} // namespace hivedump::wine
