#include "walk/value_export.h"

#include "format/export_format.h"

#include <algorithm>
#include <memory>
#include <span>
#include <string>

namespace hivedump {

using registry::Status;

namespace {

/// Buffers are never smaller than this, however small the key's values.
constexpr std::size_t data_capacity_floor = 4096;
constexpr std::size_t buffer_slack = 64;
constexpr std::size_t value_name_capacity = 4096;
/// A value that keeps outgrowing its buffers (it is being rewritten while
/// we read it) is passed over after this many reads.
constexpr int max_reads_per_value = 8;

/// The buffers of one key's values: the data and the name.
class ValueBuffers {
public:
    [[nodiscard]] bool allocate(BufferSource& source, std::size_t capacity)
    {
        data_ = source.allocate(capacity + buffer_slack);
        name_ = source.allocate(value_name_capacity + buffer_slack);
        if (!data_ || !name_)
            return false;
        data_capacity_ = capacity;
        name_capacity_ = value_name_capacity;
        return true;
    }

    /// Makes room for what the last read said it needed.
    [[nodiscard]] bool grow(BufferSource& source, const registry::ValueRead& read)
    {
        if (read.data_size > data_capacity_) {
            auto bigger = source.allocate(std::size_t{ read.data_size } + buffer_slack);
            if (!bigger)
                return false;
            data_ = std::move(bigger);
            data_capacity_ = read.data_size;
            return true;
        }
        std::size_t wanted = name_capacity_ * 2;
        auto bigger = source.allocate(wanted + buffer_slack);
        if (!bigger)
            return false;
        name_ = std::move(bigger);
        name_capacity_ = wanted;
        return true;
    }

    // Filled in place: a returned copy made the CPU wait on its own stores
    // for every value.
    void prepare_read(registry::ValueRead& read)
    {
        read.name = { reinterpret_cast<char*>(name_.get()), name_capacity_ };
        read.name[0] = '\0';
        read.data = { data_.get(), data_capacity_ };
        read.name_length = static_cast<std::uint32_t>(std::min<std::size_t>(name_capacity_, UINT32_MAX));
        read.data_size = static_cast<std::uint32_t>(std::min<std::size_t>(data_capacity_, UINT32_MAX));
        read.type = 0;
    }

    std::size_t data_capacity() const { return data_capacity_; }

private:
    std::unique_ptr<std::byte[]> data_;
    std::unique_ptr<std::byte[]> name_;
    std::size_t data_capacity_ = 0;
    std::size_t name_capacity_ = 0;
};

} // namespace

ValuesOutcome dump_values(const ExportContext& context, registry::Handle key)
{
    auto& registry = context.registry;
    registry::KeyInfo info;
    // Without the key information there is no count to read values by.
    if (registry.query_info_key(key, info) != registry::status::success || info.value_count == 0)
        return ValuesOutcome::written;

    ValueBuffers buffers;
    if (!buffers.allocate(context.buffers, std::max<std::size_t>(info.max_value_data_size, data_capacity_floor))) {
        context.say(no_memory_message);
        return ValuesOutcome::abandoned;
    }

    auto result = ValuesOutcome::written;
    // Kept from value to value, so that escaping a name takes no new room.
    std::string escaped_name;
    for (std::uint32_t index = 0; index < info.value_count; ++index) {
        registry::ValueRead read;
        Status status = registry::status::success;
        for (int attempt = 1;; ++attempt) {
            buffers.prepare_read(read);
            status = registry.enum_value(key, index, read);
            if (status != registry::status::more_data || attempt == max_reads_per_value)
                break;
            // Entries of this key are written already, so only the value that
            // does not fit is given up.
            if (!buffers.grow(context.buffers, read)) {
                context.say(no_memory_message);
                status = registry::status::not_enough_memory;
                break;
            }
        }
        if (status != registry::status::success) {
            // A value that is listed but unreadable, or that never fits, is
            // missing from the file; one that went away meanwhile is not.
            if (!registry::is_gone(status))
                result = ValuesOutcome::value_lost;
            continue;
        }
        std::size_t name_length = std::min<std::size_t>(read.name_length, read.name.size());
        std::size_t data_size = std::min<std::size_t>(read.data_size, read.data.size());
        write_value(
            context.stream, { read.name.data(), name_length }, read.type, read.data.first(data_size), context.code_page, escaped_name);
    }
    return result;
}

} // namespace hivedump
