#pragma once

#include "registry/wine_hive.h"

#include <cstddef>
#include <functional>
#include <span>
#include <string>

namespace hivedump::registry::wine {

/// Where a key path in the file leads when it passes through a link: the
/// server follows links while it creates keys, creating the target when missing.
/// Returns no_node when the link cannot be followed.
using LinkFollower = std::function<NodeIndex(NodeIndex link)>;

/// Reads the next bytes of a registry file into the buffer: returns the count
/// read, 0 at the end of the file, or a negative number when reading failed.
using ReadFunction = std::function<std::ptrdiff_t(char* buffer, std::size_t size)>;

/// The file is read in pieces of this size, each released once parsed; a
/// line longer than a piece makes the piece grow.
inline constexpr std::size_t default_read_chunk = std::size_t{ 4 } << 20;

struct ParseResult {
    bool valid = false; ///< false: not a Wine registry file, nothing loaded
    bool read_failed = false; ///< reading stopped with an error; what came before is loaded
    std::string relative_to; ///< the ";; All keys relative to" path, unescaped
    std::size_t skipped_lines = 0; ///< lines passed over as the server passes them over
};

/// Loads the keys and values of one registry file below `base`, reading it
/// piece by piece. Lines that do not parse are passed over, as the server
/// passes them over; a file that ends early loads what it holds.
ParseResult parse_registry_file(
    const ReadFunction& read, Hive& hive, NodeIndex base, const LinkFollower& follow_link, std::size_t chunk_size = default_read_chunk);

/// The same for contents already in memory.
ParseResult parse_registry_file(std::span<const char> contents, Hive& hive, NodeIndex base, const LinkFollower& follow_link);

} // namespace hivedump::registry::wine
