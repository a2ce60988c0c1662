#pragma once

#include "code_page/code_page.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace hivedump::wine {

/// The prefix Wine would use: $WINEPREFIX, else $HOME/.wine.
std::string find_wine_prefix();

/// The ANSI code page that Wine picks for the locale a program runs in: the
/// C library's LC_CTYPE (from LC_ALL, else LC_CTYPE, else LANG).
CodePage code_page_from_locale();
/// The ANSI code page of a locale name such as "ja_JP.UTF-8".
std::uint32_t code_page_for_locale(std::string_view locale);

/// Converts text in the locale's character set to the ANSI code page, as
/// Wine converts a program's arguments.
std::string locale_to_code_page(std::string_view text, const CodePage& code_page);

} // namespace hivedump::wine
