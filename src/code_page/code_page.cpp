#include "code_page/code_page.h"

namespace hivedump {

CodePage CodePage::from_number(std::uint32_t number)
{
    switch (number) {
    case 932: // Shift JIS
        return from_predicate(number, [](unsigned char b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); });
    case 936: // GBK
    case 949: // Unified Hangul
    case 950: // Big5
        return from_predicate(number, [](unsigned char b) { return b >= 0x81 && b <= 0xFE; });
    default:
        return CodePage::single_byte(number);
    }
}

} // namespace hivedump
