#pragma once

#include "registry/registry.h"
#include "wine/hive.h"
#include "wine/values.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace hivedump::wine {

/// A key a handle stands for, with what was listed of it.
struct OpenKey {
    /// The value whose name is shown is the first one loaded, the one whose
    /// data counts the last.
    struct ValueSlot {
        std::uint32_t name;
        std::uint32_t data;
    };

    NodeIndex node = no_node;
    bool in_use = false;
    bool performance_text = false; ///< Wine hands out a pseudo handle that no call accepts
    bool children_listed = false;
    bool values_listed = false;
    NodeIndex last_listed = no_node; ///< the subkey the last enum_key named
    std::vector<NodeIndex> children;
    std::vector<ValueSlot> values;
    ValueStore store; ///< the values read, until the key is closed

    /// Closes the slot; the lists keep their room for the next key opened here.
    void reset();
};

/// The handles of open keys, as Win32 hands them out: the master keys' fixed
/// values, and small numbers for the keys opened, reused once closed.
class KeyHandles {
public:
    /// The master key's slot; `resolved` says whether its key was looked up yet.
    OpenKey& root(registry::Handle handle, bool& resolved);
    /// The open key, or nullptr when the handle names none that calls accept.
    OpenKey* find(registry::Handle handle)
    {
        auto slot = slot_of(handle);
        return slot == no_slot || open_keys_[slot].performance_text ? nullptr : &open_keys_[slot];
    }
    /// The node of an open key, whatever calls accept of it; no_node when none.
    NodeIndex node_of(registry::Handle handle) const
    {
        auto slot = slot_of(handle);
        return slot == no_slot ? no_node : open_keys_[slot].node;
    }
    registry::Handle open(NodeIndex node, bool performance_text);
    /// Allocates nothing: it runs from destructors.
    void close(registry::Handle handle);

private:
    static constexpr std::size_t no_slot = static_cast<std::size_t>(-1);
    /// The slot of a handle to a key opened and not closed, or no_slot;
    /// inline, as every call of the registry asks it.
    std::size_t slot_of(registry::Handle handle) const
    {
        auto number = static_cast<std::uintptr_t>(handle);
        if (registry::is_root(handle) || number == 0 || number > open_keys_.size() || !open_keys_[number - 1].in_use)
            return no_slot;
        return number - 1;
    }

    std::vector<OpenKey> open_keys_;
    std::vector<std::size_t> free_slots_;
    std::array<OpenKey, 4> roots_{};
    std::array<bool, 4> root_resolved_{};
};

} // namespace hivedump::wine
