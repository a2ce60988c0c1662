// Registry files of a Wine prefix built from the input by the generator
// (keys, values of every form, links of every shape, broken lines), read
// from memory; one key, a master key or a generated one, is exported into
// memory. The run must end with status 0 or -1 and only the tool's own
// messages, the export must read back, and it may not outgrow what the
// walk's limits allow for the files.
//
// Files may change once the export's first pass over them is done: rewritten
// in place (a block inserted, cut, garbage written over), appended to, or
// replaced by rename. The export must then be the one of the files as they
// were, or stop with status -1 and "can't read registry": every key it wrote
// holds the values it held in the old files, or none.
//
// Input: a flags byte (bit 0: code page 932 instead of 1252; bits 1-2: the
// size of the pieces the files are read in; bit 3: read again whole, the
// export must not change; bits 4-7: the key exported, among the master keys
// and the generated keys), then the generator's choices. The last byte, when
// there are two, also says what change is made to which file and when
// (bits 0-2: none, or the change; bits 3-4: the file; bits 5-7: the read).

#include "cli/entry_linux.h"
#include "cli/export_run.h"
#include "export_reader.h"
#include "memory_registry_files.h"
#include "reg_generator.h"
#include "stream/byte_sink.h"
#include "stream/output_files.h"
#include "test_support.h"
#include "walk/key_walk.h"
#include "wine/prefix_registry.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <sys/prctl.h>
#include <vector>

namespace {

using namespace hivedump;

constexpr std::string_view file_header = "REGEDIT4\r\n\r\n";
constexpr std::string_view prefix = "/prefix";
constexpr std::array<const char*, 4> master_keys{ "HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE", "HKEY_USERS" };
// The first holds these small files whole; the program's own size would
// cost more in the sanitizer's bookkeeping than the run itself.
constexpr std::array<std::size_t, 4> read_chunks{ 1 << 16, 1, 7, 512 };

std::string current_key;

[[noreturn]] void fail(const std::string& what)
{
    std::fprintf(stderr, "fuzz_wine_structured: %s: %s\n", current_key.c_str(), what.c_str());
    std::abort();
}

/// The export's limits. Walking a key's subtree writes one block for each of
/// its subkeys; the walk goes into each key's subtree at most 8 times in one
/// run, so the blocks are at most 1 + 8 x (the keys the files make), plus the
/// ancestors' headers. A block is its header, at most 512 names below the
/// exported key of at most two bytes a unit, and the key's values, no larger
/// than 16 times the files that hold them.
struct Limits {
    std::size_t blocks;
    std::size_t bytes;
};

Limits limits_for(const testing::GeneratedPrefix& generated, std::string_view key, std::size_t file_bytes)
{
    std::size_t ancestors = static_cast<std::size_t>(std::count(key.begin(), key.end(), '\\'));
    std::size_t blocks = ancestors + 1 + 8 * generated.key_bound;
    std::size_t header = 32 + key.size() + max_walk_depth * (2 * generated.longest_name + 1);
    return { blocks, file_header.size() + blocks * (header + 16 * file_bytes + 64) };
}

/// Keeps the export in memory and stops the run at once when it outgrows its
/// limits: a walk that runs away would otherwise only end with the memory.
class BoundedFiles final : public OutputFiles {
public:
    explicit BoundedFiles(Limits limits)
        : limits_(limits)
    {
    }

    std::unique_ptr<ByteSink> create(const std::string&) override
    {
        ++created;
        return std::make_unique<Sink>(*this);
    }

    std::string text;
    std::size_t blocks = 0;
    int created = 0;
    int closed = 0;

private:
    class Sink final : public ByteSink {
    public:
        explicit Sink(BoundedFiles& files)
            : files_(files)
        {
        }
        bool write(std::span<const char> bytes) override
        {
            auto& text = files_.text;
            std::size_t from = text.empty() ? 0 : text.size() - 1;
            text.append(bytes.data(), bytes.size());
            // Every line of the export starts with a bracket only in a header.
            for (std::size_t at = text.find("\n[", from); at != std::string::npos; at = text.find("\n[", at + 1))
                ++files_.blocks;
            if (files_.blocks > files_.limits_.blocks)
                fail("more blocks than the walk's limits allow: " + std::to_string(files_.blocks));
            if (text.size() > files_.limits_.bytes)
                fail("an export larger than the walk's limits allow: " + std::to_string(text.size()));
            return true;
        }
        bool close() override
        {
            ++files_.closed;
            return true;
        }

    private:
        BoundedFiles& files_;
    };

    Limits limits_;
};

std::unique_ptr<testing::MemoryRegistryFiles> files_of(
    const testing::GeneratedPrefix& generated, const testing::MemoryRegistryFiles::Change& change)
{
    auto files = std::make_unique<testing::MemoryRegistryFiles>();
    const std::pair<const char*, const testing::GeneratedPrefix::File*> all[]
        = { { "/user.reg", &generated.user }, { "/system.reg", &generated.machine }, { "/userdef.reg", &generated.default_user } };
    for (const auto& [name, file] : all) {
        if (file->present)
            files->files.emplace(std::string(prefix) + name, file->text());
    }
    files->change = change;
    return files;
}

struct Export {
    std::string text;
    std::string console;
    int status = 0;
};

Export export_key(
    wine::WinePrefixRegistry& registry, const testing::GeneratedPrefix& generated, const std::string& key, std::size_t file_bytes)
{
    current_key = key;
    BoundedFiles files(limits_for(generated, key, file_bytes));
    testing::MemorySink console;
    RunEnvironment environment = prefix_run_environment(registry, console, files);
    std::vector<std::string> arguments{ key, "out.reg" };
    int status = run_hivedump(arguments, environment);
    if (status != 0 && status != -1)
        fail("status " + std::to_string(status));
    if (!testing::known_messages(console.text()))
        fail("unexpected output: " + console.text());
    if (files.created != 1 || files.closed != 1)
        fail("the export file was not created and closed once");
    if (!files.text.starts_with(file_header))
        fail("an export without its header");
    auto read = testing::read_export(files.text, registry.code_page());
    if (!read.ok())
        fail("unreadable export: " + read.error);
    if (read.keys.size() != files.blocks)
        fail("blocks counted " + std::to_string(files.blocks) + ", read " + std::to_string(read.keys.size()));
    return { std::move(files.text), console.text(), status };
}

/// The exports of one registry, one after the other as runs of the program.
std::vector<Export> export_all(const testing::GeneratedPrefix& generated, const std::vector<std::string>& keys, const CodePage& code_page,
    std::size_t chunk, const testing::MemoryRegistryFiles::Change& change = {})
{
    std::size_t file_bytes = 0;
    for (const auto* file : { &generated.user, &generated.machine, &generated.default_user })
        file_bytes += file->present ? file->header.size() + file->body.size() : 0;
    wine::WinePrefixRegistry registry(std::string(prefix), code_page, files_of(generated, change));
    registry.set_read_chunk(chunk);
    std::vector<Export> exports;
    for (const auto& key : keys)
        exports.push_back(export_key(registry, generated, key, file_bytes));
    return exports;
}

bool operator==(const Export& left, const Export& right)
{
    return left.text == right.text && left.console == right.console && left.status == right.status;
}

/// A change to one file, made once its first pass is done.
testing::MemoryRegistryFiles::Change change_of(std::uint8_t choice)
{
    // In the order LLVMFuzzerTestOneInput picks the generated file by.
    static constexpr std::array<const char*, 3> files{ "/user.reg", "/system.reg", "/userdef.reg" };
    testing::MemoryRegistryFiles::Change change;
    change.path = std::string(prefix) + files[(choice >> 3 & 3) % 3];
    change.at = 2 + (choice >> 5);
    switch (choice & 7) {
    case 3:
        change.apply = [](std::string& bytes, std::string&) {
            bytes.insert(std::min(bytes.size(), bytes.find('\n') + 1), "[Inserted\\\\Key] 1\n\"v\"=\"in place\"\n");
        };
        break;
    case 4:
        change.apply = [](std::string& bytes, std::string&) { bytes.resize(bytes.size() / 2); };
        break;
    case 5:
        change.apply = [](std::string& bytes, std::string&) {
            bytes.replace(bytes.size() / 3, std::min<std::size_t>(40, bytes.size() - bytes.size() / 3), 40, '"');
        };
        break;
    case 6:
        change.apply = [](std::string& bytes, std::string&) { bytes += "\n[Appended] 1\n\"v\"=\"after the end\"\n"; };
        break;
    case 7:
        change.apply = [](std::string&, std::string& file) { file = "WINE REGISTRY Version 2\n[Renamed] 1\n"; };
        break;
    default:
        break;
    }
    return change;
}

/// The export of files changed meanwhile against the export of the files as
/// they were: the same, or stopped with "can't read registry" having written
/// only keys of the old export, each with its old values or none.
void check_changed(const Export& changed, const Export& old, bool in_place, const CodePage& code_page)
{
    if (changed == old)
        return;
    if (!in_place)
        fail("a file appended to or replaced by rename changed the export");
    if (changed.status != -1 || changed.console.find("can't read registry [") == std::string::npos)
        fail("a file changed in place, and the export differs without failing: " + changed.console);
    auto now = testing::read_export(changed.text, code_page);
    auto before = testing::read_export(old.text, code_page);
    for (const auto& key : now.keys) {
        const auto* found = before.find(key.path);
        if (found == nullptr)
            fail("a key the old files do not have: " + key.path);
        if (!key.values.empty() && key.values != found->values)
            fail("values the old files do not give the key: " + key.path);
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // Each hive maps blocks of its own; as huge pages, clearing them would
    // cost more than the whole run does on these small files.
    prctl(PR_SET_THP_DISABLE, 1, 0, 0, 0);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::string_view input(reinterpret_cast<const char*>(data), size);
    std::uint8_t flags = input.empty() ? 0 : static_cast<std::uint8_t>(input.front());
    if (!input.empty())
        input.remove_prefix(1);
    CodePage code_page = CodePage::from_number((flags & 1) != 0 ? 932 : 1252);
    std::size_t chunk = read_chunks[flags >> 1 & 3];

    testing::ByteChoices choices(input);
    auto generated = testing::generate_prefix(choices);
    // One export a run keeps the runs fast: a master key or a generated key.
    std::vector<std::string> keys(master_keys.begin(), master_keys.end());
    keys.insert(keys.end(), generated.keys.begin(), generated.keys.end());
    keys = { keys[(flags >> 4) % keys.size()] };
    auto exports = export_all(generated, keys, code_page, chunk);
    // Read in other pieces, the files give the same exports.
    if ((flags & 8) != 0 && chunk != read_chunks[0] && export_all(generated, keys, code_page, read_chunks[0]) != exports)
        fail("the exports depend on the size of the pieces read");
    std::uint8_t choice = size >= 2 ? data[size - 1] : 0;
    auto change = change_of(choice);
    // A file no larger than one block is held whole from its first read on
    // (the blocks are as large as the pieces, 16 bytes to 64 KiB): no change
    // to it can show, so the run that would prove it is spared.
    const testing::GeneratedPrefix::File* const files[] = { &generated.user, &generated.machine, &generated.default_user };
    const auto& changed_file = *files[(choice >> 3 & 3) % 3];
    const std::size_t block = std::clamp<std::size_t>(chunk, 16, wine::PinnedFile::default_block_size);
    if (change.apply && changed_file.present && changed_file.header.size() + changed_file.body.size() > block) {
        auto changed = export_all(generated, keys, code_page, chunk, change);
        check_changed(changed.front(), exports.front(), (choice & 7) < 6, code_page);
    }
    return 0;
}
