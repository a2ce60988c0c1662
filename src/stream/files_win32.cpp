#include "stream/output_files.h"

#include <windows.h>

#include <cstdio>
#include <io.h>

namespace hivedump {

namespace {

/// The calls on a file handle.
struct FileHandle {
    using Handle = HANDLE;

    static std::size_t write_some(HANDLE file, std::span<const char> bytes)
    {
        DWORD chunk = bytes.size() > 0x40000000u ? 0x40000000u : static_cast<DWORD>(bytes.size());
        DWORD written = 0;
        if (!WriteFile(file, bytes.data(), chunk, &written, nullptr))
            return 0;
        return written;
    }

    static bool close(HANDLE& file)
    {
        if (file == INVALID_HANDLE_VALUE)
            return true;
        BOOL closed = CloseHandle(file);
        file = INVALID_HANDLE_VALUE;
        return closed != FALSE;
    }

    static constexpr std::size_t block_size = 4096;
};

class Win32Files final : public OutputFiles {
public:
    std::unique_ptr<ByteSink> create(const std::string& path) override
    {
        SECURITY_ATTRIBUTES inheritable{ sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE };
        HANDLE file = CreateFileA(
            path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            return nullptr;
        return std::make_unique<HandleSink<FileHandle>>(file);
    }
};

} // namespace

std::unique_ptr<OutputFiles> make_platform_files(std::vector<std::string>) { return std::make_unique<Win32Files>(); }

// The C runtime's text stream turns each line feed into CR LF.
std::unique_ptr<ByteSink> make_console() { return make_standard_output(_isatty(_fileno(stdout)) != 0); }

} // namespace hivedump
