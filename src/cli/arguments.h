#pragma once

#include "code_page/code_page.h"
#include "registry/registry.h"

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace hivedump {

inline constexpr std::string_view usage_line = "Usage : hivedump [-v] [key] outfile";
inline constexpr std::string_view default_key = "HKEY_CURRENT_USER\\Software\\Velmora";

enum class Banner { hidden, shown };
enum class Outcome {
    usage, ///< print the usage line, fail
    banner_only, ///< print the banner, succeed, create nothing
    export_key,
};

/// What the command line asks for.
struct ExportRequest {
    Outcome outcome = Outcome::usage;
    Banner banner = Banner::hidden;
    std::string key;
    std::string output_path;
};

/// No Windows command line holds more UTF-16 units than this, so no key
/// argument longer than this reaches the Windows program.
inline constexpr std::size_t max_command_line_units = 32767;

/// The UTF-16 units that `text`, in `code_page`, takes on a command line.
std::size_t command_line_units(std::string_view text, const CodePage& code_page);

/// The environment variable that chooses the registry view; the usage line
/// is fixed, so the choice cannot be an argument.
inline constexpr const char* view_variable = "HIVEDUMP_VIEW";
inline constexpr std::string_view view_variable_error = "HIVEDUMP_VIEW must be 32 or 64, or unset\n";

/// The view the variable's value asks for: unset (null) is the program's
/// own, "32" and "64" the 32-bit and 64-bit views; nullopt for anything else.
std::optional<registry::View> view_from_variable(const char* value);

/// True for exactly "-v", "/v", "-V" and "/V".
bool is_banner_switch(std::string_view argument);

/// Reads the arguments that follow the program name.
ExportRequest parse_arguments(std::span<const std::string> arguments);

/// The key text split at its first backslash.
struct KeyName {
    std::string master_key;
    std::string key_path;
};
KeyName split_key(std::string_view key);

} // namespace hivedump
