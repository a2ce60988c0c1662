#pragma once

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
};

} // namespace hivedump
