#include "memory_registry.h"

#include <cstring>

namespace hivedump::registry {

namespace {

bool same_name(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto fold = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
        if (fold(a[i]) != fold(b[i]))
            return false;
    }
    return true;
}

MemoryRegistry::Key* find_subkey(MemoryRegistry::Key& key, std::string_view name)
{
    for (auto& subkey : key.subkeys) {
        if (same_name(subkey->name, name))
            return subkey.get();
    }
    return nullptr;
}

template <typename Visit> bool for_each_component(std::string_view path, Visit visit)
{
    while (!path.empty()) {
        auto backslash = path.find('\\');
        auto component = path.substr(0, backslash);
        if (!component.empty() && !visit(component))
            return false;
        if (backslash == std::string_view::npos)
            break;
        path.remove_prefix(backslash + 1);
    }
    return true;
}

MemoryRegistry::Key* follow_links(MemoryRegistry::Key* key)
{
    for (int hops = 0; key != nullptr && key->link != nullptr; ++hops) {
        if (hops == 16)
            return nullptr;
        key = key->link;
    }
    return key;
}

} // namespace

MemoryRegistry::MemoryRegistry()
{
    roots_[0].name = "HKEY_CLASSES_ROOT";
    roots_[1].name = "HKEY_CURRENT_USER";
    roots_[2].name = "HKEY_LOCAL_MACHINE";
    roots_[3].name = "HKEY_USERS";
}

MemoryRegistry::Key& MemoryRegistry::key(Handle root, std::string_view path)
{
    Key* current = &roots_[static_cast<std::uintptr_t>(root) - 0x80000000u];
    for_each_component(path, [&](std::string_view component) {
        Key* next = find_subkey(*current, component);
        if (next == nullptr) {
            current->subkeys.push_back(std::make_unique<Key>());
            next = current->subkeys.back().get();
            next->name = component;
        }
        current = next;
        return true;
    });
    return *current;
}

MemoryRegistry::Value& MemoryRegistry::set_value(Key& key, std::string name, std::uint32_t type, std::vector<std::byte> data)
{
    key.values.push_back({ std::move(name), type, std::move(data) });
    return key.values.back();
}

MemoryRegistry::Value& MemoryRegistry::set_string(Key& key, std::string name, std::string_view text, std::uint32_t type)
{
    std::vector<std::byte> data(text.size() + 1);
    std::memcpy(data.data(), text.data(), text.size());
    return set_value(key, std::move(name), type, std::move(data));
}

MemoryRegistry::Value& MemoryRegistry::set_dword(Key& key, std::string name, std::uint32_t number)
{
    std::vector<std::byte> data(4);
    for (std::size_t i = 0; i < 4; ++i)
        data[i] = static_cast<std::byte>(number >> (8 * i));
    return set_value(key, std::move(name), value_type::dword, std::move(data));
}

void MemoryRegistry::fail(Call call, int nth, Status status, Repeat repeat)
{
    faults_[static_cast<std::size_t>(call)].push_back({ nth, status, repeat });
}

std::optional<Status> MemoryRegistry::injected(Call call)
{
    int count = ++counts_[static_cast<std::size_t>(call)];
    for (const auto& fault : faults_[static_cast<std::size_t>(call)]) {
        if (count == fault.nth || (fault.repeat == Repeat::from_then_on && count > fault.nth))
            return fault.status;
    }
    return std::nullopt;
}

MemoryRegistry::Key* MemoryRegistry::resolve(Handle handle)
{
    auto value = static_cast<std::uintptr_t>(handle);
    if (is_root(handle))
        return &roots_[value - 0x80000000u];
    auto found = open_.find(value);
    return found == open_.end() ? nullptr : found->second;
}

Status MemoryRegistry::open_key(Handle parent, const std::string& path, Handle& key)
{
    if (auto fault = injected(Call::open_key))
        return *fault;
    Key* current = resolve(parent);
    if (current == nullptr)
        return status::invalid_handle;
    bool found = for_each_component(path, [&](std::string_view component) {
        current = follow_links(find_subkey(*current, component));
        return current != nullptr && !current->dangling_link;
    });
    if (!found)
        return status::file_not_found;
    key = static_cast<Handle>(next_handle_++);
    open_[static_cast<std::uintptr_t>(key)] = current;
    return status::success;
}

Status MemoryRegistry::enum_key(Handle handle, std::uint32_t index, std::span<char> name)
{
    if (auto fault = injected(Call::enum_key))
        return *fault;
    Key* key = resolve(handle);
    if (key == nullptr)
        return status::invalid_handle;
    if (index >= key->subkeys.size())
        return status::no_more_items;
    const std::string& subkey = key->subkeys[index]->name;
    if (subkey.size() + 1 > name.size())
        return status::more_data;
    std::memcpy(name.data(), subkey.c_str(), subkey.size() + 1);
    return status::success;
}

void MemoryRegistry::close_key(Handle key) { open_.erase(static_cast<std::uintptr_t>(key)); }

Status MemoryRegistry::query_info_key(Handle handle, KeyInfo& info)
{
    if (auto fault = injected(Call::query_info_key))
        return *fault;
    Key* key = resolve(handle);
    if (key == nullptr)
        return status::invalid_handle;
    info = KeyInfo{};
    info.value_count = static_cast<std::uint32_t>(key->values.size());
    for (const auto& value : key->values)
        info.max_value_data_size = std::max(info.max_value_data_size, static_cast<std::uint32_t>(value.data.size()));
    if (key->reported_max_data)
        info.max_value_data_size = *key->reported_max_data;
    return status::success;
}

Status MemoryRegistry::enum_value(Handle handle, std::uint32_t index, ValueRead& read)
{
    if (auto fault = injected(Call::enum_value))
        return *fault;
    Key* key = resolve(handle);
    if (key == nullptr)
        return status::invalid_handle;
    if (index >= key->values.size())
        return status::no_more_items;
    const Value& value = key->values[index];
    if (value.name.size() + 1 > read.name_length || value.name.size() + 1 > read.name.size())
        return status::more_data;
    if (value.data.size() > read.data_size || value.data.size() > read.data.size()) {
        read.data_size = static_cast<std::uint32_t>(value.data.size());
        return status::more_data;
    }
    std::memcpy(read.name.data(), value.name.c_str(), value.name.size() + 1);
    read.name_length = static_cast<std::uint32_t>(value.name.size());
    if (!value.data.empty())
        std::memcpy(read.data.data(), value.data.data(), value.data.size());
    read.data_size = static_cast<std::uint32_t>(value.data.size());
    read.type = value.type;
    return status::success;
}

bool MemoryRegistry::is_dangling_link(Handle handle, const std::string& name)
{
    Key* key = resolve(handle);
    Key* subkey = key != nullptr ? find_subkey(*key, name) : nullptr;
    return subkey != nullptr && subkey->dangling_link;
}

std::string MemoryRegistry::key_identity(Handle handle)
{
    Key* key = resolve(handle);
    if (key == nullptr)
        return {};
    return std::to_string(reinterpret_cast<std::uintptr_t>(key));
}

std::unique_ptr<std::byte[]> MemoryRegistry::allocate(std::size_t size)
{
    if (injected(Call::allocate))
        return nullptr;
    return BufferSource::allocate(size);
}

} // namespace hivedump::registry
