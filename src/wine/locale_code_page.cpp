// The ANSI code page Wine picks for the locale a program runs in.
#include "wine/locale_code_page.h"

#include <algorithm>
#include <cctype>
#include <clocale>
#include <cstdlib>
#include <iterator>
#include <optional>
#include <string>

namespace hivedump::wine {

namespace {

struct LocaleCodePage {
    std::string_view name; ///< Wine's name for the locale, lower case
    std::uint32_t code_page;
};

// The locales of Wine whose ANSI code page is not 1252, as Wine lists them.
// clang-format off
constexpr LocaleCodePage locale_code_pages[] = {
#include "wine/locale_code_pages.inc"
};
// clang-format on

constexpr std::uint32_t default_code_page = 1252;

std::string lower(std::string_view text)
{
    std::string result(text);
    for (char& c : result)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return result;
}

std::optional<std::string_view> variable(const char* name)
{
    const char* value = std::getenv(name);
    if (value == nullptr)
        return std::nullopt;
    return std::string_view(value);
}

} // namespace

std::uint32_t code_page_for_locale(std::string_view locale)
{
    // language_COUNTRY.codeset@modifier: Wine asks for its locale
    // language-Script-COUNTRY, the script from the modifiers that name one;
    // the character set plays no part.
    auto at = locale.find('@');
    auto modifier = at == std::string_view::npos ? std::string_view{} : locale.substr(at + 1);
    auto name = locale.substr(0, std::min(at, locale.find('.')));
    auto underscore = name.find('_');
    auto language = name.substr(0, underscore);
    auto country = underscore == std::string_view::npos ? std::string_view{} : name.substr(underscore + 1);
    std::string wanted(language);
    if (modifier == "latin")
        wanted += "-Latn";
    else if (modifier == "cyrillic")
        wanted += "-Cyrl";
    else if (modifier == "devanagari")
        wanted += "-Deva";
    if (!country.empty()) {
        wanted += '-';
        wanted += country;
    }
    wanted = lower(wanted);
    auto found = std::lower_bound(std::begin(locale_code_pages), std::end(locale_code_pages), std::string_view(wanted),
        [](const LocaleCodePage& entry, std::string_view key) { return entry.name < key; });
    if (found != std::end(locale_code_pages) && found->name == wanted)
        return found->code_page;
    return default_code_page;
}

std::uint32_t code_page_for_environment(const LocaleVariables& variables, bool ctype_loads)
{
    // LC_ALL counts even when the C library cannot load it; LC_CTYPE and
    // LANG only through the locale it loads, and one it cannot load leaves C.
    if (variables.all && !variables.all->empty())
        return code_page_for_locale(*variables.all);
    if (!ctype_loads)
        return default_code_page;
    if (variables.ctype && !variables.ctype->empty())
        return code_page_for_locale(*variables.ctype);
    if (variables.lang && !variables.lang->empty())
        return code_page_for_locale(*variables.lang);
    return default_code_page;
}

CodePage code_page_from_locale()
{
    LocaleVariables variables{ variable("LC_ALL"), variable("LC_CTYPE"), variable("LANG") };
    // Loaded apart from the other categories: one of them that the C library
    // cannot load does not keep Wine from the character type's locale.
    bool ctype_loads = std::setlocale(LC_CTYPE, "") != nullptr;
    return CodePage::from_number(code_page_for_environment(variables, ctype_loads));
}

} // namespace hivedump::wine
