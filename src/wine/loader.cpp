#include "wine/loader.h"

#include "wine/section_header.h"

#include <algorithm>
#include <array>

namespace hivedump::wine {

namespace {

constexpr std::string_view header_line = "WINE REGISTRY Version 2";
constexpr std::string_view relative_marker = ";; All keys relative to ";
// The server looks for the user key's name this far into the file.
constexpr std::size_t relative_window = 4096;

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

using Agreement = SectionHeader::Agreement;

} // namespace

/// One pass over the file: the first pass, or the catch-up that makes keys
/// of the sections the first pass went past.
class FileLoader::Scan {
public:
    enum class Mode { first, catch_up };

    Scan(FileLoader& loader, Mode mode, std::uint64_t limit)
        : loader_(loader)
        , tree_(loader.tree_)
        , mode_(mode)
        , limit_(limit)
    {
    }

    bool valid = false;
    bool read_failed = false;
    std::uint64_t reached = 0;

    bool feed(const char* begin, const char* end, bool last, std::uint64_t offset)
    {
        auto offset_of = [&](const char* at) { return offset + static_cast<std::uint64_t>(at - begin); };
        reached = offset_of(end);
        ended_ = last;
        if (!started_ && window_.size() < relative_window && offset == window_.size())
            window_.append(begin, std::min<std::size_t>(relative_window - window_.size(), static_cast<std::size_t>(end - begin)));
        Lines lines(begin, end);
        Cursor line;
        if (!header_read_) {
            if (!lines.next(line))
                return !last;
            header_read_ = true;
            bool ok = line.starts_with(header_line);
            line.at += ok ? header_line.size() : 0;
            // Wine takes the header only when a carriage return or the line end follows it.
            if (!ok || (!line.done() && *line.at != '\r'))
                return false;
            valid = true;
        }
        if (continuing_) {
            if (!lines.next(line)) {
                continuing_ = false;
                return true;
            }
            line.skip_spaces();
            continuing_ = read_hex_bytes(line, lines, last, nullptr) == Hex::more;
        }
        for (;;) {
            const char* start = lines.position();
            if (!lines.next(line))
                break;
            line.skip_spaces();
            const char first = line.peek();
            if (candidate_next_ != nullptr) {
                if (first != '[' && first != '@' && first != '"' && first != '#') {
                    // Hex data or nothing, either way; without a backslash
                    // the line ends any data that went on into it.
                    if (find_byte(line.at, line.end, '\\') == nullptr)
                        candidate_next_ = nullptr;
                    continue;
                }
                bool more = false;
                if (settle_candidate(end, last, more) > start)
                    continue; // taken as data, whatever it looks like
            }
            switch (first) {
            case '[':
                if (!section(line, offset_of(start), offset_of(lines.position())))
                    return false;
                break;
            case '@':
            case '"':
                value_line(line, lines);
                break;
            case '#':
                if (line.starts_with("#link"))
                    link_line();
                break;
            default:
                break;
            }
        }
        if (candidate_next_ != nullptr) {
            bool more = false;
            settle_candidate(end, last, more);
            continuing_ = more;
        }
        return true;
    }

    void finish(std::uint64_t end)
    {
        start();
        close_span(end);
    }

    /// Settles the file's base key, which the user key's name in the
    /// first bytes of the file decides.
    void start()
    {
        if (started_ || mode_ != Mode::first)
            return;
        started_ = true;
        if (valid && !ended_ && window_.size() < relative_window) {
            // Pieces smaller than the window: read the rest of it apart.
            std::string more(relative_window - window_.size(), '\0');
            std::ptrdiff_t count = 0;
            while (window_.size() < relative_window
                && (count = loader_.file_.read_at(more.data(), relative_window - window_.size(), window_.size())) > 0)
                window_.append(more.data(), static_cast<std::size_t>(count));
            read_failed = count < 0;
        }
        // A file that is no registry file names no user key, however much of
        // it the first piece happened to hold.
        loader_.base_ = start_(valid ? relative_to_line(window_) : std::string{}, loader_.interest_);
        loader_.win32_ = valid && declares_win32(window_);
        for (const auto& name : loader_.interest_.names) {
            std::u16string folded;
            for (char16_t unit : name)
                folded.push_back(fold_case(unit));
            loader_.folded_interest_.push_back(std::move(folded));
        }
        loader_.full_ = loader_.interest_.all;
        // The base is on the way to the interest: its Wow6432Node key, if
        // any, is made.
        if (loader_.wow64_sections_ && !loader_.interest_.all && !loader_.interest_.nothing && loader_.base_ != no_node)
            tree_.key(loader_.base_).wow64_known = true;
        window_.clear();
        window_.shrink_to_fit();
    }

    std::function<NodeIndex(std::string_view, Interest&)> start_;

private:
    enum class State { none, failed, made, pending, made_before };

    bool section(const Cursor& line, std::uint64_t header, std::uint64_t body)
    {
        start();
        close_span(header);
        if (mode_ == Mode::catch_up && header >= limit_)
            return false;
        previous_header_ = header_;
        header_ = header;
        if (mode_ == Mode::first)
            loader_.scanning_ = header;
        text_.assign(line.at + 1, line.end);
        body_ = body;
        key_ = no_node;
        agreed_ = false;
        if (mode_ == Mode::catch_up) {
            if (std::binary_search(loader_.failed_.begin(), loader_.failed_.end(), header)) {
                state_ = State::failed;
                return true;
            }
            if (made_before(header)) {
                // Made by the first pass; the path it went by may hold links made since.
                state_ = State::made_before;
                path_nodes_.clear();
                return true;
            }
            make();
            return true;
        }
        if (loader_.interest_.all) {
            agreed_ = true;
            make();
            return true;
        }
        auto agreement = loader_.interest_.nothing ? Agreement::disagree : text_.fast_agreement(loader_.folded_interest_);
        if (agreement == Agreement::unsure) {
            if (!text_.decode()) {
                state_ = State::failed;
                return true;
            }
            agreement = text_.exact_agreement(loader_.interest_.names);
        }
        if (agreement == Agreement::agree) {
            agreed_ = true;
            make();
            return true;
        }
        // Where the path leaves the interest at a name Wow6432Node, the
        // 32-bit view goes: that key and all below it are made.
        if (agreement == Agreement::disagree && !loader_.interest_.nothing && loader_.wow64_sections_ && text_.disagrees_at_wow64_node()) {
            wow64_from_ = text_.disagreeing_name();
            make();
            wow64_from_ = none_below;
            return true;
        }
        const auto& base = tree_.key(loader_.base_);
        if (tree_.link_count() != 0 && (base.link || base.link_below)) {
            if (!text_.decode()) {
                state_ = State::failed;
                return true;
            }
            if (passes_link()) {
                make();
                return true;
            }
        }
        state_ = State::pending;
        return true;
    }

    bool link_known(NodeIndex node) const
    {
        if (!tree_.key(node).link)
            return false;
        auto mark = tree_.link_mark(node);
        return mark.file != loader_.file_id_ || mark.offset < header_;
    }

    /// Whether the path goes through, or names, a key already known as a link.
    bool passes_link() const
    {
        NodeIndex node = loader_.base_;
        for (std::size_t index = 0; index < text_.names().size(); ++index) {
            if (link_known(node))
                return true;
            const auto& key = tree_.key(node);
            if (!key.link_below)
                return false;
            node = tree_.find_child(node, text_.name(index));
            if (node == no_node)
                return false;
        }
        return link_known(node);
    }

    bool made_before(std::uint64_t header)
    {
        const auto& runs = loader_.runs_;
        while (run_ < runs.size() && runs[run_].last < header)
            ++run_;
        return run_ < runs.size() && runs[run_].first <= header;
    }

    void make()
    {
        if (!text_.decode()) {
            state_ = State::failed;
            return;
        }
        key_ = descend();
        if (key_ == no_node) {
            // Made again by a catch-up, it could succeed where the server failed.
            if (mode_ == Mode::first)
                loader_.failed_.push_back(header_);
            state_ = State::failed;
            return;
        }
        state_ = State::made;
        if (mode_ == Mode::first) {
            auto& runs = loader_.runs_;
            if (!runs.empty() && runs.back().last == previous_header_)
                runs.back().last = header_;
            else
                runs.push_back({ header_, header_ });
        }
        span_key_ = key_;
        span_start_ = body_;
    }

    NodeIndex descend()
    {
        const char16_t* units = text_.units();
        // Keys come in tree order: most share their start with the previous key.
        std::size_t reuse = 0;
        std::size_t limit = path_nodes_.size();
        if (limit != 0 && tree_.key(path_nodes_.back().node).link)
            --limit;
        while (reuse < limit && reuse < text_.names().size() && text_.names()[reuse].length == path_[reuse].length
            && std::equal(units + text_.names()[reuse].start, units + text_.names()[reuse].start + text_.names()[reuse].length,
                path_units_.begin() + static_cast<std::ptrdiff_t>(path_[reuse].start)))
            ++reuse;
        NodeIndex node = reuse == 0 ? loader_.base_ : path_nodes_[reuse - 1].node;
        bool through_link = reuse != 0 && path_nodes_[reuse - 1].through_link;
        path_nodes_.resize(reuse);
        path_.resize(reuse);
        path_units_.resize(reuse == 0 ? 0 : path_[reuse - 1].start + path_[reuse - 1].length);
        const auto interest = loader_.interest_.names.size();
        for (std::size_t index = reuse; index < text_.names().size(); ++index) {
            const auto& name = text_.names()[index];
            // The server follows a link before it looks at the next name: a
            // name too long still fails, but after the link's target is made.
            if (link_known(node) && loader_.follow_link_) {
                node = loader_.follow_link_(node);
                if (node == no_node)
                    return no_node;
                through_link = true;
            }
            if (name.length > max_key_name)
                return no_node;
            node = tree_.add_child(node, units + name.start, name.length);
            // Every section below the interest, or below a Wow6432Node key
            // beside the way to it, is made a key by the first pass; so is
            // the Wow6432Node key of every key on the way.
            if (!through_link && mode_ == Mode::first && (agreed_ || wow64_from_ != none_below)) {
                bool below = agreed_ ? index + 1 >= interest : index >= wow64_from_;
                if (below)
                    tree_.key(node).complete = true;
                else if (loader_.wow64_sections_)
                    tree_.key(node).wow64_known = true;
            }
            path_.push_back({ path_units_.size(), name.length });
            path_units_.insert(path_units_.end(), units + name.start, units + name.start + name.length);
            path_nodes_.push_back({ node, through_link });
        }
        // A section that names a link opens what the link leads to, as the
        // server opens a key that exists: its values and marks go there.
        if (link_known(node) && loader_.follow_link_)
            node = loader_.follow_link_(node);
        return node;
    }

    /// A value whose hex data may go on into the lines after it. Whether it
    /// does is settled only when it matters: before a line that could start
    /// a section, a value or a link, and at the end of the block. Mostly a
    /// line without a backslash comes first, and the data need not be read.
    void value_line(const Cursor& line, const Lines& lines)
    {
        if (state_ == State::none || state_ == State::failed || !may_continue_hex(line))
            return;
        candidate_ = line;
        candidate_next_ = lines.position();
    }

    /// Reads the candidate's data as the server does. Returns where the lines
    /// it takes end; `more` when it goes on past the block.
    const char* settle_candidate(const char* end, bool last, bool& more)
    {
        Lines rest(candidate_next_, end);
        candidate_next_ = nullptr;
        Cursor cursor = candidate_;
        std::uint32_t type = 0;
        if ((state_ == State::pending && !text_.readable()) || !read_value_head(cursor, name_)
            || read_hex_tag(cursor, type) != HexTag::found)
            return rest.position();
        more = read_hex_bytes(cursor, rest, last, nullptr) == Hex::more;
        return rest.position();
    }

    void link_line()
    {
        if (state_ == State::pending)
            make();
        if (state_ == State::made)
            tree_.mark_link(key_, loader_.file_id_, header_);
    }

    void close_span(std::uint64_t end)
    {
        if (span_key_ == no_node)
            return;
        if (end <= span_start_) {
            span_key_ = no_node;
            return;
        }
        tree_.add_span(span_key_, { span_start_, end, no_node, loader_.file_id_, loader_.order_ });
        span_key_ = no_node;
    }

    struct Name {
        std::size_t start;
        std::size_t length;
    };
    struct PathNode {
        NodeIndex node;
        bool through_link;
    };

    FileLoader& loader_;
    Hive& tree_;
    Mode mode_;
    std::uint64_t limit_;
    bool header_read_ = false;
    bool started_ = false;
    bool ended_ = false;
    std::string window_;
    bool continuing_ = false;
    Cursor candidate_{};
    const char* candidate_next_ = nullptr; ///< where the line after the candidate starts
    State state_ = State::none;
    std::uint64_t header_ = UINT64_MAX;
    std::uint64_t previous_header_ = UINT64_MAX;
    std::uint64_t body_ = 0;
    SectionHeader text_;
    bool agreed_ = false;
    static constexpr std::size_t none_below = static_cast<std::size_t>(-1);
    std::size_t wow64_from_ = none_below; ///< the name Wow6432Node the section being made leaves the interest at
    NodeIndex key_ = no_node;
    NodeIndex span_key_ = no_node;
    std::uint64_t span_start_ = 0;
    std::size_t run_ = 0;
    Units name_;
    // The previous key's names and nodes.
    std::vector<Name> path_;
    std::vector<char16_t> path_units_;
    std::vector<PathNode> path_nodes_;
};

FileLoader::FileLoader(
    Hive& tree, RegistryFileSource::File& file, std::uint8_t file_id, std::uint8_t order, LinkFollower follow_link, std::size_t chunk)
    : tree_(tree)
    , file_(file)
    , file_id_(file_id)
    , order_(order)
    , follow_link_(std::move(follow_link))
    , chunk_(chunk)
{
}

FileLoader::~FileLoader() = default;

FileLoader::Result FileLoader::first_pass(const Start& start)
{
    Scan scan(*this, Scan::Mode::first, UINT64_MAX);
    scan.start_ = start;
    bool read = read_lines(file_, 0, UINT64_MAX, chunk_,
        [&](const char* begin, const char* end, bool last, std::uint64_t offset) { return scan.feed(begin, end, last, offset); });
    scan.finish(scan.reached);
    first_done_ = true;
    return { scan.valid, !read || scan.read_failed, win32_ };
}

bool FileLoader::catch_up()
{
    if (full_ || catching_up_)
        return true;
    catching_up_ = true;
    // From here on the first pass, if it is still going, makes every section.
    interest_.all = true;
    interest_.nothing = false;
    Scan scan(*this, Scan::Mode::catch_up, first_done_ ? UINT64_MAX : scanning_);
    bool read = read_lines(file_, 0, UINT64_MAX, chunk_,
        [&](const char* begin, const char* end, bool last, std::uint64_t offset) { return scan.feed(begin, end, last, offset); });
    scan.finish(scan.reached);
    full_ = true;
    runs_.clear();
    runs_.shrink_to_fit();
    failed_.clear();
    failed_.shrink_to_fit();
    catching_up_ = false;
    return read;
}

} // namespace hivedump::wine
