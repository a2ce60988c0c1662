#pragma once

#include <algorithm>
#include <cstring>
#include <memory>

namespace hivedump::wine {

template <typename Feed>
bool read_lines(RegistryFileSource::File& file, std::uint64_t offset, std::uint64_t end, std::size_t chunk, Feed&& feed)
{
    chunk = std::max<std::size_t>(chunk, 1);
    const bool aligned = offset % chunk == 0;
    // Room beside a whole chunk for the start of a line that the last piece held over.
    std::size_t capacity = aligned ? chunk + chunk / 16 : chunk;
    auto buffer = std::make_unique_for_overwrite<char[]>(capacity);
    std::size_t held = 0; // bytes in the buffer; those after the last line feed wait for the rest of their line
    for (;;) {
        if (held == capacity) {
            // One line fills the whole piece: make room for the rest of it.
            auto bigger = std::make_unique_for_overwrite<char[]>(capacity * 2);
            std::memcpy(bigger.get(), buffer.get(), held);
            buffer = std::move(bigger);
            capacity *= 2;
        }
        std::size_t wanted = capacity - held;
        if (end - offset < wanted)
            wanted = static_cast<std::size_t>(end - offset);
        if (aligned)
            wanted = std::min<std::size_t>(wanted, chunk - offset % chunk);
        std::ptrdiff_t count = wanted == 0 ? 0 : file.read_at(buffer.get() + held, wanted, offset);
        if (count < 0)
            return false;
        offset += static_cast<std::uint64_t>(count);
        const bool last = count == 0;
        const char* start = buffer.get();
        const char* fresh = start + held;
        held += static_cast<std::size_t>(count);
        std::size_t whole = held;
        if (!last) {
            const char* stop = start + held;
            const char* newline = stop;
            while (newline != fresh && newline[-1] != '\n')
                --newline;
            // The bytes held over end no line, so only what came can.
            if (newline == fresh)
                continue;
            whole = static_cast<std::size_t>(newline - start);
        }
        if (!feed(start, start + whole, last, offset - held) || last)
            return true;
        std::memmove(buffer.get(), start + whole, held - whole);
        held -= whole;
    }
}

} // namespace hivedump::wine
