#pragma once

#include "registry/registry.h"

#include <memory>

namespace hivedump::registry {

/// The registry of the system the program runs on, through its own API, in
/// that view.
std::unique_ptr<Registry> open_system_registry(View view);

} // namespace hivedump::registry
