#pragma once

#include "registry/registry.h"
#include "wine/found_key.h"
#include "wine/hive.h"
#include "wine/loaded_files.h"
#include "wine/values.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace hivedump::wine {

class SectionHeader;

/// Registry links, followed as Wine's server follows them. A link's target
/// is its SymbolicLinkValue, a path below \Registry; names are followed one
/// at a time, each link on the way one deeper, and at most 32 deep. While a
/// file is read, a link reaches only the keys of the files read before it.
class Links {
public:
    explicit Links(LoadedFiles& files);
    Links(const Links&) = delete;
    Links& operator=(const Links&) = delete;

    /// Follows `link`, itself `depth` links deep.
    FoundKey follow(NodeIndex link, int depth, Mount loading = none);
    /// Follows names from `node`, through links `depth` deep; each link on
    /// the way is followed one deeper. While the file of `loading` is read,
    /// the keys of the files read after it are not there yet.
    FoundKey follow_path(NodeIndex node, std::u16string_view path, int depth, const Wanted& wanted, Mount loading = none);
    /// Where a key of the file of `loading` created through `link` goes:
    /// the target's last name is created when missing, the names and links
    /// before it must lead to keys that exist by then. no_node when nowhere.
    NodeIndex create_through(NodeIndex link, Mount loading) { return create_through(link, 1, loading); }
    /// Where the server, making the keys of the section at `header` of
    /// `file`, goes on from `node`: nullopt when it does not know `node` as a
    /// link by then, else where a key created through the link goes
    /// (no_node: nowhere). It follows a link before it looks at the next
    /// name, and a section that names a link opens what the link leads to.
    std::optional<NodeIndex> making_through(NodeIndex node, std::uint8_t file, std::uint64_t header);
    /// The subkey of `node` with that name, case folded, reading what its
    /// file passed over when it is not known yet; no_node when none.
    NodeIndex child_of(NodeIndex node, std::u16string_view name, const Wanted& wanted);

private:
    NodeIndex create_through(NodeIndex link, int depth, Mount loading);
    /// Whether the server, while it reads the file of `loading`, has yet to
    /// make the subkey `name` of `node`, which a file read later makes.
    bool made_later(NodeIndex node, std::u16string_view name, Mount loading) const;
    const std::u16string& target_of(NodeIndex link);

    LoadedFiles& files_;
    Hive& hive_;
    struct Target {
        std::uint32_t spans = 0;
        std::u16string path;
    };
    std::map<NodeIndex, Target> targets_;
    ValueStore link_values_;
};

/// Whether the server, reading the section at `header` of file `file`,
/// meets `node` as a link: its "#link" line came in an earlier file, or
/// earlier in this one.
bool link_known_at(const Hive& hive, NodeIndex node, std::uint8_t file, std::uint64_t header);

/// Whether a section below `base` can meet a link at all.
inline bool may_meet_link(const Hive& hive, NodeIndex base)
{
    return hive.link_count() != 0 && (hive.key(base).link || hive.key(base).link_below);
}

/// Whether the section's path below `base` goes through, or names, a key
/// already known as a link there: such a section makes a key wherever the
/// link leads, so a first pass cannot pass it over.
bool passes_known_link(const Hive& hive, NodeIndex base, const SectionHeader& section, std::uint8_t file, std::uint64_t header);

} // namespace hivedump::wine
