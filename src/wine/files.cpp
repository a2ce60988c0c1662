#include "wine/files.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace hivedump::wine {

namespace {

/// A registry file of the prefix directory. It is read, never mapped: a
/// file that another process truncates or rewrites meanwhile then only ends early.
class DirectoryFile final : public RegistryFileSource::File {
public:
    explicit DirectoryFile(int descriptor)
        : descriptor_(descriptor)
    {
    }
    ~DirectoryFile() override { ::close(descriptor_); }
    DirectoryFile(const DirectoryFile&) = delete;
    DirectoryFile& operator=(const DirectoryFile&) = delete;

    std::ptrdiff_t read_at(char* buffer, std::size_t size, std::uint64_t offset) override
    {
        for (;;) {
            auto count = ::pread(descriptor_, buffer, size, static_cast<off_t>(offset));
            if (count < 0 && errno == EINTR)
                continue;
            return count;
        }
    }

private:
    int descriptor_;
};

class DirectoryFiles final : public RegistryFileSource {
public:
    std::unique_ptr<File> open(const std::string& path) override
    {
        // Not blocking: a named pipe in place of the file must fail at once
        // rather than wait for a writer.
        int descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
        if (descriptor < 0)
            return nullptr;
        auto file = std::make_unique<DirectoryFile>(descriptor);
        struct stat info { };
        if (::fstat(descriptor, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size <= 0)
            return nullptr;
        ::posix_fadvise(descriptor, 0, 0, POSIX_FADV_SEQUENTIAL);
        return file;
    }

    bool is_directory(const std::string& path) override
    {
        struct stat info { };
        return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
    }
};

} // namespace

std::unique_ptr<RegistryFileSource> directory_files() { return std::make_unique<DirectoryFiles>(); }

} // namespace hivedump::wine
