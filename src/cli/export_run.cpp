#include "cli/export_run.h"

#include "cli/arguments.h"
#include "format/export_format.h"
#include "stream/text_stream.h"
#include "version.h"
#include "walk/key_walk.h"

#include <cstdlib>
#include <new>

namespace hivedump {

namespace {

constexpr int failure_status = -1;

void say(ByteSink& console, std::string_view message) { console.write({ message.data(), message.size() }); }

void say_with_path(ByteSink& console, std::string_view before, std::string_view path)
{
    std::string message(before);
    message.append(path);
    message.append("]\n");
    say(console, message);
}

std::string banner_line()
{
    std::string line = "HIVEDUMP Ver " HIVEDUMP_VERSION "  (c) 2026 the HIVEDUMP authors";
    line.push_back('\n');
    return line;
}

void write_ancestor_headers(TextStream& stream, std::string_view master_key, std::string_view key_path)
{
    for (std::size_t at = key_path.find('\\'); at != std::string_view::npos; at = key_path.find('\\', at + 1))
        write_ancestor_header(stream, master_key, key_path.substr(0, at));
}

int export_to_file(const ExportRequest& request, RunEnvironment& environment)
{
    auto file = environment.files.create(request.output_path);
    if (!file) {
        say_with_path(environment.console, "can't create file [", request.output_path);
        return failure_status;
    }
    // Said only once there is an export for it to be about.
    if (!environment.notice.empty())
        say(environment.console, environment.notice);
    KeyName key = split_key(request.key);
    TextStream stream(*file);
    write_file_header(stream);
    write_ancestor_headers(stream, key.master_key, key.key_path);

    ExportContext context{ environment.registry, stream, environment.console, environment.registry.code_page(), environment.buffers };
    // A key that is not found or does not open still leaves a valid file.
    KeyExport exported = export_master_key(context, key.master_key, key.key_path);

    int status = exported == KeyExport::keys_left_out ? failure_status : 0;
    auto unreadable = environment.unreadable_registry_file ? environment.unreadable_registry_file() : std::nullopt;
    if (unreadable) {
        say_with_path(environment.console, "can't read registry [", *unreadable);
        status = failure_status;
    }
    if (!stream.close()) {
        say_with_path(environment.console, "can't write file [", request.output_path);
        status = failure_status;
    }
    return status;
}

} // namespace

std::optional<registry::View> view_from_environment(ByteSink& console)
{
    auto view = view_from_variable(std::getenv(view_variable));
    if (!view) {
        say(console, view_variable_error);
        console.close();
    }
    return view;
}

int run_hivedump(std::span<const std::string> arguments, RunEnvironment& environment)
{
    try {
        ExportRequest request = parse_arguments(arguments);
        // A longer key could only come from a command line that Windows
        // cannot pass, and its ancestor headers alone could fill a disk.
        if (request.outcome == Outcome::export_key
            && command_line_units(request.key, environment.registry.code_page()) > max_command_line_units)
            request.outcome = Outcome::usage;
        if (request.outcome == Outcome::usage) {
            std::string line(usage_line);
            line.push_back('\n');
            say(environment.console, line);
            return failure_status;
        }
        if (request.banner == Banner::shown)
            say(environment.console, banner_line());
        if (request.outcome == Outcome::banner_only)
            return 0;
        return export_to_file(request, environment);
    } catch (const std::bad_alloc&) {
        say(environment.console, no_memory_message);
        return failure_status;
    }
}

} // namespace hivedump
