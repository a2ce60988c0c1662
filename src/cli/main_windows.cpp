#include "cli/export_run.h"
#include "registry/system_registry.h"
#include "stream/output_files.h"

#include <string>
#include <vector>

// Arguments are taken as typed: a key or path holding * or ? is no pattern.
extern "C" {
int _dowildcard = 0;
}

int main(int argc, char** argv)
{
    return hivedump::run_entry([&] {
        std::vector<std::string> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
        auto console = hivedump::make_console();
        auto view = hivedump::view_from_environment(*console);
        if (!view)
            return -1;
        auto registry = hivedump::registry::open_system_registry(*view);
        auto files = hivedump::make_platform_files();
        hivedump::RunEnvironment environment{ *registry, *console, *files };
        return hivedump::run_hivedump(arguments, environment);
    });
}
