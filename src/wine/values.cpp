#include "wine/values.h"

#include "registry/value_type.h"
#include "wine/lexer.h"

#include <cstring>
#include <string_view>

namespace hivedump::wine {

void ValueStore::clear()
{
    values.clear();
    // Room a large key needed is not kept for the next.
    if (values.capacity() > 4096 || bytes.capacity() > small_block_size) {
        values.shrink_to_fit();
        bytes = {};
    }
    arena_.reset();
}

TextView ValueStore::store(const char16_t* units, std::size_t length, bool wide)
{
    return pack_units(allocate(length * (wide ? 2 : 1)), units, length, wide);
}

TextView ValueStore::store_plain(const char* bytes, std::size_t length)
{
    auto* stored = allocate(length);
    if (length != 0)
        std::memcpy(stored, bytes, length);
    return { stored, static_cast<std::uint32_t>(length), false };
}

namespace {

/// Texts longer than this that hold no escapes are stored from the file's
/// bytes as they stand: decoded to 16-bit units first, a value of hundreds of
/// megabytes would cost three times its size while it is read.
constexpr std::ptrdiff_t long_text = 64 * 1024;

/// The value lines of a section's body, fed in pieces that hold whole
/// lines; a value whose hex data goes on past a piece is finished in the next.
class ValueLines {
public:
    explicit ValueLines(ValueStore& store)
        : store_(store)
        , text_(store.text)
        , name_(store.name)
        , bytes_(store.bytes)
    {
    }

    void feed(const char* begin, const char* end, bool last)
    {
        Lines lines(begin, end);
        Cursor line;
        if (continuing_) {
            if (!lines.next(line)) {
                if (last)
                    finish_value(false);
                return;
            }
            line.skip_spaces();
            continue_value(line, lines, last);
        }
        while (lines.next(line)) {
            line.skip_spaces();
            if (line.peek() == '@' || line.peek() == '"')
                read_value(line, lines, last);
        }
    }

    /// The body ended: a value still going on keeps its name with no data.
    void end()
    {
        if (continuing_)
            finish_value(false);
    }

private:
    void read_value(Cursor& line, Lines& lines, bool last)
    {
        if (!read_value_head(line, name_))
            return;
        auto name = store_.store(name_.data(), name_.length, name_.wide);
        value_ = ValueNode{};
        value_.name = name.bytes;
        static_assert(max_value_name <= UINT16_MAX);
        value_.name_length = static_cast<std::uint16_t>(name.length);
        value_.wide_name = name.wide;
        read_data(line, lines, last);
    }

    /// A long text without escapes or characters beyond ASCII, stored from
    /// the line itself; false, touching nothing, for any other text.
    bool read_long_plain_text(Cursor& line, TextView& stored)
    {
        if (line.end - line.at <= long_text)
            return false;
        const char* at = line.at;
        while (at != line.end && is_plain(*at))
            ++at;
        if (at == line.end || *at != '"')
            return false;
        stored = store_.store_plain(line.at, static_cast<std::size_t>(at - line.at));
        line.at = at + 1;
        return true;
    }

    /// Adds the value read; the server keeps the name with no data when the
    /// data does not parse.
    void finish_value(bool parsed)
    {
        continuing_ = false;
        if (!parsed) {
            value_.type = value_type::none;
            value_.form = DataForm::bytes;
            value_.data = nullptr;
            value_.data_length = 0;
        }
        store_.values.push_back(value_);
    }

    void read_data(Cursor& line, Lines& lines, bool last)
    {
        struct Form {
            std::string_view tag;
            std::uint32_t type;
        };
        static constexpr Form text_forms[] = { { "\"", value_type::string }, { "str:\"", value_type::string },
            { "str(2):\"", value_type::expand_string }, { "str(7):\"", value_type::multi_string } };
        const char first = line.peek();
        if (first == '"' || first == 's') {
            for (const auto& form : text_forms) {
                if (!line.starts_with(form.tag))
                    continue;
                line.at += form.tag.size();
                TextView stored;
                if (!read_long_plain_text(line, stored)) {
                    if (!read_text(line, '"', text_))
                        return finish_value(false);
                    stored = store_.store(text_.data(), text_.length, text_.wide);
                }
                value_.type = form.type;
                value_.data = stored.bytes;
                value_.data_length = stored.length;
                value_.form = stored.wide ? DataForm::wide_text : DataForm::narrow_text;
                return finish_value(true);
            }
            return finish_value(false);
        }
        if (line.starts_with("dword:")) {
            line.at += 6;
            std::uint64_t number = 0;
            read_unsigned_hex(line, number);
            auto* data = store_.allocate(4);
            for (int index = 0; index < 4; ++index)
                data[index] = static_cast<unsigned char>(number >> (8 * index));
            value_.type = value_type::dword;
            value_.data = data;
            value_.data_length = 4;
            return finish_value(true);
        }
        std::uint32_t type = 0;
        if (read_hex_tag(line, type) != HexTag::found)
            return finish_value(false);
        value_.type = type;
        bytes_.clear();
        continue_value(line, lines, last);
    }

    /// Goes on with the hex data of the value being read.
    void continue_value(Cursor& line, Lines& lines, bool last)
    {
        switch (read_hex_bytes(line, lines, last, &bytes_)) {
        case Hex::more:
            continuing_ = true;
            return;
        case Hex::failed:
            return finish_value(false);
        case Hex::done:
            break;
        }
        auto* data = store_.allocate(bytes_.size());
        if (!bytes_.empty())
            std::memcpy(data, bytes_.data(), bytes_.size());
        value_.data = data;
        value_.data_length = static_cast<std::uint32_t>(bytes_.size());
        value_.form = DataForm::bytes;
        finish_value(true);
    }

    ValueStore& store_;
    bool continuing_ = false;
    ValueNode value_;
    Units& text_;
    Units& name_;
    std::vector<unsigned char>& bytes_;
};

} // namespace

bool FileWindow::get(RegistryFileSource::File& file, std::uint64_t start, std::uint64_t end, std::string_view& bytes)
{
    if (&file != file_ || start < start_ || end > start_ + held_) {
        if (!data_)
            data_ = std::make_unique_for_overwrite<char[]>(size);
        file_ = &file;
        start_ = start;
        held_ = 0;
        while (held_ < size) {
            auto count = file.read_at(data_.get() + held_, size - held_, start_ + held_);
            if (count < 0) {
                file_ = nullptr;
                return false;
            }
            if (count == 0)
                break;
            held_ += static_cast<std::size_t>(count);
        }
    }
    auto from = static_cast<std::size_t>(start - start_);
    auto to = static_cast<std::size_t>(std::min<std::uint64_t>(end, start_ + held_) - start_);
    bytes = from < to ? std::string_view(data_.get() + from, to - from) : std::string_view();
    return true;
}

bool read_values(const Hive& tree, std::uint32_t first_span, std::span<const std::unique_ptr<PinnedFile>> files, std::size_t chunk,
    ValueStore& store, std::span<FileWindow> windows)
{
    bool read = true;
    for (auto index = first_span; index != no_node; index = tree.span(index).next) {
        const auto& span = tree.span(index);
        RegistryFileSource::File* file = span.file < files.size() ? files[span.file].get() : nullptr;
        if (file == nullptr || span.end <= span.start)
            continue;
        ValueLines lines(store);
        if (span.end - span.start <= FileWindow::size && span.file < windows.size() && chunk >= FileWindow::size) {
            std::string_view bytes;
            if (!windows[span.file].get(*file, span.start, span.end, bytes)) {
                read = false;
                continue;
            }
            lines.feed(bytes.data(), bytes.data() + bytes.size(), true);
            lines.end();
            continue;
        }
        read &= read_lines(*file, span.start, span.end, std::min<std::uint64_t>(chunk, span.end - span.start),
            [&](const char* begin, const char* end, bool last, std::uint64_t) {
                lines.feed(begin, end, last);
                return true;
            });
        lines.end();
    }
    return read;
}

} // namespace hivedump::wine
