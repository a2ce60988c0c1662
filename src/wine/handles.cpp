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

std::size_t KeyHandles::slot_of(registry::Handle handle) const
{
    auto number = static_cast<std::uintptr_t>(handle);
    if (registry::is_root(handle) || number == 0 || number > open_keys_.size() || !open_keys_[number - 1].in_use)
        return no_slot;
    return number - 1;
}

OpenKey* KeyHandles::find(registry::Handle handle)
{
    auto slot = slot_of(handle);
    return slot == no_slot || open_keys_[slot].performance_text ? nullptr : &open_keys_[slot];
}

NodeIndex KeyHandles::node_of(registry::Handle handle) const
{
    auto slot = slot_of(handle);
    return slot == no_slot ? no_node : open_keys_[slot].node;
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
