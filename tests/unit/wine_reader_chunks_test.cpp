#include "wine/prefix_registry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace hivedump::wine {
namespace {

namespace fs = std::filesystem;
using namespace registry;

constexpr std::string_view header = "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\User\\\\S-1-5-21-0-0-0-1000\n\n";

/// The files of a prefix held in memory, read at most `most` bytes a read,
/// failing from read number `fail_at` on when that is set. `change` runs
/// before read number `change_at` after the first read that met an end.
class ScriptedFiles final : public RegistryFileSource {
public:
    std::map<std::string, std::string> contents;
    std::size_t most = SIZE_MAX;
    int fail_at = 0;
    int reads = 0;
    int reads_after_end = 0;
    int change_at = 0;
    /// Rewrites an open file's bytes in place, or the files opened from now on.
    std::function<void(std::string& open_bytes, std::map<std::string, std::string>& contents)> change;

    std::unique_ptr<File> open(const std::string& path) override
    {
        auto found = contents.find(fs::path(path).filename().string());
        if (found == contents.end() || found->second.empty())
            return nullptr;
        return std::make_unique<Reader>(*this, found->second);
    }
    bool is_directory(const std::string&) override { return true; }

private:
    class Reader final : public File {
    public:
        Reader(ScriptedFiles& files, const std::string& bytes)
            : files_(files)
            , bytes_(bytes)
        {
        }
        std::ptrdiff_t read_at(char* buffer, std::size_t size, std::uint64_t offset) override
        {
            ++files_.reads;
            if (files_.fail_at != 0 && files_.reads >= files_.fail_at)
                return -1;
            if (files_.reads_after_end != 0 && ++files_.reads_after_end == files_.change_at && files_.change)
                files_.change(bytes_, files_.contents);
            if (offset >= bytes_.size()) {
                files_.reads_after_end = std::max(files_.reads_after_end, 1);
                return 0;
            }
            std::size_t count = std::min({ size, files_.most, bytes_.size() - static_cast<std::size_t>(offset) });
            std::memcpy(buffer, bytes_.data() + offset, count);
            return static_cast<std::ptrdiff_t>(count);
        }

    private:
        ScriptedFiles& files_;
        std::string bytes_; ///< its own: a file replaced by rename stays as it was for the reader
    };
};

std::string export_tree(WinePrefixRegistry& registry, Handle root, const std::string& path);

struct Loaded {
    std::string tree;
    bool unreadable = false;
    int reads = 0;
    bool changed = false; ///< the change was made
};

struct Change {
    const char* name;
    std::function<void(std::string& open_bytes, std::map<std::string, std::string>& contents)> apply;
    int at = 0; ///< before this read after the first read that met an end
};

/// The whole user key of a prefix whose user.reg is `contents`.
Loaded load(const std::string& contents, std::size_t chunk, std::size_t most = SIZE_MAX, int fail_at = 0, const std::string& key = "",
    const Change& change = {})
{
    auto files = std::make_unique<ScriptedFiles>();
    auto& scripted = *files;
    files->contents["user.reg"] = contents;
    files->most = most;
    files->fail_at = fail_at;
    files->change = change.apply;
    files->change_at = change.at;
    WinePrefixRegistry registry("prefix", CodePage::single_byte(1252), std::move(files));
    registry.set_read_chunk(chunk);
    Loaded loaded;
    loaded.tree = export_tree(registry, current_user, key);
    loaded.unreadable = registry.unreadable_file().has_value();
    loaded.reads = scripted.reads;
    loaded.changed = change.at != 0 && scripted.reads_after_end >= change.at;
    return loaded;
}

// Sections, values whose hex data goes on over several lines, a line feed
// inside a continuation, carriage returns, a zero byte, bad lines, and a
// continuation that the end of the file cuts off.
const std::string tricky = std::string(header)
    + "[A\\\\B] 1\n"
      "\"s\"=\"text \\\"q\\\" \\x30c6 caf\xc3\xa9\"\n"
      "\"h\"=hex:01,02,03,\\\n"
      "  04,05,\\\n"
      "\n"
      "\"after\"=dword:7\n"
      "[A\\\\C] 2\r\n"
      "\"crlf\"=hex(2):41,00,\\\r\n"
      "  42,00\r\n"
      "bad line\n"
      "\"nul\"=\"a\0b\"\n"
      "[A\\\\B\\\\Deep] 3\n"
      "@=str(7):\"one\\0two\\0\"\n"
      "\"long\"=hex:"
    +
    [] {
        std::string bytes;
        for (int i = 0; i < 200; ++i)
            bytes += (i == 0 ? "" : (i % 25 == 0 ? ",\\\n  " : ",")) + std::string(1, "0123456789abcdef"[i % 16]) + "f";
        return bytes;
    }()
    + "\n\"eat\"=hex:01,\\\n  02,\\\n[A\\\\Eaten] 5\n\"end\"=hex:01,\\\n  02\n[A\\\\Kept] 6\n"
      "[A\\\\End] 4\n\"cut\"=hex:aa,\\\n";

TEST(WineReaderChunks, PiecesOfAnySizeLoadWhatTheWholeFileLoads)
{
    auto whole = load(tricky, std::size_t{ 1 } << 20);
    ASSERT_FALSE(whole.unreadable);
    // The cut-off continuation keeps its name with no data.
    EXPECT_NE(whole.tree.find(" 0 cut 0 \n"), std::string::npos) << whole.tree;
    // Data that goes on takes a section line as its own; data that ended does not.
    EXPECT_EQ(whole.tree.find("Eaten"), std::string::npos) << whole.tree;
    EXPECT_NE(whole.tree.find("Kept"), std::string::npos) << whole.tree;
    for (std::size_t chunk = 1; chunk <= tricky.size() + 1; chunk += chunk < 64 ? 1 : 13) {
        SCOPED_TRACE(chunk);
        auto pieces = load(tricky, chunk);
        EXPECT_FALSE(pieces.unreadable);
        EXPECT_EQ(pieces.tree, whole.tree);
        // Only the keys asked for: the same values.
        EXPECT_EQ(load(tricky, chunk, SIZE_MAX, 0, "A\\C").tree, load(tricky, 1 << 20, SIZE_MAX, 0, "A\\C").tree);
    }
}

TEST(WineReaderChunks, ShortReadsChangeNothing)
{
    auto whole = load(tricky, std::size_t{ 1 } << 20);
    for (std::size_t most : { 1, 2, 3, 7, 40 }) {
        SCOPED_TRACE(most);
        EXPECT_EQ(load(tricky, 64, most).tree, whole.tree);
        EXPECT_EQ(load(tricky, 1 << 20, most).tree, whole.tree);
    }
}

TEST(WineReaderChunks, AFileCutAnywhereLoadsItsWholeLines)
{
    // A file that shrinks while it is read ends early: whatever the cut,
    // the load is that of the shorter file.
    for (std::size_t size = 0; size <= tricky.size(); ++size) {
        SCOPED_TRACE(size);
        std::string cut = tricky.substr(0, size);
        auto whole = load(cut, 1 << 20);
        auto pieces = load(cut, 16);
        EXPECT_EQ(pieces.unreadable, whole.unreadable);
        EXPECT_EQ(pieces.tree, whole.tree);
    }
}

TEST(WineReaderChunks, AFailedReadIsReported)
{
    // Short reads: the pieces read ahead for the base key's name make no fewer reads.
    auto clean = load(tricky, 32, 32);
    ASSERT_FALSE(clean.unreadable);
    ASSERT_GT(clean.reads, 10);
    // Every read of the first pass, the one that would find the end included, can fail.
    auto first_pass = load(tricky, 32, 32, 0, "Nothing\\Here").reads;
    for (int fail_at = 1; fail_at <= first_pass; ++fail_at) {
        SCOPED_TRACE(fail_at);
        EXPECT_TRUE(load(tricky, 32, 32, fail_at, "Nothing\\Here").unreadable);
    }
}

TEST(WineReaderChunks, NotARegistryFileStopsAtTheFirstLine)
{
    auto loaded = load("REGEDIT4\n\n[HKEY_CURRENT_USER\\Software]\n" + std::string(100, 'x'), 8, 8);
    EXPECT_TRUE(loaded.unreadable);
    EXPECT_LE(loaded.reads, 3); // the header line is all it needs
}

std::string link_to(std::string_view path)
{
    std::string line = "#link\n\"SymbolicLinkValue\"=hex(6):";
    for (char c : "\\Registry\\User\\S-1-5-21-0-0-0-1000\\" + std::string(path))
        line += "0123456789abcdef"[static_cast<unsigned char>(c) >> 4] + std::string(1, "0123456789abcdef"[c & 15]) + ",00,";
    line.pop_back();
    return line + "\n";
}

// An export of A follows A\L to B, whose subkeys the first pass passed over:
// the catch-up pass makes them, and follows B\M for the section through it.
const std::string linked = std::string(header) + "[A\\\\K] 1\n\"a\"=\"one\"\n[A\\\\L] 2\n" + link_to("B")
    + "[B] 3\n\"b\"=dword:2\n[B\\\\M] 4\n" + link_to("C")
    + "[B\\\\M\\\\Through] 5\n\"t\"=hex:03,\\\n  04\n[B\\\\Sub] 6\n\"s\"=\"four\"\n[C] 7\n\"c\"=\"five\"\n";

/// The keys of export_tree's text, each with its value lines.
std::vector<std::pair<std::string, std::string>> blocks_of(const std::string& tree)
{
    std::vector<std::pair<std::string, std::string>> blocks;
    std::istringstream lines(tree);
    for (std::string line; std::getline(lines, line);) {
        if (line.starts_with(" ") && !blocks.empty())
            blocks.back().second += line + "\n";
        else
            blocks.push_back({ line, "" });
    }
    return blocks;
}

TEST(WineReaderChunks, AFileChangedAfterItsFirstPassGivesItsKeysAsTheyWereOrStops)
{
    const Change changes[] = {
        { "a block inserted in place",
            [](std::string& bytes, auto&) { bytes.insert(header.size(), "[A\\\\New] 9\n\"n\"=\"inserted\"\n"); } },
        { "cut in place", [](std::string& bytes, auto&) { bytes.resize(bytes.size() / 2); } },
        { "emptied in place", [](std::string& bytes, auto&) { bytes.clear(); } },
        { "garbage written over in place", [](std::string& bytes, auto&) { bytes.replace(bytes.size() / 3, 24, 24, '#'); } },
        { "appended to", [](std::string& bytes, auto&) { bytes += "[A\\\\K\\\\New] 9\n\"n\"=\"appended\"\n"; } },
        { "replaced by rename", [](std::string&, auto& contents) { contents["user.reg"] = std::string(header) + "[A] 1\n"; } },
    };
    for (const auto* file : { &tricky, &linked }) {
        for (std::string key : { "", "A" }) {
            for (std::size_t chunk : { 16, 29, 64 }) {
                auto old = load(*file, chunk, SIZE_MAX, 0, key);
                ASSERT_FALSE(old.unreadable);
                std::map<std::string, std::string> old_values;
                for (auto& [path, values] : blocks_of(old.tree))
                    old_values[path] = values;
                for (auto change : changes) {
                    const bool in_place
                        = change.name != std::string_view("appended to") && change.name != std::string_view("replaced by rename");
                    int stops = 0;
                    for (change.at = 2;; ++change.at) {
                        SCOPED_TRACE(std::string(change.name) + ", key " + key + ", chunk " + std::to_string(chunk) + ", before read "
                            + std::to_string(change.at) + (file == &linked ? ", linked" : ""));
                        auto run = load(*file, chunk, SIZE_MAX, 0, key, change);
                        if (!run.changed)
                            break;
                        if (!run.unreadable || !in_place) {
                            // Not seen, or seen as a file that kept its bytes.
                            EXPECT_FALSE(run.unreadable);
                            EXPECT_EQ(run.tree, old.tree);
                            continue;
                        }
                        ++stops;
                        // Stopped: every key written was in the old file, with its
                        // values there or none.
                        for (auto& [path, values] : blocks_of(run.tree)) {
                            if (path == "missing")
                                continue;
                            auto found = old_values.find(path);
                            ASSERT_NE(found, old_values.end()) << path;
                            if (!values.empty()) {
                                EXPECT_EQ(values, found->second) << path;
                            }
                        }
                    }
                    if (in_place) {
                        EXPECT_GT(stops, 0) << change.name << ", key " << key << ", chunk " << chunk;
                    }
                }
            }
        }
    }
}

/// The walk of a prefix through the registry, as text.
std::string export_tree(WinePrefixRegistry& registry, Handle root, const std::string& path)
{
    std::ostringstream out;
    Handle top;
    if (registry.open_key(root, path, top) != status::success)
        return "missing\n";
    std::vector<std::pair<Handle, std::string>> stack{ { top, path } };
    while (!stack.empty()) {
        auto [key, name] = stack.back();
        stack.pop_back();
        out << "[" << name << "]\n";
        KeyInfo info;
        registry.query_info_key(key, info);
        for (std::uint32_t index = 0; index < info.value_count; ++index) {
            std::vector<char> value_name(20000);
            std::vector<std::byte> data(1 << 16);
            ValueRead read{ value_name, data, 20000, static_cast<std::uint32_t>(data.size()), 0 };
            auto status = registry.enum_value(key, index, read);
            out << " " << status << " " << value_name.data() << " " << read.type << " ";
            for (std::uint32_t at = 0; at < read.data_size && status == status::success; ++at)
                out << static_cast<unsigned>(data[at]) << ".";
            out << "\n";
        }
        std::vector<std::pair<Handle, std::string>> children;
        for (std::uint32_t index = 0;; ++index) {
            std::vector<char> child(4096);
            if (registry.enum_key(key, index, child) != status::success)
                break;
            Handle opened;
            if (registry.open_key(key, child.data(), opened) == status::success)
                children.push_back({ opened, name + "\\" + child.data() });
        }
        stack.insert(stack.end(), children.rbegin(), children.rend());
    }
    return out.str();
}

TEST(WineReaderChunks, ThePrefixReaderGivesTheSameTreeWhateverThePieceSize)
{
    std::string forms = std::string(HIVEDUMP_WINE_TEST_DATA) + "/forms";
    WinePrefixRegistry reference(forms, CodePage::single_byte(1252));
    auto expected = export_tree(reference, current_user, "Software");
    ASSERT_NE(expected, "missing\n");
    for (std::size_t chunk : { 1, 2, 5, 17, 64, 333, 4096 }) {
        SCOPED_TRACE(chunk);
        WinePrefixRegistry registry(forms, CodePage::single_byte(1252));
        registry.set_read_chunk(chunk);
        EXPECT_EQ(export_tree(registry, current_user, "Software"), expected);
        EXPECT_FALSE(registry.unreadable_file());
    }
}

} // namespace
} // namespace hivedump::wine
