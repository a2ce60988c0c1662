#pragma once

#include <string>

namespace hivedump::wine {

/// The directories below which a wineserver keeps its server-DEV-INODE
/// directory.
struct WineServerRoots {
    /// Debian's Wine: the directory the prefix's `wineserver` file names is
    /// below this one ($TMPDIR).
    std::string temp_dir;
    /// Upstream Wine: /tmp/.wine-UID.
    std::string user_dir;
};

/// The roots for this process: $TMPDIR (else /tmp) and /tmp/.wine-<uid>.
WineServerRoots wine_server_roots_from_environment();

/// Whether a wineserver runs on `prefix`, seen from the lock it holds on the
/// `lock` file in its directory. Only looks: nothing is locked, created or
/// written. Anything unexpected on the way counts as no server.
bool wine_server_running(const std::string& prefix, const WineServerRoots& roots) noexcept;

} // namespace hivedump::wine
