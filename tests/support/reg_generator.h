#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace hivedump::testing {

/// Choices read from a string of bytes, as a fuzzer hands them over. Once
/// the bytes run out every choice is the first one and nothing rare happens,
/// so a short input still makes a whole prefix.
class ByteChoices {
public:
    explicit ByteChoices(std::string_view bytes)
        : bytes_(bytes)
    {
    }

    /// A number below `count` (count > 0).
    std::uint32_t below(std::uint32_t count);
    /// True about once in `count` times; false once the bytes are used up.
    bool one_in(std::uint32_t count) { return count <= 1 || below(count) == count - 1; }
    bool empty() const { return bytes_.empty(); }

private:
    std::string_view bytes_;
};

struct GeneratorOptions {
    /// For the comparison with Wine, whose export must mean the same files:
    /// the sections go at the end of a booted prefix's files, so no header
    /// of ours and none of the lines only a header holds (#arch, the
    /// relative path), and no file is left out (Wine would make it afresh);
    /// every key and every link target lies below Software\Fuzz, which no
    /// Wine component touches when it starts, so the keys Wine rewrites then
    /// never reach an export.
    bool for_wine = false;
};

/// Registry files of a Wine prefix. For Wine each body is meant to be appended
/// to a booted prefix's file; otherwise header + body is the whole file.
struct GeneratedPrefix {
    struct File {
        std::string header; ///< the lines before the first section
        std::string body; ///< the sections; empty when the file adds nothing
        bool present = true; ///< false: the file is missing from the prefix
        std::string text() const { return header + body; }
    };
    File user; ///< user.reg
    File machine; ///< system.reg
    File default_user; ///< userdef.reg
    /// Keys worth exporting, in ASCII, such as "HKEY_CURRENT_USER\Software\Fuzz".
    std::vector<std::string> keys;
    /// No more keys than this can come from loading the files.
    std::size_t key_bound = 0;
    /// No key name loaded from the files has more UTF-16 units than this.
    std::size_t longest_name = 0;
};

/// Generates the files from the choices: a tree of keys below Software\Fuzz
/// in each file, with values of every form the files hold, links between the
/// keys (chains, loops, fan-outs, targets through other links or below the
/// link itself, dangling ones), sections duplicated, out of order or below
/// links, broken lines, and line ends of either kind.
GeneratedPrefix generate_prefix(ByteChoices& choices, const GeneratorOptions& options = {});

} // namespace hivedump::testing
