#pragma once

#include "stream/byte_sink.h"

#include <array>
#include <cstddef>
#include <cstring>
#include <memory>
#include <string_view>

namespace hivedump {

/// The export stream: puts a carriage return before every line feed byte and
/// changes nothing else, buffers 4096 bytes, and remembers its first error so
/// the run can report a lost export once, at the end.
///
/// A long export hands its blocks, the same blocks in the same order, to a
/// second thread that writes them, so the walk does not wait for the file
/// system; short ones, and any run that cannot have the thread, write them
/// from the caller's thread.
class TextStream {
public:
    static constexpr std::size_t buffer_size = 4096;
    /// Blocks written from the caller's thread before the writer thread starts.
    static constexpr std::size_t blocks_before_writer = 256;

    explicit TextStream(ByteSink& sink);
    ~TextStream();
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
    bool failed() const;

private:
    void put_raw(char byte)
    {
        if (used_ == buffer_size)
            flush();
        buffer_[used_++] = byte;
    }
    void write_raw(std::string_view bytes)
    {
        if (!bytes.empty() && bytes.size() <= buffer_size - used_) {
            std::memcpy(buffer_.data() + used_, bytes.data(), bytes.size());
            used_ += bytes.size();
            return;
        }
        write_raw_slow(bytes);
    }
    void write_raw_slow(std::string_view bytes);
    void flush();
    void start_writer();

    class Writer;
    ByteSink& sink_;
    std::unique_ptr<Writer> writer_;
    std::size_t blocks_ = 0;
    bool writer_refused_ = false;
    std::array<char, buffer_size> buffer_{};
    std::size_t used_ = 0;
    bool failed_ = false;
    bool closed_ = false;
};

} // namespace hivedump
