#pragma once

#include "wine/files.h"
#include "wine/hive.h"
#include "wine/lexer.h"
#include "wine/text.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

namespace hivedump::wine {

/// How a value's data is held: as the file gave the bytes, or as text whose
/// terminating zero unit is implied.
enum class DataForm : std::uint8_t { bytes, narrow_text, wide_text };

struct ValueNode {
    const unsigned char* name = nullptr;
    const unsigned char* data = nullptr;
    std::uint32_t data_length = 0; ///< bytes, or units for text
    std::uint32_t type = 0;
    std::uint16_t name_length = 0; ///< units; the server takes no longer names
    bool wide_name = false;
    DataForm form = DataForm::bytes;

    TextView name_text() const { return { name, name_length, wide_name }; }
    /// The size the server holds: for text, two bytes a unit and the zero.
    std::uint32_t stored_size() const { return form == DataForm::bytes ? data_length : (data_length + 1) * 2; }
};

/// The values of one key, in the order its files give them, and the memory
/// that holds their names and data until the key is done with.
class ValueStore {
public:
    std::vector<ValueNode> values;

    /// Forgets the values, keeping a little room for the next key.
    void clear();
    unsigned char* allocate(std::size_t size) { return arena_.allocate(size); }
    TextView store(const char16_t* units, std::size_t length, bool wide);
    TextView store_plain(const char* bytes, std::size_t length);

    // Room for decoding, kept from key to key.
    Units text;
    Units name;
    std::vector<unsigned char> bytes;

private:
    Arena arena_;
};

/// The bytes of a file around the spans last read: a walk reads the keys
/// of a subtree much in file order, and then most spans need no read of their own.
class FileWindow {
public:
    static constexpr std::size_t size = std::size_t{ 256 } << 10;
    /// The bytes [start, end) as far as the file holds them; false when reading failed.
    bool get(RegistryFileSource::File& file, std::uint64_t start, std::uint64_t end, std::string_view& bytes);

private:
    RegistryFileSource::File* file_ = nullptr;
    std::unique_ptr<char[]> data_;
    std::uint64_t start_ = 0;
    std::size_t held_ = 0;
};

/// Parses the values of the key whose spans begin at `first_span`, reading
/// each span's lines again from its file (`files`, by the span's file number;
/// null where a file is not open), through that file's window; a file that
/// changed meanwhile only gives fewer values. False when reading failed.
bool read_values(const Hive& tree, std::uint32_t first_span, std::span<const std::unique_ptr<PinnedFile>> files, std::size_t chunk,
    ValueStore& store, std::span<FileWindow> windows);

} // namespace hivedump::wine
