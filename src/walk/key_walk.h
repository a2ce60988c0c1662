#pragma once

#include "walk/export_context.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace hivedump {

/// The platform's own limit on the depth of a key tree: keys this far below
/// the exported key are written, their subkeys are named as left out.
inline constexpr std::size_t max_walk_depth = 512;

/// The predefined root key that a master key name stands for, if any. Names
/// match byte for byte, case included.
std::optional<registry::Handle> find_master_key(std::string_view master_key);

/// Opens `key_path` below the named master key and writes it and its whole
/// subtree. Returns 0 when the key was found, opened and walked, else 1.
int export_master_key(const ExportContext& context, std::string_view master_key, const std::string& key_path);

/// Writes the key open at `key` and every key below it, depth-first. Returns
/// 1 when the key itself was abandoned for lack of memory, else 0. Every key
/// left out of the file is named on the console and marks the context.
int dump_key(const ExportContext& context, registry::Handle key, std::string_view master_key, const std::string& key_path);

} // namespace hivedump
