#include "wine/prefix.h"

#include <cstdlib>

namespace hivedump::wine {

std::string find_wine_prefix()
{
    if (const char* prefix = std::getenv("WINEPREFIX"); prefix != nullptr && *prefix != '\0')
        return prefix;
    const char* home = std::getenv("HOME");
    return std::string(home != nullptr ? home : "") + "/.wine";
}

} // namespace hivedump::wine
