#include "registry/wine_reg_parser.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

namespace hivedump::registry::wine {

namespace {

// Longest names the server accepts, in code units.
constexpr std::size_t max_key_name = 256;
constexpr std::size_t max_value_name = 16383;
constexpr std::uint32_t reg_none = 0;
constexpr std::uint32_t reg_sz = 1;
constexpr std::uint32_t reg_expand_sz = 2;
constexpr std::uint32_t reg_binary = 3;
constexpr std::uint32_t reg_dword = 4;
constexpr std::uint32_t reg_multi_sz = 7;

// Character classes, looked up rather than compared: the parser spends its
// time in these tests.
constexpr std::uint8_t class_space = 1;
constexpr std::uint8_t class_hex = 2;
constexpr std::uint8_t class_plain = 4; ///< text that stands for itself in any quoted form

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

constexpr auto classes = make_classes();

bool is_space(char c) { return (classes[static_cast<unsigned char>(c)] & class_space) != 0; }
bool is_hex_digit(char c) { return (classes[static_cast<unsigned char>(c)] & class_hex) != 0; }
bool is_plain(char c) { return (classes[static_cast<unsigned char>(c)] & class_plain) != 0; }
unsigned hex_value(char c)
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

/// Texts longer than this that hold no escapes are stored from the file's
/// bytes as they stand: decoded to 16-bit units first, a value of hundreds of
/// megabytes would cost three times its size while it is read.
constexpr std::ptrdiff_t long_text = 64 * 1024;

/// Reads escaped text up to `terminator` (a quote or a closing bracket),
/// leaving the cursor after it. Returns false when the line ends first.
bool read_text(Cursor& cursor, char terminator, Units& text)
{
    char16_t* const begin = text.prepare(static_cast<std::size_t>(cursor.end - cursor.at));
    char16_t* out = begin;
    char16_t high = 0; // the units above 0xFF or'ed together
    bool found = false;
    while (!cursor.done()) {
        // Most text is plain ASCII: copy it in one tight run.
        const char* at = cursor.at;
        while (at != cursor.end && is_plain(*at))
            *out++ = static_cast<char16_t>(*at++);
        cursor.at = at;
        if (cursor.done())
            break;
        char c = *cursor.at;
        if (c == terminator) {
            ++cursor.at;
            found = true;
            break;
        }
        if (static_cast<unsigned char>(c) >= 0x80) {
            char16_t* start = out;
            out = decode_utf8(cursor, out);
            for (const char16_t* unit = start; unit != out; ++unit)
                high |= static_cast<char16_t>(*unit & 0xFF00);
            continue;
        }
        ++cursor.at;
        if (c != '\\') {
            *out++ = static_cast<char16_t>(c);
            continue;
        }
        if (cursor.done())
            break;
        c = *cursor.at;
        switch (c) {
        case 'a':
            *out++ = u'\a';
            ++cursor.at;
            break;
        case 'b':
            *out++ = u'\b';
            ++cursor.at;
            break;
        case 'e':
            *out++ = u'\x1b';
            ++cursor.at;
            break;
        case 'f':
            *out++ = u'\f';
            ++cursor.at;
            break;
        case 'n':
            *out++ = u'\n';
            ++cursor.at;
            break;
        case 'r':
            *out++ = u'\r';
            ++cursor.at;
            break;
        case 't':
            *out++ = u'\t';
            ++cursor.at;
            break;
        case 'v':
            *out++ = u'\v';
            ++cursor.at;
            break;
        case 'x': {
            ++cursor.at;
            if (!is_hex_digit(cursor.peek())) {
                *out++ = u'x';
                break;
            }
            unsigned unit = 0;
            for (int digits = 0; digits < 4 && is_hex_digit(cursor.peek()); ++digits, ++cursor.at)
                unit = unit * 16 + hex_value(*cursor.at);
            *out++ = static_cast<char16_t>(unit);
            high |= static_cast<char16_t>(unit & 0xFF00);
            break;
        }
        case '0':
        case '1':
        case '2':
        case '3':
        case '4':
        case '5':
        case '6':
        case '7': {
            unsigned unit = 0;
            for (int digits = 0; digits < 3 && cursor.peek() >= '0' && cursor.peek() <= '7'; ++digits, ++cursor.at)
                unit = unit * 8 + static_cast<unsigned>(*cursor.at - '0');
            *out++ = static_cast<char16_t>(unit);
            high |= static_cast<char16_t>(unit & 0xFF00);
            break;
        }
        default:
            if (static_cast<unsigned char>(c) >= 0x80) {
                char16_t* start = out;
                out = decode_utf8(cursor, out);
                for (const char16_t* unit = start; unit != out; ++unit)
                    high |= static_cast<char16_t>(*unit & 0xFF00);
            } else {
                *out++ = static_cast<char16_t>(c);
                ++cursor.at;
            }
            break;
        }
    }
    text.length = static_cast<std::size_t>(out - begin);
    text.wide = high != 0;
    return found;
}

/// Parses a file's lines, fed in pieces that hold whole lines; a value whose
/// hex data goes on past the end of a piece is finished in the next one.
class Parser {
public:
    Parser(Hive& hive, NodeIndex base, const LinkFollower& follow_link)
        : hive_(hive)
        , base_(base)
        , follow_link_(follow_link)
    {
    }

    /// Parses [begin, end), which ends at a line feed unless `last`. Returns
    /// false once the file is known not to be a registry file.
    bool feed(const char* begin, const char* end, bool last)
    {
        at_ = begin;
        end_ = end;
        last_ = last;
        has_nul_ = begin != end && std::memchr(begin, 0, static_cast<std::size_t>(end - begin)) != nullptr;
        Cursor line;
        if (!header_read_) {
            if (!next_line(line)) {
                rejected_ = last;
                return !rejected_;
            }
            header_read_ = true;
            rejected_ = !line.starts_with("WINE REGISTRY Version 2");
            line.at += rejected_ ? 0 : 23;
            // Wine takes the header only when a carriage return or the line
            // end follows it.
            if (!rejected_ && !line.done() && *line.at != '\r')
                rejected_ = true;
            if (rejected_)
                return false;
            result_.valid = true;
        }
        if (continuing_) {
            if (!next_line(line)) {
                if (last)
                    finish_value(false);
                return true;
            }
            line.skip_spaces();
            continue_value(line);
        }
        while (next_line(line))
            parse_line(line);
        return true;
    }

    ParseResult take_result() { return std::move(result_); }

private:
    enum class Hex { done, failed, more };

    void parse_line(Cursor& line)
    {
        line.skip_spaces();
        switch (line.peek()) {
        case '[':
            ++line.at;
            if (!read_key(line))
                ++result_.skipped_lines;
            break;
        case '@':
        case '"':
            if (key_ == no_node)
                ++result_.skipped_lines;
            else
                read_value(line);
            break;
        case '#':
            if (key_ != no_node && line.starts_with("#link"))
                hive_.key(key_).link = true;
            break;
        case ';':
            if (line.starts_with(";; All keys relative to "))
                result_.relative_to = relative_path(line.at + 24, line.end);
            break;
        case '\0':
            break;
        default:
            ++result_.skipped_lines;
            break;
        }
    }

    bool next_line(Cursor& line)
    {
        if (at_ == end_)
            return false;
        const auto* newline = static_cast<const char*>(std::memchr(at_, '\n', static_cast<std::size_t>(end_ - at_)));
        const char* content_end = newline != nullptr ? newline : end_;
        line = { at_, content_end };
        at_ = newline != nullptr ? newline + 1 : end_;
        // The server reads lines as C strings: a zero byte ends one.
        const void* zero = has_nul_ ? std::memchr(line.at, 0, static_cast<std::size_t>(line.end - line.at)) : nullptr;
        if (zero != nullptr)
            line.end = static_cast<const char*>(zero);
        else if (newline != nullptr && line.end != line.at && line.end[-1] == '\r')
            --line.end;
        return true;
    }

    static std::string relative_path(const char* at, const char* end)
    {
        std::string path;
        for (; at != end; ++at) {
            if (*at == '\\' && at + 1 != end && at[1] == '\\')
                ++at;
            path.push_back(*at);
        }
        return path;
    }

    NodeIndex descend(NodeIndex node, const char16_t* name, std::size_t length)
    {
        if (hive_.key(node).link && follow_link_) {
            node = follow_link_(node);
            if (node == no_node)
                return no_node;
        }
        return hive_.add_child(node, name, length);
    }

    bool read_key(Cursor& line)
    {
        key_ = no_node;
        if (!read_text(line, ']', text_))
            return false;
        const char16_t* units = text_.data();
        const std::size_t length = text_.length;
        // Split into names, passing over empty ones.
        components_.clear();
        for (std::size_t index = 0; index < length;) {
            while (index < length && units[index] == u'\\')
                ++index;
            std::size_t start = index;
            while (index < length && units[index] != u'\\')
                ++index;
            if (index > start)
                components_.push_back({ start, index - start });
        }
        // Keys come in tree order: most share their start with the previous key.
        std::size_t reuse = 0;
        std::size_t limit = path_nodes_.size();
        if (limit != 0 && hive_.key(path_nodes_.back()).link)
            --limit;
        while (reuse < limit && reuse < components_.size() && components_[reuse].length == path_[reuse].length
            && std::equal(units + components_[reuse].start, units + components_[reuse].start + components_[reuse].length,
                path_units_.begin() + static_cast<std::ptrdiff_t>(path_[reuse].start)))
            ++reuse;
        NodeIndex node = reuse == 0 ? base_ : path_nodes_[reuse - 1];
        path_nodes_.resize(reuse);
        path_.resize(reuse);
        path_units_.resize(reuse == 0 ? 0 : path_[reuse - 1].start + path_[reuse - 1].length);
        for (std::size_t index = reuse; index < components_.size(); ++index) {
            const auto& component = components_[index];
            if (component.length > max_key_name)
                return false;
            node = descend(node, units + component.start, component.length);
            if (node == no_node)
                return false;
            path_.push_back({ path_units_.size(), component.length });
            path_units_.insert(path_units_.end(), units + component.start, units + component.start + component.length);
            path_nodes_.push_back(node);
        }
        // A section that names a link opens what the link leads to, as the
        // server opens a key that exists: its values and marks go there.
        if (hive_.key(node).link && follow_link_) {
            node = follow_link_(node);
            if (node == no_node)
                return false;
        }
        key_ = node;
        return true;
    }

    void read_value(Cursor& line)
    {
        if (*line.at == '@') {
            ++line.at;
            name_.length = 0;
            name_.wide = false;
        } else {
            ++line.at;
            if (!read_text(line, '"', name_) || name_.length > max_value_name) {
                ++result_.skipped_lines;
                return;
            }
        }
        // Without the equals sign the server takes the name as malformed and keeps nothing.
        line.skip_spaces();
        if (line.peek() != '=') {
            ++result_.skipped_lines;
            return;
        }
        ++line.at;
        auto name = hive_.store(name_.data(), name_.length, name_.wide);
        value_ = ValueNode{};
        value_.name = name.bytes;
        static_assert(max_value_name <= UINT16_MAX);
        value_.name_length = static_cast<std::uint16_t>(name.length);
        value_.wide_name = name.wide;
        value_key_ = key_;
        read_data(line);
    }

    /// Adds the value read; the server keeps the name with no data when the
    /// data does not parse.
    /// A long text without escapes or characters beyond ASCII, stored from
    /// the line itself; false, touching nothing, for any other text.
    bool read_long_plain_text(Cursor& line, TextView& stored)
    {
        if (line.end - line.at <= long_text)
            return false;
        const char* at = line.at;
        while (at != line.end && is_plain(*at))
            ++at;
        if (at == line.end || *at != '"')
            return false;
        stored = hive_.store_plain(line.at, static_cast<std::size_t>(at - line.at));
        line.at = at + 1;
        return true;
    }

    void finish_value(bool parsed)
    {
        continuing_ = false;
        if (!parsed) {
            value_.type = reg_none;
            value_.form = DataForm::bytes;
            value_.data = nullptr;
            value_.data_length = 0;
            ++result_.skipped_lines;
        }
        hive_.add_value(value_key_, value_);
    }

    void read_data(Cursor& line)
    {
        line.skip_spaces();
        struct Form {
            std::string_view tag;
            std::uint32_t type;
        };
        static constexpr Form text_forms[]
            = { { "\"", reg_sz }, { "str:\"", reg_sz }, { "str(2):\"", reg_expand_sz }, { "str(7):\"", reg_multi_sz } };
        const char first = line.peek();
        if (first == '"' || first == 's') {
            for (const auto& form : text_forms) {
                if (!line.starts_with(form.tag))
                    continue;
                line.at += form.tag.size();
                TextView stored;
                if (!read_long_plain_text(line, stored)) {
                    if (!read_text(line, '"', text_))
                        return finish_value(false);
                    stored = hive_.store(text_.data(), text_.length, text_.wide);
                }
                value_.type = form.type;
                value_.data = stored.bytes;
                value_.data_length = stored.length;
                value_.form = stored.wide ? DataForm::wide_text : DataForm::narrow_text;
                return finish_value(true);
            }
            return finish_value(false);
        }
        if (line.starts_with("dword:")) {
            line.at += 6;
            std::uint64_t number = 0;
            read_unsigned_hex(line, number);
            auto* data = hive_.allocate(4);
            for (int index = 0; index < 4; ++index)
                data[index] = static_cast<unsigned char>(number >> (8 * index));
            value_.type = reg_dword;
            value_.data = data;
            value_.data_length = 4;
            return finish_value(true);
        }
        if (line.starts_with("hex:")) {
            line.at += 4;
            value_.type = reg_binary;
        } else if (line.starts_with("hex(")) {
            line.at += 4;
            std::uint64_t type = 0;
            read_unsigned_hex(line, type);
            if (!line.starts_with("):"))
                return finish_value(false);
            line.at += 2;
            value_.type = static_cast<std::uint32_t>(type);
        } else {
            return finish_value(false);
        }
        bytes_.clear();
        continue_value(line);
    }

    /// Goes on with the hex data of the value being read.
    void continue_value(Cursor& line)
    {
        switch (read_hex_bytes(line)) {
        case Hex::more:
            continuing_ = true;
            return;
        case Hex::failed:
            return finish_value(false);
        case Hex::done:
            break;
        }
        auto* data = hive_.allocate(bytes_.size());
        if (!bytes_.empty())
            std::memcpy(data, bytes_.data(), bytes_.size());
        value_.data = data;
        value_.data_length = static_cast<std::uint32_t>(bytes_.size());
        value_.form = DataForm::bytes;
        finish_value(true);
    }

    Hex read_hex_bytes(Cursor& line)
    {
        for (;;) {
            // Room for the line's bytes, growing by doubling: a value may
            // go on over millions of lines.
            std::size_t wanted = bytes_.size() + static_cast<std::size_t>(line.end - line.at) / 2 + 1;
            if (wanted > bytes_.capacity())
                bytes_.reserve(std::max(wanted, bytes_.capacity() * 2));
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
                bytes_.push_back(static_cast<unsigned char>(byte));
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
            // The data goes on in the next line, whatever that line holds.
            if (!next_line(line))
                return last_ ? Hex::failed : Hex::more;
            line.skip_spaces();
        }
    }

    struct Span {
        std::size_t start;
        std::size_t length;
    };

    Hive& hive_;
    NodeIndex base_;
    const LinkFollower& follow_link_;
    const char* at_ = nullptr;
    const char* end_ = nullptr;
    bool last_ = false;
    bool has_nul_ = false;
    bool header_read_ = false;
    bool rejected_ = false;
    ParseResult result_;
    NodeIndex key_ = no_node;
    // The value being read, which hex data may carry over into the next piece.
    bool continuing_ = false;
    ValueNode value_;
    NodeIndex value_key_ = no_node;
    Units text_;
    Units name_;
    std::vector<unsigned char> bytes_;
    std::vector<Span> components_;
    // The previous key's names and nodes.
    std::vector<Span> path_;
    std::vector<char16_t> path_units_;
    std::vector<NodeIndex> path_nodes_;
};

} // namespace

ParseResult parse_registry_file(
    const ReadFunction& read, Hive& hive, NodeIndex base, const LinkFollower& follow_link, std::size_t chunk_size)
{
    Parser parser(hive, base, follow_link);
    std::size_t capacity = std::max<std::size_t>(chunk_size, 1);
    auto buffer = std::make_unique_for_overwrite<char[]>(capacity);
    std::size_t held = 0; // bytes in the buffer; those after the last line feed wait for the rest of their line
    for (;;) {
        if (held == capacity) {
            // One line fills the whole piece: make room for the rest of it.
            auto bigger = std::make_unique_for_overwrite<char[]>(capacity * 2);
            std::memcpy(bigger.get(), buffer.get(), held);
            buffer = std::move(bigger);
            capacity *= 2;
        }
        std::ptrdiff_t count = read(buffer.get() + held, capacity - held);
        if (count < 0) {
            // What was read so far is loaded; the caller reports the file.
            auto result = parser.take_result();
            result.read_failed = true;
            return result;
        }
        const bool last = count == 0;
        const char* start = buffer.get();
        const char* fresh = start + held;
        held += static_cast<std::size_t>(count);
        std::size_t whole = held;
        if (!last) {
            const char* end = start + held;
            const char* newline = end;
            while (newline != fresh && newline[-1] != '\n')
                --newline;
            // The bytes held over end no line, so only what came can.
            if (newline == fresh)
                continue;
            whole = static_cast<std::size_t>(newline - start);
        }
        if (!parser.feed(start, start + whole, last) || last)
            break;
        std::memmove(buffer.get(), start + whole, held - whole);
        held -= whole;
    }
    return parser.take_result();
}

ParseResult parse_registry_file(std::span<const char> contents, Hive& hive, NodeIndex base, const LinkFollower& follow_link)
{
    Parser parser(hive, base, follow_link);
    parser.feed(contents.data(), contents.data() + contents.size(), true);
    return parser.take_result();
}

} // namespace hivedump::registry::wine
