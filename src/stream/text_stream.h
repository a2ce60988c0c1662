#pragma once

#include "stream/byte_sink.h"

#include <array>
#include <cstddef>
#include <string_view>

namespace hivedump {

/// The export stream: puts a carriage return before every line feed byte and
/// changes nothing else, buffers 4096 bytes, and remembers its first error so
/// the run can report a lost export once, at the end.
class TextStream {
public:
    static constexpr std::size_t buffer_size = 4096;

    explicit TextStream(ByteSink& sink)
        : sink_(sink)
    {
    }
    TextStream(const TextStream&) = delete;
    TextStream& operator=(const TextStream&) = delete;

    void write(std::string_view text);
    void put(char byte)
    {
        if (byte == '\n')
            put_raw('\r');
        put_raw(byte);
    }

    /// Writes out the buffer and closes the sink; false if any write failed.
    bool close();
    bool failed() const { return failed_; }

private:
    void put_raw(char byte)
    {
        if (used_ == buffer_size)
            flush();
        buffer_[used_++] = byte;
    }
    void write_raw(std::string_view bytes);
    void flush();

    ByteSink& sink_;
    std::array<char, buffer_size> buffer_{};
    std::size_t used_ = 0;
    bool failed_ = false;
    bool closed_ = false;
};

} // namespace hivedump
