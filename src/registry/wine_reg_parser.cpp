#include "registry/wine_reg_parser.h"

#include <cstring>
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
constexpr std::size_t release_step = std::size_t{ 32 } << 20;

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }
bool is_hex_digit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
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

/// Appends the code units of one UTF-8 sequence; bytes that begin no valid
/// sequence are dropped, as the server drops them.
void decode_utf8(Cursor& cursor, std::vector<char16_t>& out)
{
    auto byte = [&](std::ptrdiff_t offset) -> unsigned {
        return cursor.end - cursor.at > offset ? static_cast<unsigned char>(cursor.at[offset]) : 0u;
    };
    auto continuation = [&](std::ptrdiff_t offset) { return (byte(offset) & 0xC0) == 0x80; };
    unsigned lead = byte(0);
    if (lead >= 0xC2 && lead <= 0xDF && continuation(1)) {
        out.push_back(static_cast<char16_t>((lead & 0x1F) << 6 | (byte(1) & 0x3F)));
        cursor.at += 2;
        return;
    }
    if (lead >= 0xE0 && lead <= 0xEF && continuation(1) && continuation(2) && (lead != 0xE0 || byte(1) >= 0xA0)) {
        out.push_back(static_cast<char16_t>((lead & 0x0F) << 12 | (byte(1) & 0x3F) << 6 | (byte(2) & 0x3F)));
        cursor.at += 3;
        return;
    }
    if (lead >= 0xF0 && lead <= 0xF4 && continuation(1) && continuation(2) && continuation(3) && (lead != 0xF0 || byte(1) >= 0x90)
        && (lead != 0xF4 || byte(1) <= 0x8F)) {
        std::uint32_t code = (lead & 0x07) << 18 | (byte(1) & 0x3F) << 12 | (byte(2) & 0x3F) << 6 | (byte(3) & 0x3F);
        code -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 | (code >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 | (code & 0x3FF)));
        cursor.at += 4;
        return;
    }
    ++cursor.at;
}

/// Reads escaped text up to `terminator`, leaving the cursor after it.
/// Returns false when the line ends first.
bool read_text(Cursor& cursor, char terminator, std::vector<char16_t>& out)
{
    out.clear();
    while (!cursor.done()) {
        char c = *cursor.at;
        if (c == terminator) {
            ++cursor.at;
            return true;
        }
        if (static_cast<unsigned char>(c) >= 0x80) {
            decode_utf8(cursor, out);
            continue;
        }
        ++cursor.at;
        if (c != '\\') {
            out.push_back(static_cast<char16_t>(c));
            continue;
        }
        if (cursor.done())
            return false;
        c = *cursor.at;
        switch (c) {
        case 'a':
            out.push_back(u'\a');
            ++cursor.at;
            break;
        case 'b':
            out.push_back(u'\b');
            ++cursor.at;
            break;
        case 'e':
            out.push_back(u'\x1b');
            ++cursor.at;
            break;
        case 'f':
            out.push_back(u'\f');
            ++cursor.at;
            break;
        case 'n':
            out.push_back(u'\n');
            ++cursor.at;
            break;
        case 'r':
            out.push_back(u'\r');
            ++cursor.at;
            break;
        case 't':
            out.push_back(u'\t');
            ++cursor.at;
            break;
        case 'v':
            out.push_back(u'\v');
            ++cursor.at;
            break;
        case 'x': {
            ++cursor.at;
            if (!is_hex_digit(cursor.peek())) {
                out.push_back(u'x');
                break;
            }
            unsigned unit = 0;
            for (int digits = 0; digits < 4 && is_hex_digit(cursor.peek()); ++digits, ++cursor.at)
                unit = unit * 16 + hex_value(*cursor.at);
            out.push_back(static_cast<char16_t>(unit));
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
            out.push_back(static_cast<char16_t>(unit));
            break;
        }
        default:
            if (static_cast<unsigned char>(c) >= 0x80)
                decode_utf8(cursor, out);
            else {
                out.push_back(static_cast<char16_t>(c));
                ++cursor.at;
            }
            break;
        }
    }
    return false;
}

class Parser {
public:
    Parser(std::span<const char> contents, Hive& hive, NodeIndex base, const LinkFollower& follow_link,
        const std::function<void(std::size_t)>& consumed)
        : begin_(contents.data())
        , at_(contents.data())
        , end_(contents.data() + contents.size())
        , hive_(hive)
        , base_(base)
        , follow_link_(follow_link)
        , consumed_(consumed)
        , has_nul_(std::memchr(contents.data(), 0, contents.size()) != nullptr)
    {
    }

    ParseResult run()
    {
        ParseResult result;
        Cursor line;
        if (!next_line(line) || !line.starts_with("WINE REGISTRY Version 2"))
            return result;
        line.at += 23;
        if (!line.done() && *line.at >= '0' && *line.at <= '9')
            return result;
        result.valid = true;
        while (next_line(line)) {
            if (consumed_ && static_cast<std::size_t>(at_ - begin_) >= released_ + release_step) {
                released_ = static_cast<std::size_t>(at_ - begin_);
                consumed_(released_);
            }
            line.skip_spaces();
            switch (line.peek()) {
            case '[':
                ++line.at;
                if (!read_key(line))
                    ++result.skipped_lines;
                break;
            case '@':
            case '"':
                if (key_ == no_node || !read_value(line))
                    ++result.skipped_lines;
                break;
            case '#':
                if (key_ != no_node && line.starts_with("#link"))
                    hive_.key(key_).link = true;
                break;
            case ';':
                if (line.starts_with(";; All keys relative to "))
                    result.relative_to = relative_path(line.at + 24, line.end);
                break;
            case '\0':
                break;
            default:
                ++result.skipped_lines;
                break;
            }
        }
        return result;
    }

private:
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
        // Split into names, passing over empty ones.
        components_.clear();
        for (std::size_t index = 0; index < text_.size();) {
            while (index < text_.size() && text_[index] == u'\\')
                ++index;
            std::size_t start = index;
            while (index < text_.size() && text_[index] != u'\\')
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
            && std::equal(text_.begin() + static_cast<std::ptrdiff_t>(components_[reuse].start),
                text_.begin() + static_cast<std::ptrdiff_t>(components_[reuse].start + components_[reuse].length),
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
            node = descend(node, text_.data() + component.start, component.length);
            if (node == no_node)
                return false;
            path_.push_back({ path_units_.size(), component.length });
            path_units_.insert(path_units_.end(), text_.begin() + static_cast<std::ptrdiff_t>(component.start),
                text_.begin() + static_cast<std::ptrdiff_t>(component.start + component.length));
            path_nodes_.push_back(node);
        }
        key_ = node;
        return true;
    }

    bool read_value(Cursor& line)
    {
        if (*line.at == '@') {
            ++line.at;
            name_.clear();
        } else {
            ++line.at;
            if (!read_text(line, '"', name_) || name_.size() > max_value_name)
                return false;
        }
        // Without the equals sign the server takes the name as malformed and keeps nothing.
        line.skip_spaces();
        if (line.peek() != '=')
            return false;
        ++line.at;
        auto name = hive_.store(name_.data(), name_.size());
        ValueNode value;
        value.name = name.bytes;
        value.name_length = name.length;
        value.wide_name = name.wide;
        bool parsed = read_data(line, value);
        if (!parsed) {
            // The server keeps the name with no data when the data does not parse.
            value.type = reg_none;
            value.form = DataForm::bytes;
            value.data = nullptr;
            value.data_length = 0;
        }
        hive_.add_value(key_, value);
        return parsed;
    }

    bool read_data(Cursor& line, ValueNode& value)
    {
        line.skip_spaces();
        struct Form {
            std::string_view tag;
            std::uint32_t type;
        };
        static constexpr Form text_forms[]
            = { { "\"", reg_sz }, { "str:\"", reg_sz }, { "str(2):\"", reg_expand_sz }, { "str(7):\"", reg_multi_sz } };
        for (const auto& form : text_forms) {
            if (!line.starts_with(form.tag))
                continue;
            line.at += form.tag.size();
            if (!read_text(line, '"', text_))
                return false;
            auto stored = hive_.store(text_.data(), text_.size());
            value.type = form.type;
            value.data = stored.bytes;
            value.data_length = stored.length;
            value.form = stored.wide ? DataForm::wide_text : DataForm::narrow_text;
            return true;
        }
        if (line.starts_with("dword:")) {
            line.at += 6;
            std::uint64_t number = 0;
            read_unsigned_hex(line, number);
            auto* data = hive_.allocate(4);
            for (int index = 0; index < 4; ++index)
                data[index] = static_cast<unsigned char>(number >> (8 * index));
            value.type = reg_dword;
            value.data = data;
            value.data_length = 4;
            return true;
        }
        if (line.starts_with("hex:")) {
            line.at += 4;
            value.type = reg_binary;
        } else if (line.starts_with("hex(")) {
            line.at += 4;
            std::uint64_t type = 0;
            read_unsigned_hex(line, type);
            if (!line.starts_with("):"))
                return false;
            line.at += 2;
            value.type = static_cast<std::uint32_t>(type);
        } else {
            return false;
        }
        if (!read_hex_bytes(line))
            return false;
        auto* data = hive_.allocate(bytes_.size());
        if (!bytes_.empty())
            std::memcpy(data, bytes_.data(), bytes_.size());
        value.data = data;
        value.data_length = static_cast<std::uint32_t>(bytes_.size());
        value.form = DataForm::bytes;
        return true;
    }

    bool read_hex_bytes(Cursor& line)
    {
        bytes_.clear();
        for (;;) {
            while (is_hex_digit(line.peek())) {
                std::uint64_t byte = 0;
                read_unsigned_hex(line, byte);
                if (byte > 0xFF)
                    return false;
                bytes_.push_back(static_cast<unsigned char>(byte));
                line.skip_spaces();
                if (line.peek() == ',')
                    ++line.at;
                line.skip_spaces();
            }
            line.skip_spaces();
            if (line.done())
                return true;
            if (*line.at != '\\')
                return false;
            // The data goes on in the next line, whatever that line holds.
            if (!next_line(line))
                return false;
            line.skip_spaces();
        }
    }

    struct Span {
        std::size_t start;
        std::size_t length;
    };

    const char* begin_;
    const char* at_;
    const char* end_;
    Hive& hive_;
    NodeIndex base_;
    const LinkFollower& follow_link_;
    const std::function<void(std::size_t)>& consumed_;
    bool has_nul_;
    std::size_t released_ = 0;
    NodeIndex key_ = no_node;
    std::vector<char16_t> text_;
    std::vector<char16_t> name_;
    std::vector<unsigned char> bytes_;
    std::vector<Span> components_;
    // The previous key's names and nodes.
    std::vector<Span> path_;
    std::vector<char16_t> path_units_;
    std::vector<NodeIndex> path_nodes_;
};

} // namespace

ParseResult parse_registry_file(std::span<const char> contents, Hive& hive, NodeIndex base, const LinkFollower& follow_link,
    const std::function<void(std::size_t)>& consumed)
{
    return Parser(contents, hive, base, follow_link, consumed).run();
}

} // namespace hivedump::registry::wine
