#pragma once

#include "stream/byte_sink.h"
#include "stream/output_files.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace hivedump::testing {

/// Writes and closes counted over every sink of one MemoryFiles.
struct SinkTally {
    int writes = 0;
    int closes = 0;
};

/// Collects what is written; can be told to fail its n-th write (or every
/// write from the n-th on) or its close.
class MemorySink final : public ByteSink {
public:
    explicit MemorySink(std::string* target = nullptr, SinkTally* tally = nullptr)
        : target_(target != nullptr ? target : &own_)
        , tally_(tally)
    {
    }

    bool write(std::span<const char> bytes) override
    {
        ++writes;
        if (tally_ != nullptr)
            ++tally_->writes;
        if ((fail_write_from && writes >= *fail_write_from) || (fail_write_at && writes == *fail_write_at))
            return false;
        target_->append(bytes.data(), bytes.size());
        write_sizes.push_back(bytes.size());
        return true;
    }
    bool close() override
    {
        ++closes;
        if (tally_ != nullptr)
            ++tally_->closes;
        return !fail_close;
    }
    const std::string& text() const { return *target_; }
    std::size_t block_size() const override { return block; }

    std::size_t block = 4096;
    std::optional<int> fail_write_from;
    std::optional<int> fail_write_at;
    bool fail_close = false;
    int writes = 0;
    int closes = 0;
    std::vector<std::size_t> write_sizes;

private:
    std::string own_;
    std::string* target_;
    SinkTally* tally_;
};

/// Files kept in memory by path.
class MemoryFiles final : public OutputFiles {
public:
    std::unique_ptr<ByteSink> create(const std::string& path) override
    {
        if (refuse)
            return nullptr;
        files[path].clear();
        ++created;
        auto sink = std::make_unique<MemorySink>(&files[path], &tally);
        sink->fail_write_from = fail_write_from;
        sink->fail_write_at = fail_write_at;
        sink->fail_close = fail_close;
        return sink;
    }

    std::map<std::string, std::string> files;
    bool refuse = false;
    std::optional<int> fail_write_from;
    std::optional<int> fail_write_at;
    bool fail_close = false;
    int created = 0;
    SinkTally tally;
};

inline std::vector<std::byte> bytes_of(std::initializer_list<int> values)
{
    std::vector<std::byte> bytes;
    for (int value : values)
        bytes.push_back(static_cast<std::byte>(value));
    return bytes;
}

inline std::vector<std::byte> byte_range(int count)
{
    std::vector<std::byte> bytes;
    for (int i = 0; i < count; ++i)
        bytes.push_back(static_cast<std::byte>(i));
    return bytes;
}

/// Text as the export file holds it: every line feed preceded by CR.
inline std::string crlf(std::string_view text)
{
    std::string result;
    for (char c : text) {
        if (c == '\n')
            result.push_back('\r');
        result.push_back(c);
    }
    return result;
}

/// Whether standard output holds only the messages a run may give while it
/// exports, whole lines each.
inline bool known_messages(std::string_view console)
{
    constexpr std::array<std::string_view, 4> starts{ "can't read registry [", "no enough memory\n", "can't write file [",
        "can't export key [" };
    while (!console.empty()) {
        std::size_t end = console.find('\n');
        if (end == std::string_view::npos)
            return false;
        std::string_view line = console.substr(0, end + 1);
        if (std::none_of(starts.begin(), starts.end(), [&](std::string_view start) { return line.starts_with(start); }))
            return false;
        console.remove_prefix(end + 1);
    }
    return true;
}

} // namespace hivedump::testing
