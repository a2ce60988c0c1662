#pragma once

#include <cstddef>
#include <memory>

namespace hivedump {

/// What the program says when memory runs out: for each key or value the
/// walk gives up for it, or once when the run itself cannot go on.
inline constexpr char no_memory_message[] = "no enough memory\n";

/// Where the walk takes its value buffers. The program takes them from the
/// heap; a test hands a source that refuses them on cue, without every
/// registry having to know of it.
class BufferSource {
public:
    virtual ~BufferSource() = default;
    /// Null when the memory cannot be had.
    [[nodiscard]] virtual std::unique_ptr<std::byte[]> allocate(std::size_t size);
};

/// The heap, as a run takes its buffers by default.
BufferSource& heap_buffers();

} // namespace hivedump
