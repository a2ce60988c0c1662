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

/// Escapes every occurrence of `character` in `text`, in place: a backslash
/// is doubled, anything else gets a backslash in front. In a double-byte code
/// page the trail byte of a character is never escaped.
void escape_char(std::string& text, char character, const CodePage& code_page);

/// Escapes backslashes and then double quotes of `text` into `escaped`, as
/// escape_char does for each in turn, in one pass.
void escape_text(std::string_view text, const CodePage& code_page, std::string& escaped);

/// Escapes a value name: as escape_text, and a line feed or carriage return
/// as \n or \r, which the registry editor reads back, so that no name can
/// split its entry's line.
void escape_name(std::string_view name, const CodePage& code_page, std::string& escaped);

/// True when `text` holds a line feed or a carriage return, which no quoted
/// form or header line can carry.
bool has_line_break(std::string_view text);

/// Appends `text` with each line feed as \n and each carriage return as \r.
void append_showing_line_breaks(std::string& out, std::string_view text);

/// The string form for a text not yet escaped; the text is escaped piece by
/// piece on its way out, so a huge value is never held twice.
void write_string_value_escaping(TextStream& stream, std::string_view name, std::string_view text, const CodePage& code_page);

/// The value forms; `name` is already escaped and an empty one selects the
/// default-value ("@") form.
void write_string_value(TextStream& stream, std::string_view name, std::string_view text);
void write_dword_value(TextStream& stream, std::string_view name, std::array<std::uint8_t, 4> digits_order);
void write_hex_value(TextStream& stream, std::string_view name, std::uint32_t type, std::span<const std::byte> data);

} // namespace hivedump
