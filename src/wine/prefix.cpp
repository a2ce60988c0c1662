#include "wine/prefix.h"

#include "wine/text.h"

#include <clocale>
#include <cstdlib>
#include <iconv.h>
#include <langinfo.h>
#include <memory>

namespace hivedump::wine {

std::string find_wine_prefix()
{
    if (const char* prefix = std::getenv("WINEPREFIX"); prefix != nullptr && *prefix != '\0')
        return prefix;
    const char* home = std::getenv("HOME");
    return std::string(home != nullptr ? home : "") + "/.wine";
}

std::uint32_t code_page_for_locale(std::string_view locale)
{
    auto cut = locale.find_first_of(".@");
    auto name = locale.substr(0, cut);
    auto underscore = name.find('_');
    auto language = name.substr(0, underscore);
    auto country = underscore == std::string_view::npos ? std::string_view{} : name.substr(underscore + 1);
    auto modifier = locale.find('@') == std::string_view::npos ? std::string_view{} : locale.substr(locale.find('@') + 1);

    struct Entry {
        std::string_view language;
        std::uint32_t code_page;
    };
    static constexpr Entry by_language[] = {
        { "ja", 932 },
        { "ko", 949 },
        { "th", 874 },
        { "vi", 1258 },
        { "cs", 1250 },
        { "hu", 1250 },
        { "pl", 1250 },
        { "ro", 1250 },
        { "sk", 1250 },
        { "sl", 1250 },
        { "hr", 1250 },
        { "sq", 1250 },
        { "bs", 1250 },
        { "ru", 1251 },
        { "uk", 1251 },
        { "be", 1251 },
        { "bg", 1251 },
        { "mk", 1251 },
        { "kk", 1251 },
        { "ky", 1251 },
        { "tt", 1251 },
        { "mn", 1251 },
        { "ba", 1251 },
        { "el", 1253 },
        { "tr", 1254 },
        { "az", 1254 },
        { "uz", 1254 },
        { "he", 1255 },
        { "yi", 1255 },
        { "ar", 1256 },
        { "fa", 1256 },
        { "ur", 1256 },
        { "ps", 1256 },
        { "et", 1257 },
        { "lv", 1257 },
        { "lt", 1257 },
    };
    if (language == "zh")
        return (country == "TW" || country == "HK" || country == "MO") ? 950 : 936;
    if (language == "sr")
        return modifier == "latin" ? 1250 : 1251;
    for (const auto& entry : by_language) {
        if (entry.language == language)
            return entry.code_page;
    }
    return 1252;
}

CodePage code_page_from_locale()
{
    // Wine takes the locale the C library settles on: one that is not
    // installed leaves "C", and so 1252.
    std::setlocale(LC_ALL, "");
    const char* name = std::setlocale(LC_CTYPE, nullptr);
    return CodePage::from_number(code_page_for_locale(name != nullptr ? name : "C"));
}

std::string locale_to_code_page(std::string_view text, const CodePage& code_page)
{
    const char* charset = nl_langinfo(CODESET);
    iconv_t opened = iconv_open("UTF-16LE", charset != nullptr ? charset : "UTF-8");
    if (opened == reinterpret_cast<iconv_t>(-1))
        return std::string(text);
    // Closed however the conversion ends: an allocation below may throw.
    auto close = [](void* descriptor) { iconv_close(static_cast<iconv_t>(descriptor)); };
    std::unique_ptr<void, decltype(close)> converter(opened, close);
    std::string wide(text.size() * 4 + 4, '\0');
    auto* in = const_cast<char*>(text.data());
    std::size_t in_left = text.size();
    auto* out = wide.data();
    std::size_t out_left = wide.size();
    while (in_left != 0) {
        if (iconv(converter.get(), &in, &in_left, &out, &out_left) != static_cast<std::size_t>(-1))
            break;
        // A byte that is no character of the locale is passed over.
        ++in;
        --in_left;
    }
    converter.reset();
    std::size_t units = (wide.size() - out_left) / 2;
    AnsiConverter ansi(code_page.number());
    TextView view{ reinterpret_cast<const unsigned char*>(wide.data()), static_cast<std::uint32_t>(units), true };
    std::string result;
    ansi.append(view, result);
    return result;
}

} // namespace hivedump::wine
