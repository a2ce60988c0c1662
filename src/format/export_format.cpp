#include "format/export_format.h"

#include <algorithm>
#include <cstring>

namespace hivedump {

namespace {

constexpr char hex_digits[] = "0123456789abcdef";

/// "xx," for each byte, four bytes apart.
constexpr auto hex_byte_text = [] {
    std::array<char, 4 * 256> text{};
    for (unsigned byte = 0; byte < 256; ++byte) {
        text[4 * byte] = hex_digits[byte >> 4];
        text[4 * byte + 1] = hex_digits[byte & 0xF];
        text[4 * byte + 2] = ',';
    }
    return text;
}();

void write_name_prefix(TextStream& stream, std::string_view name)
{
    if (name.empty()) {
        stream.write_verbatim("@=");
        return;
    }
    stream.put('"');
    stream.write(name);
    stream.write_verbatim("\"=");
}

std::size_t name_prefix_length(std::string_view name) { return name.empty() ? 2 : name.size() + 3; }

// Lower-case hex without sign, as the registry editor reads the type back.
std::string_view type_in_hex(std::uint32_t type, std::array<char, 8>& digits)
{
    std::size_t first = digits.size();
    do {
        digits[--first] = hex_digits[type & 0xF];
        type >>= 4;
    } while (type != 0);
    return { digits.data() + first, digits.size() - first };
}

bool needs_escape(char byte) { return byte == '\\' || byte == '"'; }

} // namespace

void write_file_header(TextStream& stream) { stream.write("REGEDIT4\n\n"); }

void write_ancestor_header(TextStream& stream, std::string_view master_key, std::string_view path_prefix)
{
    stream.put('[');
    stream.write(master_key);
    stream.put('\\');
    stream.write(path_prefix);
    stream.write("]\n\n");
}

void write_key_header(TextStream& stream, std::string_view master_key, std::string_view key_path)
{
    stream.put('[');
    stream.write(master_key);
    if (!key_path.empty()) {
        stream.put('\\');
        stream.write(key_path);
    }
    stream.write("]\n");
}

void write_block_end(TextStream& stream) { stream.put('\n'); }

namespace {

/// Hands `text` to `out` in runs, with a backslash before each character
/// that `needs` marks. A lead byte takes the byte after it along as its
/// trail byte, which is never escaped.
template <typename NeedsEscape, typename Out> void escape_runs(std::string_view text, const CodePage& code_page, NeedsEscape needs, Out out)
{
    const bool double_byte = code_page.is_double_byte();
    std::size_t run = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (double_byte && code_page.is_lead_byte(static_cast<unsigned char>(text[i])) && i + 1 < text.size()) {
            ++i;
            continue;
        }
        if (needs(text[i])) {
            out(text.substr(run, i - run));
            out(std::string_view("\\"));
            run = i;
        }
    }
    out(text.substr(run));
}

} // namespace

void escape_text(std::string_view text, const CodePage& code_page, std::string& escaped)
{
    escaped.clear();
    escaped.reserve(text.size() + 16);
    escape_runs(text, code_page, needs_escape, [&](std::string_view run) { escaped.append(run); });
}

bool has_line_break(std::string_view text)
{
    // Faster than find_first_of, which searches the set once for every byte.
    return std::any_of(text.begin(), text.end(), [](char c) { return c == '\r' || c == '\n'; });
}

void append_showing_line_breaks(std::string& out, std::string_view text)
{
    for (char byte : text) {
        if (byte == '\n')
            out.append("\\n");
        else if (byte == '\r')
            out.append("\\r");
        else
            out.push_back(byte);
    }
}

namespace {

/// Escapes a value name as escape_text does, and a line feed or carriage
/// return as \n or \r, which the registry editor reads back, so that no name
/// can split its entry's line.
void escape_name(std::string_view name, const CodePage& code_page, std::string& escaped)
{
    escape_text(name, code_page, escaped);
    if (!has_line_break(escaped))
        return;
    std::string with_breaks;
    with_breaks.reserve(escaped.size() + 8);
    append_showing_line_breaks(with_breaks, escaped);
    escaped = std::move(with_breaks);
}

void write_string_form(TextStream& stream, std::string_view name, std::string_view text, const CodePage& code_page)
{
    write_name_prefix(stream, name);
    stream.put('"');
    // Escaped as it is written, run by run: a copy of the text would cost a
    // heap block for every value.
    escape_runs(text, code_page, needs_escape, [&](std::string_view run) { stream.write(run); });
    stream.write_verbatim("\"\r\n");
}

void write_dword_form(TextStream& stream, std::string_view name, std::array<std::uint8_t, 4> digits_order)
{
    write_name_prefix(stream, name);
    char digits[] = "dword:00000000\r\n";
    for (std::size_t i = 0; i < 4; ++i) {
        digits[6 + 2 * i] = hex_digits[digits_order[i] >> 4];
        digits[7 + 2 * i] = hex_digits[digits_order[i] & 0xF];
    }
    stream.write_verbatim({ digits, sizeof digits - 1 });
}

void write_hex_form(TextStream& stream, std::string_view name, std::uint32_t type, std::span<const std::byte> data)
{
    write_name_prefix(stream, name);
    std::size_t column = name_prefix_length(name);
    if (type == value_type::binary) {
        stream.write_verbatim("hex:");
        column += 4;
    } else {
        std::array<char, 8> digits;
        auto number = type_in_hex(type, digits);
        stream.write_verbatim("hex(");
        stream.write_verbatim(number);
        stream.write_verbatim("):");
        column += number.size() + 6;
    }

    // Lines are gathered in the file's form, carriage returns included, and
    // handed over in large pieces. A line takes bytes until a comma takes
    // its column past the limit, so how many fit is known before the line
    // is written: the bytes go in without a test each.
    char lines[1024];
    std::size_t used = 0;
    const std::size_t with_comma = data.empty() ? 0 : data.size() - 1;
    for (std::size_t i = 0; i < with_comma;) {
        const std::size_t fit = column > hex_column_limit ? 1 : (hex_column_limit - column) / 3 + 1;
        const std::size_t count = std::min(fit, with_comma - i);
        // Room for the line, its break and the last byte's digits and line end.
        if (used + 3 * count + 12 > sizeof lines) {
            stream.write_verbatim({ lines, used });
            used = 0;
        }
        // Each copy writes four bytes, the digits, the comma and one that
        // the next overwrites.
        for (std::size_t end = i + count; i < end; ++i, used += 3)
            std::memcpy(lines + used, &hex_byte_text[4 * static_cast<unsigned>(data[i])], 4);
        column += 3 * count;
        if (count == fit) {
            std::memcpy(lines + used, "\\\r\n  ", 5);
            used += 5;
            column = 2;
        }
    }
    if (!data.empty()) {
        const auto byte = static_cast<unsigned>(data.back());
        lines[used++] = hex_digits[byte >> 4];
        lines[used++] = hex_digits[byte & 0xF];
    }
    lines[used++] = '\r';
    lines[used++] = '\n';
    stream.write_verbatim({ lines, used });
}

/// The text of string data: up to its first zero, or all of it when it has
/// none.
std::string_view text_of(std::span<const std::byte> data)
{
    const char* begin = reinterpret_cast<const char*>(data.data());
    return { begin, strnlen(begin, data.size()) };
}

std::uint8_t data_byte(std::span<const std::byte> data, std::size_t index)
{
    // Bytes a short double word does not have are written as zeros.
    return index < data.size() ? static_cast<std::uint8_t>(data[index]) : 0;
}

} // namespace

void write_value(TextStream& stream, std::string_view name, std::uint32_t type, std::span<const std::byte> data, const CodePage& code_page,
    std::string& scratch)
{
    escape_name(name, code_page, scratch);
    switch (type) {
    case value_type::string: {
        std::string_view text = text_of(data);
        // A line break cannot stand between quotes and be read back.
        if (has_line_break(text)) {
            write_hex_form(stream, scratch, type, data);
            return;
        }
        write_string_form(stream, scratch, text, code_page);
        return;
    }
    case value_type::dword:
    case value_type::dword_big_endian:
        // The dword form holds four bytes: a longer value (a float stored
        // as eight) would lose the rest.
        if (data.size() > 4) {
            write_hex_form(stream, scratch, type, data);
            return;
        }
        if (type == value_type::dword_big_endian) {
            write_dword_form(stream, scratch, { data_byte(data, 0), data_byte(data, 1), data_byte(data, 2), data_byte(data, 3) });
            return;
        }
        write_dword_form(stream, scratch, { data_byte(data, 3), data_byte(data, 2), data_byte(data, 1), data_byte(data, 0) });
        return;
    default:
        write_hex_form(stream, scratch, type, data);
        return;
    }
}
} // namespace hivedump
