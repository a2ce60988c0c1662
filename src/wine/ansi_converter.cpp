#include "wine/ansi_converter.h"
#include "wine/text.h"

#include "code_page/code_page.h"
#include "wine/byte_conversions.h"
#include "wine/code_page_tables.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <utility>
#include <vector>

namespace hivedump::wine {

namespace {

constexpr char16_t lead_alone = 0xFFFF;

const code_page_tables::Table* find_table(std::uint32_t code_page)
{
    for (std::size_t index = 0; index < code_page_tables::table_count; ++index) {
        if (code_page_tables::tables[index].number == code_page)
            return &code_page_tables::tables[index];
    }
    return nullptr;
}

/// Lead bytes as the code page type knows them.
bool is_lead(std::uint32_t code_page, unsigned char byte)
{
    static const std::array<CodePage, 4> double_byte{ CodePage::from_number(932), CodePage::from_number(936), CodePage::from_number(949),
        CodePage::from_number(950) };
    for (const auto& page : double_byte) {
        if (page.number() == code_page)
            return page.is_lead_byte(byte);
    }
    return false;
}

/// The bytes of each UTF-16 unit; '?' for a unit the code page lacks. Held
/// as their difference from '?', so that the table starts as zeros: memory
/// the system hands out zeroed and maps only where it is touched, where a
/// table filled in full cost a small export a few percent of its time.
class UnitBytes {
public:
    UnitBytes()
        : units_(static_cast<std::uint16_t*>(std::calloc(0x10000, sizeof(std::uint16_t))))
    {
        if (!units_)
            throw std::bad_alloc();
    }
    std::uint16_t operator[](char16_t unit) const { return units_[unit] ^ missing; }
    void set(char16_t unit, std::uint16_t bytes) { units_[unit] = bytes ^ missing; }

private:
    static constexpr std::uint16_t missing = '?';
    struct Free {
        void operator()(std::uint16_t* units) const { std::free(units); }
    };
    std::unique_ptr<std::uint16_t[], Free> units_;
};

/// Calls `each(unit, bytes)` for every unit the code page's table names;
/// with no table, for the units below 0x80, which stand for themselves.
template <typename Each> void for_each_named_unit(const code_page_tables::Table* table, Each&& each)
{
    if (table == nullptr) {
        for (char16_t unit = 0; unit < 0x80; ++unit)
            each(unit, static_cast<std::uint16_t>(unit));
        return;
    }
    for (std::size_t at = 0; at + 4 <= table->size; at += 4)
        each(static_cast<char16_t>(table->pairs[at] | (table->pairs[at + 1] << 8)),
            static_cast<std::uint16_t>(table->pairs[at + 2] | (table->pairs[at + 3] << 8)));
}

} // namespace

struct AnsiConverter::Tables {
    std::uint32_t code_page = 1252;
    bool double_byte = false;
    bool low_units_single = false;
    const code_page_tables::Table* table = nullptr; ///< the units it holds; none: those below 0x80
    UnitBytes unit_bytes;
    std::once_flag byte_units_made;
    std::vector<char16_t> byte_units;
};

AnsiConverter::AnsiConverter(std::uint32_t code_page)
{
    // Built once for each code page: tests and fuzzers make a registry, and
    // with it a converter, for every export.
    static std::mutex mutex;
    static std::map<std::uint32_t, std::shared_ptr<Tables>> made;
    std::lock_guard lock(mutex);
    auto& tables = made[code_page];
    if (!tables) {
        tables = std::make_shared<Tables>();
        const auto* table = code_page == CodePage::utf8 ? nullptr : find_table(code_page);
        if (table == nullptr && code_page != CodePage::utf8) {
            code_page = 1252;
            table = find_table(code_page);
        }
        tables->code_page = code_page;
        tables->double_byte = is_lead(code_page, 0x81);
        tables->table = table;
        for_each_named_unit(table, [&](char16_t unit, std::uint16_t bytes) { tables->unit_bytes.set(unit, bytes); });
        tables->low_units_single = true;
        for (char16_t unit = 0; unit < 0x100; ++unit)
            tables->low_units_single = tables->low_units_single && tables->unit_bytes[unit] <= 0xFF;
    }
    tables_ = tables;
    code_page_ = tables->code_page;
    utf8_ = code_page_ == CodePage::utf8;
    double_byte_ = tables->double_byte;
    low_units_single_ = tables->low_units_single;
}

AnsiConverter::~AnsiConverter() = default;

std::size_t AnsiConverter::converted_size(const TextView& text) const
{
    if (utf8_)
        return utf8_size(text);
    if (!double_byte_)
        return text.length;
    const auto& table = tables_->unit_bytes;
    std::size_t size = text.length;
    for (std::uint32_t index = 0; index < text.length; ++index)
        size += table[text[index]] > 0xFF ? 1 : 0;
    return size;
}

std::size_t AnsiConverter::convert(const TextView& text, char* out, std::size_t capacity) const
{
    if (utf8_)
        return utf8_convert(text, out, capacity);
    const auto& table = tables_->unit_bytes;
    std::size_t written = 0;
    if (!text.wide && low_units_single_) {
        // One byte in, one byte out.
        std::size_t count = std::min<std::size_t>(text.length, capacity);
        for (std::size_t index = 0; index < count; ++index)
            out[index] = static_cast<char>(table[text.bytes[index]]);
        return count;
    }
    for (std::uint32_t index = 0; index < text.length; ++index) {
        auto bytes = table[text[index]];
        if (bytes <= 0xFF) {
            if (written == capacity)
                break;
            out[written++] = static_cast<char>(bytes);
        } else {
            // A double-byte character that does not fit is left out whole.
            if (capacity - written < 2)
                break;
            out[written++] = static_cast<char>(bytes >> 8);
            out[written++] = static_cast<char>(bytes & 0xFF);
        }
    }
    return written;
}

void AnsiConverter::append(const TextView& text, std::string& out) const
{
    auto start = out.size();
    out.resize(start + converted_size(text));
    auto written = convert(text, out.data() + start, out.size() - start);
    out.resize(start + written);
}

/// The units each byte and each byte pair of the code page converts back
/// to: 256 single bytes, then for a double-byte code page 128 rows of trail
/// bytes for the lead bytes 0x80 up.
std::vector<char16_t> AnsiConverter::make_byte_units() const
{
    std::vector<char16_t> units;
    const auto* conversions = find_byte_conversions(code_page_);
    char16_t default_unit = conversions != nullptr ? conversions->default_unit : u'?';
    constexpr std::uint32_t none = 0x10000;
    // A single-byte code page's units all go to single bytes.
    std::vector<std::uint32_t> lowest(double_byte_ ? 0x10000 : 0x100, none);
    auto offer = [&](char16_t unit) {
        auto bytes = tables_->unit_bytes[unit];
        // A unit that the table sends to '?' for want of a character does not come back from it.
        if ((bytes != '?' || unit == '?') && bytes < lowest.size())
            lowest[bytes] = std::min<std::uint32_t>(lowest[bytes], unit);
    };
    // Only the units the table names, and '?' itself, go anywhere but to '?'.
    for_each_named_unit(tables_->table, [&](char16_t unit, std::uint16_t) { offer(unit); });
    offer(u'?');
    auto decode = [&](std::uint32_t bytes) -> char16_t {
        char16_t unit;
        if (bytes < 0x100 && is_lead(code_page_, static_cast<unsigned char>(bytes)))
            unit = default_unit;
        else if (bytes > 0xFF && (bytes & 0xFF) == 0)
            unit = lead_alone;
        else if (lowest[bytes] != none)
            unit = static_cast<char16_t>(lowest[bytes]);
        else
            unit = bytes > 0xFF ? default_unit : u'?';
        if (conversions != nullptr) {
            auto list = conversions->exceptions;
            auto found = std::lower_bound(list.begin(), list.end(), bytes << 16);
            if (found != list.end() && (*found >> 16) == bytes)
                unit = static_cast<char16_t>(*found & 0xFFFF);
        }
        return unit;
    };
    units.resize(double_byte_ ? 0x100 + 0x80 * 0x100 : 0x100);
    for (std::uint32_t byte = 0; byte < 0x100; ++byte)
        units[byte] = byte < 0x80 ? static_cast<char16_t>(byte) : decode(byte);
    if (double_byte_) {
        for (std::uint32_t lead = 0x80; lead < 0x100; ++lead) {
            if (!is_lead(code_page_, static_cast<unsigned char>(lead)))
                continue;
            for (std::uint32_t trail = 0; trail < 0x100; ++trail)
                units[0x100 + (lead - 0x80) * 0x100 + trail] = decode((lead << 8) | trail);
        }
    }
    return units;
}

void AnsiConverter::to_utf16(std::string_view text, std::u16string& result) const
{
    if (utf8_) {
        utf8_to_utf16(text, result);
        return;
    }
    auto& units = tables_->byte_units;
    // Filled when a path first needs converting back.
    std::call_once(tables_->byte_units_made, [&] { units = make_byte_units(); });
    result.clear();
    result.reserve(text.size());
    for (std::size_t index = 0; index < text.size(); ++index) {
        auto byte = static_cast<unsigned char>(text[index]);
        if (double_byte_ && is_lead(code_page_, byte) && index + 1 < text.size()) {
            auto trail = static_cast<unsigned char>(text[index + 1]);
            char16_t unit = units[0x100 + (byte - 0x80) * 0x100 + trail];
            if (unit != lead_alone) {
                result.push_back(unit);
                ++index;
                continue;
            }
        }
        result.push_back(units[byte]);
    }
}

namespace {

constexpr char32_t replacement = 0xFFFD;

bool is_high_surrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool is_low_surrogate(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

/// The character at `index` and the units it takes: a surrogate without its
/// partner is U+FFFD, as Wine writes it.
std::pair<char32_t, std::uint32_t> character_at(const TextView& text, std::uint32_t index)
{
    char16_t unit = text[index];
    if (is_high_surrogate(unit) && index + 1 < text.length && is_low_surrogate(text[index + 1]))
        return { 0x10000 + ((char32_t{ unit } - 0xD800) << 10) + (text[index + 1] - 0xDC00), 2 };
    if (is_high_surrogate(unit) || is_low_surrogate(unit))
        return { replacement, 1 };
    return { unit, 1 };
}

std::size_t utf8_length(char32_t character) { return character < 0x80 ? 1 : character < 0x800 ? 2 : character < 0x10000 ? 3 : 4; }

} // namespace

std::size_t AnsiConverter::utf8_size(const TextView& text) const
{
    std::size_t size = 0;
    for (std::uint32_t index = 0; index < text.length;) {
        auto [character, units] = character_at(text, index);
        size += utf8_length(character);
        index += units;
    }
    return size;
}

std::size_t AnsiConverter::utf8_convert(const TextView& text, char* out, std::size_t capacity) const
{
    std::size_t written = 0;
    for (std::uint32_t index = 0; index < text.length;) {
        auto [character, units] = character_at(text, index);
        auto length = utf8_length(character);
        // A character that does not fit is left out whole.
        if (capacity - written < length)
            break;
        if (length == 1) {
            out[written] = static_cast<char>(character);
        } else {
            static constexpr unsigned char first_bits[] = { 0, 0, 0xC0, 0xE0, 0xF0 };
            for (std::size_t at = length - 1; at > 0; --at) {
                out[written + at] = static_cast<char>(0x80 | (character & 0x3F));
                character >>= 6;
            }
            out[written] = static_cast<char>(first_bits[length] | character);
        }
        written += length;
        index += units;
    }
    return written;
}

void AnsiConverter::utf8_to_utf16(std::string_view text, std::u16string& result) const
{
    // Wine's reading of UTF-8: a sequence cut short by the end of the text is
    // one U+FFFD however many bytes it lacks; one broken further on is one
    // U+FFFD for the bytes read up to the break; an overlong form, a
    // surrogate or a character past U+10FFFF breaks as soon as its bits show it.
    result.clear();
    result.reserve(text.size());
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t size = text.size();
    std::size_t at = 0;
    while (at < size) {
        unsigned char lead = bytes[at++];
        if (lead < 0x80) {
            result.push_back(lead);
            continue;
        }
        std::size_t trail = lead >= 0xC2 && lead <= 0xDF ? 1 : lead >= 0xE0 && lead <= 0xEF ? 2 : lead >= 0xF0 && lead <= 0xF4 ? 3 : 0;
        if (trail == 0) {
            result.push_back(static_cast<char16_t>(replacement));
            continue;
        }
        if (size - at < trail) {
            at = size;
            result.push_back(static_cast<char16_t>(replacement));
            continue;
        }
        static constexpr unsigned char lead_bits[] = { 0, 0x1F, 0x0F, 0x07 };
        char32_t character = lead & lead_bits[trail];
        bool broken = false;
        for (std::size_t read = 0; read < trail; ++read) {
            unsigned bits = bytes[at] ^ 0x80u;
            if (bits >= 0x40) {
                broken = true;
                break;
            }
            character = (character << 6) | bits;
            ++at;
            // What the bits so far rule out: after the first trail byte of a
            // four-byte form, below U+10000 or past U+10FFFF; of a three-byte
            // form, below U+0800 or a surrogate.
            if (read == 0 && trail == 3 && (character < 0x10 || character >= 0x110)) {
                broken = true;
                break;
            }
            if (read == 0 && trail == 2 && (character < 0x20 || (character >= 0x360 && character < 0x380))) {
                broken = true;
                break;
            }
        }
        if (broken) {
            result.push_back(static_cast<char16_t>(replacement));
        } else if (character >= 0x10000) {
            result.push_back(static_cast<char16_t>(0xD800 + ((character - 0x10000) >> 10)));
            result.push_back(static_cast<char16_t>(0xDC00 + ((character - 0x10000) & 0x3FF)));
        } else {
            result.push_back(static_cast<char16_t>(character));
        }
    }
}

} // namespace hivedump::wine
