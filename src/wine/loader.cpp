#include "wine/loader.h"

#include "wine/passes.h"

namespace hivedump::wine {

FileLoader::FileLoader(Hive& tree, RegistryFileSource::File& file, std::uint8_t file_id, std::uint8_t order, std::size_t chunk)
    : state_(tree, file, file_id, order, chunk)
{
}

FileLoader::Result FileLoader::first_pass(FileBase base, const Wanted& wanted, Links& links)
{
    FirstPass pass(state_, base, wanted, links);
    bool read = read_lines(state_.file, 0, UINT64_MAX, state_.chunk,
        [&](const char* begin, const char* end, bool last, std::uint64_t offset) { return pass.feed(begin, end, last, offset); });
    pass.finish();
    state_.first_done = true;
    return { pass.valid(), !read || pass.read_failed(), state_.win32 };
}

bool FileLoader::catch_up(Links& links)
{
    if (state_.full || state_.catching_up)
        return true;
    state_.catching_up = true;
    // From here on the first pass, if it is still going, makes every section.
    state_.interest.reach = Interest::Reach::everything;
    CatchUp pass(state_, links, state_.first_done ? UINT64_MAX : state_.scanning);
    bool read = read_lines(state_.file, 0, UINT64_MAX, state_.chunk,
        [&](const char* begin, const char* end, bool last, std::uint64_t offset) { return pass.feed(begin, end, last, offset); });
    pass.finish();
    state_.full = true;
    state_.runs.clear();
    state_.runs.shrink_to_fit();
    state_.failed.clear();
    state_.failed.shrink_to_fit();
    state_.catching_up = false;
    return read;
}

} // namespace hivedump::wine
