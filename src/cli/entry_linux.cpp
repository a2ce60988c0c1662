#include "cli/entry_linux.h"

#include "cli/arguments.h"
#include "cli/export_run.h"
#include "stream/output_files.h"
#include "wine/argument_text.h"
#include "wine/locale_code_page.h"
#include "wine/prefix.h"
#include "wine/prefix_registry.h"
#include "wine/server.h"

#include <string>
#include <vector>

namespace hivedump {

RunEnvironment prefix_run_environment(wine::WinePrefixRegistry& registry, ByteSink& console, OutputFiles& files)
{
    RunEnvironment environment{ registry, console, files };
    environment.unreadable_registry_file = [&registry] { return registry.unreadable_file(); };
    return environment;
}

int run_linux_entry(int argc, char** argv)
{
    // Takes the locale's character type, the one category the program uses.
    CodePage code_page = wine::code_page_from_locale();

    // A Win32 program under Wine gets its arguments in the ANSI code page;
    // the output path stays a Linux path, as typed.
    std::vector<std::string> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
    if (arguments.size() >= 2) {
        std::size_t key = is_banner_switch(arguments[0]) ? 1 : 0;
        if (arguments.size() - key == 2)
            arguments[key] = wine::locale_to_code_page(arguments[key], code_page);
    }

    auto console = make_console();
    auto view = view_from_environment(*console);
    if (!view)
        return -1;
    std::string prefix = wine::find_wine_prefix();
    wine::WinePrefixRegistry registry(prefix, code_page);
    registry.set_view(*view);
    auto files = make_platform_files(registry.registry_files());
    RunEnvironment environment = prefix_run_environment(registry, *console, *files);
    // A running wineserver saves its registry only now and then.
    if (wine::wine_server_running(prefix, wine::wine_server_roots_from_environment()))
        environment.notice = "wineserver is running on this prefix: its files may not hold its latest changes yet"
                             " (wineserver -w writes them out)\n";
    return run_hivedump(arguments, environment);
}

} // namespace hivedump
