#include "reg_generator.h"

#include "reg_lines.h"

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

class Generator {
public:
    Generator(ByteChoices& choices, const GeneratorOptions& options)
        : c_(choices)
        , wine_(options.for_wine)
        , lines_(choices, options.for_wine)
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
        note_name(lines_.longest_name());
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
                lines_.vary_header(text.header);
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

    void add_keys()
    {
        for (auto count = 1 + c_.below(wine_ ? 24 : 16); count > 0 && !c_.empty(); --count) {
            auto parent = some_key_in(some_root());
            Key key = keys_[parent];
            key.link = false;
            key.names.push_back(lines_.name());
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
                        path.append(u"\\").append(lines_.name());
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
                make_link(link, full_path(keys_[parent]) + u"\\Nowhere\\" + lines_.name());
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
            return full_path(keys_[some_key()]) + u"\\" + lines_.name();
        case 3: {
            // Through some link, which may come later in the file.
            for (int tries = 0; tries < 8; ++tries) {
                const Key& other = keys_[some_key()];
                if (other.link)
                    return full_path(other) + u"\\" + lines_.name();
            }
            return full_path(keys_[some_key()]);
        }
        case 4:
            return full_path(key) + u"\\" + lines_.name();
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

    void note_name(std::size_t length) { out_.longest_name = std::max(out_.longest_name, length); }

    void add_section(Root root, const Path& names, std::string lines) { sections_.push_back({ root, std::move(lines), sort_key(names) }); }

    void make_sections()
    {
        std::vector<Section> duplicates;
        for (const Key& key : keys_) {
            std::string lines = lines_.section_header(key.names);
            if (key.link) {
                lines += "#link\n";
                if (key.link_value)
                    lines += lines_.link_value(key.target);
            }
            for (auto count = c_.below(key.link ? 2 : 5); count > 0; --count)
                lines += lines_.value_line();
            if (c_.one_in(10))
                lines.insert(c_.one_in(2) ? lines.size() : lines.find('\n') + 1, lines_.broken_line());
            add_section(key.root, key.names, lines);
            // Keys made through the link, in its target.
            if (key.link && c_.one_in(2)) {
                Path names = key.names;
                names.push_back(lines_.name());
                std::string through = lines_.section_header(names);
                for (auto count = c_.below(3); count > 0; --count)
                    through += lines_.value_line();
                add_section(key.root, names, through);
            }
            // A duplicate, whose values add to the first or replace its data.
            if (c_.one_in(16)) {
                std::string again = lines_.section_header(key.names);
                for (auto count = 1 + c_.below(3); count > 0; --count)
                    again += lines_.value_line();
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
            text.body = lines_.with_line_ends(body);
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
        out_.key_bound += lines_.link_components() + 8;
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
                names.push_back(lines_.name());
            auto exported = key_name(key.root, names);
            if (ascii_key(names) && std::find(out_.keys.begin(), out_.keys.end(), exported) == out_.keys.end())
                out_.keys.push_back(std::move(exported));
        }
    }

    ByteChoices& c_;
    bool wine_;
    RegLines lines_;
    GeneratedPrefix out_;
    std::array<bool, root_count> active_{};
    std::array<Path, root_count> tops_;
    std::vector<Key> keys_;
    std::vector<Section> sections_;
};

} // namespace

GeneratedPrefix generate_prefix(ByteChoices& choices, const GeneratorOptions& options) { return Generator(choices, options).run(); }

} // namespace hivedump::testing
