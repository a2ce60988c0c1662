#include "export_reader.h"

#include "format/export_format.h"
#include "registry/value_type.h"

#include <optional>

namespace hivedump::testing {

namespace {

constexpr std::string_view line_end = "\r\n";

std::optional<unsigned> hex_digit(char c)
{
    if (c >= '0' && c <= '9')
        return static_cast<unsigned>(c - '0');
    if (c >= 'a' && c <= 'f')
        return static_cast<unsigned>(c - 'a' + 10);
    return std::nullopt;
}

std::optional<std::byte> hex_byte(std::string_view text, std::size_t at)
{
    if (at + 2 > text.size())
        return std::nullopt;
    auto high = hex_digit(text[at]);
    auto low = hex_digit(text[at + 1]);
    if (!high || !low)
        return std::nullopt;
    return static_cast<std::byte>(*high << 4 | *low);
}

/// Undoes the escaping of a name or a text. Every backslash and double quote
/// must be escaped, except the trail byte of a double-byte character, which
/// is taken along with its lead byte just as the writer took it.
std::optional<std::string> unescape(std::string_view escaped, const CodePage& code_page)
{
    std::string text;
    for (std::size_t i = 0; i < escaped.size(); ++i) {
        char byte = escaped[i];
        if (code_page.is_lead_byte(static_cast<unsigned char>(byte)) && i + 1 < escaped.size()) {
            text.push_back(byte);
            text.push_back(escaped[++i]);
        } else if (byte == '\\') {
            if (i + 1 == escaped.size())
                return std::nullopt;
            char next = escaped[++i];
            if (next == 'n')
                text.push_back('\n');
            else if (next == 'r')
                text.push_back('\r');
            else if (next == '\\' || next == '"')
                text.push_back(next);
            else
                return std::nullopt;
        } else if (byte == '"') {
            return std::nullopt;
        } else {
            text.push_back(byte);
        }
    }
    return text;
}

class Reader {
public:
    Reader(std::vector<std::string_view> lines, const CodePage& code_page)
        : lines_(std::move(lines))
        , code_page_(code_page)
    {
    }

    ReadExport read()
    {
        ReadExport result;
        if (lines_.size() < 2 || lines_[0] != "REGEDIT4" || !lines_[1].empty())
            return fail(result, 0, "no REGEDIT4 header and empty line");
        std::size_t at = 2;
        while (at < lines_.size()) {
            std::string_view header = lines_[at];
            if (header.size() < 2 || header.front() != '[' || header.back() != ']')
                return fail(result, at, "expected a key header");
            ReadKey key;
            key.path = header.substr(1, header.size() - 2);
            ++at;
            while (at < lines_.size()) {
                if (lines_[at].empty()) {
                    key.closed = true;
                    ++at;
                    break;
                }
                if (lines_[at].front() == '[')
                    break;
                std::size_t first = at;
                auto value = read_value(at);
                if (!value)
                    return fail(result, first, "unreadable value entry");
                key.values.push_back(std::move(*value));
            }
            result.keys.push_back(std::move(key));
        }
        return result;
    }

private:
    static ReadExport fail(ReadExport& result, std::size_t line, std::string_view what)
    {
        result.error = "line " + std::to_string(line + 1) + ": " + std::string(what);
        return result;
    }

    /// One value entry starting at line `at`, which is moved past it.
    std::optional<ReadValue> read_value(std::size_t& at)
    {
        std::string_view line = lines_[at];
        if (line.starts_with("@="))
            return read_data(at, "", 2);
        if (line.front() != '"')
            return std::nullopt;
        // A quote that is the trail byte of a double-byte character stands
        // unescaped inside the name, so each quote before a '=' may be the
        // end of it; the first reading under which the rest parses wins.
        for (std::size_t quote = line.find('"', 1); quote != std::string_view::npos; quote = line.find('"', quote + 1)) {
            if (quote + 1 >= line.size() || line[quote + 1] != '=')
                continue;
            auto name = unescape(line.substr(1, quote - 1), code_page_);
            if (!name || name->empty())
                continue;
            std::size_t next = at;
            if (auto value = read_data(next, *name, quote + 2)) {
                at = next;
                return value;
            }
        }
        return std::nullopt;
    }

    /// The data of the entry on line `at`, which starts at column `start`.
    std::optional<ReadValue> read_data(std::size_t& at, std::string name, std::size_t start)
    {
        std::string_view line = lines_[at];
        std::string_view rest = line.substr(start);
        ReadValue value;
        value.name = std::move(name);
        if (rest.starts_with('"')) {
            if (rest.size() < 2 || rest.back() != '"')
                return std::nullopt;
            auto text = unescape(rest.substr(1, rest.size() - 2), code_page_);
            if (!text)
                return std::nullopt;
            value.type = value_type::string;
            for (char c : *text)
                value.data.push_back(static_cast<std::byte>(c));
            ++at;
            return value;
        }
        if (rest.starts_with("dword:")) {
            if (rest.size() != 6 + 8)
                return std::nullopt;
            value.type = value_type::dword;
            value.data.resize(4);
            for (std::size_t i = 0; i < 4; ++i) {
                auto byte = hex_byte(rest, 6 + 2 * i);
                if (!byte)
                    return std::nullopt;
                value.data[3 - i] = *byte;
            }
            ++at;
            return value;
        }
        std::size_t body;
        if (rest.starts_with("hex:")) {
            value.type = value_type::binary;
            body = 4;
        } else if (rest.starts_with("hex(")) {
            std::size_t close = rest.find("):", 4);
            if (close == std::string_view::npos || close == 4 || close > 12 || (rest[4] == '0' && close > 5))
                return std::nullopt;
            std::uint32_t type = 0;
            for (std::size_t i = 4; i < close; ++i) {
                auto digit = hex_digit(rest[i]);
                if (!digit)
                    return std::nullopt;
                type = type << 4 | *digit;
            }
            value.type = type;
            body = close + 2;
        } else {
            return std::nullopt;
        }
        if (!read_hex_body(at, start + body, value.data))
            return std::nullopt;
        return value;
    }

    /// Bytes as "xx," from column `column` of line `at` on; a line is
    /// continued exactly when the comma takes it past the column limit.
    bool read_hex_body(std::size_t& at, std::size_t column, std::vector<std::byte>& data)
    {
        std::string_view line = lines_[at];
        if (column == line.size()) {
            ++at;
            return true;
        }
        for (;;) {
            auto byte = hex_byte(line, column);
            if (!byte)
                return false;
            data.push_back(*byte);
            column += 2;
            if (column == line.size()) {
                ++at;
                return true;
            }
            if (line[column] != ',')
                return false;
            ++column;
            if (column <= hex_column_limit)
                continue;
            if (line.substr(column) != "\\" || at + 1 >= lines_.size())
                return false;
            line = lines_[++at];
            if (!line.starts_with("  ") || line.size() == 2)
                return false;
            column = 2;
        }
    }

    std::vector<std::string_view> lines_;
    const CodePage& code_page_;
};

} // namespace

const ReadKey* ReadExport::find(std::string_view path) const
{
    for (const auto& key : keys) {
        if (key.path == path)
            return &key;
    }
    return nullptr;
}

ReadExport read_export(std::string_view file, const CodePage& code_page)
{
    if (!file.ends_with(line_end)) {
        ReadExport result;
        result.error = "the file does not end with a line end";
        return result;
    }
    file.remove_suffix(line_end.size());
    std::vector<std::string_view> lines;
    for (;;) {
        std::size_t end = file.find(line_end);
        std::string_view line = file.substr(0, end);
        if (line.find('\n') != std::string_view::npos) {
            ReadExport result;
            result.error = "line " + std::to_string(lines.size() + 1) + ": a line feed without carriage return";
            return result;
        }
        lines.push_back(line);
        if (end == std::string_view::npos)
            break;
        file.remove_prefix(end + line_end.size());
    }
    return Reader(std::move(lines), code_page).read();
}

} // namespace hivedump::testing
