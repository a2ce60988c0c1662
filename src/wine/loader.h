#pragma once

#include "wine/files.h"
#include "wine/lexer.h"
#include "wine/tree.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace hivedump::wine {

/// Where a key path in the file leads when it passes through a link: the
/// server follows links while it creates keys, creating the target when missing.
/// Returns no_node when the link cannot be followed.
using LinkFollower = std::function<NodeIndex(NodeIndex link)>;

/// The keys a load is for: sections on the way to them or below them
/// become keys at once; others wait until some key needs them.
struct Interest {
    bool all = true; ///< every section
    bool nothing = false; ///< no section but links and what goes through them
    std::vector<std::u16string> names; ///< below the file's base, when not all
};

/// Loads the key tree of one registry file. A first pass reads only the
/// section headers (and the few lines that decide where a header can be),
/// making keys of the sections of interest and of links; a key's values stay
/// in the file, recorded as spans, until the key is read. The sections
/// passed over are made keys by one catch-up pass when something needs them.
class FileLoader {
public:
    struct Result {
        bool valid = false; ///< false: not a Wine registry file, nothing loaded
        bool read_failed = false; ///< reading stopped with an error; what came before is loaded
        bool win32 = false; ///< the file says its prefix is a 32-bit one ("#arch=win32")
    };
    /// The file's base key and the interest, once the file's ";; All keys
    /// relative to" path (unescaped, empty when none) is known.
    using Start = std::function<NodeIndex(std::string_view relative_to, Interest& interest)>;

    FileLoader(
        Hive& tree, RegistryFileSource::File& file, std::uint8_t file_id, std::uint8_t order, LinkFollower follow_link, std::size_t chunk);
    ~FileLoader();
    FileLoader(const FileLoader&) = delete;
    FileLoader& operator=(const FileLoader&) = delete;

    Result first_pass(const Start& start);
    /// Makes keys of every section passed over so far; from then on the
    /// file counts as wholly loaded. False when reading failed.
    bool catch_up();
    /// Every section the first pass has gone over is in the tree.
    bool full() const { return full_; }
    /// Makes the first pass also make the Wow6432Node keys beside the way to
    /// the interest, and all below them, so that the 32-bit view knows which
    /// keys on the way have one without the catch-up.
    void make_wow64_sections() { wow64_sections_ = true; }

private:
    class Scan;
    friend class Scan;
    /// Sections made keys by the first pass, as runs of consecutive headers.
    struct Run {
        std::uint64_t first;
        std::uint64_t last;
    };

    Hive& tree_;
    RegistryFileSource::File& file_;
    std::uint8_t file_id_;
    std::uint8_t order_;
    LinkFollower follow_link_;
    std::size_t chunk_;
    NodeIndex base_ = no_node;
    Interest interest_;
    std::vector<std::u16string> folded_interest_;
    std::vector<Run> runs_;
    std::vector<std::uint64_t> failed_; ///< sections the first pass could not make, in file order
    std::uint64_t scanning_ = 0; ///< the header the first pass is at
    bool first_done_ = false;
    bool full_ = false;
    bool catching_up_ = false;
    bool wow64_sections_ = false;
    bool win32_ = false;
};

} // namespace hivedump::wine
