#include "stream/text_stream.h"

#include <algorithm>
#include <cstring>

namespace hivedump {

TextStream::TextStream(ByteSink& sink)
    : sink_(sink)
    , block_size_(std::max<std::size_t>(sink.block_size(), 1))
    // Left uninitialised: a large block costs only the pages a short export touches.
    , buffer_(std::make_unique_for_overwrite<char[]>(block_size_))
{
}

void TextStream::write(std::string_view text)
{
    const char* at = text.data();
    const char* const end = at + text.size();
    while (at != end) {
        if (used_ == block_size_)
            flush();
        auto count = std::min(static_cast<std::size_t>(end - at), block_size_ - used_);
        char* out = buffer_.get() + used_;
        std::size_t copied = 0;
        if (count <= 32) {
            // Most pieces are short names and values: a plain loop beats
            // searching first and copying after.
            while (copied != count && at[copied] != '\n') {
                out[copied] = at[copied];
                ++copied;
            }
        } else {
            const void* line_feed = std::memchr(at, '\n', count);
            copied = line_feed != nullptr ? static_cast<std::size_t>(static_cast<const char*>(line_feed) - at) : count;
            std::memcpy(out, at, copied);
        }
        used_ += copied;
        at += copied;
        if (copied != count) {
            put_raw('\r');
            put_raw('\n');
            ++at;
        }
    }
}

void TextStream::write_raw_slow(std::string_view bytes)
{
    while (!bytes.empty()) {
        if (used_ == block_size_)
            flush();
        std::size_t room = block_size_ - used_;
        std::size_t count = bytes.size() < room ? bytes.size() : room;
        std::memcpy(buffer_.get() + used_, bytes.data(), count);
        used_ += count;
        bytes.remove_prefix(count);
    }
}

void TextStream::flush()
{
    // After a failure the rest is dropped: the export is lost either way and
    // retrying a full disk for every block would only slow the end.
    if (used_ != 0 && !failed_ && !sink_.write({ buffer_.get(), used_ }))
        failed_ = true;
    used_ = 0;
}

bool TextStream::close()
{
    if (!closed_) {
        flush();
        closed_ = true;
        if (!sink_.close())
            failed_ = true;
    }
    return !failed_;
}

} // namespace hivedump
