#pragma once

#include "code_page/code_page.h"

#include <cstdint>
#include <optional>
#include <string_view>

namespace hivedump::wine {

/// The locale variables as the environment has them; unset is nullopt.
struct LocaleVariables {
    std::optional<std::string_view> all; ///< LC_ALL
    std::optional<std::string_view> ctype; ///< LC_CTYPE
    std::optional<std::string_view> lang; ///< LANG
};

/// The ANSI code page that Wine picks for the locale a program runs in: the
/// locale named by LC_ALL, whether or not the C library can load it; else
/// the locale the C library loads for LC_CTYPE (from LC_CTYPE, else LANG),
/// and 1252 when it cannot. Sets the C library's LC_CTYPE from the
/// environment.
CodePage code_page_from_locale();
/// The same from the variables, `ctype_loads` telling whether the C library
/// can load the locale they give LC_CTYPE.
std::uint32_t code_page_for_environment(const LocaleVariables& variables, bool ctype_loads);
/// The ANSI code page of a locale name such as "sr_RS.UTF-8@latin": 65001
/// (UTF-8) for a locale that has none, 1252 for one Wine does not know.
std::uint32_t code_page_for_locale(std::string_view locale);

} // namespace hivedump::wine
