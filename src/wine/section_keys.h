#pragma once

#include "wine/hive.h"
#include "wine/lexer.h"
#include "wine/loader.h"
#include "wine/section_header.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace hivedump::wine {

class Links;

/// Which keys on a section's path the first pass marks: those below what
/// it is for as known whole, the others as knowing their Wow6432Node key.
struct KeyMarking {
    bool active = false;
    /// the key of this many names, and those below it, are below what the pass is for
    std::size_t complete_after = 0;
};

/// The keys a pass over one file makes of its sections: the section at hand,
/// its key, where its values lie, and its "#link" lines. Both passes make
/// keys alike; which sections they make is theirs to say.
class SectionKeys {
public:
    enum class State { none, failed, made, pending, made_before };

    explicit SectionKeys(FileState& file);

    /// Starts the section whose header line is `line`, at `header`; its
    /// values start at `body`. Closes the previous section's values.
    void begin(const Cursor& line, std::uint64_t header, std::uint64_t body);
    enum class Made { made, undecodable, failed };
    /// Makes the section's key, following links as the server does.
    Made make(Links& links, KeyMarking marking = {});
    void set_state(State state) { state_ = state; }
    State state() const { return state_; }
    std::uint64_t header() const { return header_; }
    std::uint64_t previous_header() const { return previous_header_; }
    SectionHeader& text() { return text_; }
    /// The path cache may not hold: links may have been made since.
    void forget_path() { path_nodes_.clear(); }

    bool reads_values() const { return state_ != State::none && state_ != State::failed; }
    bool values_readable() { return state_ != State::pending || text_.readable(); }
    /// A "#link" line in a section whose key is made: the key is a link.
    void mark_link();
    /// The values of the section at hand end at `end`.
    void close_span(std::uint64_t end);

private:
    NodeIndex descend(Links& links, KeyMarking marking);

    struct Name {
        std::size_t start;
        std::size_t length;
    };
    struct PathNode {
        NodeIndex node;
        bool through_link;
    };

    FileState& file_;
    Hive& tree_;
    State state_ = State::none;
    std::uint64_t header_ = UINT64_MAX;
    std::uint64_t previous_header_ = UINT64_MAX;
    std::uint64_t body_ = 0;
    SectionHeader text_;
    NodeIndex key_ = no_node;
    NodeIndex span_key_ = no_node;
    std::uint64_t span_start_ = 0;
    // The previous key's names and nodes: keys come in tree order, and most
    // share their start with the key before.
    std::vector<Name> path_;
    std::vector<char16_t> path_units_;
    std::vector<PathNode> path_nodes_;
};

} // namespace hivedump::wine
