#pragma once

#include "registry/registry.h"
#include "wine/hive.h"

#include <string>
#include <string_view>
#include <vector>

namespace hivedump::wine {

/// What a load is for: the path being opened, below `anchor` or, when that
/// is no_node, below the master key `root`. A file's first pass makes keys of
/// the sections on the way to it and below it; everything is the default.
struct Wanted {
    registry::Handle root{};
    NodeIndex anchor = no_node;
    std::u16string_view path;
    bool everything = true;

    static Wanted below(registry::Handle root, NodeIndex anchor, std::u16string_view path) { return { root, anchor, path, false }; }
};

/// The sections of one file that its first pass makes keys of at once;
/// the others wait until some key needs them.
struct Interest {
    enum class Reach {
        everything,
        /// the sections on the way to `names` and below them
        names,
        /// none but links and what goes through them
        links_only,
    };
    Reach reach = Reach::everything;
    std::vector<std::u16string> names; ///< below the file's base
};

/// The interest of a file whose base key is `base`, for what `wanted`
/// names. `user_key` is the user's key when `base` is it, else no_node.
Interest interest_below(const Hive& hive, NodeIndex base, const Wanted& wanted, NodeIndex user_key);

} // namespace hivedump::wine
