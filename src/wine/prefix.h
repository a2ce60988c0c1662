#pragma once

#include <string>

namespace hivedump::wine {

/// The prefix Wine would use: $WINEPREFIX, else $HOME/.wine.
std::string find_wine_prefix();

} // namespace hivedump::wine
