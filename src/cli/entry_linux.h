#pragma once

namespace hivedump {

/// The Linux program: the prefix's registry, the locale's code page, the
/// run. Throws std::bad_alloc when memory runs out before the run starts.
int run_linux_entry(int argc, char** argv);

} // namespace hivedump
