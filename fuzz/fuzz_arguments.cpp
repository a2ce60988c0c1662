// Any argument list through the whole run: the input split at zero bytes
// gives up to five arguments. Status, standard output and the file created
// must be those that the argument forms give.

#include "cli/export_run.h"
#include "export_reader.h"
#include "memory_registry.h"
#include "test_support.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace {

using namespace hivedump;
using registry::MemoryRegistry;

constexpr std::size_t max_arguments = 5;
constexpr std::string_view file_header = "REGEDIT4\r\n\r\n";
constexpr std::array<std::string_view, 4> switch_spellings{ "-v", "/v", "-V", "/V" };
constexpr std::array<std::string_view, 4> master_key_names{ "HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE", "HKEY_USERS" };

/// Refuses what a file system would: an empty path and one naming a
/// directory.
class Files final : public OutputFiles {
public:
    std::unique_ptr<ByteSink> create(const std::string& path) override
    {
        if (path.empty() || path.back() == '/')
            return nullptr;
        return files.create(path);
    }
    testing::MemoryFiles files;
};

void fill(MemoryRegistry& registry)
{
    auto& editor = registry.key(registry::current_user, "Software\\Velmora\\Editor");
    registry.set_string(editor, "Font", "Courier");
    registry.set_dword(editor, "Size", 12);
    registry.key(registry::current_user, "Software\\Velmora\\Editor\\Fonts");
    registry.set_value(registry.key(registry::local_machine, "Software\\Classes"), "", 3, testing::byte_range(40));
    registry.set_string(registry.key(registry::users, ".Default\\Environment"), "Path", "%PATH%", 2);
    registry.key(registry::classes_root, ".reg");
}

struct RunResult {
    int status = 0;
    std::string console;
    std::string run;
    std::map<std::string, std::string> files;
};

RunResult run(const std::vector<std::string>& arguments)
{
    MemoryRegistry registry;
    fill(registry);
    Files files;
    testing::MemorySink console;
    RunEnvironment environment{ registry, console, files };
    RunResult outcome;
    outcome.status = run_hivedump(arguments, environment);
    outcome.console = console.text();
    outcome.files = files.files.files;
    if (registry.open_handle_count() != 0)
        outcome.run = "a handle was left open";
    if (files.files.tally.closes != files.files.created)
        outcome.run = "a file was left open";
    return outcome;
}

const std::string& banner()
{
    static const std::string line = run({ "-v" }).console;
    return line;
}

[[noreturn]] void fail(const std::vector<std::string>& arguments, const std::string& what)
{
    std::fprintf(stderr, "fuzz_arguments: %s\narguments:", what.c_str());
    for (const auto& argument : arguments)
        std::fprintf(stderr, " [%s]", argument.c_str());
    std::fprintf(stderr, "\n");
    std::abort();
}

/// The input split at zero bytes, up to five arguments.
std::vector<std::string> split_arguments(std::string_view rest)
{
    std::vector<std::string> arguments;
    while (!rest.empty() && arguments.size() < max_arguments) {
        std::size_t end = rest.find('\0');
        arguments.emplace_back(rest.substr(0, end));
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
    }
    return arguments;
}

/// The file of an export that succeeded reads, and begins with the key's
/// ancestor headers.
void check_ancestors(
    const std::vector<std::string>& arguments, const std::string& file, const std::string& key, const std::string& master_key)
{
    // A line feed in the key text splits a header line; anything else reads.
    if (key.find('\n') != std::string::npos)
        return;
    auto read = testing::read_export(file, CodePage::single_byte(1252));
    if (!read.ok())
        fail(arguments, "unreadable file: " + read.error);
    std::string key_path = key.find('\\') == std::string::npos ? "" : key.substr(key.find('\\') + 1);
    std::size_t ancestors = static_cast<std::size_t>(std::count(key_path.begin(), key_path.end(), '\\'));
    if (read.keys.size() < ancestors)
        fail(arguments, "ancestor headers missing");
    for (std::size_t at = key_path.find('\\'), i = 0; at != std::string::npos; at = key_path.find('\\', at + 1), ++i) {
        const auto& ancestor = read.keys[i];
        if (ancestor.path != master_key + "\\" + key_path.substr(0, at) || !ancestor.values.empty() || !ancestor.closed)
            fail(arguments, "wrong ancestor header " + ancestor.path);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    auto arguments = split_arguments(std::string_view(reinterpret_cast<const char*>(data), size));
    RunResult outcome = run(arguments);
    if (!outcome.run.empty())
        fail(arguments, outcome.run);
    if (outcome.status != 0 && outcome.status != -1)
        fail(arguments, "status " + std::to_string(outcome.status));

    // What the argument forms say this list must give.
    std::size_t count = arguments.size();
    bool switched = count > 0 && std::find(switch_spellings.begin(), switch_spellings.end(), arguments[0]) != switch_spellings.end();
    std::string expected_console = switched && count <= 3 ? banner() : "";
    if (count == 0 || count > 3 || (count == 3 && !switched)) {
        if (outcome.status != -1 || outcome.console != "Usage : hivedump [-v] [key] outfile\n" || !outcome.files.empty())
            fail(arguments, "not the usage line: " + outcome.console);
        return 0;
    }
    if (switched && count == 1) {
        if (outcome.status != 0 || outcome.console != expected_console || !outcome.files.empty())
            fail(arguments, "not the banner alone: " + outcome.console);
        return 0;
    }
    std::string key = count - (switched ? 1 : 0) == 2 ? arguments[count - 2] : "HKEY_CURRENT_USER\\Software\\Velmora";
    // No Windows command line holds a longer key (in a single-byte code page).
    if (key.size() > 32767) {
        if (outcome.status != -1 || outcome.console != "Usage : hivedump [-v] [key] outfile\n" || !outcome.files.empty())
            fail(arguments, "a key longer than a command line, not refused: " + outcome.console);
        return 0;
    }
    const std::string& path = arguments.back();
    if (path.empty() || path.back() == '/') {
        if (outcome.status != -1 || outcome.console != expected_console + "can't create file [" + path + "]\n" || !outcome.files.empty())
            fail(arguments, "not refused: " + outcome.console);
        return 0;
    }
    std::string master_key = key.substr(0, key.find('\\'));
    if (std::find(master_key_names.begin(), master_key_names.end(), master_key) == master_key_names.end())
        expected_console += "not found master key in [" + master_key + "]\n";
    if (outcome.status != 0 || outcome.console != expected_console)
        fail(arguments, "unexpected status " + std::to_string(outcome.status) + " or output: " + outcome.console);
    if (outcome.files.size() != 1 || !outcome.files.begin()->second.starts_with(file_header) || outcome.files.begin()->first != path)
        fail(arguments, "no export file, or one without its header");
    check_ancestors(arguments, outcome.files.begin()->second, key, master_key);
    return 0;
}
