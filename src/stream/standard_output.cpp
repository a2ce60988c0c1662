#include "stream/output_files.h"

#include <cstdio>

namespace hivedump {

namespace {

class StandardOutput final : public ByteSink {
public:
    explicit StandardOutput(bool console)
        : console_(console)
    {
    }
    bool write(std::span<const char> bytes) override
    {
        bool written = std::fwrite(bytes.data(), 1, bytes.size(), stdout) == bytes.size();
        // A console shows each message when it is written.
        if (console_)
            std::fflush(stdout);
        return written;
    }

private:
    bool console_;
};

} // namespace

std::unique_ptr<ByteSink> make_standard_output(bool console) { return std::make_unique<StandardOutput>(console); }

} // namespace hivedump
