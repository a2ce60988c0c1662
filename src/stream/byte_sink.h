#pragma once

#include <cstddef>
#include <span>

namespace hivedump {

/// Where bytes finally go: a file, standard output, or memory in tests.
class ByteSink {
public:
    virtual ~ByteSink() = default;
    /// Writes all of `bytes`; false on failure.
    virtual bool write(std::span<const char> bytes) = 0;
    /// Releases the destination; false when that lost data.
    virtual bool close() { return true; }
    /// The size of the blocks a buffered writer should hand over: the
    /// platform's file functions decide it, not the export.
    virtual std::size_t block_size() const { return 4096; }
};

} // namespace hivedump
