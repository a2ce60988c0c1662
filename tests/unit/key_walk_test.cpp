#include "format/export_format.h"
#include "memory_registry.h"
#include "test_support.h"
#include "walk/key_walk.h"

#include <gtest/gtest.h>

#include <optional>

namespace hivedump {
namespace {

using registry::MemoryRegistry;
using testing::bytes_of;
using testing::crlf;
using testing::MemorySink;
using Call = MemoryRegistry::Call;

/// One walk into memory: the file text, standard output and the result.
struct Walk {
    MemoryRegistry registry;
    MemorySink file;
    MemorySink console;
    std::optional<KeyExport> result;

    std::string run(std::string_view master_key, const std::string& key_path)
    {
        TextStream stream(file);
        ExportContext context{ registry, stream, console, registry.code_page(), registry };
        result = export_master_key(context, master_key, key_path);
        stream.close();
        return file.text();
    }
};

TEST(KeyWalk, KeyWithValuesAndEmptySubkey)
{
    Walk walk;
    auto& editor = walk.registry.key(registry::current_user, "Software\\Velmora\\Editor");
    walk.registry.set_string(editor, "Font", "Courier");
    walk.registry.key(registry::current_user, "Software\\Velmora\\Editor\\Fonts");
    EXPECT_EQ(walk.run("HKEY_CURRENT_USER", "Software\\Velmora\\Editor"),
        crlf("[HKEY_CURRENT_USER\\Software\\Velmora\\Editor]\n\"Font\"=\"Courier\"\n\n"
             "[HKEY_CURRENT_USER\\Software\\Velmora\\Editor\\Fonts]\n\n"));
    EXPECT_EQ(walk.result, KeyExport::whole);
    EXPECT_EQ(walk.registry.open_handle_count(), 0u);
}

TEST(KeyWalk, DepthFirstInEnumerationOrderWithPathsAsTypedAndListed)
{
    Walk walk;
    walk.registry.key(registry::users, "A\\x\\deep");
    walk.registry.key(registry::users, "A\\y");
    walk.registry.key(registry::users, "B");
    EXPECT_EQ(
        walk.run("HKEY_USERS", "a"), crlf("[HKEY_USERS\\a]\n\n[HKEY_USERS\\a\\x]\n\n[HKEY_USERS\\a\\x\\deep]\n\n[HKEY_USERS\\a\\y]\n\n"));
}

TEST(KeyWalk, MasterKeyItselfHasSubkeysNamedAlone)
{
    Walk walk;
    walk.registry.key(registry::users, "One");
    EXPECT_EQ(walk.run("HKEY_USERS", ""), crlf("[HKEY_USERS]\n\n[HKEY_USERS\\One]\n\n"));
}

TEST(KeyWalk, TrailingBackslashDoublesBeforeSubkeyNames)
{
    Walk walk;
    walk.registry.key(registry::current_user, "Software\\Fonts");
    EXPECT_EQ(
        walk.run("HKEY_CURRENT_USER", "Software\\"), crlf("[HKEY_CURRENT_USER\\Software\\]\n\n[HKEY_CURRENT_USER\\Software\\\\Fonts]\n\n"));
}

TEST(KeyWalk, MasterKeyNamesMatchExactly)
{
    for (const char* name : { "hkey_current_user", "HKEY_CURRENT_USER ", "HKCU", "", "-x" }) {
        Walk walk;
        EXPECT_EQ(walk.run(name, "Software"), "");
        EXPECT_EQ(walk.console.text(), std::string("not found master key in [") + name + "]\n");
        EXPECT_EQ(walk.result, KeyExport::not_opened);
    }
}

TEST(KeyWalk, KeyThatDoesNotOpenWritesNothing)
{
    Walk walk;
    EXPECT_EQ(walk.run("HKEY_CURRENT_USER", "Missing"), "");
    EXPECT_EQ(walk.console.text(), "");
    EXPECT_EQ(walk.result, KeyExport::not_opened);
}

TEST(KeyWalk, SubkeyThatFailsToOpenIsNamedUnlessItHoldsNothing)
{
    // A key still listed but not opening is left out; one deleted since it
    // was listed, or a link that leads nowhere, holds nothing to export; one
    // deleted and made again meanwhile is opened again.
    struct Case {
        const char* label;
        registry::Status open;
        int failed_opens;
        bool listed_again;
        bool dangling;
        std::string console;
    };
    const std::string named = "can't export key [HKEY_USERS\\K\\a]\n";
    const std::string without_a = "[HKEY_USERS\\K]\n\n[HKEY_USERS\\K\\b]\n\n";
    const std::string with_a = "[HKEY_USERS\\K]\n\n[HKEY_USERS\\K\\a]\n\n[HKEY_USERS\\K\\b]\n\n";
    const Case cases[] = {
        { "denied", registry::status::access_denied, 1, true, false, named },
        { "not found, still listed", registry::status::file_not_found, 3, true, false, named },
        { "made again meanwhile", registry::status::file_not_found, 2, true, false, "" },
        { "deleted meanwhile", registry::status::file_not_found, 1, false, false, "" },
        { "key deleted meanwhile", registry::status::key_deleted, 1, false, false, "" },
        { "link to nothing", registry::status::file_not_found, 0, true, true, "" },
    };
    for (const auto& c : cases) {
        Walk walk;
        walk.registry.key(registry::users, "K\\a").dangling_link = c.dangling;
        walk.registry.key(registry::users, "K\\b");
        for (int open = 0; open < c.failed_opens; ++open)
            walk.registry.fail(Call::open_key, 2 + open, c.open); // the first is K itself
        if (!c.listed_again)
            walk.registry.fail(Call::enum_key, 2, registry::status::no_more_items); // asked again for a
        bool exported = c.failed_opens == 2;
        EXPECT_EQ(walk.run("HKEY_USERS", "K"), crlf(exported ? with_a : without_a)) << c.label;
        EXPECT_EQ(walk.console.text(), c.console) << c.label;
        EXPECT_EQ(walk.registry.open_handle_count(), 0u);
    }
}

TEST(KeyWalk, FailingSubkeyEnumerationEndsThatKeysSubkeys)
{
    Walk walk;
    walk.registry.key(registry::users, "K\\a\\inner");
    walk.registry.key(registry::users, "K\\b");
    walk.registry.fail(Call::enum_key, 2, registry::status::access_denied); // a's first subkey
    EXPECT_EQ(walk.run("HKEY_USERS", "K"), crlf("[HKEY_USERS\\K]\n\n[HKEY_USERS\\K\\a]\n\n[HKEY_USERS\\K\\b]\n\n"));
}

TEST(KeyWalk, ValueThatFailsItsReadIsPassedOverAlone)
{
    Walk walk;
    auto& key = walk.registry.key(registry::users, "K");
    walk.registry.set_dword(key, "one", 1);
    walk.registry.set_dword(key, "two", 2);
    walk.registry.set_dword(key, "three", 3);
    walk.registry.fail(Call::enum_value, 2, registry::status::file_not_found);
    EXPECT_EQ(walk.run("HKEY_USERS", "K"), crlf("[HKEY_USERS\\K]\n\"one\"=dword:00000001\n\"three\"=dword:00000003\n\n"));
}

TEST(KeyWalk, FailingInformationQueryWritesNoValues)
{
    Walk walk;
    auto& key = walk.registry.key(registry::users, "K");
    walk.registry.set_dword(key, "one", 1);
    walk.registry.fail(Call::query_info_key, 1);
    EXPECT_EQ(walk.run("HKEY_USERS", "K"), crlf("[HKEY_USERS\\K]\n\n"));
}

TEST(KeyWalk, BuffersThatCannotBeHadAbandonTheKeyAndTheWalkGoesOn)
{
    for (int failing : { 1, 2 }) { // the data buffer, then the second one
        Walk walk;
        walk.registry.set_dword(walk.registry.key(registry::users, "K\\a"), "v", 1);
        walk.registry.key(registry::users, "K\\a\\child");
        walk.registry.set_dword(walk.registry.key(registry::users, "K\\b"), "v", 2);
        walk.registry.fail(Call::allocate, failing);
        EXPECT_EQ(walk.run("HKEY_USERS", "K"), crlf("[HKEY_USERS\\K]\n\n[HKEY_USERS\\K\\a]\n[HKEY_USERS\\K\\b]\n\"v\"=dword:00000002\n\n"));
        EXPECT_EQ(walk.console.text(), "no enough memory\ncan't export key [HKEY_USERS\\K\\a]\n");
        EXPECT_EQ(walk.registry.open_handle_count(), 0u);
    }
}

TEST(KeyWalk, KeyWithoutValuesAllocatesNothing)
{
    Walk walk;
    walk.registry.key(registry::users, "K");
    walk.registry.fail(Call::allocate, 1, 0, MemoryRegistry::Repeat::from_then_on);
    EXPECT_EQ(walk.run("HKEY_USERS", "K"), crlf("[HKEY_USERS\\K]\n\n"));
}

TEST(KeyWalk, ValueLargerThanReportedIsReadAgainIntoBiggerBuffers)
{
    Walk walk;
    auto& key = walk.registry.key(registry::users, "K");
    walk.registry.set_value(key, "big", 3, std::vector<std::byte>(10000, std::byte{ 0xab }));
    walk.registry.set_dword(key, "after", 7);
    key.reported_max_data = 10; // as if it grew after the information query
    std::string text = walk.run("HKEY_USERS", "K");
    std::size_t digit_pairs = 0;
    for (auto at = text.find("ab"); at != std::string::npos; at = text.find("ab", at + 2))
        ++digit_pairs;
    EXPECT_EQ(digit_pairs, 10000u);
    EXPECT_NE(text.find("\"after\"=dword:00000007"), std::string::npos);
    EXPECT_EQ(walk.registry.calls(Call::enum_value), 3);
}

TEST(KeyWalk, GrowthFailureCostsOnlyThatValue)
{
    Walk walk;
    auto& key = walk.registry.key(registry::users, "K");
    walk.registry.set_dword(key, "before", 1);
    walk.registry.set_value(key, "big", 3, std::vector<std::byte>(10000, std::byte{ 0xab }));
    walk.registry.set_dword(key, "after", 2);
    walk.registry.key(registry::users, "K\\sub");
    key.reported_max_data = 10;
    walk.registry.fail(Call::allocate, 3); // the two first buffers, then the grown one
    EXPECT_EQ(walk.run("HKEY_USERS", "K"),
        crlf("[HKEY_USERS\\K]\n\"before\"=dword:00000001\n\"after\"=dword:00000002\n\n[HKEY_USERS\\K\\sub]\n\n"));
    EXPECT_EQ(walk.console.text(), "no enough memory\ncan't export key [HKEY_USERS\\K]\n");
}

TEST(KeyWalk, LongValueNameIsReadAgainWithRoomForIt)
{
    Walk walk;
    auto& key = walk.registry.key(registry::users, "K");
    std::string name(10000, 'n');
    walk.registry.set_dword(key, name, 1);
    EXPECT_EQ(walk.run("HKEY_USERS", "K"), crlf("[HKEY_USERS\\K]\n\"" + name + "\"=dword:00000001\n\n"));
}

TEST(KeyWalk, ValueThatNeverFitsIsPassedOverAfterBoundedRetries)
{
    Walk walk;
    auto& key = walk.registry.key(registry::users, "K");
    walk.registry.set_dword(key, "v", 1);
    walk.registry.fail(Call::enum_value, 1, registry::status::more_data, MemoryRegistry::Repeat::from_then_on);
    EXPECT_EQ(walk.run("HKEY_USERS", "K"), crlf("[HKEY_USERS\\K]\n\n"));
    EXPECT_EQ(walk.console.text(), "can't export key [HKEY_USERS\\K]\n");
    EXPECT_LE(walk.registry.calls(Call::enum_value), 8);
}

TEST(ValueExport, HugeStringIsEscapedInPiecesWithoutCuttingACharacter)
{
    // Pieces of 64 KiB: put a lead byte last in the first one, its trail
    // byte a backslash, and plain backslashes around.
    Walk walk;
    walk.registry.set_code_page(CodePage::from_number(932));
    std::string text(65535, 'a');
    text += "\x95\\\\\"";
    text += std::string(200000, '\\');
    walk.registry.set_string(walk.registry.key(registry::users, "K"), "", text);
    std::string escaped;
    escape_text(text, walk.registry.code_page(), escaped);
    EXPECT_EQ(walk.run("HKEY_USERS", "K"), crlf("[HKEY_USERS\\K]\n@=\"" + escaped + "\"\n\n"));
}

TEST(ValueExport, ShortDoubleWordNeverShowsAnEarlierValuesBytes)
{
    Walk walk;
    auto& key = walk.registry.key(registry::users, "K");
    walk.registry.set_value(key, "full", 3, bytes_of({ 0xff, 0xff, 0xff, 0xff }));
    walk.registry.set_value(key, "one", 4, bytes_of({ 0x05 }));
    walk.registry.set_value(key, "empty", 5, {});
    EXPECT_EQ(walk.run("HKEY_USERS", "K"),
        crlf("[HKEY_USERS\\K]\n\"full\"=hex:ff,ff,ff,ff\n\"one\"=dword:00000005\n\"empty\"=dword:00000000\n\n"));
}

TEST(ValueExport, EscapingFollowsTheRegistrysCodePage)
{
    Walk walk;
    walk.registry.set_code_page(CodePage::from_number(932));
    auto& key = walk.registry.key(registry::users, "K");
    walk.registry.set_string(key, "\x83\x93\\\x95\\", "\x95\"");
    EXPECT_EQ(walk.run("HKEY_USERS", "K"), crlf("[HKEY_USERS\\K]\n\"\x83\x93\\\\\x95\\\"=\"\x95\"\"\n\n"));
}

TEST(KeyWalk, NamesTheKeysBelowTheDepthLimit)
{
    Walk walk;
    std::string path = "K";
    for (int i = 0; i < 600; ++i)
        path += "\\d";
    walk.registry.key(registry::users, path);
    walk.registry.key(registry::users, path.substr(0, 2 + 2 * 512) + "\\other");
    std::string text = walk.run("HKEY_USERS", "K");
    // The exported key and the 512 levels below it; the subkeys of the last
    // are named as left out, with their subtrees.
    EXPECT_EQ(std::count(text.begin(), text.end(), '['), 513);
    std::string last = "HKEY_USERS\\" + path.substr(0, 1 + 2 * 512);
    EXPECT_EQ(walk.console.text(), "can't export key [" + last + "\\d]\ncan't export key [" + last + "\\other]\n");
    EXPECT_EQ(walk.registry.open_handle_count(), 0u);
}

TEST(KeyWalk, LinkBackUpTheTreeIsWrittenButNotDescended)
{
    Walk walk;
    auto& top = walk.registry.key(registry::users, "K");
    walk.registry.set_dword(top, "v", 1);
    auto& loop = walk.registry.key(registry::users, "K\\sub\\loop");
    loop.link = &top;
    auto& self = walk.registry.key(registry::users, "K\\self");
    self.link = &self;
    auto& out = walk.registry.key(registry::users, "Elsewhere");
    walk.registry.key(registry::users, "Elsewhere\\inside");
    walk.registry.key(registry::users, "K\\out").link = &out;
    EXPECT_EQ(walk.run("HKEY_USERS", "K"),
        crlf("[HKEY_USERS\\K]\n\"v\"=dword:00000001\n\n"
             "[HKEY_USERS\\K\\sub]\n\n"
             "[HKEY_USERS\\K\\sub\\loop]\n\"v\"=dword:00000001\n\n"
             "[HKEY_USERS\\K\\out]\n\n"
             "[HKEY_USERS\\K\\out\\inside]\n\n"));
    EXPECT_EQ(walk.registry.open_handle_count(), 0u);
}

TEST(KeyWalk, KeyReachedThroughManyLinksHasItsSubtreeWalkedEightTimes)
{
    Walk walk;
    auto& target = walk.registry.key(registry::users, "T");
    walk.registry.key(registry::users, "T\\x");
    std::string expected;
    for (char link = 'a'; link <= 'j'; ++link) {
        std::string path = std::string("K\\") + link;
        walk.registry.key(registry::users, path).link = &target;
        expected += "[HKEY_USERS\\" + path + "]\n\n";
        if (link < 'i')
            expected += "[HKEY_USERS\\" + path + "\\x]\n\n";
    }
    EXPECT_EQ(walk.run("HKEY_USERS", "K"), crlf("[HKEY_USERS\\K]\n\n" + expected));
    EXPECT_EQ(walk.registry.open_handle_count(), 0u);
}

} // namespace
} // namespace hivedump
