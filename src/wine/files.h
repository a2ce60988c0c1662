#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace hivedump::wine {

/// Where the registry files are read from: the prefix directory for the
/// program, memory for tests and fuzzers.
class RegistryFileSource {
public:
    /// An open file, read with pread's semantics.
    class File {
    public:
        virtual ~File() = default;
        /// Reads up to `size` bytes at `offset`: the count read, 0 at the end
        /// of the file, or a negative number when reading failed.
        virtual std::ptrdiff_t read_at(char* buffer, std::size_t size, std::uint64_t offset) = 0;
    };

    virtual ~RegistryFileSource() = default;
    /// The file open for reading; null when it is missing, no regular file or empty.
    virtual std::unique_ptr<File> open(const std::string& path) = 0;
    /// Whether `path` is a directory: an unreadable file of a missing prefix
    /// is reported as the prefix.
    virtual bool is_directory(const std::string& path) = 0;
};

/// The files of a prefix directory. They are read, never mapped: a file
/// that another process truncates or rewrites meanwhile then only ends early.
std::unique_ptr<RegistryFileSource> directory_files();

/// The file is read in pieces of this size; a line longer than a piece
/// makes the piece grow. Small enough to stay in the processor's cache and
/// to cost a small file few fresh pages.
inline constexpr std::size_t default_read_chunk = std::size_t{ 256 } << 10;

/// Reads a file from `offset` to `end` piece by piece, each piece ending
/// after a line feed unless it is the last: `feed(begin, end, last, offset
/// of begin)`, which returns false to stop. Returns false when a read failed.
template <typename Feed>
bool read_lines(RegistryFileSource::File& file, std::uint64_t offset, std::uint64_t end, std::size_t chunk, Feed&& feed);

} // namespace hivedump::wine

#include "wine/files_impl.h"
