#pragma once

#include "registry/registry.h"
#include "stream/byte_sink.h"
#include "stream/output_files.h"
#include "walk/buffer_source.h"

#include <cstdio>
#include <functional>
#include <memory>
#include <new>
#include <optional>
#include <span>
#include <string>

namespace hivedump {

/// What a run works with: the registry, standard output and the file system.
struct RunEnvironment {
    registry::Registry& registry;
    ByteSink& console;
    OutputFiles& files;
    /// A line said once the output file is created, before the export
    /// starts; empty for none.
    std::string notice = {};
    BufferSource& buffers = heap_buffers();
    /// A registry file that could not be read, asked after the export; the
    /// run then fails. Only a reader of registry files has one to name.
    std::function<std::optional<std::string>()> unreadable_registry_file = {};
};

/// The registry view HIVEDUMP_VIEW asks for. For any value but 32 and 64 it
/// says so in one line and closes the console: the program then ends with -1.
[[nodiscard]] std::optional<registry::View> view_from_environment(ByteSink& console);

/// The whole export run for the arguments that follow the program name.
/// Returns the exit status: 0, or -1 for a usage error or a lost export.
[[nodiscard]] int run_hivedump(std::span<const std::string> arguments, RunEnvironment& environment);

/// Runs a program's entry: memory running out while the run is set up (the
/// argument list, the registry reader) ends it as it ends an export, with
/// no_memory_message and -1, not with an abort.
template <typename Entry> int run_entry(Entry&& entry)
{
    try {
        return entry();
    } catch (const std::bad_alloc&) {
        std::fputs(no_memory_message, stdout);
        std::fflush(stdout);
        return -1;
    }
}

} // namespace hivedump
