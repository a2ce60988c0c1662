#pragma once

#include "wine/lexer.h"

#include <cstdint>

namespace hivedump::wine {

/// The lines of a registry file as the server reads them, a piece at a
/// time: the header line, section headers, "#link" lines, and value lines
/// whose hex data may go on into the lines after them (which then are data,
/// whatever they look like). It keeps no keys: it tells `events` what it
/// meets, and asks whether the section at hand reads its values:
///
///     bool section(const Cursor& line, std::uint64_t header, std::uint64_t body); // false stops
///     bool reads_values();     // the section has a key, or may get one
///     bool values_readable();  // asked before a value's data is read
///     void link();
class LineScanner {
public:
    /// Whether the file began with the registry header.
    bool valid() const { return valid_; }

    /// Scans one piece of whole lines (the last piece may end without a
    /// line feed) starting at `offset` in the file. False stops the scan.
    template <class Events> bool feed(const char* begin, const char* end, bool last, std::uint64_t offset, Events& events);

private:
    enum class Header { missing, bad, read };
    Header read_header(Lines& lines);
    template <class Events> bool taken_as_data(const Cursor& line, const char* start, const char* end, bool last, Events& events);
    /// Where a piece's lines are: the piece starts at `offset` in the file.
    struct Piece {
        const char* begin;
        std::uint64_t offset;
        std::uint64_t at(const char* byte) const { return offset + static_cast<std::uint64_t>(byte - begin); }
    };
    template <class Events> bool dispatch(const Cursor& line, const Lines& lines, const char* start, Piece piece, Events& events);
    template <class Events> bool settle_candidate(const char* end, bool last, Events& events, bool& more, const char* line_start);

    bool header_read_ = false;
    bool valid_ = false;
    bool continuing_ = false;
    Cursor candidate_{};
    const char* candidate_next_ = nullptr; ///< where the line after the candidate starts
    Units name_;
};

/// Reads a value line's data as the server does, from `candidate` on into
/// `rest`. Returns where the lines it takes end; `more` when it goes on past
/// the piece.
const char* read_candidate_data(const Cursor& candidate, Lines rest, bool last, Units& name, bool& more);

template <class Events> bool LineScanner::feed(const char* begin, const char* end, bool last, std::uint64_t offset, Events& events)
{
    Lines lines(begin, end);
    Cursor line;
    if (!header_read_) {
        switch (read_header(lines)) {
        case Header::missing:
            return !last;
        case Header::bad:
            return false;
        case Header::read:
            break;
        }
    }
    if (continuing_) {
        if (!lines.next(line)) {
            continuing_ = false;
            return true;
        }
        line.skip_spaces();
        continuing_ = read_hex_bytes(line, lines, last, nullptr) == Hex::more;
    }
    for (;;) {
        const char* start = lines.position();
        if (!lines.next(line))
            break;
        line.skip_spaces();
        if (candidate_next_ != nullptr && taken_as_data(line, start, end, last, events))
            continue;
        if (!dispatch(line, lines, start, { begin, offset }, events))
            return false;
    }
    if (candidate_next_ != nullptr) {
        bool more = false;
        settle_candidate(end, last, events, more, end);
        continuing_ = more;
    }
    return true;
}

/// Whether a line after a value line whose data may go on is that data.
template <class Events> bool LineScanner::taken_as_data(const Cursor& line, const char* start, const char* end, bool last, Events& events)
{
    const char first = line.peek();
    if (first != '[' && first != '@' && first != '"' && first != '#') {
        // Hex data or nothing, either way; without a backslash the line
        // ends any data that went on into it.
        if (find_byte(line.at, line.end, '\\') == nullptr)
            candidate_next_ = nullptr;
        return true;
    }
    bool more = false;
    return settle_candidate(end, last, events, more, start);
}

/// Tells `events` of a line that is not data, which starts at `start`;
/// false stops the scan.
template <class Events> bool LineScanner::dispatch(const Cursor& line, const Lines& lines, const char* start, Piece piece, Events& events)
{
    switch (line.peek()) {
    case '[':
        return events.section(line, piece.at(start), piece.at(lines.position()));
    case '@':
    case '"':
        if (events.reads_values() && may_continue_hex(line)) {
            candidate_ = line;
            candidate_next_ = lines.position();
        }
        return true;
    case '#':
        if (line.starts_with("#link"))
            events.link();
        return true;
    default:
        return true;
    }
}

/// Whether the candidate's data took the line at `line_start`.
template <class Events> bool LineScanner::settle_candidate(const char* end, bool last, Events& events, bool& more, const char* line_start)
{
    Lines rest(candidate_next_, end);
    candidate_next_ = nullptr;
    if (!events.values_readable())
        return false;
    return read_candidate_data(candidate_, rest, last, name_, more) > line_start;
}

} // namespace hivedump::wine
