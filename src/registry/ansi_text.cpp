#include "registry/ansi_text.h"

#include "registry/codepage_data.h"

#include <map>

namespace hivedump::registry {

namespace {

constexpr std::uint16_t unmapped = '?';

const codepage_data::Table* find_table(std::uint32_t code_page)
{
    for (std::size_t i = 0; i < codepage_data::table_count; ++i) {
        if (codepage_data::tables[i].number == code_page)
            return &codepage_data::tables[i];
    }
    return nullptr;
}

std::shared_ptr<const std::vector<std::uint16_t>> build_table(const codepage_data::Table& data)
{
    auto table = std::make_shared<std::vector<std::uint16_t>>(65536, unmapped);
    for (std::size_t at = 0; at + 4 <= data.size; at += 4) {
        auto unit = static_cast<std::uint16_t>(data.pairs[at] | (data.pairs[at + 1] << 8));
        auto bytes = static_cast<std::uint16_t>(data.pairs[at + 2] | (data.pairs[at + 3] << 8));
        (*table)[unit] = bytes;
    }
    return table;
}

std::shared_ptr<const std::vector<std::uint16_t>> table_for(std::uint32_t code_page)
{
    // The run is single-threaded, so the tables need no lock.
    static std::map<std::uint32_t, std::shared_ptr<const std::vector<std::uint16_t>>> built;
    auto& table = built[code_page];
    if (!table)
        table = build_table(*find_table(code_page));
    return table;
}

} // namespace

bool has_code_page_table(std::uint32_t code_page) { return find_table(code_page) != nullptr; }

AnsiText::AnsiText(std::uint32_t code_page)
    : number_(has_code_page_table(code_page) ? code_page : 1252)
    , table_(table_for(number_))
{
}

void AnsiText::append(std::u16string_view text, std::string& out) const
{
    const auto& table = *table_;
    for (char16_t unit : text) {
        std::uint16_t bytes = table[unit];
        if (bytes > 0xFF)
            out.push_back(static_cast<char>(bytes >> 8));
        out.push_back(static_cast<char>(bytes & 0xFF));
    }
}

std::size_t AnsiText::converted_size(std::u16string_view text) const
{
    const auto& table = *table_;
    std::size_t size = 0;
    for (char16_t unit : text)
        size += table[unit] > 0xFF ? 2 : 1;
    return size;
}

} // namespace hivedump::registry
