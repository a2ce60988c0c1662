#pragma once

#include "wine/files.h"
#include "wine/hive.h"
#include "wine/interest.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace hivedump::wine {

class Links;

/// Where a file's tree goes: below a key known beforehand, or (user.reg)
/// below a key named after the user key its first lines name.
struct FileBase {
    NodeIndex key = no_node;
    NodeIndex users = no_node; ///< when set, the base is the user key made below it
};

/// What the passes over one file know of it and leave to each other.
struct FileState {
    /// Sections made keys by the first pass, as runs of consecutive headers.
    struct Run {
        std::uint64_t first;
        std::uint64_t last;
    };

    FileState(Hive& tree, RegistryFileSource::File& file, std::uint8_t file_id, std::uint8_t order, std::size_t chunk)
        : tree(tree)
        , file(file)
        , file_id(file_id)
        , order(order)
        , chunk(chunk)
    {
    }

    Hive& tree;
    RegistryFileSource::File& file;
    std::uint8_t file_id;
    std::uint8_t order; ///< the server's order of reading the file
    std::size_t chunk;
    NodeIndex base = no_node;
    Interest interest;
    std::vector<std::u16string> folded_interest;
    std::vector<Run> runs;
    std::vector<std::uint64_t> failed; ///< sections the first pass could not make, in file order
    std::uint64_t scanning = 0; ///< the header the first pass is at
    bool first_done = false;
    bool full = false; ///< every section the first pass has gone over is in the tree
    bool catching_up = false;
    bool wow64_sections = false;
    bool win32 = false;
};

/// Loads the key tree of one registry file. A first pass reads only the
/// section headers (and the few lines that decide where a header can be),
/// making keys of the sections of interest and of links; a key's values stay
/// in the file, recorded as spans, until the key is read. The sections
/// passed over are made keys by one catch-up pass when something needs them.
/// Keys made through links go where `links` says, which may load other
/// files, or catch this one up while its first pass is still going, as the
/// server has all of them by then.
class FileLoader {
public:
    struct Result {
        bool valid = false; ///< false: not a Wine registry file, nothing loaded
        bool read_failed = false; ///< reading stopped with an error; what came before is loaded
        bool win32 = false; ///< the file says its prefix is a 32-bit one ("#arch=win32")
    };

    FileLoader(Hive& tree, RegistryFileSource::File& file, std::uint8_t file_id, std::uint8_t order, std::size_t chunk);
    FileLoader(const FileLoader&) = delete;
    FileLoader& operator=(const FileLoader&) = delete;

    Result first_pass(FileBase base, const Wanted& wanted, Links& links);
    /// Makes keys of every section passed over so far; from then on the
    /// file counts as wholly loaded. False when reading failed.
    bool catch_up(Links& links);
    bool full() const { return state_.full; }
    /// The key the file's tree goes below, once its first pass started.
    NodeIndex base() const { return state_.base; }
    /// Makes the first pass also make the Wow6432Node keys beside the way to
    /// the interest, and all below them, so that the 32-bit view knows which
    /// keys on the way have one without the catch-up.
    void make_wow64_sections() { state_.wow64_sections = true; }

private:
    FileState state_;
};

} // namespace hivedump::wine
