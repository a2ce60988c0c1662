#pragma once

#include "registry/registry.h"
#include "wine/hive.h"

namespace hivedump::wine {

/// A key found by name, or the status a Win32 call answers for why none was.
struct FoundKey {
    registry::Status status = registry::status::file_not_found;
    NodeIndex node = no_node;

    bool found() const { return status == registry::status::success; }
    static FoundKey at(NodeIndex node) { return { registry::status::success, node }; }
    static FoundKey failed(registry::Status status) { return { status, no_node }; }
};

} // namespace hivedump::wine
