#include "cli/export_run.h"
#include "memory_registry.h"
#include "test_support.h"

#include <gtest/gtest.h>

namespace hivedump {
namespace {

using registry::MemoryRegistry;
using testing::crlf;

const std::string banner = "HIVEDUMP Ver 1.00  (c) 2026 the HIVEDUMP authors\n";
const std::string usage = "Usage : hivedump [-v] [key] outfile\n";
const std::string velmora_file = crlf("REGEDIT4\n\n[HKEY_CURRENT_USER\\Software]\n\n[HKEY_CURRENT_USER\\Software\\Velmora]\n\n"
                                      "[HKEY_CURRENT_USER\\Software\\Velmora\\Editor]\n\"Font\"=\"Courier\"\n\n"
                                      "[HKEY_CURRENT_USER\\Software\\Velmora\\Editor\\Fonts]\n\n");

struct Runner {
    MemoryRegistry registry;
    testing::MemorySink console;
    testing::MemoryFiles files;
    int status = 0;
    std::string notice;

    Runner()
    {
        auto& editor = registry.key(registry::current_user, "Software\\Velmora\\Editor");
        registry.set_string(editor, "Font", "Courier");
        registry.key(registry::current_user, "Software\\Velmora\\Editor\\Fonts");
        registry.key(registry::users, ".Default");
    }

    void operator()(std::vector<std::string> arguments)
    {
        RunEnvironment environment{ registry, console, files, notice };
        status = run_hivedump(arguments, environment);
    }
};

struct FormCase {
    const char* label;
    std::vector<std::string> arguments;
    int status;
    std::string console;
    std::map<std::string, std::string> files;
};

TEST(ArgumentForms, Table)
{
    const std::string header = crlf("REGEDIT4\n\n");
    const std::string default_key = crlf("REGEDIT4\n\n[HKEY_CURRENT_USER\\Software]\n\n[HKEY_CURRENT_USER\\Software\\Velmora]\n\n"
                                         "[HKEY_CURRENT_USER\\Software\\Velmora\\Editor]\n\"Font\"=\"Courier\"\n\n"
                                         "[HKEY_CURRENT_USER\\Software\\Velmora\\Editor\\Fonts]\n\n");
    const FormCase cases[] = {
        { "no arguments", {}, -1, usage, {} },
        { "four arguments", { "-v", "a", "b", "c" }, -1, usage, {} },
        { "three without switch", { "HKEY_USERS", "out", "more" }, -1, usage, {} },
        { "switch alone", { "-v" }, 0, banner, {} },
        { "other spellings", { "/V" }, 0, banner, {} },
        { "longer word is no switch", { "-verbose" }, 0, "", { { "-verbose", default_key } } },
        { "outfile alone", { "out.reg" }, 0, "", { { "out.reg", default_key } } },
        { "switch and outfile", { "/v", "out.reg" }, 0, banner, { { "out.reg", default_key } } },
        { "key and outfile", { "HKEY_CURRENT_USER\\Software\\Velmora\\Editor", "out.reg" }, 0, "", { { "out.reg", velmora_file } } },
        { "switch key outfile", { "-V", "HKEY_USERS", "o" }, 0, banner,
            { { "o", crlf("REGEDIT4\n\n[HKEY_USERS]\n\n[HKEY_USERS\\.Default]\n\n") } } },
        { "unknown switch is a key", { "-x", "o" }, 0, "not found master key in [-x]\n", { { "o", header } } },
        { "switch second is the outfile", { "HKEY_USERS\\.Default", "-v" }, 0, "",
            { { "-v", crlf("REGEDIT4\n\n[HKEY_USERS\\.Default]\n\n") } } },
        { "leading backslash", { "\\Software", "o" }, 0, "not found master key in []\n", { { "o", header } } },
        { "lower-case master key", { "hkey_users", "o" }, 0, "not found master key in [hkey_users]\n", { { "o", header } } },
        { "missing key keeps ancestors", { "HKEY_CURRENT_USER\\Software\\Nothing\\Here", "o" }, 0, "",
            { { "o", crlf("REGEDIT4\n\n[HKEY_CURRENT_USER\\Software]\n\n[HKEY_CURRENT_USER\\Software\\Nothing]\n\n") } } },
        { "trailing backslash", { "HKEY_CURRENT_USER\\Software\\Velmora\\Editor\\", "o" }, 0, "",
            { { "o",
                crlf("REGEDIT4\n\n[HKEY_CURRENT_USER\\Software]\n\n[HKEY_CURRENT_USER\\Software\\Velmora]\n\n"
                     "[HKEY_CURRENT_USER\\Software\\Velmora\\Editor]\n\n"
                     "[HKEY_CURRENT_USER\\Software\\Velmora\\Editor\\]\n\"Font\"=\"Courier\"\n\n"
                     "[HKEY_CURRENT_USER\\Software\\Velmora\\Editor\\\\Fonts]\n\n") } } },
    };
    for (const auto& c : cases) {
        Runner run;
        run(c.arguments);
        EXPECT_EQ(run.status, c.status) << c.label;
        EXPECT_EQ(run.console.text(), c.console) << c.label;
        EXPECT_EQ(run.files.files, c.files) << c.label;
        EXPECT_EQ(run.registry.open_handle_count(), 0u) << c.label;
    }
}

TEST(ExportRun, FileThatCannotBeCreatedTouchesNoRegistry)
{
    Runner run;
    run.files.refuse = true;
    run({ "HKEY_USERS", "dir" });
    EXPECT_EQ(run.status, -1);
    EXPECT_EQ(run.console.text(), "can't create file [dir]\n");
    EXPECT_EQ(run.registry.calls(MemoryRegistry::Call::open_key), 0);
}

TEST(ExportRun, NoticeComesAfterTheBannerAndOnlyWithAnExport)
{
    const std::string notice = "server running\n";
    struct Case {
        std::vector<std::string> arguments;
        bool refuse;
        std::string console;
    };
    const Case cases[] = {
        { { "-v", "HKEY_USERS", "o" }, false, banner + notice },
        { { "-x", "o" }, false, notice + "not found master key in [-x]\n" },
        { { "-v" }, false, banner },
        { {}, false, usage },
        { { "-v", "dir" }, true, banner + "can't create file [dir]\n" },
    };
    for (const auto& c : cases) {
        Runner run;
        run.notice = notice;
        run.files.refuse = c.refuse;
        run(c.arguments);
        EXPECT_EQ(run.console.text(), c.console) << c.console;
    }
}

TEST(ExportRun, LostWriteOrCloseIsReportedAndFails)
{
    for (bool failing_close : { false, true }) {
        Runner run;
        if (failing_close)
            run.files.fail_close = true;
        else
            run.files.fail_write_from = 1;
        run({ "-v", "HKEY_USERS", "full" });
        EXPECT_EQ(run.status, -1);
        EXPECT_EQ(run.console.text(), banner + "can't write file [full]\n");
    }
}

TEST(ExportRun, KeyNamedWithALineBreakIsLeftOutAndTheRunFails)
{
    // Written, "[HKEY_USERS\\K\\a\n[HKEY_LOCAL_MACHINE]" would import as values
    // of another master key.
    Runner run;
    run.registry.key(registry::users, "K\\a\n[HKEY_LOCAL_MACHINE]\r");
    run.registry.key(registry::users, "K\\b");
    run({ "HKEY_USERS\\K", "o" });
    EXPECT_EQ(run.status, -1);
    EXPECT_EQ(run.console.text(), "can't export key [HKEY_USERS\\K\\a\\n[HKEY_LOCAL_MACHINE]\\r]\n");
    EXPECT_EQ(run.files.files.at("o"), crlf("REGEDIT4\n\n[HKEY_USERS\\K]\n\n[HKEY_USERS\\K\\b]\n\n"));
}

TEST(ExportRun, ArgumentsLongerThanAnyBufferAreHeldWhole)
{
    Runner run;
    std::string key = "HKEY_USERS\\" + std::string(5000, 'k');
    std::string path(5000, 'p');
    run({ key, path });
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.files.files.at(path), crlf("REGEDIT4\n\n"));
}

TEST(ExportRun, KeyLongerThanAWindowsCommandLineIsAUsageError)
{
    // Counted in the UTF-16 units of a command line: a double-byte character
    // is one, so a key of 40,000 bytes may still be passed in code page 932.
    struct Case {
        std::uint32_t code_page;
        std::string key;
        int status;
    };
    const std::string master = "HKEY_USERS\\";
    const Case cases[] = {
        { 1252, master + std::string(32767 - master.size(), 'k'), 0 },
        { 1252, master + std::string(32768 - master.size(), 'k'), -1 },
        { 1252, std::string(130000, '\\'), -1 },
        { 932,
            master +
                [] {
                    std::string kanji;
                    for (int i = 0; i < 20000; ++i)
                        kanji += "\x93\xfa";
                    return kanji;
                }(),
            0 },
    };
    for (const auto& c : cases) {
        Runner run;
        run.registry.set_code_page(CodePage::from_number(c.code_page));
        run({ "-v", c.key, "o" });
        EXPECT_EQ(run.status, c.status) << c.key.size();
        EXPECT_EQ(run.console.text(), c.status == 0 ? banner : usage) << c.key.size();
        EXPECT_EQ(run.files.files.size(), c.status == 0 ? 1u : 0u);
    }
}

} // namespace
} // namespace hivedump
