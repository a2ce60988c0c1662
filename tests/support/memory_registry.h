#pragma once

#include "registry/registry.h"
#include "registry/value_type.h"
#include "walk/buffer_source.h"

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace hivedump::registry {

/// A registry held in memory, for tests: keys are made by path, and any call
/// can be told to fail at a chosen point. It is also the run's buffer source,
/// so that buffer refusals count among its calls.
class MemoryRegistry final : public Registry, public BufferSource {
public:
    struct Value {
        std::string name;
        std::uint32_t type = 0;
        std::vector<std::byte> data;
    };
    struct Key {
        std::string name;
        std::vector<Value> values;
        std::vector<std::unique_ptr<Key>> subkeys;
        Key* link = nullptr; ///< opened as this key instead
        bool dangling_link = false; ///< a link to nothing: never opens
        /// Reported by the key information instead of the true largest size.
        std::optional<std::uint32_t> reported_max_data;
    };

    enum class Call { open_key, enum_key, query_info_key, enum_value, allocate, count };
    enum class Repeat { once, from_then_on };

    MemoryRegistry();

    /// The key at `path` below a root key, made with its parents if missing.
    Key& key(Handle root, std::string_view path);
    Value& set_value(Key& key, std::string name, std::uint32_t type, std::vector<std::byte> data);
    Value& set_string(Key& key, std::string name, std::string_view text, std::uint32_t type = value_type::string);
    Value& set_dword(Key& key, std::string name, std::uint32_t number);

    /// The `nth` call of that kind (counted from 1) fails with `status`.
    void fail(Call call, int nth, Status status = status::access_denied, Repeat repeat = Repeat::once);
    int calls(Call call) const { return counts_[static_cast<std::size_t>(call)]; }
    std::size_t open_handle_count() const { return open_.size(); }
    void set_code_page(CodePage code_page) { code_page_ = code_page; }

    Status open_key(Handle parent, const std::string& path, Handle& key) override;
    Status enum_key(Handle key, std::uint32_t index, std::span<char> name) override;
    void close_key(Handle key) override;
    Status query_info_key(Handle key, KeyInfo& info) override;
    Status enum_value(Handle key, std::uint32_t index, ValueRead& value) override;
    std::string key_identity(Handle key) override;
    bool is_dangling_link(Handle key, const std::string& name) override;
    CodePage code_page() const override { return code_page_; }
    std::unique_ptr<std::byte[]> allocate(std::size_t size) override;

private:
    struct Fault {
        int nth;
        Status status;
        Repeat repeat;
    };
    std::optional<Status> injected(Call call);
    Key* resolve(Handle handle);

    std::array<Key, 4> roots_;
    std::map<std::uintptr_t, Key*> open_;
    std::uintptr_t next_handle_ = 0x1000;
    std::array<int, static_cast<std::size_t>(Call::count)> counts_{};
    std::array<std::vector<Fault>, static_cast<std::size_t>(Call::count)> faults_;
    CodePage code_page_ = CodePage::single_byte(1252);
};

} // namespace hivedump::registry
