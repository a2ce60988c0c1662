#include "wine/locale_code_page.h"
#include "wine/prefix_registry.h"
#include "wine_test_prefix.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace hivedump::registry {
namespace {

using namespace hivedump::wine;
using wine_test::header;
using wine_test::link_value;
using wine_test::TemporaryPrefix;

std::string hex(std::string_view bytes)
{
    std::string out;
    char digits[3];
    for (unsigned char byte : bytes) {
        std::snprintf(digits, sizeof digits, "%02x", byte);
        out += digits;
    }
    return out;
}

/// Writes a subtree in the form the Win32 probe printed under wine64 for the
/// expected files: the same calls, the same buffers, every status.
void dump(Registry& registry, Handle key, const std::string& path, int depth, std::ostream& out)
{
    std::vector<std::byte> data(1 << 20);
    KeyInfo info;
    Status status = registry.query_info_key(key, info);
    out << "K " << hex(path) << " info=" << status << " nv=" << info.value_count << " mvd=" << info.max_value_data_size << "\n";
    for (std::uint32_t index = 0; index < info.value_count + 1; ++index) {
        std::vector<char> name(4096, '\0');
        ValueRead read{ name, data, 4096, static_cast<std::uint32_t>(data.size()), 0 };
        status = registry.enum_value(key, index, read);
        if (status == status::no_more_items)
            break;
        out << "  V" << index << " st=" << status << " nl=" << read.name_length << " name=" << hex(name.data()) << " type=" << read.type
            << " ds=" << read.data_size << " data=";
        if (status == status::success)
            out << hex({ reinterpret_cast<const char*>(data.data()), read.data_size });
        out << "\n";
    }
    if (depth == 0)
        return;
    for (std::uint32_t index = 0;; ++index) {
        std::vector<char> name(4096);
        status = registry.enum_key(key, index, name);
        if (status != status::success)
            break;
        Handle subkey;
        status = registry.open_key(key, name.data(), subkey);
        if (status != status::success) {
            out << "  open " << hex(name.data()) << " st=" << status << "\n";
            continue;
        }
        dump(registry, subkey, path + "\\" + name.data(), depth - 1, out);
        registry.close_key(subkey);
    }
}

std::string read_file(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The expected files hold what tools/registry_dump.c printed under wine64 (Wine 8.0)
// with the same file in a prefix: escapes, value forms, bad lines, merged
// sections, name limits, order, links (chains past the limit, dangling,
// loops, text targets, keys created through a link), in both code pages.
TEST(WinePrefixRegistry, MatchesWhatWineShowsForEveryFileForm)
{
    struct Case {
        std::uint32_t code_page;
        const char* expected;
    };
    for (const auto& test : { Case{ 1252, "expected_1252.txt" }, Case{ 932, "expected_932.txt" } }) {
        SCOPED_TRACE(test.code_page);
        std::string prefix = std::string(HIVEDUMP_WINE_TEST_DATA) + "/forms";
        WinePrefixRegistry registry(prefix, CodePage::from_number(test.code_page));
        Handle key;
        ASSERT_EQ(registry.open_key(current_user, "Software\\T", key), status::success);
        std::ostringstream out;
        out << "open=0\n";
        dump(registry, key, "Software\\T", 3, out);
        EXPECT_EQ(out.str(), read_file(prefix + "/" + test.expected));
        EXPECT_FALSE(registry.unreadable_file());
    }
}

TEST(WinePrefixRegistry, BufferStatusesFollowTheAFunctions)
{
    TemporaryPrefix prefix;
    prefix.write("user.reg", std::string(header) + "[Key\\\\Sub] 1\n\"Name\"=\"\\x00e9t\\x00e9\"\n\"Bin\"=hex:01,02,03\n");
    WinePrefixRegistry registry(prefix.path(), CodePage::single_byte(1252));
    Handle key;
    ASSERT_EQ(registry.open_key(current_user, "key", key), status::success);
    std::vector<char> name(4);
    EXPECT_EQ(registry.enum_key(key, 0, std::span<char>(name).first(3)), status::more_data); // "Sub" needs 4 with its zero
    EXPECT_EQ(registry.enum_key(key, 0, name), status::success);
    EXPECT_STREQ(name.data(), "Sub");
    EXPECT_EQ(registry.enum_key(key, 1, name), status::no_more_items);
    ASSERT_EQ(registry.open_key(key, "SUB", key), status::success);

    struct Case {
        std::uint32_t index;
        std::uint32_t name_capacity;
        std::uint32_t data_capacity;
        Status status;
        std::uint32_t data_size;
    };
    const Case cases[] = {
        { 0, 4, 3, status::success, 3 }, // "Bin" and its zero fill the name buffer
        { 0, 3, 3, status::more_data, 3 }, // one byte short of the name
        { 0, 4, 2, status::more_data, 3 }, // data one byte short: the size needed comes back
        { 1, 5, 4, status::success, 4 }, // "été" and its zero in 1252
        { 1, 5, 3, status::more_data, 4 }, // the zero does not fit
        { 2, 5, 4, status::no_more_items, 0 }, // past the end
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.index * 100 + test.name_capacity * 10 + test.data_capacity);
        std::vector<char> value_name(16);
        std::vector<std::byte> data(16);
        ValueRead read{ value_name, data, test.name_capacity, test.data_capacity, 0 };
        EXPECT_EQ(registry.enum_value(key, test.index, read), test.status);
        if (test.status != status::no_more_items) {
            EXPECT_EQ(read.data_size, test.data_size);
        }
    }
    KeyInfo info;
    ASSERT_EQ(registry.query_info_key(key, info), status::success);
    EXPECT_EQ(info.value_count, 2u);
    EXPECT_EQ(info.max_value_data_size, 8u); // as stored: three UTF-16 units and the zero
}

TEST(WinePrefixRegistry, MasterKeysMapOntoTheFiles)
{
    TemporaryPrefix prefix;
    prefix.write("system.reg",
        "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\Machine\n\n"
        "[Software\\\\Classes\\\\.txt] 1\n@=\"txtfile\"\n[System\\\\Setup] 1\n");
    prefix.write("user.reg", "WINE REGISTRY Version 2\r\n;; All keys relative to \\\\User\\\\S-1-5-21-7\r\n\r\n[Software\\\\Mine] 1\r\n");
    prefix.write("userdef.reg", "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\User\\\\.Default\n\n[Control Panel] 1\n");
    WinePrefixRegistry registry(prefix.path(), CodePage::single_byte(1252));

    struct Case {
        Handle root;
        const char* path;
        Status status;
    };
    const Case cases[] = {
        { classes_root, ".txt", status::success },
        { local_machine, "software\\classes\\.TXT", status::success },
        { local_machine, "System\\Setup\\", status::success },
        { local_machine, "System\\\\Setup", status::success },
        { local_machine, "\\System", 161 },
        { local_machine, "Hardware", status::file_not_found },
        { current_user, "Software\\Mine", status::success },
        { users, "S-1-5-21-7\\Software\\Mine", status::success },
        { users, ".default\\Control Panel", status::success },
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.path);
        Handle key;
        EXPECT_EQ(registry.open_key(test.root, test.path, key), test.status);
        if (test.status == status::success)
            registry.close_key(key);
    }
    std::vector<char> name(64);
    ASSERT_EQ(registry.enum_key(users, 0, name), status::success);
    EXPECT_STREQ(name.data(), ".Default");
    ASSERT_EQ(registry.enum_key(users, 1, name), status::success);
    EXPECT_STREQ(name.data(), "S-1-5-21-7");
    EXPECT_FALSE(registry.unreadable_file());
}

TEST(WinePrefixRegistry, LinksLeadToTheKeyTheyName)
{
    auto target = link_value;
    TemporaryPrefix prefix;
    prefix.write("user.reg",
        std::string(header) + "[A\\\\B] 1\n\"v\"=\"1\"\n[A\\\\Up] 1\n#link\n" + target("\\Registry\\User\\S-1-5-21-0-0-0-1000\\A")
            + "[A\\\\ToMachine] 1\n#link\n" + target("\\REGISTRY\\MACHINE\\Software"));
    prefix.write("system.reg", "WINE REGISTRY Version 2\n\n[Software\\\\Wine] 1\n");
    WinePrefixRegistry registry(prefix.path(), CodePage::single_byte(1252));
    Handle a, up, through, wine_key;
    ASSERT_EQ(registry.open_key(current_user, "A", a), status::success);
    ASSERT_EQ(registry.open_key(a, "Up", up), status::success);
    EXPECT_EQ(registry.key_identity(up), registry.key_identity(a));
    ASSERT_EQ(registry.open_key(a, "up\\up\\B", through), status::success);
    EXPECT_NE(registry.key_identity(through), registry.key_identity(a));
    ASSERT_EQ(registry.open_key(a, "ToMachine\\Wine", wine_key), status::success);
    // The server's limit is on links leading to links; the links of one path
    // are each followed afresh (chains and loops past it are in the forms).
    std::string many_links;
    for (int count = 0; count < 40; ++count)
        many_links += "Up\\";
    EXPECT_EQ(registry.open_key(a, many_links + "B", through), status::success);
}

// Recorded under wine64: the server reads system.reg, then userdef.reg, then
// user.reg, and a section below a link is made where the link leads only if
// all but the target's last name are there by then.
TEST(WinePrefixRegistry, KeysMadeThroughLinksFollowTheServersFileOrder)
{
    struct Case {
        const char* file;
        const char* target;
        bool made;
    };
    const std::string user = "\\Registry\\User\\S-1-5-21-0-0-0-1000\\Software\\T2\\N";
    const Case cases[] = {
        { "system.reg", "\\Registry\\User\\.Default\\Software\\N", false },
        { "system.reg", user.c_str(), false },
        { "system.reg", "\\Registry\\Machine\\Software\\N", true },
        { "userdef.reg", user.c_str(), false },
        { "userdef.reg", "\\Registry\\Machine\\Software\\N", true },
        { "userdef.reg", "\\Registry\\User\\.Default\\Software\\N", true },
        { "user.reg", "\\Registry\\User\\.Default\\Software\\N", true },
        { "user.reg", "\\Registry\\Machine\\Software\\N", true },
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(std::string(test.file) + " -> " + test.target);
        TemporaryPrefix prefix;
        std::string files[] = { "WINE REGISTRY Version 2\n\n[Software\\\\T] 1\n",
            "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\User\\\\.Default\n\n[Software\\\\T] 1\n",
            std::string(header) + "[Software\\\\T2] 1\n" };
        const char* names[] = { "system.reg", "userdef.reg", "user.reg" };
        for (int index = 0; index < 3; ++index) {
            if (names[index] == std::string_view(test.file))
                files[index] += "[Software\\\\T\\\\L] 1\n#link\n" + link_value(test.target) + "[Software\\\\T\\\\L\\\\child] 1\n";
            prefix.write(names[index], files[index]);
        }
        WinePrefixRegistry registry(prefix.path(), CodePage::single_byte(1252));
        Handle root = test.file == std::string_view("system.reg") ? local_machine
            : test.file == std::string_view("user.reg")           ? current_user
                                                                  : users;
        Handle key;
        auto path = std::string(test.file == std::string_view("userdef.reg") ? ".Default\\" : "") + "Software\\T\\L\\child";
        EXPECT_EQ(registry.open_key(root, path, key) == status::success, test.made);
    }
}

// Recorded under wine64: a userdef.reg section naming a link to a key of
// system.reg sets that key's values after system.reg's own.
TEST(WinePrefixRegistry, ValuesSetThroughLinksCountInTheServersFileOrder)
{
    TemporaryPrefix prefix;
    prefix.write("system.reg", "WINE REGISTRY Version 2\n\n[Software\\\\E] 1\n\"v\"=\"system\"\n");
    prefix.write("userdef.reg",
        "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\User\\\\.Default\n\n[L] 1\n#link\n"
            + link_value("\\Registry\\Machine\\Software\\E") + "[L] 1\n\"v\"=\"userdef\"\n");
    prefix.write("user.reg", std::string(header));
    // Whichever file the run reads first.
    for (Handle root : { users, local_machine }) {
        WinePrefixRegistry registry(prefix.path(), CodePage::single_byte(1252));
        Handle key;
        ASSERT_EQ(registry.open_key(root, root == users ? ".Default\\L" : "Software\\E", key), status::success);
        std::vector<char> name(16);
        std::vector<std::byte> data(16);
        ValueRead read{ name, data, 16, 16, 0 };
        ASSERT_EQ(registry.enum_value(key, 0, read), status::success);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(data.data())), "userdef");
    }
}

TEST(WinePrefixRegistry, UnreadablePrefixesAreReported)
{
    TemporaryPrefix prefix;
    {
        WinePrefixRegistry registry(prefix.path() + "/missing", CodePage::single_byte(1252));
        Handle key;
        registry.open_key(local_machine, "Software", key);
        EXPECT_EQ(registry.unreadable_file(), prefix.path() + "/missing");
    }
    prefix.write("system.reg", "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software]\n");
    prefix.write("user.reg", std::string(header) + "[Software] 1\n");
    {
        // Exporting the user's key reads no system.reg.
        WinePrefixRegistry registry(prefix.path(), CodePage::single_byte(1252));
        Handle key;
        EXPECT_EQ(registry.open_key(current_user, "Software", key), status::success);
        EXPECT_FALSE(registry.unreadable_file());
        EXPECT_EQ(registry.open_key(local_machine, "Software", key), status::file_not_found);
        EXPECT_EQ(registry.unreadable_file(), prefix.path() + "/system.reg");
    }
    WinePrefixRegistry registry(prefix.path(), CodePage::single_byte(1252));
    EXPECT_EQ(registry.registry_files(),
        (std::vector<std::string>{ prefix.path() + "/system.reg", prefix.path() + "/user.reg", prefix.path() + "/userdef.reg" }));
}

TEST(WinePrefixRegistry, VeryDeepKeysParse)
{
    std::string file(header);
    file += "[";
    for (int depth = 0; depth < 100000; ++depth)
        file += "k\\\\";
    file += "leaf] 1\n\"v\"=dword:1\n";
    TemporaryPrefix prefix;
    prefix.write("user.reg", file);
    WinePrefixRegistry registry(prefix.path(), CodePage::single_byte(1252));
    Handle key = current_user;
    for (int depth = 0; depth < 100000; ++depth) {
        Handle next;
        ASSERT_EQ(registry.open_key(key, "k", next), status::success);
        if (key != current_user)
            registry.close_key(key);
        key = next;
    }
    Handle leaf;
    EXPECT_EQ(registry.open_key(key, "LEAF", leaf), status::success);
}

TEST(WinePrefixRegistry, CodePageFollowsTheLocaleName)
{
    struct Case {
        const char* locale;
        std::uint32_t code_page;
    };
    const Case cases[] = {
        { "C", 1252 },
        { "POSIX", 1252 },
        { "C.UTF-8", 1252 },
        { "de_DE.UTF-8", 1252 },
        { "ja_JP.UTF-8", 932 },
        { "ja_JP.eucJP", 932 },
        { "zh_CN.GB18030", 936 },
        { "zh_TW.UTF-8", 950 },
        { "ko_KR.UTF-8", 949 },
        { "pl_PL.UTF-8", 1250 },
        { "ru_RU.KOI8-R", 1251 },
        { "sr_RS.UTF-8@latin", 1250 },
        { "el_GR.UTF-8", 1253 },
        { "tr_TR.UTF-8", 1254 },
        { "he_IL.UTF-8", 1255 },
        { "ar_EG.UTF-8", 1256 },
        { "lt_LT.UTF-8", 1257 },
        { "vi_VN", 1258 },
        { "th_TH.UTF-8", 874 },
    };
    for (const auto& test : cases)
        EXPECT_EQ(code_page_for_locale(test.locale), test.code_page) << test.locale;
}

} // namespace
} // namespace hivedump::registry
