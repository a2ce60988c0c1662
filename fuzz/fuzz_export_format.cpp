// Values of any name, type and data go through the walk over a one-key
// registry; the file must read back to the same values.
//
// Input: a flags byte (bit 0: code page 932 instead of 1252; bit 1: the key
// reports a largest data size of 0, so every value outgrows its buffer and
// is read again), a subkey name (16-bit length, then bytes), then values
// until the input ends: 16-bit name length, name, a type selector (0 to 11
// stand for themselves, 12 and up take the next four bytes as the type),
// 16-bit data length, data. Lengths are cut to what the input still holds.

#include "export_reader.h"
#include "format/export_format.h"
#include "memory_registry.h"
#include "registry/value_type.h"
#include "test_support.h"
#include "walk/key_walk.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace {

using namespace hivedump;
using registry::MemoryRegistry;
using testing::ReadKey;
using testing::ReadValue;

class Input {
public:
    explicit Input(std::span<const std::uint8_t> bytes)
        : bytes_(bytes)
    {
    }
    bool empty() const { return bytes_.empty(); }
    std::uint8_t byte()
    {
        if (bytes_.empty())
            return 0;
        std::uint8_t value = bytes_[0];
        bytes_ = bytes_.subspan(1);
        return value;
    }
    std::uint32_t number(int size)
    {
        std::uint32_t value = 0;
        for (int i = 0; i < size; ++i)
            value |= std::uint32_t{ byte() } << (8 * i);
        return value;
    }
    std::span<const std::uint8_t> take(std::size_t count)
    {
        count = std::min(count, bytes_.size());
        auto taken = bytes_.first(count);
        bytes_ = bytes_.subspan(count);
        return taken;
    }

private:
    std::span<const std::uint8_t> bytes_;
};

std::string text_of(std::span<const std::uint8_t> bytes) { return { reinterpret_cast<const char*>(bytes.data()), bytes.size() }; }

std::vector<std::byte> bytes_of(std::span<const std::uint8_t> bytes)
{
    std::vector<std::byte> data(bytes.size());
    for (std::size_t i = 0; i < bytes.size(); ++i)
        data[i] = static_cast<std::byte>(bytes[i]);
    return data;
}

/// What the file must give back for a value, by the form its type selects.
ReadValue expected_entry(const MemoryRegistry::Value& value)
{
    ReadValue entry{ value.name, value.type, value.data };
    auto byte_at = [&](std::size_t i) { return i < value.data.size() ? value.data[i] : std::byte{ 0 }; };
    switch (value.type) {
    case value_type::string: {
        std::vector<std::byte> text;
        for (std::byte b : value.data) {
            if (b == std::byte{ 0 })
                break;
            text.push_back(b);
        }
        // Text with a line break goes out whole, in the hex form of type 1.
        bool breaks = false;
        for (std::byte b : text)
            breaks = breaks || b == std::byte{ '\r' } || b == std::byte{ '\n' };
        if (!breaks)
            entry.data = std::move(text);
        break;
    }
    case value_type::dword:
    case value_type::dword_big_endian:
        // Longer than the dword form holds: the hex form with every byte.
        if (value.data.size() > 4)
            break;
        if (value.type == value_type::dword) {
            entry.data = { byte_at(0), byte_at(1), byte_at(2), byte_at(3) };
            break;
        }
        // Written in the dword form with its digits in stored order, so it
        // reads back as a type 4 holding the bytes reversed.
        entry.type = value_type::dword;
        entry.data = { byte_at(3), byte_at(2), byte_at(1), byte_at(0) };
        break;
    default:
        break;
    }
    return entry;
}

[[noreturn]] void fail(const std::string& what, const std::string& file)
{
    std::fprintf(stderr, "fuzz_export_format: %s\n--- file (%zu bytes) ---\n", what.c_str(), file.size());
    std::fwrite(file.data(), 1, file.size(), stderr);
    std::abort();
}

/// The rest of the input as values: a name, a type and data each.
void add_values(MemoryRegistry& registry, MemoryRegistry::Key& key, Input& input)
{
    while (!input.empty()) {
        std::string name = text_of(input.take(input.number(2)));
        std::uint32_t type = input.byte();
        if (type > 11)
            type = input.number(4);
        auto value_data = bytes_of(input.take(input.number(2)));
        registry.set_value(key, std::move(name), type, std::move(value_data));
    }
}

int check_read_back(const MemoryRegistry::Key& key, const CodePage& code_page, bool has_subkey, const std::string& subkey_name,
    const testing::MemorySink& file);

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Input input({ data, size });
    std::uint8_t flags = input.byte();
    CodePage code_page = CodePage::from_number((flags & 1) != 0 ? 932 : 1252);

    MemoryRegistry registry;
    registry.set_code_page(code_page);
    auto& key = registry.key(registry::current_user, "Fuzz");
    if ((flags & 2) != 0)
        key.reported_max_data = 0;

    // Key names go into header lines as they are; the registry cannot hold
    // a backslash or a zero in one, nor more than 255 characters (510 bytes
    // in a double-byte code page), and an empty one would name the key
    // itself.
    std::string subkey_name = text_of(input.take(input.number(2)));
    bool has_subkey
        = !subkey_name.empty() && subkey_name.size() <= 510 && subkey_name.find_first_of(std::string_view("\\\0", 2)) == std::string::npos;
    if (has_subkey) {
        key.subkeys.push_back(std::make_unique<MemoryRegistry::Key>());
        key.subkeys.back()->name = subkey_name;
    }

    add_values(registry, key, input);

    // A subkey whose name holds a line break is left out, and said so.
    bool subkey_left_out = has_subkey && subkey_name.find_first_of("\r\n") != std::string::npos;
    testing::MemorySink file;
    testing::MemorySink console;
    {
        TextStream stream(file);
        ExportContext context{ registry, stream, console, code_page };
        write_file_header(stream);
        KeyExport exported = export_master_key(context, "HKEY_CURRENT_USER", "Fuzz");
        if (exported == KeyExport::not_opened)
            fail("the key did not export", file.text());
        if ((exported == KeyExport::keys_left_out) != subkey_left_out)
            fail("the outcome does not tell whether a key was left out", file.text());
        if (!stream.close())
            fail("the stream failed", file.text());
    }
    if (registry.open_handle_count() != 0)
        fail("a handle was left open", file.text());
    std::string expected_console;
    if (subkey_left_out) {
        expected_console = "can't export key [HKEY_CURRENT_USER\\Fuzz\\";
        append_showing_line_breaks(expected_console, subkey_name);
        expected_console += "]\n";
        has_subkey = false;
    }
    if (console.text() != expected_console)
        fail("unexpected message: " + console.text(), file.text());
    return check_read_back(key, code_page, has_subkey, subkey_name, file);
}

namespace {

/// The file reads back as the key's values and its subkey.
int check_read_back(const MemoryRegistry::Key& key, const CodePage& code_page, bool has_subkey, const std::string& subkey_name,
    const testing::MemorySink& file)
{
    // Value names show their line breaks as \n and \r and read back, but in a
    // double-byte code page a lead byte before the break (no character of the
    // code page) takes the backslash of \n for its trail byte.
    if (code_page.is_double_byte()) {
        for (const auto& value : key.values) {
            if (value.name.find_first_of("\r\n") != std::string::npos)
                return 0;
        }
    }

    auto read = testing::read_export(file.text(), code_page);
    if (!read.ok())
        fail("unreadable: " + read.error, file.text());
    std::vector<ReadKey> expected(1);
    expected[0].path = "HKEY_CURRENT_USER\\Fuzz";
    expected[0].closed = true;
    for (const auto& value : key.values)
        expected[0].values.push_back(expected_entry(value));
    if (has_subkey)
        expected.push_back({ "HKEY_CURRENT_USER\\Fuzz\\" + subkey_name, {}, true });
    if (read.keys != expected) {
        std::string what = "read back differs";
        for (std::size_t i = 0; i < expected[0].values.size() && !read.keys.empty(); ++i) {
            if (i >= read.keys[0].values.size() || read.keys[0].values[i] != expected[0].values[i]) {
                what += " at value " + std::to_string(i);
                break;
            }
        }
        fail(what, file.text());
    }
    return 0;
}

} // namespace
