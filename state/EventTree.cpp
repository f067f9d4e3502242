#include "state/EventTree.h"

#include <algorithm>
#include <optional>
#include <type_traits>

namespace pelotest {

bool nodeMatchesEvent(std::string_view nodeText, std::string_view event) {
    // Called for every node of the tree on each template request: compare the first character
    // before calling into the library, which most nodes fail.
    const std::size_t separator = nodeText.find(" (");
    const std::size_t from = separator == std::string_view::npos ? 1 : separator + 2;
    if (from > nodeText.size())
        return false;
    const std::string_view rest = nodeText.substr(from, event.size());
    if (!event.empty() && (rest.empty() || rest.front() != event.front()))
        return false;
    return rest == event;
}

bool nodeStandsForEvent(std::string_view nodeText, std::string_view event) {
    return nodeText == event || nodeMatchesEvent(nodeText, event);
}

std::string assignedNodeText(std::string_view templateName, std::string_view event) {
    std::string text(templateName);
    text += kAssignedSeparator;
    text += event;
    text += ')';
    return text;
}

std::string_view eventOfNode(std::string_view nodeText) {
    const std::size_t separator = nodeText.find(kAssignedSeparator);
    if (separator == std::string_view::npos)
        return nodeText;
    std::string_view event = nodeText.substr(separator + kAssignedSeparator.size());
    if (!event.empty() && event.back() == ')')
        event.remove_suffix(1);
    return event;
}

std::string nodeTextForChoice(std::string_view text, bool isEntryNode, std::string_view entry) {
    if (isEntryNode)
        return std::string(entry);
    const std::size_t separator = text.find(kAssignedSeparator);
    if (separator == std::string_view::npos)
        return entry.empty() ? std::string(text) : assignedNodeText(entry, text);
    // The event part with its closing bracket, kept as it stands.
    const std::string_view eventPart = text.substr(separator + kAssignedSeparator.size());
    if (entry.empty())
        return std::string(eventPart.substr(0, eventPart.empty() ? 0 : eventPart.size() - 1));
    std::string result(entry);
    result += kAssignedSeparator;
    result += eventPart;
    return result;
}

TreeNode::~TreeNode() {
    std::vector<std::unique_ptr<TreeNode>> pending = std::move(children);
    while (!pending.empty()) {
        std::unique_ptr<TreeNode> node = std::move(pending.back());
        pending.pop_back();
        for (auto& child : node->children)
            pending.push_back(std::move(child));
        node->children.clear();
    }
}

TreeNode& TreeNode::appendChild(std::string childText) {
    auto node = std::make_unique<TreeNode>();
    node->text = std::move(childText);
    node->parent = this;
    node->expanded = expanded;
    children.push_back(std::move(node));
    TreeEdits::note();
    return *children.back();
}

int TreeNode::depth() const {
    int result = 0;
    for (const TreeNode* p = parent; p != nullptr; p = p->parent)
        ++result;
    return result;
}

TreeNode& EventTree::appendRoot(std::string text) {
    auto node = std::make_unique<TreeNode>();
    node->text = std::move(text);
    roots_.push_back(std::move(node));
    TreeEdits::note();
    return *roots_.back();
}

void EventTree::clear() {
    roots_.clear();
    TreeEdits::note();
}

bool EventTree::remove(const TreeNode* node) {
    if (node == nullptr || !contains(node))
        return false;
    std::vector<std::unique_ptr<TreeNode>>& siblings =
        node->parent ? node->parent->children : roots_;
    const auto it =
        std::find_if(siblings.begin(), siblings.end(),
                     [&](const std::unique_ptr<TreeNode>& n) { return n.get() == node; });
    siblings.erase(it);
    TreeEdits::note();
    return true;
}

namespace {

// Depth-first, a parent before its children; iterative so that a deep tree read from a file
// cannot exhaust the stack. A visit that returns bool ends the walk by returning true.
template <typename Visit>
void walk(const std::vector<std::unique_ptr<TreeNode>>& roots, Visit visit) {
    struct Frame {
        const std::vector<std::unique_ptr<TreeNode>>* list;
        std::size_t next;
    };
    std::vector<Frame> stack{{&roots, 0}};
    while (!stack.empty()) {
        Frame& top = stack.back();
        if (top.next == top.list->size()) {
            stack.pop_back();
            continue;
        }
        TreeNode* node = (*top.list)[top.next++].get();
        const int depth = static_cast<int>(stack.size()) - 1;
        if constexpr (std::is_same_v<decltype(visit(*node, depth)), bool>) {
            if (visit(*node, depth))
                return;
        } else {
            visit(*node, depth);
        }
        if (!node->children.empty())
            stack.push_back({&node->children, 0});
    }
}

} // namespace

void EventTree::forEach(const std::function<void(TreeNode& node, int depth)>& visit) const {
    walk(roots_, visit);
}

bool EventTree::contains(const TreeNode* node) const {
    bool found = false;
    walk(roots_, [&](TreeNode& visited, int) { return found = &visited == node; });
    return found;
}

std::vector<TreeNode*> EventTree::flatten() const {
    std::vector<TreeNode*> nodes;
    walk(roots_, [&](TreeNode& node, int) { nodes.push_back(&node); });
    return nodes;
}

TreeNode* EventTree::firstMatch(std::string_view event) const {
    const std::uint64_t edits = TreeEdits::current();
    if (answers_.edits != edits) {
        answers_.byEvent.clear();
        answers_.edits = edits;
    }
    if (const auto known = answers_.byEvent.find(event); known != answers_.byEvent.end())
        return known->second;
    TreeNode* found = nullptr;
    walk(roots_, [&](TreeNode& node, int) {
        if (nodeMatchesEvent(node.text, event))
            found = &node;
        return found != nullptr;
    });
    if (event.size() > kMaxRememberedEvent)
        return found;
    if (answers_.byEvent.size() >= kMaxAnswers)
        answers_.byEvent.clear();
    answers_.byEvent.emplace(std::string(event), found);
    return found;
}

namespace {

// Where nodeMatchesEvent starts comparing an event with this text; nullopt when no event
// matches it.
std::optional<std::string_view> matchKey(std::string_view text) {
    const std::size_t separator = text.find(kAssignedSeparator);
    const std::size_t from = separator == std::string_view::npos ? 1 : separator + 2;
    if (from > text.size())
        return std::nullopt;
    return text.substr(from);
}

} // namespace

const EventTree::Totals& EventTree::totals() const {
    const std::uint64_t edits = TreeEdits::current();
    if (!totals_.valid || totals_.edits != edits) {
        totals_.nodes = totals_.bytes = 0;
        walk(roots_, [&](TreeNode& node, int) {
            ++totals_.nodes;
            totals_.bytes += node.text.size();
        });
        totals_.valid = true;
        totals_.edits = edits;
    }
    return totals_;
}

std::size_t EventTree::nodeCount() const {
    return totals().nodes;
}

std::size_t EventTree::textBytes() const {
    return totals().bytes;
}

bool EventTree::admits(std::size_t addedNodes, std::size_t bytesAfter,
                       std::size_t longestText) const {
    const Totals& now = totals();
    if (addedNodes == 0 && bytesAfter <= now.bytes)
        return true;
    return longestText <= limits_.maxNodeBytes && now.nodes + addedNodes <= limits_.maxNodes &&
           bytesAfter <= limits_.maxBytes;
}

const TreeNode::ChildIndex& EventTree::childIndexOf(TreeNode& parent) const {
    const std::uint64_t edits = TreeEdits::current();
    std::unique_ptr<TreeNode::ChildIndex>& index = parent.childIndex_;
    if (index && index->edits == edits)
        return *index;
    index = std::make_unique<TreeNode::ChildIndex>();
    index->edits = edits;
    for (const std::unique_ptr<TreeNode>& child : parent.children) {
        index->texts.insert(child->text.str());
        if (const auto key = matchKey(child->text))
            index->matchKeys.insert(*key);
    }
    return *index;
}

EventTree::Learnt EventTree::learnChild(TreeNode& parent, std::string_view event) {
    const TreeNode::ChildIndex& index = childIndexOf(parent);
    if (index.texts.contains(event))
        return Learnt::Known;
    if (const auto key = index.matchKeys.lower_bound(event);
        key != index.matchKeys.end() && key->starts_with(event))
        return Learnt::Known;
    if (!admits(1, textBytes() + event.size(), event.size()))
        return Learnt::OverLimits;

    // An expanded node's descendants are expanded already.
    if (!parent.expanded)
        expandAll(parent);
    // The text is given at construction, which counts as no change: what the tree remembers
    // (its counts, the index of these children, the answers) follows the addition here instead
    // of being found again, and so does nothing elsewhere need to be, so that learning stays
    // cheap however large the tree is and wherever the events are learnt.
    auto node = std::make_unique<TreeNode>(std::string(event));
    node->parent = &parent;
    node->expanded = true;
    const TreeNode& added = *parent.children.emplace_back(std::move(node));
    TreeNode::ChildIndex& own = *parent.childIndex_;
    own.texts.insert(added.text.str());
    if (const auto key = matchKey(added.text))
        own.matchKeys.insert(*key);
    ++totals_.nodes;
    totals_.bytes += added.text.size();
    // Of the answers, only those the new node may change are dropped.
    std::erase_if(answers_.byEvent,
                  [&](const auto& answer) { return nodeMatchesEvent(added.text, answer.first); });
    return Learnt::Added;
}

void EventTree::expandAll(TreeNode& node) {
    node.expanded = true;
    walk(node.children, [](TreeNode& child, int) { child.expanded = true; });
}

std::vector<std::string> EventTree::toIndentedLines() const {
    std::vector<std::string> lines;
    walk(roots_, [&](TreeNode& node, int depth) {
        std::string line(static_cast<std::size_t>(depth), '\t');
        line += node.text;
        lines.push_back(std::move(line));
    });
    return lines;
}

std::string EventTree::fromIndentedLines(const std::vector<std::string>& lines) {
    clear();
    TreeNode* previous = nullptr;
    int previousLevel = 0;
    for (const std::string& line : lines) {
        std::size_t level = 0;
        while (level < line.size() && (line[level] == '\t' || line[level] == ' '))
            ++level;
        std::string text = line.substr(level);
        const int depth = static_cast<int>(std::min<std::size_t>(level, 1u << 30));

        if (previous == nullptr) {
            // The first line starts the top level, however deeply it is indented.
            previous = &appendRoot(std::move(text));
        } else if (depth == previousLevel) {
            previous = previous->parent ? &previous->parent->appendChild(std::move(text))
                                        : &appendRoot(std::move(text));
        } else if (depth == previousLevel + 1) {
            previous = &previous->appendChild(std::move(text));
        } else if (depth > previousLevel) {
            // "Ungültige Ebene (%d) für Eintrag "%s"", Windows-1252.
            std::string message = "Ung\xFCltige Ebene (" + std::to_string(depth) +
                                  ") f\xFCr Eintrag \"" + text + "\"";
            return message;
        } else {
            // Back up to the ancestor at this line's depth and add a sibling of it. A line
            // shallower than the first line has no such ancestor: it joins the top level.
            TreeNode* anchor = previous;
            for (int up = previousLevel - depth; up > 0 && anchor->parent != nullptr; --up)
                anchor = anchor->parent;
            previous = anchor->parent ? &anchor->parent->appendChild(std::move(text))
                                      : &appendRoot(std::move(text));
        }
        previousLevel = depth;
    }
    return {};
}

} // namespace pelotest
