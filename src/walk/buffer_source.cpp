#include "walk/buffer_source.h"

#include <new>

namespace hivedump {

std::unique_ptr<std::byte[]> BufferSource::allocate(std::size_t size)
{
    // Left uninitialised: a buffer sized for the largest value must not cost
    // resident memory before data is read into it.
    try {
        return std::make_unique_for_overwrite<std::byte[]>(size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

BufferSource& heap_buffers()
{
    static BufferSource heap;
    return heap;
}

} // namespace hivedump
