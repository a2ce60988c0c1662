#pragma once

#include "memory_registry.h"
#include "test_support.h"

#include <string>
#include <vector>

namespace hivedump::testing {

inline const std::string fault_fixture_key = "HKEY_CURRENT_USER\\Software\\Velmora";

/// A few keys, three deep, with a value of every type, escapes, a line
/// break, and a value larger than its key reports, so that it is read again
/// into grown buffers.
inline void fill_fault_fixture(registry::MemoryRegistry& registry)
{
    auto& root = registry.key(registry::current_user, "Software\\Velmora");
    registry.set_string(root, "", "root");
    registry.set_dword(root, "Count", 7);
    registry.set_value(root, "BE", 5, bytes_of({ 1, 2, 3, 4 }));

    auto& editor = registry.key(registry::current_user, "Software\\Velmora\\Editor");
    registry.set_string(editor, "Font", "Courier");
    registry.set_value(editor, "Data", 3, byte_range(40));
    registry.set_value(editor, "Big", 3, std::vector<std::byte>(6000, std::byte{ 0x5a }));
    registry.set_string(editor, "Path", "%PATH%", 2);
    registry.set_value(editor, "Multi", 7, bytes_of({ 'a', 0, 'b', 0, 0 }));
    registry.set_value(editor, "Link", 6, bytes_of({ 'a', 0, 'b', 0 }));
    registry.set_value(editor, "Q", 11, byte_range(8));
    registry.set_value(editor, "None", 0, {});
    registry.set_string(editor, "Lines", "a\nb");
    editor.reported_max_data = 10;

    registry.key(registry::current_user, "Software\\Velmora\\Editor\\Fonts");
    registry.set_dword(registry.key(registry::current_user, "Software\\Velmora\\Editor\\Fonts\\Deep"), "x", 1);
    auto& tools = registry.key(registry::current_user, "Software\\Velmora\\Tools");
    registry.set_string(tools, "a\\b", "C:\\Temp");
    registry.set_string(tools, "say \"hi\"", "");
    registry.key(registry::current_user, "Software\\Velmora\\Empty");
}

} // namespace hivedump::testing
