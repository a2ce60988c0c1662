#pragma once

#include "cli/export_run.h"

namespace hivedump {

namespace wine {
class WinePrefixRegistry;
}

/// A run over a prefix's registry: a file of it that cannot be read fails
/// the run, after what could be read is written.
RunEnvironment prefix_run_environment(wine::WinePrefixRegistry& registry, ByteSink& console, OutputFiles& files);

/// The Linux program: the prefix's registry, the locale's code page, the
/// run. Throws std::bad_alloc when memory runs out before the run starts.
int run_linux_entry(int argc, char** argv);

} // namespace hivedump
