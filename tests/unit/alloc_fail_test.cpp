// Every allocation of a whole run made to fail in turn, through the global
// operator new: the run must end with a complete file, with the value
// buffers' own behaviour, or with "no enough memory" and status -1; never a
// crash, and (under the sanitizer build) never a leak.

#include "cli/export_run.h"
#include "export_reader.h"
#include "fault_fixture.h"
#include "memory_registry.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "cli/entry_linux.h"
#include "wine/prefix_registry.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <memory>
#include <new>
#include <string>
#include <vector>

namespace {

// Armed only while a run is under test, so the test framework's own
// allocations never fail.
std::atomic<long> allocations{ 0 };
std::atomic<long> failing_allocation{ 0 };
std::atomic<bool> failing_from_then_on{ false };

bool allocation_fails()
{
    long nth = failing_allocation.load();
    if (nth == 0)
        return false;
    long count = ++allocations;
    return count == nth || (failing_from_then_on && count > nth);
}

void* allocate(std::size_t size)
{
    // malloc, so that the sanitizer still tracks every block for leaks.
    return allocation_fails() ? nullptr : std::malloc(size == 0 ? 1 : size);
}

// Out of line, or the compiler sees free() meet a block from operator new
// and warns of a mismatch that the replacement makes intended.
[[gnu::noinline]] void release(void* block) { std::free(block); }

} // namespace

void* operator new(std::size_t size)
{
    if (void* block = allocate(size))
        return block;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size)
{
    if (void* block = allocate(size))
        return block;
    throw std::bad_alloc();
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return allocate(size); }
void operator delete(void* block) noexcept { release(block); }
void operator delete[](void* block) noexcept { release(block); }
void operator delete(void* block, std::size_t) noexcept { release(block); }
void operator delete[](void* block, std::size_t) noexcept { release(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { release(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { release(block); }

namespace hivedump {
namespace {

using registry::MemoryRegistry;

const std::string no_memory = "no enough memory\n";

/// Writes into memory reserved beforehand, so that a sink never allocates:
/// a real file or console does not need the heap to take bytes either.
class ReservedSink final : public ByteSink {
public:
    explicit ReservedSink(std::string& target)
        : target_(target)
    {
    }
    bool write(std::span<const char> bytes) override
    {
        if (target_.size() + bytes.size() > target_.capacity())
            return false;
        target_.append(bytes.data(), bytes.size());
        return true;
    }

private:
    std::string& target_;
};

class ReservedFiles final : public OutputFiles {
public:
    explicit ReservedFiles(std::string& target)
        : target_(target)
    {
    }
    std::unique_ptr<ByteSink> create(const std::string&) override
    {
        target_.clear();
        return std::make_unique<ReservedSink>(target_);
    }

private:
    std::string& target_;
};

struct RunOutcome {
    int status = 0;
    std::string console;
    std::string file;
    std::size_t open_handles = 0;
    long allocations = 0;
};

/// What one loop runs: a registry made afresh for every run, and the key.
struct Input {
    std::function<std::unique_ptr<registry::Registry>()> make_registry;
    std::string key;
};

RunOutcome run_with_failing_allocation(const Input& input, long nth, bool from_then_on)
{
    auto registry = input.make_registry();
    RunOutcome outcome;
    outcome.console.reserve(1 << 12);
    outcome.file.reserve(1 << 16);
    ReservedSink console(outcome.console);
    ReservedFiles files(outcome.file);
    RunEnvironment environment{ *registry, console, files };
    if (auto* prefix = dynamic_cast<wine::WinePrefixRegistry*>(registry.get()))
        environment.unreadable_registry_file = prefix_run_environment(*prefix, console, files).unreadable_registry_file;
    std::vector<std::string> arguments{ input.key, "out.reg" };

    allocations = 0;
    failing_from_then_on = from_then_on;
    failing_allocation = nth;
    outcome.status = run_hivedump(arguments, environment);
    failing_allocation = 0;

    outcome.allocations = allocations;
    if (auto* memory = dynamic_cast<MemoryRegistry*>(registry.get()))
        outcome.open_handles = memory->open_handle_count();
    return outcome;
}

std::size_t count_of(const std::string& text, const std::string& part)
{
    std::size_t count = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size()))
        ++count;
    return count;
}

/// A run that ended with status -1 but wrote its file: the value buffers
/// could not be had. Each "no enough memory" stands for one key that ends
/// after its header line, without its subkeys, or for one value whose grown
/// buffers could not be had; each key concerned is named once.
void check_keys_abandoned(const RunOutcome& outcome, const testing::ReadExport& clean_read, std::size_t memory_lines, std::size_t named)
{
    auto read = testing::read_export(outcome.file, CodePage::single_byte(1252));
    ASSERT_TRUE(read.ok()) << read.error << "\n" << outcome.file;
    std::size_t messages = memory_lines;
    std::size_t unclosed = 0, keys_short = 0;
    for (const auto& key : read.keys) {
        const auto* clean_key = clean_read.find(key.path);
        ASSERT_NE(clean_key, nullptr) << key.path;
        if (key.closed) {
            std::size_t at = 0;
            for (const auto& value : key.values) {
                while (at < clean_key->values.size() && !(clean_key->values[at] == value))
                    ++at;
                EXPECT_LT(at, clean_key->values.size()) << key.path << ": a value changed";
                ++at;
            }
            unclosed += clean_key->values.size() - key.values.size();
            keys_short += clean_key->values.size() != key.values.size() ? 1 : 0;
        } else {
            ++unclosed;
            ++keys_short;
            for (const auto& other : read.keys)
                EXPECT_FALSE(other.path.starts_with(key.path + "\\")) << other.path << " below abandoned " << key.path;
        }
    }
    EXPECT_EQ(named, keys_short) << outcome.console;
    EXPECT_EQ(unclosed, messages);
}

void every_allocation_of_a_run(const Input& input)
{
    const RunOutcome clean = run_with_failing_allocation(input, -1, false);
    ASSERT_EQ(clean.status, 0);
    ASSERT_EQ(clean.console, "");
    const auto clean_read = testing::read_export(clean.file, CodePage::single_byte(1252));
    ASSERT_TRUE(clean_read.ok()) << clean_read.error;

    int complete = 0, abandoned = 0, failed = 0;
    for (bool from_then_on : { false, true }) {
        for (long nth = 1;; ++nth) {
            RunOutcome outcome = run_with_failing_allocation(input, nth, from_then_on);
            if (outcome.allocations < nth)
                break;
            SCOPED_TRACE("allocation " + std::to_string(nth) + (from_then_on ? " and on" : " alone"));
            EXPECT_EQ(outcome.open_handles, 0u);
            // Only the tool's own lines: "no enough memory", and the keys
            // that it cost named.
            std::size_t memory_lines = count_of(outcome.console, no_memory);
            std::size_t named = count_of(outcome.console, "can't export key [");
            EXPECT_EQ(count_of(outcome.console, "\n"), memory_lines + named) << outcome.console;
            if (outcome.status == 0) {
                // Only an allocation the run can do without failed.
                EXPECT_EQ(outcome.console, "");
                EXPECT_EQ(outcome.file, clean.file);
                ++complete;
                continue;
            }
            ASSERT_EQ(outcome.status, -1) << outcome.console;
            if (outcome.console.ends_with(no_memory)) {
                // The run ended; keys may have been abandoned before.
                ++failed;
                continue;
            }
            ASSERT_NO_FATAL_FAILURE(check_keys_abandoned(outcome, clean_read, memory_lines, named));
            ++abandoned;
        }
    }
    EXPECT_GT(complete + abandoned, 0);
    EXPECT_GT(failed, 0);
    std::printf("allocation failure points: %d complete, %d with keys abandoned, %d runs failed\n", complete, abandoned, failed);
}

TEST(AllocationFailure, EveryAllocationOfARunOverTheMemoryRegistry)
{
    every_allocation_of_a_run({ [] {
                                   auto registry = std::make_unique<MemoryRegistry>();
                                   testing::fill_fault_fixture(*registry);
                                   return registry;
                               },
        testing::fault_fixture_key });
}

// The prefix's file is read during the run, so the reader's allocations fail
// in turn as well.
TEST(AllocationFailure, EveryAllocationOfARunOverAWinePrefix)
{
    namespace fs = std::filesystem;
    fs::path prefix = fs::temp_directory_path() / ("hivedump-alloc-" + std::to_string(::getpid()));
    fs::create_directories(prefix);
    fs::copy_file(HIVEDUMP_EXAMPLE_PREFIX "/user.reg", prefix / "user.reg", fs::copy_options::overwrite_existing);
    every_allocation_of_a_run({ [&] { return std::make_unique<wine::WinePrefixRegistry>(prefix.string(), CodePage::single_byte(1252)); },
        "HKEY_CURRENT_USER\\Software" });
    fs::remove_all(prefix);
}

std::string file_text(const std::string& path)
{
    std::string text;
    if (std::FILE* file = std::fopen(path.c_str(), "rb")) {
        char block[4096];
        for (std::size_t count; (count = std::fread(block, 1, sizeof block, file)) != 0;)
            text.append(block, count);
        std::fclose(file);
    }
    return text;
}

/// Standard output of the whole process, into a file while it is held.
class CapturedOutput {
public:
    explicit CapturedOutput(const std::string& path)
        : saved_(::dup(STDOUT_FILENO))
    {
        std::fflush(stdout);
        int file = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        ::dup2(file, STDOUT_FILENO);
        ::close(file);
    }
    ~CapturedOutput()
    {
        std::fflush(stdout);
        ::dup2(saved_, STDOUT_FILENO);
        ::close(saved_);
    }
    CapturedOutput(const CapturedOutput&) = delete;
    CapturedOutput& operator=(const CapturedOutput&) = delete;

private:
    int saved_;
};

// The program's own entry: the argument list and the prefix reader are made
// before the run, where no "no enough memory" used to be said.
TEST(AllocationFailure, EveryAllocationOfTheLinuxProgram)
{
    namespace fs = std::filesystem;
    fs::path work = fs::temp_directory_path() / ("hivedump-entry-" + std::to_string(::getpid()));
    fs::create_directories(work / "prefix");
    fs::copy_file(HIVEDUMP_EXAMPLE_PREFIX "/user.reg", work / "prefix" / "user.reg", fs::copy_options::overwrite_existing);
    ::setenv("WINEPREFIX", (work / "prefix").c_str(), 1);
    std::string out = (work / "out.reg").string();
    std::string console = (work / "console").string();
    std::vector<std::string> words{ "hivedump", "HKEY_CURRENT_USER\\Software", out };
    std::vector<char*> argv;
    for (auto& word : words)
        argv.push_back(word.data());

    auto run = [&](long nth, bool from_then_on) {
        int status;
        {
            CapturedOutput captured(console);
            allocations = 0;
            failing_from_then_on = from_then_on;
            failing_allocation = nth;
            status = run_entry([&] { return run_linux_entry(static_cast<int>(argv.size()), argv.data()); });
            failing_allocation = 0;
        }
        return status;
    };
    ASSERT_EQ(run(-1, false), 0);
    long failed = 0;
    for (bool from_then_on : { false, true }) {
        for (long nth = 1;; ++nth) {
            int status = run(nth, from_then_on);
            if (allocations < nth)
                break;
            std::string said = file_text(console);
            SCOPED_TRACE("allocation " + std::to_string(nth) + (from_then_on ? " and on" : " alone"));
            // Only "no enough memory" and the keys it cost named: the value
            // buffers' own for keys that end early, or the one that ends the
            // run with -1.
            EXPECT_EQ(count_of(said, "\n"), count_of(said, no_memory) + count_of(said, "can't export key [")) << said;
            if (status == 0) {
                EXPECT_EQ(said, "");
                continue;
            }
            EXPECT_EQ(status, -1);
            if (said.ends_with(no_memory))
                ++failed;
        }
    }
    EXPECT_GT(failed, 0);
    ::unsetenv("WINEPREFIX");
    fs::remove_all(work);
}

} // namespace
} // namespace hivedump
