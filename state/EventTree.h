#pragma once
// The events/templates tree: an ordered tree of node texts. The first top-level node is the
// entry template; every other node is an event ("Login") or an assigned event
// ("login.htm (Login)").

#include <functional>
#include <memory>
#include <string>
#include <string_view>
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
// The text a node gets when the user picks entry for it from the templates folder (entry may be
// empty). The entry node takes the entry as it is, an empty one included. An unassigned event
// gets the entry assigned, and stays as it is when the entry is empty. An assigned event keeps
// its event part (everything after the first " (") under the new template, and an empty entry
// takes the template away, leaving the event name alone.
std::string nodeTextForChoice(std::string_view text, bool isEntryNode, std::string_view entry);

struct TreeNode {
    TreeNode() = default;
    TreeNode(const TreeNode&) = delete;
    TreeNode& operator=(const TreeNode&) = delete;
    // Takes the subtree apart without recursion, so a very deep tree cannot exhaust the stack.
    ~TreeNode();

    std::string text;
    bool expanded = false;
    TreeNode* parent = nullptr;
    std::vector<std::unique_ptr<TreeNode>> children;

    TreeNode& appendChild(std::string childText);
    // Depth below the top level (top-level nodes have depth 0).
    int depth() const;
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
    // The first node in tree order that matches the event (nodeMatchesEvent), or null; without
    // recursion, like every walk of the tree.
    TreeNode* firstMatch(std::string_view event) const;

    // The tab-indented text form: one line per node, as many tabs as its depth, then its text.
    std::vector<std::string> toIndentedLines() const;
    // Replaces the content with the given indented lines (depth = leading tabs and blanks).
    // A line two or more levels deeper than the one before stops reading: the nodes read so far
    // stay and the error text "Ungültige Ebene (%d) für Eintrag "%s"" (Windows-1252) is
    // returned; an empty string means success.
    std::string fromIndentedLines(const std::vector<std::string>& lines);

  private:
    std::vector<std::unique_ptr<TreeNode>> roots_;
};

} // namespace pelotest
