#include "wine/section_keys.h"

#include "wine/links.h"

#include <algorithm>

namespace hivedump::wine {

SectionKeys::SectionKeys(FileState& file)
    : file_(file)
    , tree_(file.tree)
{
}

void SectionKeys::begin(const Cursor& line, std::uint64_t header, std::uint64_t body)
{
    close_span(header);
    previous_header_ = header_;
    header_ = header;
    text_.assign(line.at + 1, line.end);
    body_ = body;
    key_ = no_node;
}

SectionKeys::Made SectionKeys::make(Links& links, KeyMarking marking)
{
    if (!text_.decode()) {
        state_ = State::failed;
        return Made::undecodable;
    }
    key_ = descend(links, marking);
    if (key_ == no_node) {
        state_ = State::failed;
        return Made::failed;
    }
    state_ = State::made;
    span_key_ = key_;
    span_start_ = body_;
    return Made::made;
}

NodeIndex SectionKeys::descend(Links& links, KeyMarking marking)
{
    const char16_t* units = text_.units();
    const auto& names = text_.names();
    std::size_t reuse = 0;
    std::size_t limit = path_nodes_.size();
    if (limit != 0 && tree_.key(path_nodes_.back().node).link)
        --limit;
    while (reuse < limit && reuse < names.size() && names[reuse].length == path_[reuse].length
        && std::equal(units + names[reuse].start, units + names[reuse].start + names[reuse].length,
            path_units_.begin() + static_cast<std::ptrdiff_t>(path_[reuse].start)))
        ++reuse;
    NodeIndex node = reuse == 0 ? file_.base : path_nodes_[reuse - 1].node;
    bool through_link = reuse != 0 && path_nodes_[reuse - 1].through_link;
    path_nodes_.resize(reuse);
    path_.resize(reuse);
    path_units_.resize(reuse == 0 ? 0 : path_[reuse - 1].start + path_[reuse - 1].length);
    for (std::size_t index = reuse; index < names.size(); ++index) {
        const auto& name = names[index];
        // A name too long still fails, but after a link's target is made.
        if (auto target = links.making_through(node, file_.file_id, header_)) {
            if (*target == no_node)
                return no_node;
            node = *target;
            through_link = true;
        }
        if (name.length > max_key_name)
            return no_node;
        node = tree_.add_child(node, units + name.start, name.length);
        if (!through_link && marking.active) {
            if (index + 1 >= marking.complete_after)
                tree_.key(node).complete = true;
            else if (file_.wow64_sections)
                tree_.key(node).wow64_known = true;
        }
        path_.push_back({ path_units_.size(), name.length });
        path_units_.insert(path_units_.end(), units + name.start, units + name.start + name.length);
        path_nodes_.push_back({ node, through_link });
    }
    // Its values and marks go where a link it names leads.
    if (auto target = links.making_through(node, file_.file_id, header_))
        node = *target;
    return node;
}

void SectionKeys::mark_link()
{
    if (state_ == State::made)
        tree_.mark_link(key_, file_.file_id, header_);
}

void SectionKeys::close_span(std::uint64_t end)
{
    if (span_key_ == no_node)
        return;
    if (end <= span_start_) {
        span_key_ = no_node;
        return;
    }
    tree_.add_span(span_key_, { span_start_, end, no_node, file_.file_id, file_.order });
    span_key_ = no_node;
}

} // namespace hivedump::wine
