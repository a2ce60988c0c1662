#include "wine/prefix_registry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
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
/// failing from read number `fail_at` on when that is set.
class ScriptedFiles final : public RegistryFileSource {
public:
    std::map<std::string, std::string> contents;
    std::size_t most = SIZE_MAX;
    int fail_at = 0;
    int reads = 0;

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
            if (offset >= bytes_.size())
                return 0;
            std::size_t count = std::min({ size, files_.most, bytes_.size() - static_cast<std::size_t>(offset) });
            std::memcpy(buffer, bytes_.data() + offset, count);
            return static_cast<std::ptrdiff_t>(count);
        }

    private:
        ScriptedFiles& files_;
        const std::string& bytes_;
    };
};

std::string export_tree(WinePrefixRegistry& registry, Handle root, const std::string& path);

struct Loaded {
    std::string tree;
    bool unreadable = false;
    int reads = 0;
};

/// The whole user key of a prefix whose user.reg is `contents`.
Loaded load(const std::string& contents, std::size_t chunk, std::size_t most = SIZE_MAX, int fail_at = 0, const std::string& key = "")
{
    auto files = std::make_unique<ScriptedFiles>();
    auto& scripted = *files;
    files->contents["user.reg"] = contents;
    files->most = most;
    files->fail_at = fail_at;
    WinePrefixRegistry registry("prefix", CodePage::single_byte(1252), std::move(files));
    registry.set_read_chunk(chunk);
    Loaded loaded;
    loaded.tree = export_tree(registry, current_user, key);
    loaded.unreadable = registry.unreadable_file().has_value();
    loaded.reads = scripted.reads;
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
