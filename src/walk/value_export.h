#pragma once

#include "walk/export_context.h"

namespace hivedump {

/// What became of one key's values.
enum class ValuesOutcome {
    written,
    /// The key's buffers could not be had: none of its values is written.
    abandoned,
    /// One value or more could not be read whole and is missing from the file.
    value_lost,
};

/// Writes the entries of one key's values.
[[nodiscard]] ValuesOutcome dump_values(const ExportContext& context, registry::Handle key);

} // namespace hivedump
