#pragma once

#include "walk/export_context.h"

namespace hivedump {

/// What `dump_values` returns.
namespace values {
inline constexpr int written = 0;
/// The key's buffers could not be had: none of its values is written.
inline constexpr int abandoned = 1;
/// One value or more could not be read whole and is missing from the file.
inline constexpr int value_lost = 2;
} // namespace values

/// Writes the entries of one key's values.
int dump_values(const ExportContext& context, registry::Handle key);

} // namespace hivedump
