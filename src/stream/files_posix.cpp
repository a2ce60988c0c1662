#include "stream/output_files.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <optional>
#include <string>
#include <utility>

namespace hivedump {

namespace {

/// The calls on a file descriptor.
struct Descriptor {
    using Handle = int;

    static std::size_t write_some(int descriptor, std::span<const char> bytes)
    {
        for (;;) {
            ssize_t written = ::write(descriptor, bytes.data(), bytes.size());
            if (written < 0 && errno == EINTR)
                continue;
            return written <= 0 ? 0 : static_cast<std::size_t>(written);
        }
    }

    static bool close(int& descriptor)
    {
        if (descriptor < 0)
            return true;
        // Retrying close after EINTR could close a descriptor reused by now.
        int result = ::close(descriptor);
        descriptor = -1;
        return result == 0 || errno == EINTR;
    }

    // Large writes: a system call per 4096 bytes cost more than the export's
    // own formatting on a big file. Larger blocks save nothing more, and a
    // short export would pay for their fresh pages.
    static constexpr std::size_t block_size = 256 * 1024;
};

struct FileIdentity {
    dev_t device;
    ino_t inode;
    bool operator==(const FileIdentity&) const = default;
};

std::optional<FileIdentity> identity_of(const std::string& path)
{
    struct stat status { };
    if (::stat(path.c_str(), &status) != 0)
        return std::nullopt;
    return FileIdentity{ status.st_dev, status.st_ino };
}

/// A path as its directory and the name in it, so that a file that does not
/// exist yet can be told by where it would be made.
struct Place {
    FileIdentity directory;
    std::string name;
    bool operator==(const Place&) const = default;
};

std::pair<std::string, std::string> split_path(const std::string& path)
{
    auto slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return { ".", path };
    return { slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1) };
}

/// Where `path` would be created: a symbolic link in last place, even one
/// that leads nowhere yet, is followed as open(O_CREAT) follows it.
std::optional<Place> place_of(std::string path)
{
    constexpr int max_links = 40; // as the kernel allows
    for (int link = 0; link <= max_links; ++link) {
        auto [directory, name] = split_path(path);
        struct stat status { };
        if (::lstat(path.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) {
            auto identity = identity_of(directory);
            if (!identity)
                return std::nullopt;
            return Place{ *identity, name };
        }
        std::string target(static_cast<std::size_t>(PATH_MAX), '\0');
        ssize_t length = ::readlink(path.c_str(), target.data(), target.size());
        if (length < 0)
            return std::nullopt;
        target.resize(static_cast<std::size_t>(length));
        path = target.starts_with('/') ? target : directory + "/" + target;
    }
    return std::nullopt;
}

class PosixFiles final : public OutputFiles {
public:
    explicit PosixFiles(std::vector<std::string> protected_paths)
    {
        for (const auto& path : protected_paths) {
            if (auto identity = identity_of(path))
                protected_files_.push_back(*identity);
            if (auto place = place_of(path))
                protected_places_.push_back(*place);
        }
    }

    std::unique_ptr<ByteSink> create(const std::string& path) override
    {
        if (is_protected(path))
            return nullptr;
        int descriptor = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        if (descriptor < 0)
            return nullptr;
        return std::make_unique<HandleSink<Descriptor>>(descriptor);
    }

private:
    // Refused whether the registry file exists or not: a missing user.reg
    // must not be planted by an export.
    bool is_protected(const std::string& path) const
    {
        if (auto identity = identity_of(path); identity && std::ranges::find(protected_files_, *identity) != protected_files_.end())
            return true;
        auto place = place_of(path);
        return place && std::ranges::find(protected_places_, *place) != protected_places_.end();
    }

    std::vector<FileIdentity> protected_files_;
    std::vector<Place> protected_places_;
};

} // namespace

std::unique_ptr<OutputFiles> make_platform_files(std::vector<std::string> protected_paths)
{
    return std::make_unique<PosixFiles>(std::move(protected_paths));
}

std::unique_ptr<ByteSink> make_console() { return make_standard_output(::isatty(STDOUT_FILENO) == 1); }

} // namespace hivedump
