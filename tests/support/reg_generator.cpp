#include "reg_generator.h"

#include <algorithm>
#include <array>
#include <utility>

namespace hivedump::testing {

std::uint32_t ByteChoices::below(std::uint32_t count)
{
    if (count <= 1 || bytes_.empty())
        return 0;
    std::uint32_t value = 0;
    for (std::uint32_t range = count - 1; range != 0 && !bytes_.empty(); range >>= 8) {
        value = value << 8 | static_cast<unsigned char>(bytes_.front());
        bytes_.remove_prefix(1);
    }
    return value % count;
}

namespace {

enum class Root : std::uint8_t { user, machine, default_user };
constexpr std::size_t root_count = 3;

constexpr std::array<std::u16string_view, root_count> root_paths{ u"\\Registry\\User\\S-1-5-21-0-0-0-1000", u"\\Registry\\Machine",
    u"\\Registry\\User\\.Default" };
constexpr std::array<std::string_view, root_count> master_keys{ "HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE", "HKEY_USERS\\.Default" };
constexpr std::array<std::string_view, root_count> relative_lines{ ";; All keys relative to REGISTRY\\\\User\\\\S-1-5-21-0-0-0-1000",
    ";; All keys relative to REGISTRY\\\\Machine", ";; All keys relative to REGISTRY\\\\User\\\\.Default" };

using Path = std::vector<std::u16string>;

struct Key {
    Root root;
    Path names; ///< below the file's top
    bool link = false;
    std::u16string target; ///< the link's target, from \Registry
    bool link_value = true; ///< false: marked as a link but without its value
};

struct Section {
    Root root;
    std::string lines; ///< the header line and what follows, each line ending in \n
    std::u16string order; ///< the sort key of its path
};

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

/// A name and a digit. Built by appending: GCC 12 warns wrongly on adding
/// a literal to a string here.
std::u16string numbered(std::u16string_view stem, std::uint32_t digit)
{
    std::u16string name(stem);
    name.push_back(static_cast<char16_t>(u'0' + digit % 10));
    return name;
}

bool is_hex_digit(char16_t unit) { return (unit >= '0' && unit <= '9') || (unit >= 'a' && unit <= 'f') || (unit >= 'A' && unit <= 'F'); }

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

/// A path folded to ASCII lower case, its names apart: enough to order
/// sections as Wine writes them.
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

class Generator {
public:
    Generator(ByteChoices& choices, const GeneratorOptions& options)
        : c_(choices)
        , wine_(options.for_wine)
    {
    }

    GeneratedPrefix run()
    {
        choose_files();
        add_keys();
        add_gadgets();
        add_links();
        make_sections();
        write_files();
        choose_exports();
        return std::move(out_);
    }

private:
    GeneratedPrefix::File& file(Root root)
    {
        return root == Root::user ? out_.user : root == Root::machine ? out_.machine : out_.default_user;
    }

    // Which files get keys. For Wine every file stays (Wine would make a
    // missing one afresh) and its header is the booted prefix's own.
    void choose_files()
    {
        active_[0] = !c_.one_in(16);
        active_[1] = c_.one_in(wine_ ? 3 : 2);
        active_[2] = c_.one_in(wine_ ? 6 : 4);
        for (std::size_t index = 0; index < root_count; ++index) {
            auto root = static_cast<Root>(index);
            auto& text = file(root);
            text.header = "WINE REGISTRY Version 2\n" + std::string(relative_lines[index]) + "\n\n#arch=win64\n";
            if (!wine_) {
                text.present = active_[index] || !c_.one_in(8);
                vary_header(text.header);
            }
            tops_[index] = { u"Software", u"Fuzz" };
            // Where a 32-bit installer writes, seen as Software\Fuzz by 32-bit
            // programs; its classes go through the link a booted prefix has there.
            if (root == Root::machine && c_.one_in(2))
                tops_[index] = c_.one_in(3) ? Path{ u"Software", u"Wow6432Node", u"Classes", u"Fuzz" }
                                            : Path{ u"Software", u"Wow6432Node", u"Fuzz" };
            // Elsewhere the master keys that show other keys: HKEY_CLASSES_ROOT,
            // and the keys Wine opens as pseudo handles.
            if (!wine_ && root == Root::machine && c_.one_in(3))
                tops_[index] = c_.one_in(4) ? Path{ u"Software", u"Microsoft", u"Windows NT", u"CurrentVersion", u"Perflib" }
                                            : Path{ u"Software", u"Classes" };
            if (active_[index])
                keys_.push_back({ root, tops_[index], false, {}, true });
        }
        if (keys_.empty()) {
            active_[0] = true;
            keys_.push_back({ Root::user, tops_[0], false, {}, true });
        }
    }

    void vary_header(std::string& header)
    {
        switch (c_.below(24)) {
        case 0:
            header.insert(header.find('\n'), "\r");
            break;
        case 1:
            header = "WINE REGISTRY Version 2\n\n";
            break;
        case 2:
            header.replace(header.find("#arch=win64"), 11, "#arch=win32");
            break;
        case 3:
            header = "WINE REGISTRY Version 2\n;; All keys relative to \\\\User\\\\S-1-5-21-0-0-0-1001\n\n";
            break;
        case 4:
            header = "WINE REGISTRY Version 3\n";
            break;
        default:
            break;
        }
    }

    Root some_root()
    {
        for (;;) {
            auto index = c_.below(root_count);
            if (active_[index])
                return static_cast<Root>(index);
            if (c_.empty())
                return keys_.front().root;
        }
    }

    std::size_t some_key() { return c_.below(static_cast<std::uint32_t>(keys_.size())); }

    std::size_t some_key_in(Root root)
    {
        for (int tries = 0; tries < 8; ++tries) {
            auto index = some_key();
            if (keys_[index].root == root)
                return index;
        }
        for (std::size_t index = 0; index < keys_.size(); ++index) {
            if (keys_[index].root == root)
                return index;
        }
        return 0;
    }

    std::u16string name()
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

    void add_keys()
    {
        for (auto count = 1 + c_.below(wine_ ? 24 : 16); count > 0 && !c_.empty(); --count) {
            auto parent = some_key_in(some_root());
            Key key = keys_[parent];
            key.link = false;
            key.names.push_back(name());
            keys_.push_back(std::move(key));
        }
    }

    std::u16string full_path(const Key& key) const
    {
        std::u16string path(root_paths[static_cast<std::size_t>(key.root)]);
        for (const auto& name : key.names)
            path += u"\\" + name;
        return path;
    }

    std::size_t add_child(std::size_t parent, std::u16string name)
    {
        Key key = keys_[parent];
        key.link = false;
        key.names.push_back(std::move(name));
        keys_.push_back(std::move(key));
        return keys_.size() - 1;
    }

    void make_link(std::size_t index, std::u16string target)
    {
        keys_[index].link = true;
        keys_[index].target = std::move(target);
        keys_[index].link_value = !c_.one_in(16);
    }

    // The shapes that once made the reader or the walk run away, more often
    // than random links would make them.
    void add_gadgets()
    {
        for (auto count = c_.below(4); count > 0 && !c_.empty(); --count) {
            auto parent = some_key_in(some_root());
            switch (c_.below(6)) {
            case 0: {
                // Fan-out: N1..Nm, each with subkeys a and b linking to the next.
                auto length = 2 + c_.below(wine_ ? 8 : 12);
                std::vector<std::size_t> chain;
                for (std::uint32_t at = 0; at < length; ++at)
                    chain.push_back(add_child(parent, numbered(u"N", at)));
                for (std::uint32_t at = 0; at + 1 < length; ++at) {
                    for (auto side : { u"a", u"b" })
                        make_link(add_child(chain[at], side), full_path(keys_[chain[at + 1]]));
                }
                break;
            }
            case 1: {
                // A link to a key below itself, then a section below that.
                auto link = add_child(parent, u"Self");
                make_link(link, full_path(keys_[link]) + u"\\sub");
                add_child(add_child(link, u"sub"), u"x");
                break;
            }
            case 2: {
                auto first = add_child(parent, u"LoopA");
                auto second = add_child(parent, u"LoopB");
                make_link(first, full_path(keys_[second]));
                make_link(second, full_path(keys_[first]) + (c_.one_in(2) ? u"\\x" : u""));
                break;
            }
            case 3: {
                // A chain of links, the last through another link.
                auto target = some_key();
                auto previous = add_child(parent, u"Via");
                make_link(previous, full_path(keys_[target]));
                for (auto length = 1 + c_.below(5); length > 0; --length) {
                    auto next = add_child(parent, numbered(u"Chain", length));
                    auto path = full_path(keys_[previous]);
                    if (c_.one_in(2))
                        path.append(u"\\").append(name());
                    make_link(next, path);
                    previous = next;
                }
                break;
            }
            case 4: {
                // Up to an ancestor.
                auto link = add_child(parent, u"Up");
                make_link(link, full_path(ancestor_of(keys_[link])));
                break;
            }
            default: {
                auto link = add_child(parent, u"Dangling");
                make_link(link, full_path(keys_[parent]) + u"\\Nowhere\\" + name());
                break;
            }
            }
        }
    }

    /// A key up to three levels above; for Wine never above the keys it leaves alone.
    Key ancestor_of(const Key& key)
    {
        Key ancestor = key;
        std::size_t lowest = wine_ ? tops_[static_cast<std::size_t>(key.root)].size() : 1;
        std::size_t up = 1 + c_.below(3);
        ancestor.names.resize(std::max(lowest, ancestor.names.size() > up ? ancestor.names.size() - up : 0));
        return ancestor;
    }

    std::u16string random_target(std::size_t index)
    {
        const Key& key = keys_[index];
        switch (c_.below(8)) {
        case 0:
        case 1:
            return full_path(keys_[some_key()]);
        case 2:
            return full_path(keys_[some_key()]) + u"\\" + name();
        case 3: {
            // Through some link, which may come later in the file.
            for (int tries = 0; tries < 8; ++tries) {
                const Key& other = keys_[some_key()];
                if (other.link)
                    return full_path(other) + u"\\" + name();
            }
            return full_path(keys_[some_key()]);
        }
        case 4:
            return full_path(key) + u"\\" + name();
        case 5:
            return full_path(ancestor_of(key));
        case 6:
            return full_path(key);
        default: {
            if (!wine_ && c_.one_in(2)) {
                static constexpr std::array<std::u16string_view, 6> elsewhere{ u"\\Registry", u"\\Registry\\Machine\\Software",
                    u"\\Registry\\User", u"\\Other\\Key", u"Registry\\Machine", u"\\Registry\\\\Machine" };
                return std::u16string(elsewhere[c_.below(elsewhere.size())]);
            }
            Key top = key;
            top.names = tops_[static_cast<std::size_t>(key.root)];
            return full_path(top) + u"\\Nowhere";
        }
        }
    }

    void add_links()
    {
        for (std::size_t index = 0; index < keys_.size(); ++index) {
            if (!keys_[index].link && keys_[index].names.size() > tops_[static_cast<std::size_t>(keys_[index].root)].size() && c_.one_in(6))
                make_link(index, random_target(index));
        }
    }

    /// Escapes text for a section (`]` ends it) or a quoted name or string.
    std::string escape(std::u16string_view text, bool section)
    {
        // Wine writes \x with as few digits as it can; raw UTF-8 reads the same.
        const int style = static_cast<int>(c_.below(8));
        std::string out;
        for (std::size_t at = 0; at < text.size(); ++at) {
            char16_t unit = text[at];
            bool next_hex = at + 1 < text.size() && is_hex_digit(text[at + 1]);
            bool next_octal = at + 1 < text.size() && text[at + 1] >= '0' && text[at + 1] <= '7';
            switch (unit) {
            case u'\\':
                out += "\\\\";
                continue;
            case u'"':
                out += section && style != 1 ? "\"" : "\\\"";
                continue;
            case u'[':
                out += section && style != 2 ? "\\[" : "[";
                continue;
            case u']':
                out += section ? "\\]" : "]";
                continue;
            case u'\a':
                out += "\\a";
                continue;
            case u'\b':
                out += "\\b";
                continue;
            case u'\x1b':
                out += "\\e";
                continue;
            case u'\f':
                out += "\\f";
                continue;
            case u'\n':
                out += "\\n";
                continue;
            case u'\r':
                out += "\\r";
                continue;
            case u'\t':
                out += style == 3 ? "\t" : "\\t";
                continue;
            case u'\v':
                out += "\\v";
                continue;
            default:
                break;
            }
            if (unit < 0x20) {
                if (style == 4) {
                    out += "\\x";
                    append_hex(out, unit, next_hex ? 4 : 1);
                } else {
                    out += "\\";
                    int digits = unit >= 010 ? 2 : 1;
                    if (next_octal)
                        digits = 3;
                    for (int digit = digits - 1; digit >= 0; --digit)
                        out.push_back(static_cast<char>('0' + (unit >> (3 * digit) & 7)));
                }
                continue;
            }
            if (unit < 0x7f) {
                out.push_back(static_cast<char>(unit));
                continue;
            }
            bool surrogate_pair
                = unit >= 0xD800 && unit < 0xDC00 && at + 1 < text.size() && text[at + 1] >= 0xDC00 && text[at + 1] < 0xE000;
            if (style >= 5 && unit != 0x7f && (unit < 0xD800 || unit >= 0xE000 || surrogate_pair)) {
                char32_t code = unit;
                if (surrogate_pair)
                    code = 0x10000 + ((unit - 0xD800) << 10) + (text[++at] - 0xDC00);
                append_utf8(out, code);
                continue;
            }
            if (unit == 0x7f) {
                out.push_back('\x7f');
                continue;
            }
            out += "\\x";
            append_hex(out, unit, next_hex || style == 4 ? 4 : 1);
        }
        return out;
    }

    void note_name(std::size_t length) { out_.longest_name = std::max(out_.longest_name, length); }

    std::string section_header(const Path& names)
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
    std::string hex_bytes(std::size_t column, const std::vector<unsigned char>& bytes)
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

    static std::vector<unsigned char> utf16_bytes(std::u16string_view text)
    {
        std::vector<unsigned char> bytes;
        for (auto unit : text) {
            bytes.push_back(static_cast<unsigned char>(unit & 0xFF));
            bytes.push_back(static_cast<unsigned char>(unit >> 8));
        }
        return bytes;
    }

    std::string link_value(const Key& key)
    {
        std::u16string target = key.target;
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

    std::string value_line()
    {
        std::string line;
        if (c_.one_in(5)) {
            line = "@";
        } else {
            std::u16string value_name = c_.one_in(12) ? u"" : name();
            line = "\"" + escape(value_name, false) + "\"";
        }
        line += c_.one_in(16) ? " = " : "=";
        auto text = [&] { return std::u16string(texts[c_.below(texts.size())]); };
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
        default: {
            std::vector<unsigned char> bytes;
            std::string form = "hex:";
            if (c_.below(3) != 0) {
                static constexpr std::array<std::string_view, 16> types{ "0", "1", "2", "3", "4", "5", "6", "7", "8", "b", "a", "100",
                    "ffff0000", "0x10", "", "-1" };
                auto type = c_.below(types.size());
                form = "hex(" + std::string(types[type]) + "):";
                // Strings as the server holds them: UTF-16, with or without the zero.
                if (type == 1 || type == 2 || type == 7 || type == 6) {
                    bytes = utf16_bytes(text());
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
        }
    }

    std::string broken_line()
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

    void add_section(Root root, const Path& names, std::string lines) { sections_.push_back({ root, std::move(lines), sort_key(names) }); }

    void make_sections()
    {
        std::vector<Section> duplicates;
        for (const Key& key : keys_) {
            std::string lines = section_header(key.names);
            if (key.link) {
                lines += "#link\n";
                if (key.link_value)
                    lines += link_value(key);
            }
            for (auto count = c_.below(key.link ? 2 : 5); count > 0; --count)
                lines += value_line();
            if (c_.one_in(10))
                lines.insert(c_.one_in(2) ? lines.size() : lines.find('\n') + 1, broken_line());
            add_section(key.root, key.names, lines);
            // Keys made through the link, in its target.
            if (key.link && c_.one_in(2)) {
                Path names = key.names;
                names.push_back(name());
                std::string through = section_header(names);
                for (auto count = c_.below(3); count > 0; --count)
                    through += value_line();
                add_section(key.root, names, through);
            }
            // A duplicate, whose values add to the first or replace its data.
            if (c_.one_in(16)) {
                std::string again = section_header(key.names);
                for (auto count = 1 + c_.below(3); count > 0; --count)
                    again += value_line();
                duplicates.push_back({ key.root, std::move(again), sort_key(key.names) });
            }
        }
        for (auto& section : duplicates)
            sections_.push_back(std::move(section));
        // Wine writes parents before children, names in order; some go astray.
        std::stable_sort(sections_.begin(), sections_.end(), [](const Section& left, const Section& right) {
            return left.root != right.root ? left.root < right.root : left.order < right.order;
        });
        for (std::size_t at = 0; at < sections_.size(); ++at) {
            if (c_.one_in(12)) {
                auto to = c_.below(static_cast<std::uint32_t>(sections_.size()));
                std::swap(sections_[at], sections_[to]);
            }
        }
    }

    // Line ends: line feeds, carriage return and line feed, or either at random.
    std::string with_line_ends(const std::string& text)
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

    void write_files()
    {
        std::array<std::string, root_count> bodies;
        for (const auto& section : sections_)
            bodies[static_cast<std::size_t>(section.root)] += "\n" + section.lines;
        for (std::size_t index = 0; index < root_count; ++index) {
            auto& body = bodies[index];
            if (!body.empty() && c_.one_in(12)) {
                // The file ends inside a value continued on the next line, or mid-line.
                if (c_.one_in(2))
                    body += "\"eats\"=hex:01,02,\\\n";
                else
                    body.resize(body.size() - 1 - c_.below(static_cast<std::uint32_t>(std::min<std::size_t>(body.size() - 1, 40))));
            }
            auto& text = file(static_cast<Root>(index));
            text.body = with_line_ends(body);
            // Every key comes from a section line or a link's target, and each
            // of their names from a backslash or the start.
            for (const auto* part : { &text.header, &text.body }) {
                std::size_t start = 0;
                while (start < part->size()) {
                    auto end = std::min(part->find('\n', start), part->size());
                    auto line = std::string_view(*part).substr(start, end - start);
                    auto first = line.find_first_not_of(" \t\r\v\f");
                    if (first != std::string_view::npos && line[first] == '[') {
                        out_.key_bound += 1 + static_cast<std::size_t>(std::count(line.begin(), line.end(), '\\'));
                        note_name(line.size());
                    }
                    start = end + 1;
                }
            }
        }
        // The mount points, the user's key and .Default.
        out_.key_bound += link_components_ + 8;
    }

    static bool ascii_key(const Path& names)
    {
        for (const auto& name : names) {
            if (name.empty() || name.front() == u' ' || name.back() == u' ')
                return false;
            for (auto unit : name) {
                if (unit < 0x21 || unit > 0x7e || unit == u'\\' || unit == u'"')
                    return false;
            }
        }
        return true;
    }

    static std::string key_name(Root root, const Path& names)
    {
        std::string result(master_keys[static_cast<std::size_t>(root)]);
        for (const auto& name : names) {
            result.push_back('\\');
            for (auto unit : name)
                result.push_back(static_cast<char>(unit));
        }
        return result;
    }

    void choose_exports()
    {
        for (std::size_t index = 0; index < root_count; ++index) {
            if (!active_[index])
                continue;
            out_.keys.push_back(key_name(static_cast<Root>(index), tops_[index]));
            if (tops_[index].size() == 3 && tops_[index][1] == u"Wow6432Node")
                out_.keys.push_back(key_name(static_cast<Root>(index), { u"Software", u"Fuzz" }));
            if (tops_[index].size() == 4)
                out_.keys.emplace_back("HKEY_CLASSES_ROOT\\Fuzz");
        }
        for (auto count = c_.below(3); count > 0; --count) {
            const Key& key = keys_[some_key()];
            Path names = key.names;
            if (key.link && c_.one_in(2))
                names.push_back(name());
            auto exported = key_name(key.root, names);
            if (ascii_key(names) && std::find(out_.keys.begin(), out_.keys.end(), exported) == out_.keys.end())
                out_.keys.push_back(std::move(exported));
        }
    }

    ByteChoices& c_;
    bool wine_;
    GeneratedPrefix out_;
    std::array<bool, root_count> active_{};
    std::array<Path, root_count> tops_;
    std::vector<Key> keys_;
    std::vector<Section> sections_;
    std::size_t link_components_ = 0;
};

} // namespace

GeneratedPrefix generate_prefix(ByteChoices& choices, const GeneratorOptions& options) { return Generator(choices, options).run(); }

} // namespace hivedump::testing
