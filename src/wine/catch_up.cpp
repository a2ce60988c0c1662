#include "wine/passes.h"

#include <algorithm>

namespace hivedump::wine {

CatchUp::CatchUp(FileState& file, Links& links, std::uint64_t limit)
    : file_(file)
    , links_(links)
    , limit_(limit)
    , keys_(file)
{
}

// A function of its own: inlined into the loader, the line loop shared the
// instruction cache with all the loader does, and the export ran slower.
[[gnu::noinline]] bool CatchUp::feed(const char* begin, const char* end, bool last, std::uint64_t offset)
{
    reached_ = offset + static_cast<std::uint64_t>(end - begin);
    return scanner_.feed(begin, end, last, offset, *this);
}

bool CatchUp::section(const Cursor& line, std::uint64_t header, std::uint64_t body)
{
    keys_.close_span(header);
    if (header >= limit_)
        return false;
    keys_.begin(line, header, body);
    if (std::binary_search(file_.failed.begin(), file_.failed.end(), header)) {
        keys_.set_state(SectionKeys::State::failed);
        return true;
    }
    if (made_before(header)) {
        // Made by the first pass; the path it went by may hold links made since.
        keys_.set_state(SectionKeys::State::made_before);
        keys_.forget_path();
        return true;
    }
    keys_.make(links_);
    return true;
}

bool CatchUp::made_before(std::uint64_t header)
{
    const auto& runs = file_.runs;
    while (run_ < runs.size() && runs[run_].last < header)
        ++run_;
    return run_ < runs.size() && runs[run_].first <= header;
}

} // namespace hivedump::wine
