#pragma once

#include "stream/byte_sink.h"

#include <cstddef>
#include <cstring>
#include <memory>
#include <string_view>

namespace hivedump {

/// The export stream: puts a carriage return before every line feed byte and
/// changes nothing else, buffers one block of the sink's size, and remembers
/// its first error so the run can report a lost export once, at the end.
class TextStream {
public:
    explicit TextStream(ByteSink& sink);
    TextStream(const TextStream&) = delete;
    TextStream& operator=(const TextStream&) = delete;

    void write(std::string_view text);
    /// Writes bytes that are already in the file's form: the caller has put
    /// a carriage return before each line feed.
    void write_verbatim(std::string_view bytes) { write_raw(bytes); }
    void put(char byte)
    {
        if (byte == '\n')
            put_raw('\r');
        put_raw(byte);
    }

    /// Writes out the buffer and closes the sink; false if any write failed.
    bool close();

private:
    void put_raw(char byte)
    {
        if (used_ == block_size_)
            flush();
        buffer_[used_++] = byte;
    }
    void write_raw(std::string_view bytes)
    {
        if (!bytes.empty() && bytes.size() <= block_size_ - used_) {
            std::memcpy(buffer_.get() + used_, bytes.data(), bytes.size());
            used_ += bytes.size();
            return;
        }
        write_raw_slow(bytes);
    }
    void write_raw_slow(std::string_view bytes);
    void flush();

    ByteSink& sink_;
    std::size_t block_size_;
    std::unique_ptr<char[]> buffer_;
    std::size_t used_ = 0;
    bool failed_ = false;
    bool closed_ = false;
};

} // namespace hivedump
