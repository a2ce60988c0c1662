#pragma once

#include "wine/prefix_registry.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>

namespace hivedump::testing {

/// Registry files held in memory by path, so a fuzzer reads a prefix with
/// no file system at all. A path that is not held is a missing file. An open
/// file reads its own copy, which a change may rewrite in place: what
/// `files` holds meanwhile is what later opens find, as after a rename.
class MemoryRegistryFiles final : public wine::RegistryFileSource {
public:
    /// Made to the file at `path` before the `at`-th read after the first
    /// read of it that met its end: once a first pass is done.
    struct Change {
        std::string path;
        int at = 0;
        std::function<void(std::string& open_bytes, std::string& file)> apply;
    };

    std::unique_ptr<File> open(const std::string& path) override
    {
        auto found = files.find(path);
        // As on disk: an empty file is no registry file.
        if (found == files.end() || found->second.empty())
            return nullptr;
        return std::make_unique<Bytes>(*this, found->first, found->second);
    }

    bool is_directory(const std::string&) override { return prefix_exists; }

    std::map<std::string, std::string, std::less<>> files;
    bool prefix_exists = true;
    Change change;
    bool changed = false; ///< the change was made

private:
    class Bytes final : public File {
    public:
        Bytes(MemoryRegistryFiles& source, const std::string& path, const std::string& bytes)
            : source_(source)
            , path_(path)
            , bytes_(bytes)
        {
        }
        std::ptrdiff_t read_at(char* buffer, std::size_t size, std::uint64_t offset) override
        {
            auto& change = source_.change;
            if (reads_after_end_ != 0 && ++reads_after_end_ == change.at && change.apply && change.path == path_ && !source_.changed) {
                source_.changed = true;
                change.apply(bytes_, source_.files[path_]);
            }
            if (offset >= bytes_.size()) {
                reads_after_end_ = std::max(reads_after_end_, 1);
                return 0;
            }
            std::size_t count = std::min<std::size_t>(size, bytes_.size() - offset);
            std::memcpy(buffer, bytes_.data() + offset, count);
            return static_cast<std::ptrdiff_t>(count);
        }

    private:
        MemoryRegistryFiles& source_;
        std::string path_;
        std::string bytes_;
        int reads_after_end_ = 0;
    };
};

} // namespace hivedump::testing
