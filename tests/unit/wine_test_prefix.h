#pragma once

// Wine prefixes written by the Wine reader's tests.

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <unistd.h>

namespace hivedump::registry::wine_test {

namespace fs = std::filesystem;

inline constexpr std::string_view header = "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\User\\\\S-1-5-21-0-0-0-1000\n\n";

/// A prefix in a temporary directory, removed afterwards.
class TemporaryPrefix {
public:
    TemporaryPrefix()
    {
        static int counter = 0;
        path_ = fs::temp_directory_path() / ("hivedump-wine-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
        fs::create_directories(path_);
    }
    ~TemporaryPrefix() { fs::remove_all(path_); }
    TemporaryPrefix(const TemporaryPrefix&) = delete;
    TemporaryPrefix& operator=(const TemporaryPrefix&) = delete;

    void write(const std::string& name, std::string_view contents) const { std::ofstream(path_ / name, std::ios::binary) << contents; }
    std::string path() const { return path_.string(); }

private:
    fs::path path_;
};

/// The value line that makes a key a link to `target`.
inline std::string link_value(std::string_view target)
{
    std::string line = "\"SymbolicLinkValue\"=hex(6):";
    for (char c : target) {
        char pair[8];
        std::snprintf(pair, sizeof pair, "%02x,00,", static_cast<unsigned char>(c));
        line += pair;
    }
    line.pop_back();
    return line + "\n";
}

} // namespace hivedump::registry::wine_test
