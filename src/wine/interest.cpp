#include "wine/interest.h"

#include <algorithm>

namespace hivedump::wine {

namespace {

std::u16string units_of(const TextView& text)
{
    std::u16string units;
    units.reserve(text.length);
    for (std::uint32_t at = 0; at < text.length; ++at)
        units.push_back(text[at]);
    return units;
}

std::vector<std::u16string> path_of(const Hive& hive, NodeIndex node)
{
    std::vector<std::u16string> names;
    for (; node != hive.root() && node != no_node; node = hive.key(node).parent)
        names.push_back(units_of(hive.key(node).name_text()));
    std::reverse(names.begin(), names.end());
    return names;
}

} // namespace

Interest interest_below(const Hive& hive, NodeIndex base, const Wanted& wanted, NodeIndex user_key)
{
    Interest interest;
    if (wanted.everything)
        return interest;
    std::vector<std::u16string> names;
    if (wanted.anchor != no_node) {
        names = path_of(hive, wanted.anchor);
    } else {
        switch (static_cast<std::uintptr_t>(wanted.root)) {
        case static_cast<std::uintptr_t>(registry::local_machine):
            names = { u"Machine" };
            break;
        case static_cast<std::uintptr_t>(registry::current_user):
            if (base != user_key)
                return interest; // the user key is not known yet: all of it
            names = path_of(hive, user_key);
            break;
        case static_cast<std::uintptr_t>(registry::users):
            names = { u"User" };
            break;
        default:
            return interest; // the classes root goes through links: all of it
        }
    }
    for (PathNames path(wanted.path); auto name = path.next();)
        names.emplace_back(*name);
    auto base_path = path_of(hive, base);
    std::size_t common = std::min(base_path.size(), names.size());
    for (std::size_t index = 0; index < common; ++index) {
        if (!names_equal(view_of(base_path[index]), view_of(names[index]))) {
            // Nothing below the base is asked for: only its links are needed.
            interest.reach = Interest::Reach::links_only;
            return interest;
        }
    }
    if (names.size() > base_path.size()) {
        interest.reach = Interest::Reach::names;
        interest.names.assign(names.begin() + static_cast<std::ptrdiff_t>(base_path.size()), names.end());
    }
    return interest;
}

} // namespace hivedump::wine
