#include "wine/server.h"

#include <cstdlib>
#include <fcntl.h>
#include <new>
#include <optional>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace hivedump::wine {

namespace {

class UniqueFd {
public:
    explicit UniqueFd(int fd)
        : fd_(fd)
    {
    }
    ~UniqueFd()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    UniqueFd(UniqueFd&& other) noexcept
        : fd_(std::exchange(other.fd_, -1))
    {
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }

private:
    int fd_;
};

// Never follows a link, never blocks on a FIFO, never becomes a terminal.
constexpr int look_flags = O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY;

// Wine only uses directories of the user's own; anything else is not its.
UniqueFd open_own_directory(int at, const std::string& name)
{
    UniqueFd dir(::openat(at, name.c_str(), look_flags | O_DIRECTORY));
    struct stat status { };
    if (!dir || ::fstat(dir.get(), &status) != 0 || status.st_uid != ::getuid())
        return UniqueFd(-1);
    return dir;
}

// Regular files only: opening a device or socket could do more than look.
UniqueFd open_regular_file(int at, const char* name)
{
    struct stat before { };
    if (::fstatat(at, name, &before, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(before.st_mode))
        return UniqueFd(-1);
    UniqueFd file(::openat(at, name, look_flags));
    struct stat after { };
    if (!file || ::fstat(file.get(), &after) != 0 || after.st_dev != before.st_dev || after.st_ino != before.st_ino)
        return UniqueFd(-1);
    return file;
}

// The name Debian's Wine wrote into the prefix: one path component.
std::optional<std::string> debian_server_parent(int prefix)
{
    UniqueFd file = open_regular_file(prefix, "wineserver");
    if (!file)
        return std::nullopt;
    char buffer[256];
    ssize_t size = ::read(file.get(), buffer, sizeof buffer);
    if (size <= 0 || static_cast<std::size_t>(size) == sizeof buffer)
        return std::nullopt;
    std::string_view name(buffer, static_cast<std::size_t>(size));
    if (name.ends_with('\n'))
        name.remove_suffix(1);
    if (name.empty() || name == "." || name == ".." || name.find_first_of(std::string_view("/\0\n", 3)) != std::string_view::npos)
        return std::nullopt;
    return std::string(name);
}

bool lock_held(int parent, const std::string& server_dir)
{
    UniqueFd server = open_own_directory(parent, server_dir);
    if (!server)
        return false;
    UniqueFd lock = open_regular_file(server.get(), "lock");
    if (!lock)
        return false;
    // F_GETLK only asks; it works on a read-only descriptor for a write lock.
    struct flock query { };
    query.l_type = F_WRLCK;
    query.l_whence = SEEK_SET;
    return ::fcntl(lock.get(), F_GETLK, &query) == 0 && query.l_type != F_UNLCK;
}

std::string hex(unsigned long long number)
{
    constexpr char digits[] = "0123456789abcdef";
    std::string text;
    do {
        text.insert(text.begin(), digits[number % 16]);
        number /= 16;
    } while (number != 0);
    return text;
}

} // namespace

WineServerRoots wine_server_roots_from_environment()
{
    const char* temp = std::getenv("TMPDIR");
    return { temp != nullptr && *temp != '\0' ? temp : "/tmp", "/tmp/.wine-" + std::to_string(::getuid()) };
}

bool wine_server_running(const std::string& prefix, const WineServerRoots& roots) noexcept
try {
    // Wine names the server's directory after the prefix it reached through
    // any links, so this one follows them.
    UniqueFd prefix_dir(::open(prefix.c_str(), O_RDONLY | O_CLOEXEC | O_DIRECTORY | O_NONBLOCK));
    struct stat status { };
    if (!prefix_dir || ::fstat(prefix_dir.get(), &status) != 0)
        return false;
    std::string server_dir = "server-" + hex(status.st_dev) + "-" + hex(status.st_ino);

    if (auto name = debian_server_parent(prefix_dir.get())) {
        UniqueFd temp(::open(roots.temp_dir.c_str(), O_RDONLY | O_CLOEXEC | O_DIRECTORY | O_NONBLOCK));
        if (temp) {
            UniqueFd parent = open_own_directory(temp.get(), *name);
            if (parent && lock_held(parent.get(), server_dir))
                return true;
        }
    }
    UniqueFd user = open_own_directory(AT_FDCWD, roots.user_dir);
    return user && lock_held(user.get(), server_dir);
} catch (const std::bad_alloc&) {
    // Only a warning hangs on this; the export goes on without it.
    return false;
}

} // namespace hivedump::wine
