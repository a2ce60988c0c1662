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

/// A sink over a file the platform hands out as a `Platform::Handle`, which
/// it owns: `Platform` names the calls on it. `write_some` writes a part of
/// the bytes and returns how many, 0 on failure; `close` releases the handle
/// once, however often it is called, and tells whether data was lost.
template <typename Platform> class HandleSink final : public ByteSink {
public:
    using Handle = typename Platform::Handle;

    explicit HandleSink(Handle handle)
        : handle_(handle)
    {
    }
    HandleSink(const HandleSink&) = delete;
    HandleSink& operator=(const HandleSink&) = delete;
    ~HandleSink() override { close(); }

    bool write(std::span<const char> bytes) override
    {
        while (!bytes.empty()) {
            std::size_t written = Platform::write_some(handle_, bytes);
            if (written == 0)
                return false;
            bytes = bytes.subspan(written);
        }
        return true;
    }
    bool close() override { return Platform::close(handle_); }
    std::size_t block_size() const override { return Platform::block_size; }

private:
    Handle handle_;
};

} // namespace hivedump
