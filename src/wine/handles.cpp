#include "wine/handles.h"

#include <utility>

namespace hivedump::wine {

void OpenKey::reset()
{
    node = no_node;
    in_use = false;
    performance_text = false;
    children_listed = false;
    values_listed = false;
    last_listed = no_node;
    children.clear();
    values.clear();
    store.clear();
}

OpenKey& KeyHandles::root(registry::Handle handle, bool& resolved)
{
    auto slot = static_cast<std::uintptr_t>(handle) - 0x80000000u;
    resolved = std::exchange(root_resolved_[slot], true);
    return roots_[slot];
}

registry::Handle KeyHandles::open(NodeIndex node, bool performance_text)
{
    std::size_t slot;
    if (!free_slots_.empty()) {
        slot = free_slots_.back();
        free_slots_.pop_back();
    } else {
        slot = open_keys_.size();
        open_keys_.emplace_back();
        // close() must not allocate.
        free_slots_.reserve(open_keys_.size());
    }
    auto& opened = open_keys_[slot];
    opened.reset();
    opened.node = node;
    opened.in_use = true;
    opened.performance_text = performance_text;
    return static_cast<registry::Handle>(slot + 1);
}

void KeyHandles::close(registry::Handle handle)
{
    auto slot = slot_of(handle);
    if (slot == no_slot)
        return;
    open_keys_[slot].reset();
    free_slots_.push_back(slot);
}

} // namespace hivedump::wine
