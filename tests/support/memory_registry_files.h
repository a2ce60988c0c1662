#pragma once

#include "wine/prefix_registry.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <string_view>

namespace hivedump::testing {

/// Registry files held in memory by path, so a fuzzer reads a prefix with
/// no file system at all. A path that is not held is a missing file.
class MemoryRegistryFiles final : public wine::RegistryFileSource {
public:
    std::unique_ptr<File> open(const std::string& path) override
    {
        auto found = files.find(path);
        // As on disk: an empty file is no registry file.
        if (found == files.end() || found->second.empty())
            return nullptr;
        return std::make_unique<Bytes>(found->second);
    }

    bool is_directory(const std::string&) override { return prefix_exists; }

    std::map<std::string, std::string, std::less<>> files;
    bool prefix_exists = true;

private:
    class Bytes final : public File {
    public:
        explicit Bytes(std::string_view bytes)
            : bytes_(bytes)
        {
        }
        std::ptrdiff_t read_at(char* buffer, std::size_t size, std::uint64_t offset) override
        {
            if (offset >= bytes_.size())
                return 0;
            std::size_t count = std::min<std::size_t>(size, bytes_.size() - offset);
            std::memcpy(buffer, bytes_.data() + offset, count);
            return static_cast<std::ptrdiff_t>(count);
        }

    private:
        std::string_view bytes_;
    };
};

} // namespace hivedump::testing
