#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

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

/// A registry file held to the bytes first read from it. Keys and their value
/// spans come from the first pass, values are read long after: every byte read
/// again must be the one first read, or a value could land under another key.
/// The file is cut into blocks whose fingerprints the first reads take; a
/// later read checks the blocks it touches, and from the first that differs
/// (the file rewritten in place or cut) every read fails. A file replaced by
/// rename keeps its bytes in this open file, and bytes appended after the end
/// first met are never read: both give the file as first read.
class PinnedFile final : public RegistryFileSource::File {
public:
    static constexpr std::size_t default_block_size = std::size_t{ 64 } << 10;

    /// Tests make the blocks tiny, so that small files have blocks to check.
    explicit PinnedFile(std::unique_ptr<RegistryFileSource::File> file, std::size_t block_size = default_block_size);
    std::ptrdiff_t read_at(char* buffer, std::size_t size, std::uint64_t offset) override;
    /// The file no longer holds the bytes first read from it.
    bool changed() const { return changed_; }

private:
    /// Takes the fingerprint of the block read whole.
    void seal();
    /// Reads a block's worth at `offset`, less at the file's end; -1 when a read failed.
    std::ptrdiff_t read_up_to_block(char* into, std::uint64_t offset);
    /// Reads the block at `offset`, the first of the file not read yet,
    /// straight into `into` and takes its fingerprint there: the first
    /// pass's pieces are whole blocks, and copying each cost more than
    /// checking it. A block the file's end cuts is kept as any read's.
    /// Returns the count read, or -1 when a read failed.
    std::ptrdiff_t read_fresh_block(char* into, std::uint64_t offset);
    /// Whether the bytes read again for block `index` are those first read.
    bool first_read(const char* block, std::ptrdiff_t held, std::size_t index);
    /// The block at `index`, read again and checked; null when it differs.
    const char* checked_block(std::size_t index);

    std::unique_ptr<RegistryFileSource::File> file_;
    std::size_t block_size_;
    std::vector<std::uint64_t> fingerprints_; ///< of the whole blocks read
    std::unique_ptr<char[]> last_; ///< the block after them, as far as read: its bytes are kept
    std::size_t last_held_ = 0;
    bool ended_ = false; ///< a read met the end: the file ends there for good
    bool changed_ = false;
    std::unique_ptr<char[]> checked_; ///< the block last read again
    std::size_t checked_index_ = SIZE_MAX;
};

/// The file is read in pieces of this size; a line longer than a piece
/// makes the piece grow. A block's size: it stays in the processor's cache,
/// and each fresh page costs a page fault, which on a virtual machine took
/// a tenth of a small export's time with pieces of 256 KiB.
inline constexpr std::size_t default_read_chunk = std::size_t{ 64 } << 10;

/// Reads a file from `offset` to `end` piece by piece, each piece ending
/// after a line feed unless it is the last: `feed(begin, end, last, offset
/// of begin)`, which returns false to stop. Returns false when a read failed.
/// From an offset that is a multiple of `chunk`, each read ends at the next
/// multiple: a pinned file with blocks of that size then reads whole blocks
/// into the pieces, without copying them.
template <typename Feed>
bool read_lines(RegistryFileSource::File& file, std::uint64_t offset, std::uint64_t end, std::size_t chunk, Feed&& feed);

} // namespace hivedump::wine

#include "wine/files_impl.h"
