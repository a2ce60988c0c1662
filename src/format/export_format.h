#pragma once

#include "code_page/code_page.h"
#include "registry/value_type.h"
#include "stream/text_stream.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace hivedump {

/// Past this column a hex line is continued on the next.
inline constexpr std::size_t hex_column_limit = 76;

void write_file_header(TextStream& stream);
void write_ancestor_header(TextStream& stream, std::string_view master_key, std::string_view path_prefix);
void write_key_header(TextStream& stream, std::string_view master_key, std::string_view key_path);
void write_block_end(TextStream& stream);

/// Escapes backslashes and double quotes of `text` into `escaped`, each with
/// a backslash in front. In a double-byte code page the trail byte of a
/// character is never escaped.
void escape_text(std::string_view text, const CodePage& code_page, std::string& escaped);

/// True when `text` holds a line feed or a carriage return, which no quoted
/// form or header line can carry.
bool has_line_break(std::string_view text);

/// Appends `text` with each line feed as \n and each carriage return as \r.
void append_showing_line_breaks(std::string& out, std::string_view text);

/// Writes one value's entry in the form its type and data call for; every
/// choice of form is made here. `name` is not escaped yet, and an empty one
/// is the default value ("@"). `scratch` takes the escaped name: the caller
/// keeps it from value to value so that its room is reused.
void write_value(TextStream& stream, std::string_view name, std::uint32_t type, std::span<const std::byte> data, const CodePage& code_page,
    std::string& scratch);

} // namespace hivedump
