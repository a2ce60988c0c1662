#include "wine/section_header.h"

#include <algorithm>
#include <array>

namespace hivedump::wine {

namespace {

// The server's folding of the ASCII letters.
constexpr std::array<char16_t, 128> ascii_folded = [] {
    std::array<char16_t, 128> folded{};
    for (unsigned c = 0; c < 128; ++c)
        folded[c] = static_cast<char16_t>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    return folded;
}();

} // namespace

void SectionHeader::assign(const char* begin, const char* end)
{
    raw_.assign(begin, end);
    decoded_ = false;
    decode_ok_ = false;
}

/// Compares the raw header with the interest without decoding it, where
/// it holds nothing but plain ASCII names between single separators.
SectionHeader::Agreement SectionHeader::fast_agreement(const std::vector<std::u16string>& names) const
{
    const char* at = raw_.data();
    const char* end = at + raw_.size();
    std::size_t index = 0;
    std::size_t position = 0;
    const char* name_start = at;
    auto disagree = [&] {
        disagreeing_name_ = index;
        disagreeing_raw_ = static_cast<std::size_t>(name_start - raw_.data());
        return Agreement::disagree;
    };
    for (;;) {
        if (index >= names.size())
            return Agreement::agree;
        if (at == end)
            return Agreement::unsure;
        char c = *at;
        const auto& name = names[index];
        if (c == ']') {
            if (position == 0 || position == name.size())
                return Agreement::agree;
            return disagree();
        }
        if (c == '\\') {
            if (end - at < 2 || at[1] != '\\' || position == 0)
                return Agreement::unsure;
            if (position != name.size())
                return disagree();
            ++index;
            position = 0;
            at += 2;
            name_start = at;
            continue;
        }
        if (static_cast<unsigned char>(c) >= 0x80)
            return Agreement::unsure;
        if (position >= name.size() || ascii_folded[static_cast<unsigned char>(c)] != name[position])
            return disagree();
        ++position;
        ++at;
    }
}

SectionHeader::Agreement SectionHeader::exact_agreement(const std::vector<std::u16string>& names)
{
    if (!decode())
        return Agreement::unsure;
    for (std::size_t index = 0; index < names.size() && index < components_.size(); ++index) {
        if (!names_equal(name(index), view_of(names[index]))) {
            disagreeing_name_ = index;
            disagreeing_raw_ = std::string::npos;
            return Agreement::disagree;
        }
    }
    return Agreement::agree;
}

TextView SectionHeader::name(std::size_t index) const
{
    return { reinterpret_cast<const unsigned char*>(text_.data() + components_[index].start),
        static_cast<std::uint32_t>(components_[index].length), true };
}

/// Splits the header into names, passing over empty ones; false when it has no closing bracket.
bool SectionHeader::decode()
{
    if (decoded_)
        return decode_ok_;
    decoded_ = true;
    Cursor cursor{ raw_.data(), raw_.data() + raw_.size() };
    if (!read_text(cursor, ']', text_))
        return false;
    decode_ok_ = true;
    components_.clear();
    for (PathNames names({ text_.data(), text_.length }); auto name = names.next();)
        components_.push_back({ static_cast<std::size_t>(name->data() - text_.data()), name->size() });
    return true;
}

/// Whether the server reads the values below the header: it decodes and no name is too long.
bool SectionHeader::readable()
{
    // Plain ASCII names between single separators need no decoding.
    std::size_t length = 0;
    for (const char* at = raw_.data(); at != raw_.data() + raw_.size() && !decoded_; ++at) {
        char c = *at;
        if (c == ']')
            return true;
        if (static_cast<unsigned char>(c) >= 0x80 || (c == '\\' && (at + 1 == raw_.data() + raw_.size() || at[1] != '\\')))
            break;
        if (c == '\\') {
            ++at;
            length = 0;
        } else if (++length > max_key_name) {
            return false;
        }
    }
    if (!decode())
        return false;
    return std::none_of(components_.begin(), components_.end(), [](const Name& each) { return each.length > max_key_name; });
}

bool SectionHeader::disagrees_at_wow64_node()
{
    if (disagreeing_raw_ != std::string::npos) {
        // Most names are told by their first letter: a plain one decodes to itself.
        auto first = disagreeing_raw_ < raw_.size() ? static_cast<unsigned char>(raw_[disagreeing_raw_]) : ']';
        if (first < 0x80 && first != '\\' && ascii_folded[first] != ascii_folded[wow64_node_name[0]])
            return false;
        // Told without decoding when the name is plain ASCII up to its
        // separator or the closing bracket.
        std::size_t end = disagreeing_raw_;
        bool plain = true;
        while (end < raw_.size() && raw_[end] != ']' && plain) {
            if (raw_[end] == '\\') {
                plain = end + 1 < raw_.size() && raw_[end + 1] == '\\';
                break;
            }
            plain = static_cast<unsigned char>(raw_[end]) < 0x80;
            ++end;
        }
        if (plain) {
            if (end - disagreeing_raw_ != wow64_node_name.size())
                return false;
            for (std::size_t at = 0; at < wow64_node_name.size(); ++at) {
                if (ascii_folded[static_cast<unsigned char>(raw_[disagreeing_raw_ + at])] != ascii_folded[wow64_node_name[at]])
                    return false;
            }
            return true;
        }
        // Decoded, the names before this one are the ones the raw text showed.
    }
    return decode() && disagreeing_name_ < components_.size() && names_equal(name(disagreeing_name_), view_of(wow64_node_name));
}

} // namespace hivedump::wine
