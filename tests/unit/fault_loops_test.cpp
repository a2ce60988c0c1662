// Every registry call, every value buffer and every write of the export file
// made to fail in turn, the n-th alone and every one from the n-th on, over
// whole runs: each run must still end well, with a file that reads back and
// with no more lost than the failing call accounts for.

#include "cli/export_run.h"
#include "export_reader.h"
#include "fault_fixture.h"
#include "memory_registry.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

namespace hivedump {
namespace {

using registry::MemoryRegistry;
using testing::ReadExport;
using testing::ReadKey;
using Call = MemoryRegistry::Call;
using Repeat = MemoryRegistry::Repeat;
using testing::fill_fault_fixture;

const std::string& exported_key = testing::fault_fixture_key;

const std::string no_memory = "no enough memory\n";

std::string left_out(const std::string& path) { return "can't export key [" + path + "]\n"; }

struct ExportRun {
    MemoryRegistry registry;
    testing::MemoryFiles files;
    testing::MemorySink console;
    int status = 0;

    ExportRun() { fill_fault_fixture(registry); }

    void operator()()
    {
        RunEnvironment environment{ registry, console, files, {}, registry };
        std::vector<std::string> arguments{ exported_key, "out.reg" };
        status = run_hivedump(arguments, environment);
    }
    std::string file() const { return files.files.count("out.reg") != 0 ? files.files.at("out.reg") : std::string(); }
    ReadExport read() const { return testing::read_export(file(), registry.code_page()); }
};

ReadExport clean_export()
{
    ExportRun run;
    run();
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.console.text(), "");
    return run.read();
}

bool is_below(const std::string& path, const std::string& ancestor) { return path.starts_with(ancestor + "\\"); }

/// The clean file without `lost` and the keys below it.
std::vector<ReadKey> without_subtree(std::vector<ReadKey> keys, const std::string& lost)
{
    std::erase_if(keys, [&](const ReadKey& key) { return key.path == lost || is_below(key.path, lost); });
    return keys;
}

/// One pass of a fault loop: the failing call's number and the failure's
/// repetition, for the messages.
std::string label(int nth, Repeat repeat)
{
    return "failing call " + std::to_string(nth) + (repeat == Repeat::once ? " alone" : " and on");
}

/// Runs with the n-th call of a kind failing, for n = 1, 2, ... until a run
/// no longer reaches the n-th call; `check` sees each run that did.
void fault_loop(Call call, Repeat repeat, const std::function<void(ExportRun&, int)>& check)
{
    for (int nth = 1;; ++nth) {
        ExportRun run;
        run.registry.fail(call, nth, registry::status::access_denied, repeat);
        run();
        if (run.registry.calls(call) < nth) {
            // A loop that never failed a call would prove nothing.
            EXPECT_GT(nth, 1);
            ::testing::Test::RecordProperty(repeat == Repeat::once ? "fault_points_once" : "fault_points_from_then_on", nth - 1);
            break;
        }
        SCOPED_TRACE(label(nth, repeat));
        EXPECT_EQ(run.registry.open_handle_count(), 0u);
        EXPECT_EQ(run.files.tally.closes, run.files.created);
        ASSERT_TRUE(run.read().ok()) << run.read().error << "\n" << run.file();
        check(run, nth);
    }
}

/// The exported key and those below it, in the order the walk visits them;
/// the clean file's first key is the one ancestor header.
std::vector<ReadKey> walked(const ReadExport& clean) { return { clean.keys.begin() + 1, clean.keys.end() }; }

TEST(FaultLoops, CleanRunReadsBackWhole)
{
    ReadExport clean = clean_export();
    ASSERT_TRUE(clean.ok()) << clean.error;
    ASSERT_EQ(clean.keys.size(), 7u);
    EXPECT_EQ(clean.keys[0].path, "HKEY_CURRENT_USER\\Software");
    const ReadKey* editor = clean.find(exported_key + "\\Editor");
    ASSERT_NE(editor, nullptr);
    EXPECT_EQ(editor->values.size(), 9u);
    EXPECT_EQ(editor->values[2].data.size(), 6000u);
}

TEST(FaultLoops, OpenKey)
{
    const ReadExport clean = clean_export();
    const auto keys = walked(clean);
    const std::vector<ReadKey> ancestors(clean.keys.begin(), clean.keys.begin() + 1);
    // Opens are made in walk order: the first is the exported key, the n-th
    // the (n-1)-th key below it, which is passed over with its subtree.
    // A key that does not open is named; the exported key itself is not
    // (it is as good as missing).
    fault_loop(Call::open_key, Repeat::once, [&](ExportRun& run, int nth) {
        EXPECT_EQ(run.status, nth == 1 ? 0 : -1);
        EXPECT_EQ(run.console.text(), nth == 1 ? "" : left_out(keys[nth - 1].path));
        EXPECT_EQ(run.read().keys, nth == 1 ? ancestors : without_subtree(clean.keys, keys[nth - 1].path));
    });
    fault_loop(Call::open_key, Repeat::from_then_on, [&](ExportRun& run, int nth) {
        EXPECT_EQ(run.status, nth == 1 ? 0 : -1);
        std::vector<ReadKey> expected(clean.keys.begin(), clean.keys.begin() + nth);
        EXPECT_EQ(run.read().keys, expected);
        // Each key listed below one that is written and then not opened.
        std::string messages;
        for (std::size_t i = nth; i < clean.keys.size() && nth > 1; ++i) {
            const std::string& path = clean.keys[i].path;
            auto parent = path.substr(0, path.rfind('\\'));
            if (std::any_of(expected.begin() + 1, expected.end(), [&](const ReadKey& key) { return key.path == parent; }))
                messages += left_out(path);
        }
        EXPECT_EQ(run.console.text(), messages);
    });
}

/// Each subkey enumeration of the walk: the key and the index asked for.
struct Enumeration {
    std::string path;
    std::size_t index;
};

void enumerations(const std::vector<ReadKey>& keys, const std::string& path, std::vector<Enumeration>& calls)
{
    std::vector<std::string> children;
    for (const auto& key : keys) {
        if (is_below(key.path, path) && key.path.find('\\', path.size() + 1) == std::string::npos)
            children.push_back(key.path);
    }
    for (std::size_t index = 0;; ++index) {
        calls.push_back({ path, index });
        if (index == children.size())
            return;
        enumerations(keys, children[index], calls);
    }
}

TEST(FaultLoops, EnumKey)
{
    const ReadExport clean = clean_export();
    std::vector<Enumeration> calls;
    enumerations(clean.keys, exported_key, calls);
    // A failing enumeration ends the subkeys of the key it was made for:
    // the one asked for and every later one are passed over.
    auto cut = [&](std::vector<ReadKey> keys, const Enumeration& failed) {
        std::vector<std::string> children;
        for (const auto& key : keys) {
            if (is_below(key.path, failed.path) && key.path.find('\\', failed.path.size() + 1) == std::string::npos)
                children.push_back(key.path);
        }
        for (std::size_t i = failed.index; i < children.size(); ++i)
            keys = without_subtree(keys, children[i]);
        return keys;
    };
    fault_loop(Call::enum_key, Repeat::once, [&](ExportRun& run, int nth) {
        ASSERT_LE(static_cast<std::size_t>(nth), calls.size());
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.console.text(), "");
        EXPECT_EQ(run.read().keys, cut(clean.keys, calls[nth - 1]));
    });
    fault_loop(Call::enum_key, Repeat::from_then_on, [&](ExportRun& run, int nth) {
        EXPECT_EQ(run.status, 0);
        std::vector<ReadKey> expected = clean.keys;
        for (std::size_t i = nth - 1; i < calls.size(); ++i)
            expected = cut(expected, calls[i]);
        EXPECT_EQ(run.read().keys, expected);
    });
}

TEST(FaultLoops, QueryInfoKey)
{
    const ReadExport clean = clean_export();
    // One query per key walked; a key whose query fails is written without
    // values, and nothing else changes.
    auto without_values_from = [&](int first, int last) {
        std::vector<ReadKey> keys = clean.keys;
        for (int i = first; i <= last && i < static_cast<int>(keys.size()); ++i)
            keys[i].values.clear();
        return keys;
    };
    fault_loop(Call::query_info_key, Repeat::once, [&](ExportRun& run, int nth) {
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.console.text(), "");
        EXPECT_EQ(run.read().keys, without_values_from(nth, nth));
    });
    fault_loop(Call::query_info_key, Repeat::from_then_on, [&](ExportRun& run, int nth) {
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.read().keys, without_values_from(nth, static_cast<int>(clean.keys.size())));
    });
}

/// Every value entry of a file, in file order, with its key.
std::vector<std::pair<std::string, testing::ReadValue>> all_values(const std::vector<ReadKey>& keys)
{
    std::vector<std::pair<std::string, testing::ReadValue>> values;
    for (const auto& key : keys) {
        for (const auto& value : key.values)
            values.emplace_back(key.path, value);
    }
    return values;
}

std::vector<std::string> paths_of(const std::vector<ReadKey>& keys)
{
    std::vector<std::string> paths;
    for (const auto& key : keys)
        paths.push_back(key.path);
    return paths;
}

TEST(FaultLoops, EnumValue)
{
    const ReadExport clean = clean_export();
    const auto clean_values = all_values(clean.keys);
    // A value that is read again after growing its buffers takes two calls,
    // so the failing call maps to a value only by order: the value lost
    // moves forward with the failing call, and every value is lost once.
    std::vector<bool> lost_once(clean_values.size(), false);
    std::size_t last_lost = 0;
    fault_loop(Call::enum_value, Repeat::once, [&](ExportRun& run, int) {
        EXPECT_EQ(run.status, -1);
        ReadExport read = run.read();
        EXPECT_EQ(paths_of(read.keys), paths_of(clean.keys));
        auto values = all_values(read.keys);
        ASSERT_EQ(values.size() + 1, clean_values.size()) << "exactly one value is lost";
        std::size_t lost = 0;
        while (lost < values.size() && values[lost] == clean_values[lost])
            ++lost;
        EXPECT_TRUE(std::equal(values.begin() + lost, values.end(), clean_values.begin() + lost + 1));
        EXPECT_GE(lost, last_lost);
        EXPECT_EQ(run.console.text(), left_out(clean_values[lost].first)) << "the key that lost a value is named";
        last_lost = lost;
        lost_once[lost] = true;
    });
    EXPECT_EQ(std::count(lost_once.begin(), lost_once.end(), false), 0);

    std::size_t kept_before = clean_values.size();
    fault_loop(Call::enum_value, Repeat::from_then_on, [&](ExportRun& run, int) {
        EXPECT_EQ(run.status, -1);
        ReadExport read = run.read();
        EXPECT_EQ(paths_of(read.keys), paths_of(clean.keys));
        auto values = all_values(read.keys);
        ASSERT_LT(values.size(), clean_values.size());
        EXPECT_TRUE(std::equal(values.begin(), values.end(), clean_values.begin())) << "the values before the failing call are kept";
        if (kept_before != clean_values.size()) {
            EXPECT_GE(values.size(), kept_before);
        }
        kept_before = values.size();
    });
}

/// The values of `key` are those of `clean` with some left out; returns how
/// many are missing, or -1 when the values differ otherwise.
int values_given_up(const ReadKey& key, const ReadKey& clean)
{
    std::size_t at = 0;
    for (const auto& value : key.values) {
        while (at < clean.values.size() && !(clean.values[at] == value))
            ++at;
        if (at == clean.values.size())
            return -1;
        ++at;
    }
    return static_cast<int>(clean.values.size() - key.values.size());
}

/// A run in which value buffers could not be had: every key either as in
/// the clean file, or abandoned, that is without its closing empty line and
/// without the keys below it, or missing only a value whose grown buffers
/// could not be had; "no enough memory" for each abandoned key or value
/// given up, and each such key named after it.
std::vector<std::string> abandoned_keys(const ExportRun& run, const ReadExport& clean)
{
    ReadExport read = run.read();
    std::vector<std::string> abandoned;
    std::vector<ReadKey> expected = clean.keys;
    for (const auto& key : read.keys) {
        if (!key.closed) {
            abandoned.push_back(key.path);
            expected = without_subtree(expected, key.path);
        }
    }
    std::size_t i = 0;
    std::string messages;
    for (const auto& key : read.keys) {
        auto clean_key = std::find_if(clean.keys.begin(), clean.keys.end(), [&](const ReadKey& k) { return k.path == key.path; });
        EXPECT_NE(clean_key, clean.keys.end()) << key.path;
        if (clean_key == clean.keys.end())
            continue;
        if (key.closed) {
            int missing = values_given_up(key, *clean_key);
            EXPECT_GE(missing, 0) << key.path << ": values other than those given up differ";
            for (int n = 0; n < missing; ++n)
                messages += no_memory;
            if (missing > 0)
                messages += left_out(key.path);
            EXPECT_LT(i, expected.size());
            if (i < expected.size()) {
                EXPECT_EQ(key.path, expected[i].path);
            }
            ++i;
        } else {
            messages += no_memory + left_out(key.path);
        }
    }
    EXPECT_EQ(i, expected.size()) << "keys other than those below an abandoned key went missing";
    EXPECT_EQ(run.console.text(), messages);
    return abandoned;
}

TEST(FaultLoops, Allocate)
{
    const ReadExport clean = clean_export();
    fault_loop(Call::allocate, Repeat::once, [&](ExportRun& run, int) {
        EXPECT_EQ(run.status, -1);
        EXPECT_LE(abandoned_keys(run, clean).size(), 1u);
        EXPECT_TRUE(run.console.text().starts_with(no_memory + "can't export key [")) << "one key abandoned or one value given up";
    });
    fault_loop(Call::allocate, Repeat::from_then_on, [&](ExportRun& run, int) {
        EXPECT_EQ(run.status, -1);
        EXPECT_GE(abandoned_keys(run, clean).size(), 1u);
    });
}

TEST(FaultLoops, AbandonedKeyHasItsHeaderLineAlone)
{
    const ReadExport clean = clean_export();
    // When a key's first buffers cannot be had, the key ends after its
    // header line, with nothing of its values. (Buffers grown for a value that
    // did not fit cost only that value: see GrowthFailureCostsOnlyThatValue.)
    for (Repeat repeat : { Repeat::once, Repeat::from_then_on }) {
        fault_loop(Call::allocate, repeat, [&](ExportRun& run, int) {
            for (const auto& key : run.read().keys) {
                if (!key.closed) {
                    EXPECT_TRUE(key.values.empty()) << key.path << " keeps " << key.values.size() << " values";
                }
            }
        });
    }
}

TEST(FaultLoops, ExportFileWrites)
{
    // The fixture's hex data fills the stream's buffer several times over.
    for (Repeat repeat : { Repeat::once, Repeat::from_then_on }) {
        int nth = 1;
        for (;; ++nth) {
            ExportRun run;
            if (repeat == Repeat::once)
                run.files.fail_write_at = nth;
            else
                run.files.fail_write_from = nth;
            run();
            if (run.files.tally.writes < nth)
                break;
            SCOPED_TRACE(label(nth, repeat));
            EXPECT_EQ(run.status, -1);
            EXPECT_EQ(run.console.text(), "can't write file [out.reg]\n");
            EXPECT_EQ(run.registry.open_handle_count(), 0u);
            EXPECT_EQ(run.files.tally.closes, 1);
        }
        EXPECT_GT(nth, 3) << "the export should take several writes";
    }
}

TEST(FaultLoops, ExportFileClose)
{
    ExportRun run;
    run.files.fail_close = true;
    run();
    EXPECT_EQ(run.status, -1);
    EXPECT_EQ(run.console.text(), "can't write file [out.reg]\n");
    EXPECT_EQ(run.registry.open_handle_count(), 0u);
    EXPECT_EQ(run.files.tally.closes, 1);
    EXPECT_TRUE(run.read().ok()) << "everything was written before the close";
}

} // namespace
} // namespace hivedump
