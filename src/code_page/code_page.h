#pragma once

#include <array>
#include <cstdint>

namespace hivedump {

/// The ANSI code page that registry text arrives in. Escaping needs to know
/// which bytes begin a double-byte character, nothing else. Made only by
/// name, so that a number alone never stands for a code page's lead bytes.
class CodePage {
public:
    /// UTF-8 as the ANSI code page: Wine's choice for a locale that has none.
    static constexpr std::uint32_t utf8 = 65001;

    /// A single-byte code page: no byte is a lead byte.
    static CodePage single_byte(std::uint32_t number = 1252) { return CodePage(number); }

    /// A code page whose lead bytes are known by their ranges (932, 936, 949,
    /// 950); any other number is taken as single-byte.
    static CodePage from_number(std::uint32_t number);

    template <typename IsLead> static CodePage from_predicate(std::uint32_t number, IsLead is_lead)
    {
        CodePage page(number);
        for (unsigned byte = 0; byte < 256; ++byte) {
            if (is_lead(static_cast<unsigned char>(byte))) {
                page.lead_[byte] = true;
                page.double_byte_ = true;
            }
        }
        return page;
    }

    std::uint32_t number() const { return number_; }
    bool is_double_byte() const { return double_byte_; }
    bool is_lead_byte(unsigned char byte) const { return lead_[byte]; }

private:
    explicit CodePage(std::uint32_t number)
        : number_(number)
    {
    }

    std::uint32_t number_;
    bool double_byte_ = false;
    std::array<bool, 256> lead_{};
};

} // namespace hivedump
