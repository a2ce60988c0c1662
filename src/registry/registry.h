#pragma once

#include "code_page/code_page.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace hivedump::registry {

/// Status codes as the platform's registry functions return them.
using Status = std::int32_t;
namespace status {
inline constexpr Status success = 0;
inline constexpr Status file_not_found = 2;
inline constexpr Status access_denied = 5;
inline constexpr Status invalid_handle = 6;
inline constexpr Status not_enough_memory = 8;
inline constexpr Status more_data = 234;
inline constexpr Status no_more_items = 259;
inline constexpr Status key_deleted = 1018;
} // namespace status

/// Whether a call failed because what it asked for was deleted meanwhile
/// (or was never there), rather than because it could not be read.
inline bool is_gone(Status status)
{
    return status == status::file_not_found || status == status::no_more_items || status == status::key_deleted;
}

/// Which registry a program sees on 64-bit Windows: its own, or the one a
/// 32-bit or a 64-bit program sees (KEY_WOW64_32KEY, KEY_WOW64_64KEY). On
/// 32-bit Windows there is one, whatever is asked.
enum class View : std::uint8_t { own, bits32, bits64 };

/// An open key, or one of the predefined root keys below.
enum class Handle : std::uintptr_t {};
inline constexpr Handle classes_root{ 0x80000000u };
inline constexpr Handle current_user{ 0x80000001u };
inline constexpr Handle local_machine{ 0x80000002u };
inline constexpr Handle users{ 0x80000003u };

inline bool is_root(Handle handle)
{
    auto value = static_cast<std::uintptr_t>(handle);
    return value >= 0x80000000u && value <= 0x80000003u;
}

struct KeyInfo {
    std::uint32_t value_count = 0;
    std::uint32_t max_value_data_size = 0; ///< bytes
};

/// One value as read by index. `name_length` and `data_size` go in as the
/// capacities of the buffers and come back as the lengths read (the name's
/// without its zero), or, on more_data, the data size needed.
struct ValueRead {
    std::span<char> name;
    std::span<std::byte> data;
    std::uint32_t name_length = 0;
    std::uint32_t data_size = 0;
    std::uint32_t type = 0;
};

/// The registry operations the walk relies on, with the platform's semantics
/// (RegOpenKeyExA with read rights, RegEnumKeyA, RegCloseKey,
/// RegQueryInfoKeyA, RegEnumValueA). Text is in the registry's ANSI code page.
class Registry {
public:
    virtual ~Registry() = default;

    /// Opens `path` below `parent`; an empty path opens the parent again.
    virtual Status open_key(Handle parent, const std::string& path, Handle& key) = 0;
    /// Puts the name of subkey `index`, ended by a zero byte, into `name`.
    virtual Status enum_key(Handle key, std::uint32_t index, std::span<char> name) = 0;
    virtual void close_key(Handle key) = 0;
    virtual Status query_info_key(Handle key, KeyInfo& info) = 0;
    virtual Status enum_value(Handle key, std::uint32_t index, ValueRead& value) = 0;
    /// Whether subkey `name` of `key`, which did not open, is a symbolic link
    /// whose target does not exist: it holds nothing to export.
    virtual bool is_dangling_link(Handle key, const std::string& name) = 0;

    /// A text that is the same for two handles to the same key, so the walk
    /// can tell a link back to an ancestor; empty when it cannot be known.
    virtual std::string key_identity(Handle key) = 0;

    virtual CodePage code_page() const = 0;
};

/// Closes the key it holds when it goes out of scope.
class KeyHandle {
public:
    KeyHandle() = default;
    KeyHandle(Registry& registry, Handle handle)
        : registry_(&registry)
        , handle_(handle)
    {
    }
    KeyHandle(KeyHandle&& other) noexcept
        : registry_(other.registry_)
        , handle_(other.handle_)
    {
        other.registry_ = nullptr;
    }
    KeyHandle& operator=(KeyHandle&& other) noexcept
    {
        if (this != &other) {
            reset();
            registry_ = other.registry_;
            handle_ = other.handle_;
            other.registry_ = nullptr;
        }
        return *this;
    }
    KeyHandle(const KeyHandle&) = delete;
    KeyHandle& operator=(const KeyHandle&) = delete;
    ~KeyHandle() { reset(); }

    Handle get() const { return handle_; }
    explicit operator bool() const { return registry_ != nullptr; }

    void reset()
    {
        if (registry_ != nullptr)
            registry_->close_key(handle_);
        registry_ = nullptr;
    }

private:
    Registry* registry_ = nullptr;
    Handle handle_{};
};

} // namespace hivedump::registry
