#include "stream/text_stream.h"

#include <algorithm>
#include <cstring>
#if !defined(_WIN32)
#include <atomic>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>
#endif

namespace hivedump {

#if !defined(_WIN32)

/// Writes full blocks to the sink from its own thread, in the order they
/// came; the caller waits only when a ring of blocks is full.
class TextStream::Writer {
public:
    explicit Writer(ByteSink& sink)
        : sink_(sink)
        , ring_(std::make_unique<Block[]>(slots))
        , thread_([this] { run(); })
    {
    }
    ~Writer() { finish(); }
    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;

    void push(const char* bytes, std::size_t size)
    {
        std::unique_lock lock(mutex_);
        if (filled_count_ - written_count_ == slots) {
            caller_waiting_ = true;
            drained_.wait(lock, [&] { return filled_count_ - written_count_ <= slots - batch; });
            caller_waiting_ = false;
        }
        auto& block = ring_[filled_count_ % slots];
        // The writer does not look at this slot until the count says it holds a block.
        lock.unlock();
        std::memcpy(block.bytes.data(), bytes, size);
        block.size = size;
        lock.lock();
        ++filled_count_;
        // Waking the writer for every block would cost more than the write.
        bool wake = writer_waiting_ && filled_count_ - written_count_ >= batch;
        lock.unlock();
        if (wake)
            filled_.notify_one();
    }

    /// Writes out what is queued and ends the thread.
    void finish()
    {
        {
            std::lock_guard lock(mutex_);
            done_ = true;
        }
        filled_.notify_one();
        if (thread_.joinable())
            thread_.join();
    }

    bool failed() const { return failed_.load(); }

private:
    static constexpr std::size_t slots = 128;
    static constexpr std::size_t batch = 32;
    struct Block {
        std::array<char, buffer_size> bytes;
        std::size_t size;
    };

    void run()
    {
        std::unique_lock lock(mutex_);
        for (;;) {
            // Once woken it writes all there is, and then waits for a batch.
            if (filled_count_ == written_count_ && !done_) {
                writer_waiting_ = true;
                filled_.wait(lock, [&] { return filled_count_ - written_count_ >= batch || done_; });
                writer_waiting_ = false;
            }
            if (filled_count_ == written_count_)
                return;
            auto& block = ring_[written_count_ % slots];
            lock.unlock();
            // After a failure the rest is dropped, as when writing directly.
            if (!failed_.load() && !sink_.write({ block.bytes.data(), block.size }))
                failed_.store(true);
            lock.lock();
            ++written_count_;
            if (caller_waiting_ && filled_count_ - written_count_ <= slots - batch)
                drained_.notify_one();
        }
    }

    ByteSink& sink_;
    std::unique_ptr<Block[]> ring_;
    std::mutex mutex_;
    std::condition_variable filled_;
    std::condition_variable drained_;
    std::size_t filled_count_ = 0;
    std::size_t written_count_ = 0;
    bool done_ = false;
    bool writer_waiting_ = false;
    bool caller_waiting_ = false;
    std::atomic<bool> failed_{ false };
    std::thread thread_; // last: it starts once everything above is ready
};

void TextStream::start_writer()
{
    try {
        writer_ = std::make_unique<Writer>(sink_);
    } catch (const std::exception&) {
        // No memory or no thread: the blocks go on being written from here.
        writer_refused_ = true;
    }
}

#else

// The platform's runtime here has no threads for the standard library.
class TextStream::Writer {
public:
    void push(const char*, std::size_t) { }
    void finish() { }
    bool failed() const { return false; }
};

void TextStream::start_writer() { writer_refused_ = true; }

#endif

TextStream::TextStream(ByteSink& sink)
    : sink_(sink)
{
}

TextStream::~TextStream()
{
    if (writer_)
        writer_->finish();
}

bool TextStream::failed() const { return failed_ || (writer_ && writer_->failed()); }

void TextStream::write(std::string_view text)
{
    const char* at = text.data();
    const char* const end = at + text.size();
    while (at != end) {
        if (used_ == buffer_size)
            flush();
        auto count = std::min(static_cast<std::size_t>(end - at), buffer_size - used_);
        char* out = buffer_.data() + used_;
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
    if (used_ != 0 && !failed_) {
        if (!writer_ && !writer_refused_ && ++blocks_ > blocks_before_writer)
            start_writer();
        if (writer_)
            writer_->push(buffer_.data(), used_);
        else if (!sink_.write({ buffer_.data(), used_ }))
            failed_ = true;
    }
    used_ = 0;
}

bool TextStream::close()
{
    if (!closed_) {
        flush();
        if (writer_) {
            writer_->finish();
            failed_ = failed_ || writer_->failed();
            writer_.reset();
        }
        closed_ = true;
        if (!sink_.close())
            failed_ = true;
    }
    return !failed_;
}

} // namespace hivedump
