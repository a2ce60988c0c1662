// A program's arguments as Wine converts them from the locale's character
// set to the ANSI code page.
#include "wine/argument_text.h"

#include "wine/ansi_converter.h"
#include "wine/text.h"

#include <algorithm>
#include <array>
#include <clocale>
#include <iconv.h>
#include <langinfo.h>
#include <memory>
#include <string>

namespace hivedump::wine {

namespace {

/// How Wine reads a character set of the C library: through one of its
/// own code pages, or, for one it has none for, as UTF-8.
struct CharsetReading {
    std::string_view charset;
    std::uint32_t code_page; ///< 0: with iconv, one byte a character
};

constexpr CharsetReading charset_readings[] = {
    { "CP1250", 1250 },
    { "CP1251", 1251 },
    { "CP1252", 1252 },
    { "CP1253", 1253 },
    { "CP1254", 1254 },
    { "CP1255", 1255 },
    { "CP1256", 1256 },
    { "CP1257", 1257 },
    { "CP1258", 1258 },
    { "GB2312", 936 },
    { "GBK", 936 },
    { "GB18030", 936 },
    { "BIG5", 950 },
    { "BIG5-HKSCS", 950 },
    { "EUC-KR", 949 },
    { "ISO-8859-1", 0 },
    { "ISO-8859-2", 0 },
    { "ISO-8859-3", 0 },
    { "ISO-8859-4", 0 },
    { "ISO-8859-5", 0 },
    { "ISO-8859-6", 0 },
    { "ISO-8859-7", 0 },
    { "ISO-8859-8", 0 },
    { "ISO-8859-9", 0 },
    { "ISO-8859-13", 0 },
    { "ISO-8859-15", 0 },
    { "KOI8-R", 0 },
    { "KOI8-U", 0 },
};

/// One byte a character through iconv. A byte with no character in the set
/// becomes what Wine's table has for it: a private-use unit numbered in
/// byte order for ISO-8859-3, else one that no ANSI code page holds.
void read_single_byte(std::string_view text, iconv_t converter, std::string_view charset, std::u16string& units)
{
    char16_t next_private = 0xF7F5;
    std::array<char16_t, 256> table{};
    for (unsigned byte = 0; byte < 256; ++byte) {
        char in_byte = static_cast<char>(byte);
        char out[4] = {};
        char* in = &in_byte;
        std::size_t in_left = 1;
        char* out_at = out;
        std::size_t out_left = sizeof out;
        iconv(converter, nullptr, nullptr, nullptr, nullptr);
        if (iconv(converter, &in, &in_left, &out_at, &out_left) != static_cast<std::size_t>(-1) && out_left == 2)
            table[byte] = static_cast<char16_t>(static_cast<unsigned char>(out[0]) | (static_cast<unsigned char>(out[1]) << 8));
        else
            table[byte] = charset == "ISO-8859-3" ? next_private++ : char16_t{ 0xFFFD };
    }
    for (char byte : text)
        units.push_back(table[static_cast<unsigned char>(byte)]);
}

/// EUC-JP as Wine reads it: a lead byte and the byte after it are one
/// character, U+30FB (the code page's default) when they make none.
void read_euc_jp(std::string_view text, std::u16string& units)
{
    iconv_t opened = iconv_open("UTF-16LE", "EUC-JP");
    if (opened == reinterpret_cast<iconv_t>(-1))
        return AnsiConverter(CodePage::utf8).to_utf16(text, units);
    // Closed however the conversion ends: an allocation below may throw.
    auto close = [](void* descriptor) { iconv_close(static_cast<iconv_t>(descriptor)); };
    std::unique_ptr<void, decltype(close)> converter(opened, close);
    auto decode = [&](std::string_view bytes) -> std::optional<char16_t> {
        char out[4] = {};
        auto* in = const_cast<char*>(bytes.data());
        std::size_t in_left = bytes.size();
        char* out_at = out;
        std::size_t out_left = sizeof out;
        iconv(static_cast<iconv_t>(converter.get()), nullptr, nullptr, nullptr, nullptr);
        if (iconv(static_cast<iconv_t>(converter.get()), &in, &in_left, &out_at, &out_left) == static_cast<std::size_t>(-1)
            || out_left != 2)
            return std::nullopt;
        return static_cast<char16_t>(static_cast<unsigned char>(out[0]) | (static_cast<unsigned char>(out[1]) << 8));
    };
    for (std::size_t at = 0; at < text.size();) {
        auto byte = static_cast<unsigned char>(text[at]);
        if (byte < 0x80) {
            units.push_back(byte);
            ++at;
        } else if (byte == 0xFF) {
            units.push_back(0xF8F3);
            ++at;
        } else if ((byte >= 0xA1 || byte == 0x8E) && at + 1 < text.size()) {
            units.push_back(decode(text.substr(at, 2)).value_or(0x30FB));
            at += 2;
        } else {
            units.push_back(0xFFFD);
            ++at;
        }
    }
}

} // namespace

std::string locale_to_code_page(std::string_view text, std::string_view charset, const CodePage& code_page)
{
    std::u16string units;
    const auto* reading = std::find_if(std::begin(charset_readings), std::end(charset_readings),
        [charset](const CharsetReading& entry) { return entry.charset == charset; });
    if (charset == "ANSI_X3.4-1968") {
        // The C library's own locale: Wine keeps the low seven bits of a byte.
        for (char byte : text)
            units.push_back(static_cast<char16_t>(static_cast<unsigned char>(byte) & 0x7F));
    } else if (charset == "EUC-JP") {
        read_euc_jp(text, units);
    } else if (reading != std::end(charset_readings) && reading->code_page != 0) {
        AnsiConverter(reading->code_page).to_utf16(text, units);
    } else if (reading != std::end(charset_readings)) {
        iconv_t opened = iconv_open("UTF-16LE", std::string(charset).c_str());
        if (opened == reinterpret_cast<iconv_t>(-1))
            return std::string(text);
        auto close = [](void* descriptor) { iconv_close(static_cast<iconv_t>(descriptor)); };
        std::unique_ptr<void, decltype(close)> converter(opened, close);
        read_single_byte(text, static_cast<iconv_t>(converter.get()), charset, units);
    } else {
        // UTF-8, and any character set Wine has no code page for, read as Wine
        // reads UTF-8: a broken sequence is U+FFFD.
        AnsiConverter(CodePage::utf8).to_utf16(text, units);
    }
    std::string result;
    AnsiConverter(code_page.number()).append(view_of(units), result);
    return result;
}

std::string locale_to_code_page(std::string_view text, const CodePage& code_page)
{
    const char* charset = nl_langinfo(CODESET);
    return locale_to_code_page(text, charset != nullptr ? charset : "ANSI_X3.4-1968", code_page);
}

} // namespace hivedump::wine
