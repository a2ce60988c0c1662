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

/// What became of the key asked for. Every key left out of the file has
/// been named on the console by then.
enum class KeyExport {
    /// The key and every key below it are in the file.
    whole,
    /// The key was walked, but one key or more is not in the file whole.
    keys_left_out,
    /// The master key is unknown or the key does not open: nothing is written.
    not_opened,
};

/// Opens `key_path` below the named master key and writes it and its whole
/// subtree.
[[nodiscard]] KeyExport export_master_key(const ExportContext& context, std::string_view master_key, const std::string& key_path);

/// Writes the key open at `key` and every key below it, depth-first.
[[nodiscard]] KeyExport dump_key(
    const ExportContext& context, registry::Handle key, std::string_view master_key, const std::string& key_path);

} // namespace hivedump
