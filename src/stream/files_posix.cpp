#include "stream/output_files.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <utility>

namespace hivedump {

namespace {

class FileDescriptorSink final : public ByteSink {
public:
    explicit FileDescriptorSink(int descriptor)
        : descriptor_(descriptor)
    {
    }
    FileDescriptorSink(const FileDescriptorSink&) = delete;
    FileDescriptorSink& operator=(const FileDescriptorSink&) = delete;
    ~FileDescriptorSink() override { close(); }

    bool write(std::span<const char> bytes) override
    {
        while (!bytes.empty()) {
            ssize_t written = ::write(descriptor_, bytes.data(), bytes.size());
            if (written < 0 && errno == EINTR)
                continue;
            if (written <= 0)
                return false;
            bytes = bytes.subspan(static_cast<std::size_t>(written));
        }
        return true;
    }

    bool close() override
    {
        if (descriptor_ < 0)
            return true;
        // Retrying close after EINTR could close a descriptor reused by now.
        int result = ::close(descriptor_);
        descriptor_ = -1;
        return result == 0 || errno == EINTR;
    }

    // Large writes: a system call per 4096 bytes cost more than the export's
    // own formatting on a big file. Larger blocks save nothing more, and a
    // short export would pay for their fresh pages.
    std::size_t block_size() const override { return 256 * 1024; }

private:
    int descriptor_;
};

struct FileIdentity {
    dev_t device;
    ino_t inode;
};

class PosixFiles final : public OutputFiles {
public:
    explicit PosixFiles(std::vector<std::string> protected_paths)
    {
        for (const auto& path : protected_paths) {
            struct stat status { };
            if (::stat(path.c_str(), &status) == 0)
                protected_.push_back({ status.st_dev, status.st_ino });
        }
    }

    std::unique_ptr<ByteSink> create(const std::string& path) override
    {
        if (is_protected(path))
            return nullptr;
        int descriptor = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        if (descriptor < 0)
            return nullptr;
        return std::make_unique<FileDescriptorSink>(descriptor);
    }

private:
    bool is_protected(const std::string& path) const
    {
        struct stat status { };
        if (::stat(path.c_str(), &status) != 0)
            return false;
        for (const auto& identity : protected_) {
            if (identity.device == status.st_dev && identity.inode == status.st_ino)
                return true;
        }
        return false;
    }

    std::vector<FileIdentity> protected_;
};

class StandardOutput final : public ByteSink {
public:
    StandardOutput()
        : console_(::isatty(STDOUT_FILENO) == 1)
    {
    }
    bool write(std::span<const char> bytes) override
    {
        bool written = std::fwrite(bytes.data(), 1, bytes.size(), stdout) == bytes.size();
        if (console_)
            std::fflush(stdout);
        return written;
    }

private:
    bool console_;
};

} // namespace

std::unique_ptr<OutputFiles> make_platform_files(std::vector<std::string> protected_paths)
{
    return std::make_unique<PosixFiles>(std::move(protected_paths));
}

std::unique_ptr<ByteSink> make_console() { return std::make_unique<StandardOutput>(); }

} // namespace hivedump
