#pragma once
// The events/templates tree: an ordered tree of node texts. The first top-level node is the
// entry template; every other node is an event ("Login") or an assigned event
// ("login.htm (Login)").

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <ostream>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace pelotest {

// The matching rule of node text and event: the node text from just after its first " (" (from
// its second character when it has none) equals the event over the event's length, case
// included. So "Show" matches "liste.htm (ShowList)", and "Save" matches "XSave" but not "Save".
bool nodeMatchesEvent(std::string_view nodeText, std::string_view event);
// Whether a node already stands for the event: its text is the event, or matches it.
bool nodeStandsForEvent(std::string_view nodeText, std::string_view event);

// What separates template and event in the text of an assigned node; a node is assigned exactly
// when its text holds it.
inline constexpr std::string_view kAssignedSeparator = " (";
// The text of a node whose event is answered by templateName: "login.htm (Login)".
std::string assignedNodeText(std::string_view templateName, std::string_view event);
// The event an event node stands for: the event part of an assigned node ("Login" of
// "login.htm (Login)"), the whole text of an unassigned one.
std::string_view eventOfNode(std::string_view nodeText);
// The text a node gets when the user picks entry for it from the templates folder (entry may be
// empty). The entry node takes the entry as it is, an empty one included. An unassigned event
// gets the entry assigned, and stays as it is when the entry is empty. An assigned event keeps
// its event part (everything after the first " (") under the new template, and an empty entry
// takes the template away, leaving the event name alone.
std::string nodeTextForChoice(std::string_view text, bool isEntryNode, std::string_view entry);

// Counts every change of any tree's shape or texts other than an event learnt through
// EventTree::learnChild, which brings what its tree remembers up to date itself. What a tree
// remembers holds only while this stays where it was when it was found (a change elsewhere merely
// drops it early).
class TreeEdits {
  public:
    static std::uint64_t current() { return count_.load(std::memory_order_relaxed); }
    static void note() { count_.fetch_add(1, std::memory_order_relaxed); }

  private:
    static inline std::atomic<std::uint64_t> count_{0};
};

// How large the tree may grow through requests: nodes, bytes of all node texts, and bytes of one
// node's text. Loading a settings file is not bounded by them; a request that would pass them
// leaves the tree as it is.
struct TreeLimits {
    std::size_t maxNodes = 100'000;
    std::size_t maxBytes = 16 * 1024 * 1024;
    std::size_t maxNodeBytes = 4096;
};

// A node's text. It reads like a const std::string; each assignment counts as a change of the
// tree, so that a node renamed anywhere (request, page or window) is seen by the next search.
class NodeText {
  public:
    NodeText() = default;
    NodeText(std::string value) : value_(std::move(value)) {}
    NodeText(const char* value) : value_(value) {}
    NodeText(const NodeText&) = default;
    // The only assignment: takes any text by value, so every way of renaming a node is noted.
    NodeText& operator=(NodeText other) {
        value_ = std::move(other.value_);
        TreeEdits::note();
        return *this;
    }

    const std::string& str() const noexcept { return value_; }
    operator const std::string&() const noexcept { return value_; }
    operator std::string_view() const noexcept { return value_; }

    bool empty() const noexcept { return value_.empty(); }
    std::size_t size() const noexcept { return value_.size(); }
    const char* data() const noexcept { return value_.data(); }
    const char* c_str() const noexcept { return value_.c_str(); }
    std::size_t find(std::string_view what, std::size_t from = 0) const noexcept {
        return value_.find(what, from);
    }
    std::size_t find(char what, std::size_t from = 0) const noexcept {
        return value_.find(what, from);
    }
    std::string substr(std::size_t from = 0, std::size_t count = std::string::npos) const {
        return value_.substr(from, count);
    }

    friend bool operator==(const NodeText& a, std::string_view b) noexcept {
        return std::string_view(a.value_) == b;
    }
    friend std::ostream& operator<<(std::ostream& out, const NodeText& text) {
        return out << text.value_;
    }

  private:
    std::string value_;
};

struct TreeNode {
    TreeNode() = default;
    // A node made with its text (no change of any tree yet).
    explicit TreeNode(std::string initialText) : text(std::move(initialText)) {}
    TreeNode(const TreeNode&) = delete;
    TreeNode& operator=(const TreeNode&) = delete;
    // Takes the subtree apart without recursion, so a very deep tree cannot exhaust the stack.
    ~TreeNode();

    NodeText text;
    bool expanded = false;
    TreeNode* parent = nullptr;
    // Changed only through appendChild and EventTree's functions, which note the change or
    // (learnChild) bring what the tree remembers up to date.
    std::vector<std::unique_ptr<TreeNode>> children;

    // A child enters expanded when its parent is expanded, so that an expanded node's
    // descendants are all expanded (nothing in the core collapses a node).
    TreeNode& appendChild(std::string childText);
    // Depth below the top level (top-level nodes have depth 0).
    int depth() const;

  private:
    friend class EventTree;
    // The children's texts, to tell at once whether one stands for an event; made at the first
    // event learnt here, valid while TreeEdits::current() == edits.
    struct ChildIndex {
        std::uint64_t edits = 0;
        // Views of the children's texts (the nodes keep them in place; any rename or removal
        // is a change that makes the index stale before it is read again).
        std::unordered_set<std::string_view> texts;
        // Each child's text from where an event is compared with it (nodeMatchesEvent): an
        // event matches a child when it begins the first key not below it.
        std::set<std::string_view> matchKeys;
    };
    std::unique_ptr<ChildIndex> childIndex_;
};

class EventTree {
  public:
    bool empty() const { return roots_.empty(); }
    TreeNode* first() { return roots_.empty() ? nullptr : roots_.front().get(); }
    const std::vector<std::unique_ptr<TreeNode>>& roots() const { return roots_; }
    TreeNode& appendRoot(std::string text);
    void clear();
    // Removes node with all its descendants; false when node is not in the tree (the tree is
    // then unchanged). Removing the entry node of a one-rooted tree empties the tree.
    bool remove(const TreeNode* node);
    // Whether node is one of the tree's nodes (a walk of the tree).
    bool contains(const TreeNode* node) const;

    // Every node in tree order: depth-first, a parent before its children.
    std::vector<TreeNode*> flatten() const;
    // Visits every node in tree order with its depth (top level 0), without recursion.
    void forEach(const std::function<void(TreeNode& node, int depth)>& visit) const;
    void expandAll(TreeNode& node);

    // The bounds of growth through requests.
    void setLimits(TreeLimits limits) { limits_ = limits; }
    const TreeLimits& limits() const { return limits_; }
    // Nodes, and bytes of all node texts (counted once after a change and then kept).
    std::size_t nodeCount() const;
    std::size_t textBytes() const;
    // Whether a change from outside that adds addedNodes nodes and leaves bytesAfter bytes of
    // text, none of its new texts longer than longestText, may be made: it stays within the
    // limits, or it does not grow the tree (a tree loaded larger may still change so).
    bool admits(std::size_t addedNodes, std::size_t bytesAfter, std::size_t longestText) const;

    // What learnChild did.
    enum class Learnt { Added, Known, OverLimits };
    // Adds event as the last child of parent, expanded with parent and all its descendants,
    // unless a child of parent already stands for it (nodeStandsForEvent) or the tree may not
    // take it (admits). Costs O(log children) in the usual case: the children are indexed, the
    // counts kept, and only the remembered answers the new node may change are dropped.
    Learnt learnChild(TreeNode& parent, std::string_view event);
    // The first node in tree order that matches the event (nodeMatchesEvent), or null; without
    // recursion, like every walk of the tree. A template request asks this of a tree that may
    // hold thousands of nodes, always for the same few events: each answer is remembered until
    // the next change of any tree. Like every other member, not for two threads at once (the
    // state lock guards the tree).
    TreeNode* firstMatch(std::string_view event) const;

    // The tab-indented text form: one line per node, as many tabs as its depth, then its text.
    std::vector<std::string> toIndentedLines() const;
    // Replaces the content with the given indented lines (depth = leading tabs and blanks).
    // A line two or more levels deeper than the one before stops reading: the nodes read so far
    // stay and the error text "Ungültige Ebene (%d) für Eintrag "%s"" (Windows-1252) is
    // returned; an empty string means success.
    std::string fromIndentedLines(const std::vector<std::string>& lines);

  private:
    // Event → firstMatch's answer, valid while TreeEdits::current() == edits. Moving a tree
    // leaves both sides without answers: they point to nodes that changed owner.
    struct Answers {
        Answers() = default;
        Answers(Answers&& other) noexcept { other.byEvent.clear(); }
        Answers& operator=(Answers&& other) noexcept {
            byEvent.clear();
            other.byEvent.clear();
            return *this;
        }
        struct Hash {
            using is_transparent = void;
            std::size_t operator()(std::string_view s) const noexcept {
                return std::hash<std::string_view>{}(s);
            }
        };
        std::unordered_map<std::string, TreeNode*, Hash, std::equal_to<>> byEvent;
        std::uint64_t edits = 0;
    };
    // Events come from requests: a page that sends ever new ones must not grow this unbounded,
    // neither by count nor by long events (which are answered by a walk, unremembered).
    static constexpr std::size_t kMaxAnswers = 256;
    static constexpr std::size_t kMaxRememberedEvent = 4096;

    // Node count and text bytes, valid while TreeEdits::current() == edits; a moved tree leaves
    // both sides to count again.
    struct Totals {
        Totals() = default;
        Totals(Totals&& other) noexcept { other.valid = false; }
        Totals& operator=(Totals&& other) noexcept {
            valid = other.valid = false;
            return *this;
        }
        bool valid = false;
        std::uint64_t edits = 0;
        std::size_t nodes = 0;
        std::size_t bytes = 0;
    };
    const Totals& totals() const;
    const TreeNode::ChildIndex& childIndexOf(TreeNode& parent) const;

    std::vector<std::unique_ptr<TreeNode>> roots_;
    TreeLimits limits_;
    mutable Answers answers_;
    mutable Totals totals_;
};

} // namespace pelotest
