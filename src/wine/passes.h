#pragma once

#include "wine/line_scanner.h"
#include "wine/loader.h"
#include "wine/section_keys.h"

#include <cstdint>
#include <string>

namespace hivedump::wine {

class Links;

/// The first pass over a file: settles the file's base key from its first
/// lines, and makes keys of the sections the interest names, of links, and
/// of what goes through them; the others are passed over, and recorded
/// where the catch-up must know of them.
class FirstPass {
public:
    FirstPass(FileState& file, FileBase base, const Wanted& wanted, Links& links);

    bool feed(const char* begin, const char* end, bool last, std::uint64_t offset);
    void finish();
    bool valid() const { return scanner_.valid(); }
    bool read_failed() const { return read_failed_; }

    // What the scanner meets.
    bool section(const Cursor& line, std::uint64_t header, std::uint64_t body);
    bool reads_values() const { return keys_.reads_values(); }
    bool values_readable() { return keys_.values_readable(); }
    void link();

private:
    void start();
    void make(KeyMarking marking = {});

    FileState& file_;
    FileBase base_;
    const Wanted& wanted_;
    Links& links_;
    LineScanner scanner_;
    SectionKeys keys_;
    std::string window_; ///< the file's first bytes, which name its user key
    bool started_ = false;
    bool ended_ = false;
    bool read_failed_ = false;
    std::uint64_t reached_ = 0;
};

/// The catch-up pass: makes keys of every section the first pass went
/// past, up to where the first pass is (all of the file once it ended).
class CatchUp {
public:
    CatchUp(FileState& file, Links& links, std::uint64_t limit);

    bool feed(const char* begin, const char* end, bool last, std::uint64_t offset);
    void finish() { keys_.close_span(reached_); }

    // What the scanner meets.
    bool section(const Cursor& line, std::uint64_t header, std::uint64_t body);
    bool reads_values() const { return keys_.reads_values(); }
    bool values_readable() { return keys_.values_readable(); }
    void link() { keys_.mark_link(); }

private:
    bool made_before(std::uint64_t header);

    FileState& file_;
    Links& links_;
    std::uint64_t limit_;
    LineScanner scanner_;
    SectionKeys keys_;
    std::size_t run_ = 0;
    std::uint64_t reached_ = 0;
};

/// The base key of a file whose first lines name `relative_to` (unescaped;
/// empty when none): the key given, or the user key made below the users.
NodeIndex place_base(Hive& tree, FileBase base, std::string_view relative_to, std::uint8_t file_id);

} // namespace hivedump::wine
