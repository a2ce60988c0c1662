#include "cli/arguments.h"

#include <array>

namespace hivedump {

std::size_t command_line_units(std::string_view text, const CodePage& code_page)
{
    const bool utf8 = code_page.number() == CodePage::utf8;
    std::size_t units = 0;
    for (std::size_t at = 0; at < text.size(); ++at) {
        auto byte = static_cast<unsigned char>(text[at]);
        if (utf8) {
            // Continuation bytes add nothing; a four-byte sequence is a pair.
            if ((byte & 0xC0) != 0x80)
                units += byte >= 0xF0 ? 2 : 1;
            continue;
        }
        if (code_page.is_lead_byte(byte) && at + 1 < text.size())
            ++at;
        ++units;
    }
    return units;
}

std::optional<registry::View> view_from_variable(const char* value)
{
    if (value == nullptr)
        return registry::View::own;
    std::string_view text(value);
    if (text == "32")
        return registry::View::bits32;
    if (text == "64")
        return registry::View::bits64;
    return std::nullopt;
}

bool is_banner_switch(std::string_view argument)
{
    constexpr std::array<std::string_view, 4> spellings{ "-v", "/v", "-V", "/V" };
    for (auto spelling : spellings) {
        if (argument == spelling)
            return true;
    }
    return false;
}

ExportRequest parse_arguments(std::span<const std::string> arguments)
{
    ExportRequest request;
    if (arguments.empty() || arguments.size() > 3)
        return request;

    // The switch counts only in first place; anywhere else it is a key or a
    // path like any other word.
    if (is_banner_switch(arguments[0])) {
        request.banner = Banner::shown;
        arguments = arguments.subspan(1);
        if (arguments.empty()) {
            request.outcome = Outcome::banner_only;
            return request;
        }
    } else if (arguments.size() == 3) {
        return request;
    }

    request.outcome = Outcome::export_key;
    if (arguments.size() == 1) {
        request.key = default_key;
        request.output_path = arguments[0];
    } else {
        request.key = arguments[0];
        request.output_path = arguments[1];
    }
    return request;
}

KeyName split_key(std::string_view key)
{
    auto backslash = key.find('\\');
    if (backslash == std::string_view::npos)
        return { std::string(key), {} };
    return { std::string(key.substr(0, backslash)), std::string(key.substr(backslash + 1)) };
}

} // namespace hivedump
