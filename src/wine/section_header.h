#pragma once

#include "wine/lexer.h"
#include "wine/text.h"

#include <cstddef>
#include <string>
#include <vector>

namespace hivedump::wine {

/// The text of one section header after its '['. Compared with a key path
/// without decoding where it holds plain ASCII names between single
/// separators; decoded into names, as the server reads them, where it must.
class SectionHeader {
public:
    enum class Agreement { agree, disagree, unsure };
    struct Name {
        std::size_t start;
        std::size_t length;
    };

    void assign(const char* begin, const char* end);
    /// Whether the names agree with `names` (folded) over their common
    /// length; unsure when the header needs decoding to tell.
    Agreement fast_agreement(const std::vector<std::u16string>& names) const;
    /// The same after decoding; unsure only when the header does not decode.
    Agreement exact_agreement(const std::vector<std::u16string>& names);
    /// Splits the header into names, passing over empty ones; false when it has no closing bracket.
    bool decode();
    /// After an agreement of `disagree`: the name that differed first, and
    /// whether it is Wow6432Node (any case).
    std::size_t disagreeing_name() const { return disagreeing_name_; }
    bool disagrees_at_wow64_node();
    /// Whether the server reads the values below the header.
    bool readable();

    const char16_t* units() const { return text_.data(); }
    const std::vector<Name>& names() const { return components_; }
    TextView name(std::size_t index) const;

private:
    std::string raw_;
    // Set by the last agreement that was a disagreement: the name's index,
    // and where it starts in the raw text when that one told.
    mutable std::size_t disagreeing_name_ = 0;
    mutable std::size_t disagreeing_raw_ = std::string::npos;
    bool decoded_ = false;
    bool decode_ok_ = false;
    Units text_;
    std::vector<Name> components_;
};

} // namespace hivedump::wine
