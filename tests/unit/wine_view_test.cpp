#include "wine/prefix_registry.h"
#include "wine_test_prefix.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

namespace hivedump::registry {
namespace {

using namespace hivedump::wine;
using wine_test::header;
using wine_test::link_value;
using wine_test::TemporaryPrefix;

/// "-" when the key does not open, else its default value and its subkeys
/// as listed, each opened as a walk opens it, "!" after one that fails.
std::string describe(Registry& registry, Handle root, const std::string& path)
{
    Handle key;
    if (registry.open_key(root, path, key) != status::success)
        return "-";
    std::string text;
    std::vector<std::byte> data(256);
    for (std::uint32_t index = 0;; ++index) {
        std::vector<char> name(256, '\0');
        ValueRead read{ name, data, 256, static_cast<std::uint32_t>(data.size()), 0 };
        if (registry.enum_value(key, index, read) != status::success)
            break;
        if (read.name_length <= 1)
            text += std::string(reinterpret_cast<const char*>(data.data()), read.data_size - 1);
    }
    text += " [";
    std::vector<char> name(256);
    for (std::uint32_t index = 0; registry.enum_key(key, index, name) == status::success; ++index) {
        if (index != 0)
            text += ',';
        text.append(name.data());
        Handle subkey;
        if (registry.open_key(key, name.data(), subkey) == status::success)
            registry.close_key(subkey);
        else
            text += '!';
    }
    registry.close_key(key);
    return text + "]";
}

/// A 64-bit prefix with keys in either view, Wow6432Node keys in any case
/// and place, links to and through them, and the classes of both.
void write_view_prefix(const TemporaryPrefix& prefix)
{
    auto link = [](std::string_view path, std::string_view target) {
        std::string text = "[";
        text.append(path).append("] 1\n#link\n");
        return text + link_value(target);
    };
    prefix.write("system.reg",
        "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\Machine\n\n#arch=win64\n\n"
        "[Software\\\\Both] 1\n@=\"64\"\n"
        "[Software\\\\Classes\\\\.hivedumptest] 1\n@=\"64 ext\"\n"
        "[Software\\\\Classes\\\\CLSID\\\\{1}] 1\n@=\"64-bit class\"\n"
        "[Software\\\\Classes\\\\Wow6432Node\\\\.hivedump32] 1\n@=\"32 ext\"\n"
        "[Software\\\\Classes\\\\Wow6432Node\\\\CLSID\\\\{1}] 1\n@=\"32-bit class\"\n"
        "[Software\\\\Classes\\\\Wow6432Node\\\\CLSID\\\\{9}] 1\n@=\"32-bit only class\"\n"
        "[Software\\\\Only64] 1\n@=\"64 only\"\n"
        "[Software\\\\Test64\\\\A] 1\n"
        "[Software\\\\TestW] 1\n@=\"testw 64\"\n[Software\\\\TestW\\\\Only64Child] 1\n"
        "[Software\\\\TestW\\\\Wow6432Node] 1\n@=\"testw 32\"\n[Software\\\\TestW\\\\Wow6432Node\\\\Child32] 1\n"
        "[Software\\\\Wow6432Node\\\\Both] 1\n@=\"32\"\n"
            + link("Software\\\\Wow6432Node\\\\Classes", "\\Registry\\Machine\\Software\\Classes\\Wow6432Node")
            + link("Software\\\\Wow6432Node\\\\TestLinkCW", "\\Registry\\Machine\\Software\\Classes\\Wow6432Node")
            + link("Software\\\\Wow6432Node\\\\TestLinkW", "\\Registry\\Machine\\Software\\TestW")
            + "[Software\\\\Wow6432Node\\\\Vendor] 1\n@=\"32-bit installer\"\n[Software\\\\Wow6432Node\\\\Vendor\\\\Sub] 1\n"
              "[System\\\\Lower\\\\wow6432node] 1\n@=\"lower 32\"\n"
              "[System\\\\Nest\\\\Wow6432Node] 1\n@=\"nest 32\"\n[System\\\\Nest\\\\Wow6432Node\\\\Kid] 1\n"
              "[System\\\\Nest\\\\Wow6432Node\\\\Wow6432Node] 1\n@=\"nest 32 32\"\n");
    prefix.write("user.reg",
        std::string(header)
            + "[Software\\\\Classes\\\\.userext] 1\n@=\"user 64 ext\"\n"
              "[Software\\\\Classes\\\\CLSID\\\\{2}] 1\n@=\"user 64 class\"\n"
              "[Software\\\\Classes\\\\Wow6432Node\\\\CLSID\\\\{2}] 1\n@=\"user 32 class\"\n"
              "[Software\\\\Game] 1\n@=\"game 64\"\n[Software\\\\Game\\\\Settings64] 1\n"
              "[Software\\\\Game\\\\Wow6432Node] 1\n@=\"game 32\"\n[Software\\\\Game\\\\Wow6432Node\\\\Save] 1\n"
              "[Software\\\\Linked\\\\Wow6432Node\\\\Own] 1\n"
              "[Software\\\\Linked\\\\Wow6432Node] 1\n@=\"the link itself\"\n#link\n"
            + link_value("\\Registry\\User\\S-1-5-21-0-0-0-1000\\Software\\Game"));
}

// A key of the prefix and what each view shows of it.
struct ViewCase {
    Handle root;
    const char* path;
    const char* bits32;
    const char* bits64;
};
const ViewCase view_cases[] = {
    // A 32-bit installer's key; one in the 64-bit view only; one in both.
    { local_machine, "Software\\Vendor", "32-bit installer [Sub]", "-" },
    { local_machine, "Software\\Only64", "-", "64 only []" },
    { local_machine, "Software\\Both", "32 []", "64 []" },
    // A name Wow6432Node is taken as it is, in either view.
    { local_machine, "Software\\Wow6432Node\\Both", "32 []", "32 []" },
    // Anywhere in the tree, any case, the last name included; not the
    // key before a name Wow6432Node, nor the key that name opens.
    { local_machine, "System\\Nest", "nest 32 [Kid,Wow6432Node]", " [Wow6432Node]" },
    { local_machine, "System\\Nest\\Kid", " []", "-" },
    { local_machine, "System\\Nest\\Wow6432Node", "nest 32 [Kid,Wow6432Node]", "nest 32 [Kid,Wow6432Node]" },
    { local_machine, "System\\Nest\\Wow6432Node\\Wow6432Node", "nest 32 32 []", "nest 32 32 []" },
    { local_machine, "System\\Lower", "lower 32 []", " [wow6432node]" },
    { current_user, "Software\\Game", "game 32 [Save]", "game 64 [Settings64,Wow6432Node]" },
    // A Wow6432Node key that is a link is not followed: it lists its own
    // subkeys, and names below it are looked up where it leads.
    { current_user, "Software\\Linked", "the link itself [Own!]", " [Wow6432Node]" },
    { current_user, "Software\\Linked\\Save", " []", "-" },
    { current_user, "Software\\Linked\\Own", "-", "-" },
    // After a link is followed.
    { local_machine, "Software\\TestLinkW", "testw 32 [Child32]", "-" },
    // The machine's classes are shared: the 64-bit names, looked up in
    // Wow6432Node first; a link to the shared key leads to the classes.
    { classes_root, "", " [.hivedumptest,CLSID,Wow6432Node]", " [.hivedumptest,CLSID,Wow6432Node]" },
    { classes_root, "CLSID\\{1}", "32-bit class []", "64-bit class []" },
    { classes_root, "CLSID\\{9}", "32-bit only class []", "-" },
    { classes_root, ".hivedumptest", "64 ext []", "64 ext []" },
    { classes_root, ".hivedump32", "32 ext []", "-" },
    { classes_root, "Wow6432Node", " [.hivedump32,CLSID]", " [.hivedump32,CLSID]" },
    { local_machine, "Software\\Classes\\Wow6432Node\\.hivedumptest", "64 ext []", "-" },
    { local_machine, "Software\\Wow6432Node\\Classes", " [.hivedumptest,CLSID,Wow6432Node]", " [.hivedump32,CLSID]" },
    { local_machine, "Software\\TestLinkCW", " [.hivedumptest,CLSID,Wow6432Node]", "-" },
    // The user's classes are not shared.
    { current_user, "Software\\Classes", " [CLSID]", " [.userext,CLSID,Wow6432Node]" },
    { current_user, "Software\\Classes\\CLSID\\{2}", "user 32 class []", "user 64 class []" },
    { current_user, "Software\\Classes\\.userext", "-", "user 64 ext []" },
};

// Each row is what the 32-bit program and the x86_64 build printed under
// Wine 8.0 (WoW64, wine32 beside wine64) for the same keys of a prefix that
// wineboot made and regedit filled.
TEST(WinePrefixRegistry, ViewsAreWhatThirtyTwoAndSixtyFourBitProgramsSee)
{
    TemporaryPrefix prefix;
    write_view_prefix(prefix);
    for (auto view : { View::own, View::bits64 }) {
        WinePrefixRegistry registry(prefix.path(), CodePage::single_byte(1252));
        registry.set_view(view);
        for (const auto& test : view_cases) {
            SCOPED_TRACE(std::string(view == View::own ? "32: " : "64: ") + test.path);
            EXPECT_EQ(describe(registry, test.root, test.path), view == View::own ? test.bits32 : test.bits64);
        }
    }
    // A prefix of 32-bit Wine has the one view.
    prefix.write("system.reg",
        "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\Machine\n\n#arch=win32\n\n"
        "[System\\\\Nest\\\\Wow6432Node] 1\n@=\"nest 32\"\n");
    WinePrefixRegistry single(prefix.path(), CodePage::single_byte(1252));
    EXPECT_EQ(describe(single, local_machine, "System\\Nest"), " [Wow6432Node]");
}

} // namespace
} // namespace hivedump::registry
