#include "walk/key_walk.h"

#include "format/export_format.h"
#include "walk/value_export.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <vector>

namespace hivedump {

using registry::Handle;
using registry::KeyHandle;
using registry::Status;

namespace {

struct MasterKey {
    std::string_view name;
    Handle handle;
};

constexpr std::array<MasterKey, 4> master_keys{ {
    { "HKEY_CLASSES_ROOT", registry::classes_root },
    { "HKEY_CURRENT_USER", registry::current_user },
    { "HKEY_LOCAL_MACHINE", registry::local_machine },
    { "HKEY_USERS", registry::users },
} };

/// Subkey names are handed to the enumeration in a buffer of this size.
constexpr std::size_t subkey_name_capacity = 4096;
/// A subkey deleted and made again while it is opened is opened this often.
constexpr int max_opens_per_subkey = 3;

/// One key on the way from the exported key down to the one being walked.
struct Level {
    Handle handle;
    KeyHandle owner; // empty for the exported key, which its opener closes
    std::string path;
    std::string identity; // known once the key is found to have subkeys
    std::uint32_t next_subkey = 0;
    bool at_depth_limit = false; // its subkeys are named, not walked
};

/// Links can lead the walk to one key again and again (two links to the
/// next key at every level double the walk at each): past this many walks
/// of a key's subtree, the key is written without its subkeys.
constexpr std::uint8_t max_subtree_walks = 8;

/// How many times each key's subtree has been walked, by a hash of the key's
/// identity: one compact table, since an export may hold millions of keys.
class SubtreeWalks {
public:
    /// Counts one more walk below the key; false once the key has had its share.
    bool admit(std::string_view identity)
    {
        if (identity.empty())
            return true;
        std::uint64_t hash = hash_of(identity);
        if (2 * (used_ + 1) > hashes_.size())
            grow();
        std::size_t at = slot_of(hash);
        if (hashes_[at] == 0) {
            hashes_[at] = hash;
            walks_[at] = 0;
            ++used_;
        }
        if (walks_[at] == max_subtree_walks)
            return false;
        ++walks_[at];
        return true;
    }

private:
    // FNV-1a, so that every build cuts the walk at the same keys.
    static std::uint64_t hash_of(std::string_view text)
    {
        std::uint64_t hash = 0xcbf29ce484222325u;
        for (char byte : text)
            hash = (hash ^ static_cast<unsigned char>(byte)) * 0x100000001b3u;
        return hash == 0 ? 1 : hash; // 0 marks a free slot
    }

    std::size_t slot_of(std::uint64_t hash) const
    {
        std::size_t mask = hashes_.size() - 1;
        std::size_t at = static_cast<std::size_t>(hash) & mask;
        while (hashes_[at] != 0 && hashes_[at] != hash)
            at = (at + 1) & mask;
        return at;
    }

    void grow()
    {
        auto old_hashes = std::move(hashes_);
        auto old_walks = std::move(walks_);
        hashes_.assign(old_hashes.empty() ? 64 : old_hashes.size() * 2, 0);
        walks_.assign(hashes_.size(), 0);
        for (std::size_t index = 0; index < old_hashes.size(); ++index) {
            if (old_hashes[index] == 0)
                continue;
            std::size_t at = slot_of(old_hashes[index]);
            hashes_[at] = old_hashes[index];
            walks_[at] = old_walks[index];
        }
    }

    std::vector<std::uint64_t> hashes_;
    std::vector<std::uint8_t> walks_;
    std::size_t used_ = 0;
};

/// Whether the key is one of the levels above the last, the one being walked.
bool is_on_path(const std::vector<Level>& levels, const std::string& identity)
{
    if (identity.empty())
        return false;
    for (std::size_t index = 0; index + 1 < levels.size(); ++index) {
        if (levels[index].identity == identity)
            return true;
    }
    return false;
}

enum class Visit { written, abandoned };

/// Writes the keys of one export, names each key left out, and remembers
/// whether any was.
class KeyWriter {
public:
    KeyWriter(const ExportContext& context, std::string_view master_key)
        : context_(context)
        , master_key_(master_key)
    {
    }

    // Every key that is not in the file whole is named on one line, and the
    // run fails: a backup that silently lacks a key is worse than none.
    void leave_out(std::string_view path)
    {
        std::string message = "can't export key [";
        message.append(master_key_);
        if (!path.empty())
            message.push_back('\\');
        append_showing_line_breaks(message, path);
        message.append("]\n");
        context_.say(message);
        outcome_ = KeyExport::keys_left_out;
    }

    [[nodiscard]] Visit visit(Handle key, std::string_view path)
    {
        write_key_header(context_.stream, master_key_, path);
        ValuesOutcome values = dump_values(context_, key);
        if (values != ValuesOutcome::written)
            leave_out(path);
        if (values == ValuesOutcome::abandoned)
            return Visit::abandoned;
        write_block_end(context_.stream);
        return Visit::written;
    }

    KeyExport outcome() const { return outcome_; }

private:
    const ExportContext& context_;
    std::string_view master_key_;
    KeyExport outcome_ = KeyExport::whole;
};

// Whether the subkey the walk listed last is still listed under that name.
bool still_listed(registry::Registry& registry, const Level& level, const std::string& name)
{
    std::vector<char> again(subkey_name_capacity);
    if (registry.enum_key(level.handle, level.next_subkey - 1, again) != registry::status::success)
        return false;
    return std::string_view(again.data(), strnlen(again.data(), again.size())) == name;
}

enum class Opened { opened, holds_nothing, left_out };

struct OpenedSubkey {
    Opened outcome;
    Handle key{};
};

// Opens the subkey the walk listed. A subkey that another program deleted
// after it was listed, or a link that leads nowhere (Wine's runtime-only keys
// leave such links in its files), holds nothing to export. One that is gone
// but listed again was made anew meanwhile and is opened again, a few times
// at most. One still listed under the same name that does not open is left
// out (a name the code page cannot hold comes back with '?' in it, and opens
// nothing).
[[nodiscard]] OpenedSubkey open_listed(registry::Registry& registry, const Level& level, const std::string& name)
{
    for (int attempt = 1;; ++attempt) {
        Handle subkey{};
        Status status = registry.open_key(level.handle, name, subkey);
        if (status == registry::status::success)
            return { Opened::opened, subkey };
        if (registry.is_dangling_link(level.handle, name))
            return { Opened::holds_nothing };
        if (!registry::is_gone(status))
            return { Opened::left_out };
        if (!still_listed(registry, level, name))
            return { Opened::holds_nothing };
        if (attempt == max_opens_per_subkey)
            return { Opened::left_out };
    }
}

std::string child_path(const std::string& parent_path, std::string_view name)
{
    std::string path;
    path.reserve(parent_path.size() + 1 + name.size());
    if (!parent_path.empty()) {
        path = parent_path;
        path.push_back('\\');
    }
    path.append(name);
    return path;
}

} // namespace

std::optional<Handle> find_master_key(std::string_view master_key)
{
    for (const auto& entry : master_keys) {
        if (entry.name == master_key)
            return entry.handle;
    }
    return std::nullopt;
}

KeyExport export_master_key(const ExportContext& context, std::string_view master_key, const std::string& key_path)
{
    auto root = find_master_key(master_key);
    if (!root) {
        std::string message = "not found master key in [";
        message.append(master_key);
        message.append("]\n");
        context.say(message);
        return KeyExport::not_opened;
    }
    Handle key{};
    if (context.registry.open_key(*root, key_path, key) != registry::status::success)
        return KeyExport::not_opened;
    KeyHandle owner(context.registry, key);
    return dump_key(context, key, master_key, key_path);
}

// The walk keeps its own stack of levels on the heap rather than recursing,
// so no depth of tree can exhaust the thread's stack.
KeyExport dump_key(const ExportContext& context, Handle key, std::string_view master_key, const std::string& key_path)
{
    KeyWriter writer(context, master_key);
    if (writer.visit(key, key_path) == Visit::abandoned)
        return writer.outcome();

    auto& registry = context.registry;
    std::vector<Level> levels;
    SubtreeWalks walks;
    levels.push_back({ key, {}, key_path, {}, 0 });
    std::vector<char> name(subkey_name_capacity);

    while (!levels.empty()) {
        Level& level = levels.back();
        name[0] = '\0';
        if (registry.enum_key(level.handle, level.next_subkey++, name) != registry::status::success) {
            levels.pop_back();
            continue;
        }
        if (level.next_subkey == 1) {
            // Only a key with subkeys can lead the walk on, so only such a
            // key is weighed: a link back to a key on the way down would
            // repeat the walk without end, and links can lead to one key
            // again and again. Its own block is written, its subtree is not.
            std::string identity = registry.key_identity(level.handle);
            if (is_on_path(levels, identity) || !walks.admit(identity)) {
                levels.pop_back();
                continue;
            }
            level.identity = std::move(identity);
        }
        std::string_view subkey_name(name.data(), strnlen(name.data(), name.size()));
        // A header line cannot hold a line break: split, it would import as
        // other keys, even under another master key.
        if (level.at_depth_limit || has_line_break(subkey_name)) {
            writer.leave_out(child_path(level.path, subkey_name));
            continue;
        }
        auto subkey = open_listed(registry, level, std::string(subkey_name));
        if (subkey.outcome != Opened::opened) {
            if (subkey.outcome == Opened::left_out)
                writer.leave_out(child_path(level.path, subkey_name));
            continue;
        }
        KeyHandle owner(registry, subkey.key);
        std::string path = child_path(level.path, subkey_name);
        if (writer.visit(subkey.key, path) == Visit::abandoned)
            continue;
        bool at_limit = levels.size() >= max_walk_depth;
        levels.push_back({ subkey.key, std::move(owner), std::move(path), {}, 0, at_limit });
    }
    return writer.outcome();
}

} // namespace hivedump
