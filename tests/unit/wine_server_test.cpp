#include "wine/server.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace hivedump::wine {
namespace {

namespace fs = std::filesystem;

/// A prefix and both kinds of server roots in a temporary directory.
class ServerSandbox {
public:
    ServerSandbox()
    {
        static int counter = 0;
        root_ = fs::temp_directory_path() / ("hivedump-server-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
        fs::create_directories(prefix());
        fs::create_directories(roots_.temp_dir = (root_ / "tmp").string());
        fs::create_directories(roots_.user_dir = (root_ / "user").string());
    }
    ~ServerSandbox() { fs::remove_all(root_); }
    ServerSandbox(const ServerSandbox&) = delete;
    ServerSandbox& operator=(const ServerSandbox&) = delete;

    fs::path prefix() const { return root_ / "prefix"; }
    fs::path root() const { return root_; }
    const WineServerRoots& roots() const { return roots_; }

    /// The server directory's name, as Wine makes it from the prefix.
    std::string server_dir() const
    {
        struct stat status { };
        EXPECT_EQ(::stat(prefix().c_str(), &status), 0);
        char name[64];
        std::snprintf(name, sizeof name, "server-%llx-%llx", static_cast<unsigned long long>(status.st_dev),
            static_cast<unsigned long long>(status.st_ino));
        return name;
    }

private:
    fs::path root_;
    WineServerRoots roots_;
};

/// A child process holding a write lock on a file, as a wineserver does on
/// its lock file; F_GETLK would not show a lock of this process's own.
class LockHolder {
public:
    explicit LockHolder(const fs::path& path)
    {
        int ready[2];
        if (::pipe(ready) != 0)
            return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(ready[0]);
            int fd = ::open(path.c_str(), O_RDWR);
            struct flock lock { };
            lock.l_type = F_WRLCK;
            lock.l_whence = SEEK_SET;
            char result = fd >= 0 && ::fcntl(fd, F_SETLK, &lock) == 0 ? 'y' : 'n';
            (void)!::write(ready[1], &result, 1);
            for (;;)
                ::pause();
        }
        ::close(ready[1]);
        char result = 'n';
        locked_ = pid_ > 0 && ::read(ready[0], &result, 1) == 1 && result == 'y';
        ::close(ready[0]);
    }
    ~LockHolder() { release(); }
    LockHolder(const LockHolder&) = delete;
    LockHolder& operator=(const LockHolder&) = delete;

    bool locked() const { return locked_; }
    void release()
    {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
    }

private:
    pid_t pid_ = -1;
    bool locked_ = false;
};

void touch(const fs::path& path) { std::ofstream(path, std::ios::binary); }

// Each layout makes a lock file and returns it; only where Wine's own server
// would have locked it does a lock count.
TEST(WineServer, LockOnTheServerDirectoryIsSeen)
{
    struct Case {
        const char* label;
        std::function<fs::path(const ServerSandbox&)> layout;
        bool seen;
    };
    const Case cases[] = {
        { "debian: named in the prefix, below TMPDIR",
            [](const ServerSandbox& box) {
                std::ofstream(box.prefix() / "wineserver") << "wine-Ab12Cd";
                fs::path dir = fs::path(box.roots().temp_dir) / "wine-Ab12Cd" / box.server_dir();
                fs::create_directories(dir);
                touch(dir / "lock");
                return dir / "lock";
            },
            true },
        { "upstream: below /tmp/.wine-UID",
            [](const ServerSandbox& box) {
                fs::path dir = fs::path(box.roots().user_dir) / box.server_dir();
                fs::create_directories(dir);
                touch(dir / "lock");
                return dir / "lock";
            },
            true },
        { "lock file is a link to a locked file",
            [](const ServerSandbox& box) {
                fs::path dir = fs::path(box.roots().user_dir) / box.server_dir();
                fs::create_directories(dir);
                touch(box.root() / "elsewhere");
                fs::create_symlink(box.root() / "elsewhere", dir / "lock");
                return box.root() / "elsewhere";
            },
            false },
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.label);
        ServerSandbox box;
        fs::path lock = test.layout(box);
        LockHolder holder(lock);
        ASSERT_TRUE(holder.locked());
        EXPECT_EQ(wine_server_running(box.prefix().string(), box.roots()), test.seen);
        holder.release();
        EXPECT_FALSE(wine_server_running(box.prefix().string(), box.roots()));
    }
}

} // namespace
} // namespace hivedump::wine
