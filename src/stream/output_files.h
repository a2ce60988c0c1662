#pragma once

#include "stream/byte_sink.h"

#include <memory>
#include <string>
#include <vector>

namespace hivedump {

/// Creates the export file: created or truncated, open to other readers and
/// writers meanwhile. Null when it cannot be created.
class OutputFiles {
public:
    virtual ~OutputFiles() = default;
    virtual std::unique_ptr<ByteSink> create(const std::string& path) = 0;
};

/// The platform's files. A path that names one of `protected_paths` (the
/// registry being read) is refused before anything is truncated.
std::unique_ptr<OutputFiles> make_platform_files(std::vector<std::string> protected_paths = {});

/// Standard output as the platform's C runtime gives it.
std::unique_ptr<ByteSink> make_console();
/// Standard output through the C runtime; flushed after each write when it
/// is a `console`.
std::unique_ptr<ByteSink> make_standard_output(bool console);

} // namespace hivedump
