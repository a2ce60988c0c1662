#include "registry/wine_prefix_registry.h"
#include "registry/wine_reg_parser.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace hivedump::registry {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view header = "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\User\\\\S-1-5-21-0-0-0-1000\n\n";

/// Every key below the hive's root with its values, one line each, in the
/// order the hive holds them.
std::string dump_hive(const wine::Hive& hive)
{
    std::ostringstream out;
    std::vector<std::pair<wine::NodeIndex, int>> stack{ { hive.root(), 0 } };
    while (!stack.empty()) {
        auto [node, depth] = stack.back();
        stack.pop_back();
        const auto& key = hive.key(node);
        out << std::string(static_cast<std::size_t>(depth), ' ') << "[";
        for (std::uint32_t unit = 0; unit < key.name_length; ++unit)
            out << static_cast<unsigned>(key.name_text()[unit]) << ",";
        out << "]" << (key.link ? " link" : "") << "\n";
        for (auto index = key.first_value; index != wine::no_node; index = hive.value(index).next) {
            const auto& value = hive.value(index);
            out << std::string(static_cast<std::size_t>(depth), ' ') << " v";
            for (std::uint32_t unit = 0; unit < value.name_length; ++unit)
                out << static_cast<unsigned>(value.name_text()[unit]) << ",";
            out << " type=" << value.type << " form=" << static_cast<int>(value.form) << " data=";
            std::size_t bytes = value.form == wine::DataForm::wide_text ? value.data_length * 2u : value.data_length;
            for (std::size_t at = 0; at < bytes; ++at)
                out << static_cast<unsigned>(value.data[at]) << ".";
            out << "\n";
        }
        for (auto child = key.first_child; child != wine::no_node; child = hive.key(child).next_sibling)
            stack.push_back({ child, depth + 1 });
    }
    return out.str();
}

/// Hands out the contents at most `most` bytes a read, failing from read
/// number `fail_at` on when that is set.
struct ScriptedReads {
    std::string contents;
    std::size_t most = SIZE_MAX;
    int fail_at = 0;
    std::size_t offset = 0;
    int reads = 0;

    std::ptrdiff_t operator()(char* buffer, std::size_t size)
    {
        ++reads;
        if (fail_at != 0 && reads >= fail_at)
            return -1;
        std::size_t count = std::min({ size, most, contents.size() - offset });
        std::memcpy(buffer, contents.data() + offset, count);
        offset += count;
        return static_cast<std::ptrdiff_t>(count);
    }
};

struct Parsed {
    std::string hive;
    wine::ParseResult result;
};

Parsed parse_in_pieces(const std::string& contents, std::size_t chunk, std::size_t most = SIZE_MAX, int fail_at = 0)
{
    wine::Hive hive;
    ScriptedReads reads{ contents, most, fail_at };
    wine::ReadFunction read = [&reads](char* buffer, std::size_t size) { return reads(buffer, size); };
    auto result = wine::parse_registry_file(read, hive, hive.root(), {}, chunk);
    return { dump_hive(hive), result };
}

Parsed parse_whole(const std::string& contents)
{
    wine::Hive hive;
    auto result = wine::parse_registry_file(std::span<const char>(contents.data(), contents.size()), hive, hive.root(), {});
    return { dump_hive(hive), result };
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
    + "\n[A\\\\End] 4\n\"cut\"=hex:aa,\\\n";

TEST(WineReaderChunks, PiecesOfAnySizeLoadWhatTheWholeFileLoads)
{
    auto whole = parse_whole(tricky);
    ASSERT_TRUE(whole.result.valid);
    // The cut-off continuation keeps its name with no data.
    EXPECT_NE(whole.hive.find("type=0 form=0 data=\n"), std::string::npos);
    for (std::size_t chunk = 1; chunk <= tricky.size() + 1; chunk += chunk < 64 ? 1 : 13) {
        SCOPED_TRACE(chunk);
        auto pieces = parse_in_pieces(tricky, chunk);
        EXPECT_TRUE(pieces.result.valid);
        EXPECT_FALSE(pieces.result.read_failed);
        EXPECT_EQ(pieces.result.skipped_lines, whole.result.skipped_lines);
        EXPECT_EQ(pieces.result.relative_to, whole.result.relative_to);
        EXPECT_EQ(pieces.hive, whole.hive);
    }
}

TEST(WineReaderChunks, ShortReadsChangeNothing)
{
    auto whole = parse_whole(tricky);
    for (std::size_t most : { 1, 2, 3, 7, 40 }) {
        SCOPED_TRACE(most);
        EXPECT_EQ(parse_in_pieces(tricky, 64, most).hive, whole.hive);
        EXPECT_EQ(parse_in_pieces(tricky, 1 << 20, most).hive, whole.hive);
    }
}

TEST(WineReaderChunks, AFileCutAnywhereLoadsItsWholeLines)
{
    // A file that shrinks while it is read ends early: whatever the cut,
    // the load is that of the shorter file.
    for (std::size_t size = 0; size <= tricky.size(); ++size) {
        SCOPED_TRACE(size);
        std::string cut = tricky.substr(0, size);
        auto whole = parse_whole(cut);
        auto pieces = parse_in_pieces(cut, 16);
        EXPECT_EQ(pieces.result.valid, whole.result.valid);
        EXPECT_EQ(pieces.hive, whole.hive);
    }
}

TEST(WineReaderChunks, AFailedReadIsReported)
{
    ScriptedReads clean{ tricky };
    wine::Hive hive;
    wine::ReadFunction read = [&clean](char* buffer, std::size_t size) { return clean(buffer, size); };
    ASSERT_FALSE(wine::parse_registry_file(read, hive, hive.root(), {}, 32).read_failed);
    ASSERT_GT(clean.reads, 10);
    // Every read, the one that would find the end included, can fail.
    for (int fail_at = 1; fail_at <= clean.reads; ++fail_at) {
        SCOPED_TRACE(fail_at);
        EXPECT_TRUE(parse_in_pieces(tricky, 32, SIZE_MAX, fail_at).result.read_failed);
    }
}

TEST(WineReaderChunks, NotARegistryFileStopsAtTheFirstLine)
{
    ScriptedReads reads{ "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software]\n" + std::string(100, 'x'), 8 };
    wine::ReadFunction read = [&reads](char* buffer, std::size_t size) { return reads(buffer, size); };
    wine::Hive hive;
    auto result = wine::parse_registry_file(read, hive, hive.root(), {}, 8);
    EXPECT_FALSE(result.valid);
    EXPECT_EQ(hive.key(hive.root()).first_child, wine::no_node);
    EXPECT_LE(reads.reads, 3); // the header line is all it needs
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
    WinePrefixRegistry reference(forms, CodePage(1252));
    auto expected = export_tree(reference, current_user, "Software");
    ASSERT_NE(expected, "missing\n");
    for (std::size_t chunk : { 1, 2, 5, 17, 64, 333, 4096 }) {
        SCOPED_TRACE(chunk);
        WinePrefixRegistry registry(forms, CodePage(1252));
        registry.set_read_chunk(chunk);
        EXPECT_EQ(export_tree(registry, current_user, "Software"), expected);
        EXPECT_FALSE(registry.unreadable_file());
    }
}

} // namespace
} // namespace hivedump::registry
