#pragma once

#include "code_page/code_page.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace hivedump::testing {

/// One value entry as the file gives it back. The form decides the type:
/// "string" gives 1 with the text (no terminating zero) as data, "dword:"
/// gives 4 with the number's bytes least significant first, "hex:" gives 3
/// and "hex(N):" gives N, each with the bytes listed.
struct ReadValue {
    std::string name; ///< empty for the default value ("@")
    std::uint32_t type = 0;
    std::vector<std::byte> data;

    bool operator==(const ReadValue&) const = default;
};

struct ReadKey {
    std::string path; ///< the text between the brackets of the header line
    std::vector<ReadValue> values;
    /// False when the block ends without its empty line, as a key abandoned
    /// for lack of memory does.
    bool closed = false;

    bool operator==(const ReadKey&) const = default;
};

struct ReadExport {
    std::vector<ReadKey> keys;
    std::string error; ///< empty when the whole text parsed

    bool ok() const { return error.empty(); }
    const ReadKey* find(std::string_view path) const;
};

/// Parses an export file exactly as this tool writes it: "REGEDIT4" and an
/// empty line, then key blocks, every line ended by CR LF; names and strings
/// escaped for `code_page`; hex data wrapped at the column limit. Anything
/// else, a continuation in the wrong place included, is an error.
ReadExport read_export(std::string_view file, const CodePage& code_page);

} // namespace hivedump::testing
