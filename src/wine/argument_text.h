#pragma once

#include "code_page/code_page.h"

#include <string>
#include <string_view>

namespace hivedump::wine {

/// Converts text in the character set of the C library's LC_CTYPE to the
/// ANSI code page, as Wine converts a program's arguments.
std::string locale_to_code_page(std::string_view text, const CodePage& code_page);
/// The same from a character set as nl_langinfo(CODESET) names it.
std::string locale_to_code_page(std::string_view text, std::string_view charset, const CodePage& code_page);

} // namespace hivedump::wine
