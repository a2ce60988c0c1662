#include "reg_lines.h"

#include "reg_text.h"

#include <array>
#include <utility>

namespace hivedump::testing {

namespace {

using Path = std::vector<std::u16string>;

// Wow6432Node: what a 32-bit program sees instead of the key above it.
constexpr std::array<std::u16string_view, 16> simple_names{ u"a", u"b", u"A", u"B", u"N", u"key", u"Key", u"KEY", u"sub", u"x y", u"Fuzz",
    u"Links", u"c", u"target", u"Wow6432Node", u"wow6432node" };
constexpr std::array<std::u16string_view, 10> punctuated_names{ u"a\"b", u"[x]", u"br]ack", u"semi;colon", u"eq=ual", u"#hash", u" lead",
    u"trail ", u"per%cent%", u"@" };
constexpr std::array<std::u16string_view, 8> control_names{ u"t\tab", u"line\nbreak", u"cr\rret",
    u"\x01"
    u"ctl",
    u"bell\a", u"\x7f", u"esc\x1b", u"v\vf\f" };
// Beyond ASCII: case pairs, letters with best fits or none in either code
// page, a surrogate pair, the Kelvin sign, a full-width backslash.
constexpr std::array<std::u16string_view, 16> wide_names{ u"Caf\u00e9", u"CAF\u00c9", u"\u00c9t\u00e9", u"\u03a3\u03c2", u"\u03c3\u03a3",
    u"\u30c6\u30b9\u30c8", u"\u212a", u"k", u"\u0130i", u"stra\u00dfe", u"\U0001F600", u"\u0100bc", u"\uff3c", u"\u00e4rger", u"\u00c4RGER",
    u"\u8868\u5341" };
constexpr std::array<std::u16string_view, 16> texts{ u"", u"plain", u"C:\\windows\\system32", u"quote\"d", u"line\nbreak", u"cr\r\nlf",
    u"tab\tx", u"%PATH%;%SystemRoot%", u"caf\u00e9", u"\u30c7\u30b6\u30a4\u30f3\\\u8868", u"\U0001F600", u"\u00ff\u0100\u0101",
    u"[brackets]", u"back\\slash\\", u"\x01\x1f\x7f", u"\u212a\uff3c" };
constexpr std::array<std::string_view, 16> broken_lines{ "bogus line", "[Software\\\\Fuzz\\\\unterminated", "\"novalue\"",
    "\"noequals\" \"x\"", "\"unterminated=\"x\"", "\"bad\"=unknown:5", "\"bad\"=hex:1,2,zz", "\"big\"=hex:100", "  \"indented\"=\"yes\"",
    "#time=zz", "#class=\"c\"", ";; comment", "", "\t", "\"dq\"=str(2):\"unterminated", std::string_view("\"nul\0inside\"=\"x\"", 16) };

} // namespace

/// A name and a digit. Built by appending: GCC 12 warns wrongly on adding
/// a literal to a string here.
std::u16string numbered(std::u16string_view stem, std::uint32_t digit)
{
    std::u16string name(stem);
    name.push_back(static_cast<char16_t>(u'0' + digit % 10));
    return name;
}

std::u16string sort_key(const std::vector<std::u16string>& names)
{
    std::u16string key;
    for (const auto& name : names) {
        for (auto unit : name)
            key.push_back(unit >= 'A' && unit <= 'Z' ? static_cast<char16_t>(unit + 32) : unit);
        key.push_back(u'\0');
    }
    return key;
}

std::u16string RegLines::name()
{
    switch (c_.below(16)) {
    case 0:
    case 1:
    case 2:
    case 3:
    case 4:
    case 5:
        return std::u16string(simple_names[c_.below(simple_names.size())]);
    case 6:
    case 7: {
        static constexpr std::u16string_view characters = u"abcxyzABC019 _-.,;#=~!$%&'()+";
        std::u16string result;
        for (auto length = 1 + c_.below(8); length > 0; --length)
            result.push_back(characters[c_.below(characters.size())]);
        return result;
    }
    case 8:
        return std::u16string(punctuated_names[c_.below(punctuated_names.size())]);
    case 9:
        return std::u16string(control_names[c_.below(control_names.size())]);
    case 10:
    case 11:
        return std::u16string(wide_names[c_.below(wide_names.size())]);
    case 12: {
        if (!c_.one_in(4))
            return std::u16string(simple_names[c_.below(simple_names.size())]);
        // Around the longest name the server takes.
        std::u16string result(250 + c_.below(9), u'L');
        result.back() = static_cast<char16_t>(u'0' + c_.below(10));
        return result;
    }
    case 13: {
        std::u16string result;
        for (auto length = 1 + c_.below(6); length > 0; --length) {
            static constexpr std::array<char16_t, 8> starts{ 0x80, 0xa0, 0x100, 0x370, 0x400, 0x3040, 0x4e00, 0xff00 };
            result.push_back(static_cast<char16_t>(starts[c_.below(starts.size())] + c_.below(96)));
        }
        return result;
    }
    default:
        return numbered(u"k", c_.below(10));
    }
}

std::string RegLines::section_header(const Path& names)
{
    std::string line = "[";
    if (c_.one_in(16))
        line += "\\\\";
    for (std::size_t at = 0; at < names.size(); ++at) {
        if (at != 0)
            line += c_.one_in(32) ? "\\\\\\\\" : "\\\\";
        line += escape(names[at], true);
    }
    line += "]";
    switch (c_.below(8)) {
    case 0:
        break;
    case 1:
        line += " 0";
        break;
    default:
        line += " 1700000000";
        break;
    }
    line += "\n";
    if (!c_.one_in(4))
        line += "#time=1d9f6a4c3b2a100\n";
    return line;
}

/// Bytes as hex, wrapped as Wine wraps them: a backslash once a line
/// passes 76 columns, the next one indented by two blanks.
std::string RegLines::hex_bytes(std::size_t column, const std::vector<unsigned char>& bytes)
{
    const int wrap = static_cast<int>(c_.below(8)); // 0: not at all, 1: anywhere, else as Wine
    std::string out;
    for (std::size_t at = 0; at < bytes.size(); ++at) {
        append_hex(out, bytes[at], 2);
        column += 2;
        if (at + 1 == bytes.size())
            break;
        out += c_.one_in(32) ? ", " : ",";
        ++column;
        if ((wrap >= 2 && column > 76) || (wrap == 1 && c_.one_in(6))) {
            out += "\\\n";
            out += wrap == 3 ? "\t" : "  ";
            column = 2;
        }
    }
    return out;
}

std::string RegLines::link_value(std::u16string target)
{
    // The server compares names without case.
    if (c_.one_in(4)) {
        for (auto& unit : target) {
            if (unit >= 'a' && unit <= 'z')
                unit = static_cast<char16_t>(unit - 32);
        }
    }
    if (c_.one_in(8))
        target += c_.one_in(2) ? std::u16string(1, u'\0') : u"\\";
    std::size_t components = 1;
    std::size_t length = 0;
    for (auto unit : target) {
        if (unit == u'\\') {
            ++components;
            length = 0;
        } else {
            note_name(++length);
        }
    }
    link_components_ += components;
    std::string line = c_.one_in(16) ? "\"symboliclinkvalue\"=" : "\"SymbolicLinkValue\"=";
    if (c_.one_in(8))
        return line + "str:\"" + escape(target, false) + "\"\n";
    line += c_.one_in(16) ? "hex(1):" : "hex(6):";
    return line + hex_bytes(line.size(), utf16_bytes(target)) + "\n";
}

std::string RegLines::value_line()
{
    std::string line;
    if (c_.one_in(5)) {
        line = std::string("@");
    } else {
        std::u16string value_name = c_.one_in(12) ? u"" : name();
        line = std::string("\"") + escape(value_name, false) + "\"";
    }
    line += c_.one_in(16) ? " = " : "=";
    auto text = [&] { return some_text(); };
    switch (c_.below(9)) {
    case 0:
    case 1:
        return line + "\"" + escape(text(), false) + "\"\n";
    case 2:
        return line + "str:\"" + escape(text(), false) + "\"\n";
    case 3:
        return line + "str(2):\"" + escape(text(), false) + "\"\n";
    case 4: {
        std::u16string multi;
        for (auto count = c_.below(4); count > 0; --count)
            multi += text() + std::u16string(1, u'\0');
        return line + "str(7):\"" + escape(multi, false) + "\"\n";
    }
    case 5: {
        static constexpr std::array<std::string_view, 6> odd{ "1", "-1", "zz", "123456789", "0x10", "" };
        if (c_.one_in(6))
            return line + "dword:" + std::string(odd[c_.below(odd.size())]) + "\n";
        std::string number;
        append_hex(number, c_.below(256) << 24 | c_.below(256) << 16 | c_.below(256) << 8 | c_.below(256), 8);
        return line + "dword:" + number + "\n";
    }
    default:
        return hex_value_line(std::move(line));
    }
}

/// A value in the hex form, of any type; strings as UTF-16.
std::string RegLines::hex_value_line(std::string line)
{
    std::vector<unsigned char> bytes;
    std::string form = "hex:";
    if (c_.below(3) != 0) {
        static constexpr std::array<std::string_view, 16> types{ "0", "1", "2", "3", "4", "5", "6", "7", "8", "b", "a", "100", "ffff0000",
            "0x10", "", "-1" };
        auto type = c_.below(types.size());
        form = "hex(" + std::string(types[type]) + "):";
        // Strings as the server holds them: UTF-16, with or without the zero.
        if (type == 1 || type == 2 || type == 7 || type == 6) {
            bytes = utf16_bytes(some_text());
            if (c_.one_in(2))
                bytes.insert(bytes.end(), { 0, 0 });
            if (c_.one_in(6) && !bytes.empty())
                bytes.pop_back();
        }
    }
    if (bytes.empty()) {
        auto count = c_.one_in(64) ? 100 + c_.below(500) : c_.below(24);
        for (; count > 0; --count)
            bytes.push_back(static_cast<unsigned char>(c_.below(256)));
    }
    line += form;
    return line + hex_bytes(line.size(), bytes) + "\n";
}

void RegLines::vary_header(std::string& header)
{
    switch (c_.below(24)) {
    case 0:
        header.insert(header.find('\n'), 1, '\r');
        break;
    case 1:
        header = std::string("WINE REGISTRY Version 2\n\n");
        break;
    case 2:
        header.replace(header.find("#arch=win64"), 11, "#arch=win32");
        break;
    case 3:
        header = std::string("WINE REGISTRY Version 2\n;; All keys relative to \\\\User\\\\S-1-5-21-0-0-0-1001\n\n");
        break;
    case 4:
        header = std::string("WINE REGISTRY Version 3\n");
        break;
    default:
        break;
    }
}

std::string RegLines::broken_line()
{
    auto count = wine_ ? broken_lines.size() : broken_lines.size() + 4;
    auto which = c_.below(static_cast<std::uint32_t>(count));
    if (which < broken_lines.size())
        return std::string(broken_lines[which]) + "\n";
    switch (which - broken_lines.size()) {
    case 0:
        return "#arch=win32\n";
    case 1:
        return ";; All keys relative to REGISTRY\\\\User\\\\Other\n";
    case 2:
        return "WINE REGISTRY Version 2\n";
    default:
        return "\"eats\"=hex:01,\\\n";
    }
}

// Line ends: line feeds, carriage return and line feed, or either at random.
std::u16string RegLines::some_text() { return std::u16string(texts[c_.below(texts.size())]); }

std::string RegLines::with_line_ends(const std::string& text)
{
    const auto mode = c_.below(6);
    if (mode < 4)
        return text;
    std::string out;
    out.reserve(text.size() * 2);
    for (char c : text) {
        if (c == '\n' && (mode == 4 || c_.one_in(2)))
            out.push_back('\r');
        out.push_back(c);
    }
    return out;
}

} // namespace hivedump::testing
