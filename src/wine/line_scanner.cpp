#include "wine/line_scanner.h"

#include <string_view>

namespace hivedump::wine {

namespace {

constexpr std::string_view header_line = "WINE REGISTRY Version 2";

} // namespace

LineScanner::Header LineScanner::read_header(Lines& lines)
{
    Cursor line;
    if (!lines.next(line))
        return Header::missing;
    header_read_ = true;
    bool ok = line.starts_with(header_line);
    line.at += ok ? header_line.size() : 0;
    // Wine takes the header only when a carriage return or the line end follows it.
    if (!ok || (!line.done() && *line.at != '\r'))
        return Header::bad;
    valid_ = true;
    return Header::read;
}

const char* read_candidate_data(const Cursor& candidate, Lines rest, bool last, Units& name, bool& more)
{
    Cursor cursor = candidate;
    std::uint32_t type = 0;
    if (!read_value_head(cursor, name) || read_hex_tag(cursor, type) != HexTag::found)
        return rest.position();
    more = read_hex_bytes(cursor, rest, last, nullptr) == Hex::more;
    return rest.position();
}

} // namespace hivedump::wine
