#include "cli/entry_linux.h"
#include "cli/export_run.h"

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

// Before anything is opened: a closed standard descriptor would be handed
// to the export file, and messages would land in it.
void fill_standard_descriptors()
{
    for (int descriptor = STDIN_FILENO; descriptor <= STDERR_FILENO; ++descriptor) {
        if (::fcntl(descriptor, F_GETFD) != -1)
            continue;
        int opened = ::open("/dev/null", descriptor == STDIN_FILENO ? O_RDONLY : O_WRONLY);
        // open takes the lowest free descriptor: this one, since those below are open.
        if (opened >= 0 && opened != descriptor)
            ::close(opened);
    }
}

} // namespace

int main(int argc, char** argv)
{
    fill_standard_descriptors();
    // A reader that went away or a file-size limit is a failed write, said
    // as such, not a silent death by signal.
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
    return hivedump::run_entry([&] { return hivedump::run_linux_entry(argc, argv); });
}
