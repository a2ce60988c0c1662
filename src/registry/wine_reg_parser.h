#pragma once

#include "registry/wine_hive.h"

#include <functional>
#include <span>
#include <string>

namespace hivedump::registry::wine {

/// Where a key path in the file leads when it passes through a link: the
/// server follows links while it creates keys, creating the target when missing.
/// Returns no_node when the link cannot be followed.
using LinkFollower = std::function<NodeIndex(NodeIndex link)>;

struct ParseResult {
    bool valid = false; ///< false: not a Wine registry file, nothing loaded
    std::string relative_to; ///< the ";; All keys relative to" path, unescaped
    std::size_t skipped_lines = 0; ///< lines passed over as the server passes them over
};

/// Loads the keys and values of one registry file below `base`. Lines that
/// do not parse are passed over, as the server passes them over.
/// `consumed` is told, now and then, how much of `contents` is no longer needed.
ParseResult parse_registry_file(std::span<const char> contents, Hive& hive, NodeIndex base, const LinkFollower& follow_link,
    const std::function<void(std::size_t)>& consumed = {});

} // namespace hivedump::registry::wine
