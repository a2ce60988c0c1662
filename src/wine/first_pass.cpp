#include "wine/links.h"
#include "wine/passes.h"
#include "wine/text.h"

#include <algorithm>
#include <strings.h>

namespace hivedump::wine {

namespace {

constexpr std::string_view relative_marker = ";; All keys relative to ";
// The server looks for the user key's name this far into the file.
constexpr std::size_t relative_window = 4096;
constexpr std::string_view default_user_key = "S-1-5-21-0-0-0-1000";

std::string relative_to_line(std::string_view text)
{
    auto at = text.find(relative_marker);
    if (at == std::string_view::npos)
        return {};
    auto end = text.find_first_of("\r\n", at);
    std::string path;
    auto line = text.substr(
        at + relative_marker.size(), end == std::string_view::npos ? std::string_view::npos : end - at - relative_marker.size());
    for (std::size_t index = 0; index < line.size(); ++index) {
        if (line[index] == '\\' && index + 1 < line.size() && line[index + 1] == '\\')
            ++index;
        path.push_back(line[index]);
    }
    return path;
}

/// Whether the lines before the first section say "#arch=win32", as Wine
/// writes into the files of a 32-bit prefix.
bool declares_win32(std::string_view text)
{
    constexpr std::string_view marker = "\n#arch=win32";
    auto sections = text.find("\n[");
    for (auto at = text.find(marker); at != std::string_view::npos && at < sections; at = text.find(marker, at + 1)) {
        auto after = at + marker.size();
        if (after == text.size() || text[after] == '\r' || text[after] == '\n')
            return true;
    }
    return false;
}

/// The user key's name from a ";; All keys relative to" path such as
/// REGISTRY\User\S-1-5-21-0-0-0-1000 or \User\S-1-5-21-0-0-0-1000.
std::string user_key_name(std::string_view path)
{
    auto strip = [&](std::string_view start) {
        if (path.size() >= start.size() && strncasecmp(path.data(), start.data(), start.size()) == 0) {
            path.remove_prefix(start.size());
            return true;
        }
        return false;
    };
    strip("\\");
    strip("REGISTRY\\");
    if (!strip("User\\") || path.empty())
        return std::string(default_user_key);
    return std::string(path);
}

std::u16string folded(const std::u16string& name)
{
    std::u16string result;
    for (char16_t unit : name)
        result.push_back(fold_case(unit));
    return result;
}

using Agreement = SectionHeader::Agreement;

} // namespace

NodeIndex place_base(Hive& tree, FileBase base, std::string_view relative_to, std::uint8_t file_id)
{
    if (base.users == no_node)
        return base.key;
    auto units = ascii_units(user_key_name(relative_to));
    NodeIndex key = tree.add_child(base.users, units.data(), units.size());
    tree.key(key).owner = file_id & 3;
    return key;
}

FirstPass::FirstPass(FileState& file, FileBase base, const Wanted& wanted, Links& links)
    : file_(file)
    , base_(base)
    , wanted_(wanted)
    , links_(links)
    , keys_(file)
{
}

// A function of its own: inlined into the loader, the line loop shared the
// instruction cache with all the loader does, and the export ran slower.
[[gnu::noinline]] bool FirstPass::feed(const char* begin, const char* end, bool last, std::uint64_t offset)
{
    reached_ = offset + static_cast<std::uint64_t>(end - begin);
    ended_ = last;
    if (!started_ && window_.size() < relative_window && offset == window_.size())
        window_.append(begin, std::min<std::size_t>(relative_window - window_.size(), static_cast<std::size_t>(end - begin)));
    return scanner_.feed(begin, end, last, offset, *this);
}

void FirstPass::finish()
{
    start();
    keys_.close_span(reached_);
}

/// Settles the file's base key, which the user key's name in the first
/// bytes of the file decides, and what the pass is for below it.
void FirstPass::start()
{
    if (started_)
        return;
    started_ = true;
    bool valid = scanner_.valid();
    if (valid && !ended_ && window_.size() < relative_window) {
        // Pieces smaller than the window: read the rest of it apart.
        std::string more(relative_window - window_.size(), '\0');
        std::ptrdiff_t count = 0;
        while (window_.size() < relative_window
            && (count = file_.file.read_at(more.data(), relative_window - window_.size(), window_.size())) > 0)
            window_.append(more.data(), static_cast<std::size_t>(count));
        read_failed_ = count < 0;
    }
    // A file that is no registry file names no user key, however much of
    // it the first piece happened to hold.
    file_.base = place_base(file_.tree, base_, valid ? relative_to_line(window_) : std::string{}, file_.file_id);
    file_.interest = interest_below(file_.tree, file_.base, wanted_, base_.users != no_node ? file_.base : no_node);
    file_.win32 = valid && declares_win32(window_);
    for (const auto& name : file_.interest.names)
        file_.folded_interest.push_back(folded(name));
    const auto reach = file_.interest.reach;
    file_.full = reach == Interest::Reach::everything;
    // The base is on the way to the interest: its Wow6432Node key, if any, is made.
    if (file_.wow64_sections && reach == Interest::Reach::names && file_.base != no_node)
        file_.tree.key(file_.base).wow64_known = true;
    window_.clear();
    window_.shrink_to_fit();
}

bool FirstPass::section(const Cursor& line, std::uint64_t header, std::uint64_t body)
{
    start();
    keys_.begin(line, header, body);
    file_.scanning = header;
    auto& text = keys_.text();
    const auto& interest = file_.interest;
    // Every section below the interest, or below a Wow6432Node key beside
    // the way to it, is made a key by the first pass; so is the Wow6432Node
    // key of every key on the way.
    if (interest.reach == Interest::Reach::everything) {
        make({ true, interest.names.size() });
        return true;
    }
    bool links_only = interest.reach == Interest::Reach::links_only;
    auto agreement = links_only ? Agreement::disagree : text.fast_agreement(file_.folded_interest);
    if (agreement == Agreement::unsure) {
        if (!text.decode()) {
            keys_.set_state(SectionKeys::State::failed);
            return true;
        }
        agreement = text.exact_agreement(interest.names);
    }
    if (agreement == Agreement::agree) {
        make({ true, interest.names.size() });
        return true;
    }
    // Where the path leaves the interest at a name Wow6432Node, the 32-bit
    // view goes: that key and all below it are made.
    if (agreement == Agreement::disagree && !links_only && file_.wow64_sections && text.disagrees_at_wow64_node()) {
        make({ true, text.disagreeing_name() + 1 });
        return true;
    }
    if (may_meet_link(file_.tree, file_.base)) {
        if (!text.decode()) {
            keys_.set_state(SectionKeys::State::failed);
            return true;
        }
        if (passes_known_link(file_.tree, file_.base, text, file_.file_id, header)) {
            make();
            return true;
        }
    }
    keys_.set_state(SectionKeys::State::pending);
    return true;
}

void FirstPass::make(KeyMarking marking)
{
    switch (keys_.make(links_, marking)) {
    case SectionKeys::Made::made: {
        auto& runs = file_.runs;
        if (!runs.empty() && runs.back().last == keys_.previous_header())
            runs.back().last = keys_.header();
        else
            runs.push_back({ keys_.header(), keys_.header() });
        break;
    }
    case SectionKeys::Made::failed:
        // Made again by a catch-up, it could succeed where the server failed.
        file_.failed.push_back(keys_.header());
        break;
    case SectionKeys::Made::undecodable:
        break;
    }
}

void FirstPass::link()
{
    if (keys_.state() == SectionKeys::State::pending)
        make();
    keys_.mark_link();
}

} // namespace hivedump::wine
