#include "registry/system_registry.h"

#include <windows.h>

#include <cstring>
#include <vector>

namespace hivedump::registry {

namespace {

HKEY to_hkey(Handle handle)
{
    switch (static_cast<std::uintptr_t>(handle)) {
    case 0x80000000u:
        return HKEY_CLASSES_ROOT;
    case 0x80000001u:
        return HKEY_CURRENT_USER;
    case 0x80000002u:
        return HKEY_LOCAL_MACHINE;
    case 0x80000003u:
        return HKEY_USERS;
    default:
        return reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(handle));
    }
}

Handle from_hkey(HKEY key)
{
    if (key == HKEY_CLASSES_ROOT)
        return classes_root;
    if (key == HKEY_CURRENT_USER)
        return current_user;
    if (key == HKEY_LOCAL_MACHINE)
        return local_machine;
    if (key == HKEY_USERS)
        return users;
    return static_cast<Handle>(reinterpret_cast<std::uintptr_t>(key));
}

// NtQueryKey gives a key's full name, the only identity the API offers;
// it is looked up at run time because the import libraries lack it.
using NtQueryKeyFunction = LONG(WINAPI*)(HANDLE, int, void*, ULONG, ULONG*);
constexpr int key_name_information = 3;

NtQueryKeyFunction find_nt_query_key()
{
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    if (ntdll == nullptr)
        return nullptr;
    return reinterpret_cast<NtQueryKeyFunction>(reinterpret_cast<void*>(GetProcAddress(ntdll, "NtQueryKey")));
}

class Win32Registry final : public Registry {
public:
    explicit Win32Registry(View view)
        : nt_query_key_(find_nt_query_key())
        , view_access_(view == View::bits32 ? KEY_WOW64_32KEY
                  : view == View::bits64    ? KEY_WOW64_64KEY
                                            : 0)
    {
    }

    Status open_key(Handle parent, const std::string& path, Handle& key) override
    {
        HKEY opened = nullptr;
        LONG status = RegOpenKeyExA(to_hkey(parent), path.c_str(), 0, KEY_READ | view_access_, &opened);
        if (status == ERROR_SUCCESS)
            key = from_hkey(opened);
        return status;
    }

    bool is_dangling_link(Handle key, const std::string& name) override
    {
        // The link key itself opens when what it points to does not.
        HKEY opened = nullptr;
        if (RegOpenKeyExA(to_hkey(key), name.c_str(), REG_OPTION_OPEN_LINK, KEY_QUERY_VALUE | view_access_, &opened) != ERROR_SUCCESS)
            return false;
        RegCloseKey(opened);
        return true;
    }

    Status enum_key(Handle key, std::uint32_t index, std::span<char> name) override
    {
        return RegEnumKeyA(to_hkey(key), index, name.data(), static_cast<DWORD>(name.size()));
    }

    void close_key(Handle key) override { RegCloseKey(to_hkey(key)); }

    Status query_info_key(Handle key, KeyInfo& info) override
    {
        DWORD values = 0;
        DWORD largest_data = 0;
        LONG status = RegQueryInfoKeyA(
            to_hkey(key), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr, &largest_data, nullptr, nullptr);
        if (status == ERROR_SUCCESS) {
            info = KeyInfo{};
            info.value_count = values;
            info.max_value_data_size = largest_data;
        }
        return status;
    }

    Status enum_value(Handle key, std::uint32_t index, ValueRead& value) override
    {
        DWORD name_length = value.name_length;
        DWORD type = 0;
        DWORD data_size = value.data_size;
        LONG status = RegEnumValueA(
            to_hkey(key), index, value.name.data(), &name_length, nullptr, &type, reinterpret_cast<BYTE*>(value.data.data()), &data_size);
        value.name_length = name_length;
        value.type = type;
        value.data_size = data_size;
        return status;
    }

    std::string key_identity(Handle key) override
    {
        if (nt_query_key_ == nullptr || is_root(key))
            return {};
        std::vector<char> buffer(1024);
        ULONG needed = 0;
        LONG status = nt_query_key_(to_hkey(key), key_name_information, buffer.data(), static_cast<ULONG>(buffer.size()), &needed);
        if (status < 0 && needed > buffer.size()) {
            buffer.resize(needed);
            status = nt_query_key_(to_hkey(key), key_name_information, buffer.data(), static_cast<ULONG>(buffer.size()), &needed);
        }
        if (status < 0 || needed < sizeof(ULONG))
            return {};
        ULONG name_bytes = 0;
        std::memcpy(&name_bytes, buffer.data(), sizeof name_bytes);
        if (name_bytes > buffer.size() - sizeof name_bytes)
            return {};
        return std::string(buffer.data() + sizeof name_bytes, name_bytes);
    }

    CodePage code_page() const override
    {
        UINT number = GetACP();
        return CodePage::from_predicate(number, [number](unsigned char byte) { return IsDBCSLeadByteEx(number, byte) != FALSE; });
    }

private:
    NtQueryKeyFunction nt_query_key_;
    REGSAM view_access_;
};

} // namespace

std::unique_ptr<Registry> open_system_registry(View view) { return std::make_unique<Win32Registry>(view); }

} // namespace hivedump::registry
