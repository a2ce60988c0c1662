#include "cli/entry_linux.h"
#include "cli/export_run.h"

int main(int argc, char** argv)
{
    return hivedump::run_entry([&] { return hivedump::run_linux_entry(argc, argv); });
}
