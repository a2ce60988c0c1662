#include "stream/text_stream.h"

#include <cstring>

namespace hivedump {

void TextStream::write(std::string_view text)
{
    while (!text.empty()) {
        auto line_feed = text.find('\n');
        if (line_feed == std::string_view::npos) {
            write_raw(text);
            return;
        }
        write_raw(text.substr(0, line_feed));
        put_raw('\r');
        put_raw('\n');
        text.remove_prefix(line_feed + 1);
    }
}

void TextStream::write_raw(std::string_view bytes)
{
    while (!bytes.empty()) {
        if (used_ == buffer_size)
            flush();
        std::size_t room = buffer_size - used_;
        std::size_t count = bytes.size() < room ? bytes.size() : room;
        std::memcpy(buffer_.data() + used_, bytes.data(), count);
        used_ += count;
        bytes.remove_prefix(count);
    }
}

void TextStream::flush()
{
    // After a failure the rest is dropped: the export is lost either way and
    // retrying a full disk for every block would only slow the end.
    if (used_ != 0 && !failed_ && !sink_.write({ buffer_.data(), used_ }))
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
