#include "state/EventTree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include <string>
#include <vector>

namespace pelotest {
namespace {

using Lines = std::vector<std::string>;

TEST(EventTree, IndentedLinesRoundTripInTreeOrder) {
    EventTree tree;
    TreeNode& root = tree.appendRoot("index.htm");
    TreeNode& login = root.appendChild("Login");
    login.appendChild("menu.htm (Menu)");
    root.appendChild("Logout");
    EXPECT_EQ(login.depth(), 1);
    EXPECT_EQ(login.children[0]->depth(), 2);

    const Lines lines = tree.toIndentedLines();
    EXPECT_EQ(lines, (Lines{"index.htm", "\tLogin", "\t\tmenu.htm (Menu)", "\tLogout"}));

    std::vector<std::string> order;
    for (TreeNode* node : tree.flatten())
        order.push_back(node->text);
    EXPECT_EQ(order, (Lines{"index.htm", "Login", "menu.htm (Menu)", "Logout"}));

    EventTree copy;
    EXPECT_EQ(copy.fromIndentedLines(lines), "");
    EXPECT_EQ(copy.toIndentedLines(), lines);
    EXPECT_EQ(copy.first()->children[0]->parent, copy.first());

    copy.expandAll(*copy.first());
    for (TreeNode* node : copy.flatten())
        EXPECT_TRUE(node->expanded) << node->text;
}

TEST(EventTree, DepthRulesOfIndentedText) {
    struct Case {
        Lines input;
        Lines stored; // the tree written back
    };
    const Case cases[] = {
        // Blanks count as levels too and are removed from the text.
        {{"a", " b", "\t c", "d"}, {"a", "\tb", "\t\tc", "d"}},
        // A shallower line is the sibling of the ancestor at its depth.
        {{"r", "\ta", "\t\tb", "\t\t\tc", "\td"}, {"r", "\ta", "\t\tb", "\t\t\tc", "\td"}},
        // The first line is a top-level node whatever its depth; depths count from it.
        {{"\t\tr", "\t\t\tc", "\t\ts"}, {"r", "\tc", "s"}},
        // A line shallower than the first line has no ancestor there: top level.
        {{"\t\tr", "\t\t\tc", "x"}, {"r", "\tc", "x"}},
        // An empty line is a node with an empty text (an unknown root).
        {{"", "\tLogin"}, {"", "\tLogin"}},
        {{}, {}},
    };
    for (const Case& c : cases) {
        EventTree tree;
        EXPECT_EQ(tree.fromIndentedLines(c.input), "");
        EXPECT_EQ(tree.toIndentedLines(), c.stored);
    }
}

TEST(EventTree, LineTwoLevelsTooDeepStopsReadingAndKeepsNodesSoFar) {
    EventTree tree;
    tree.appendRoot("old");
    const std::string error =
        tree.fromIndentedLines({"index.htm", "\tLogin", "\t\t\t#bad", "\tnever"});
    EXPECT_EQ(error, "Ung\xFC"
                     "ltige Ebene (3) f\xFC"
                     "r Eintrag \"#bad\"");
    EXPECT_EQ(tree.toIndentedLines(), (Lines{"index.htm", "\tLogin"}));
}

TEST(EventTree, AVeryDeepTreeIsWalkedAndFreedWithoutRecursion) {
    EventTree tree;
    TreeNode* node = &tree.appendRoot("n");
    for (int depth = 1; depth < 500000; ++depth)
        node = &node->appendChild("n");
    int deepest = 0;
    tree.forEach([&](TreeNode&, int depth) { deepest = std::max(deepest, depth); });
    EXPECT_EQ(deepest, 499999);
    EXPECT_EQ(tree.flatten().size(), 500000u);
    tree.clear();
    EXPECT_TRUE(tree.empty());
}

// The event search of every template request: a tree read from a file may be deeper than the
// stack could hold as one call per level.
TEST(EventTree, TheEventSearchWalksAVeryDeepTreeWithoutRecursion) {
    EventTree tree;
    TreeNode* node = &tree.appendRoot("start.htm");
    for (int depth = 1; depth < 500000; ++depth)
        node = &node->appendChild("n" + std::to_string(depth % 10));
    TreeNode& deepest = node->appendChild("deep.htm (Find)");
    node->appendChild("other.htm (Find)");
    EXPECT_EQ(tree.firstMatch("Find"), &deepest);
    EXPECT_EQ(tree.firstMatch("Missing"), nullptr);
    EXPECT_EQ(tree.firstMatch("tart"), tree.first()); // the rule as nodeMatchesEvent has it
}

TEST(EventTree, ChoosingATemplateForANode) {
    const struct {
        const char* text;
        bool entryNode;
        const char* entry;
        const char* expected;
    } cases[] = {
        {"Login", false, "menu.htm", "menu.htm (Login)"},         // assigns
        {"Login", false, "", "Login"},                            // empty entry: unchanged
        {"menu.htm (Login)", false, "", "Login"},                 // empty entry: unassigns
        {"menu.htm (Login)", false, "a.htm", "a.htm (Login)"},    // another template
        {"a.htm (Log (in))", false, "b.htm", "b.htm (Log (in))"}, // the first " (" separates
        {"a.htm (Log (in))", false, "", "Log (in)"},              //
        {"old.htm", true, "new.htm", "new.htm"},                  // the entry node takes it all
        {"old.htm", true, "", ""},                                // ... even an empty entry
        {"old.htm (x)", true, "", ""},                            //
        {"a.htm (", false, "", ""},                               // nothing after " ("
    };
    for (const auto& c : cases)
        EXPECT_EQ(nodeTextForChoice(c.text, c.entryNode, c.entry), c.expected)
            << c.text << " <- '" << c.entry << "'";
    EXPECT_EQ(assignedNodeText("menu.htm", "Login"), "menu.htm (Login)");
}

TEST(EventTree, RemovingANodeTakesItsSubtreeAndOnlyNodesOfTheTree) {
    EventTree tree;
    TreeNode& root = tree.appendRoot("index.htm");
    TreeNode& login = root.appendChild("Login");
    login.appendChild("menu.htm (Menu)");
    TreeNode& logout = root.appendChild("Logout");

    EventTree other;
    TreeNode& stranger = other.appendRoot("x");
    EXPECT_FALSE(tree.remove(&stranger));
    EXPECT_FALSE(tree.remove(nullptr));
    EXPECT_EQ(tree.flatten().size(), 4u);

    EXPECT_TRUE(tree.contains(&logout));
    EXPECT_TRUE(tree.remove(&login));
    EXPECT_EQ(tree.toIndentedLines(), (Lines{"index.htm", "\tLogout"}));
    EXPECT_TRUE(tree.remove(&root));
    EXPECT_TRUE(tree.empty());
}

// The search as a plain walk in tree order, what firstMatch's remembered answers must equal.
TreeNode* walkedMatch(const EventTree& tree, std::string_view event) {
    for (TreeNode* node : tree.flatten())
        if (nodeMatchesEvent(node->text, event))
            return node;
    return nullptr;
}

// Random trees under random edits (requests adding nodes, renames, removals, loads, moves of the
// whole tree), searched between the edits for events that often match several nodes.
TEST(EventTree, RememberedEventAnswersAlwaysEqualTheWalk) {
    std::mt19937 random(20261207);
    const auto pick = [&](std::size_t n) {
        return static_cast<std::size_t>(
            std::uniform_int_distribution<std::size_t>(0, n - 1)(random));
    };
    const std::vector<std::string> words = {"", "a", "b", "ab", "ba", "aab", "b)", "a)"};
    const auto randomText = [&]() -> std::string {
        switch (pick(4)) {
        case 0:
            return words[pick(words.size())];
        case 1:
            return "x" + words[pick(words.size())];
        case 2:
            return assignedNodeText("t.htm", words[pick(words.size())]);
        default:
            return words[pick(words.size())] + " (" + words[pick(words.size())];
        }
    };
    const std::vector<std::string> events = {"", "a", "b", "ab", "ba", "b)", "a)", "ab)", "zz"};

    for (int round = 0; round < 40; ++round) {
        EventTree tree;
        for (int step = 0; step < 300; ++step) {
            const std::vector<TreeNode*> nodes = tree.flatten();
            const std::size_t edit = pick(100);
            if (nodes.empty() || edit < 25) {
                tree.appendRoot(randomText());
            } else if (edit < 40) {
                nodes[pick(nodes.size())]->appendChild(randomText());
            } else if (edit < 55) {
                // Learning an event: the index of the children says what a look at each says.
                TreeNode& parent = *nodes[pick(nodes.size())];
                const std::string event = randomText();
                if (event.empty())
                    continue;
                const bool known = std::any_of(
                    parent.children.begin(), parent.children.end(),
                    [&](const auto& child) { return nodeStandsForEvent(child->text, event); });
                ASSERT_EQ(tree.learnChild(parent, event),
                          known ? EventTree::Learnt::Known : EventTree::Learnt::Added)
                    << "round " << round << " step " << step << " event '" << event << "'";
            } else if (edit < 75) {
                nodes[pick(nodes.size())]->text = randomText();
            } else if (edit < 85) {
                tree.remove(nodes[pick(nodes.size())]);
            } else if (edit < 90) {
                const std::vector<std::string> lines = tree.toIndentedLines();
                EventTree moved = std::move(tree);
                EXPECT_EQ(tree.firstMatch("a"), nullptr); // NOLINT: moved from, and empty
                tree = std::move(moved);
                EXPECT_EQ(tree.toIndentedLines(), lines);
            } else if (edit < 93) {
                tree.fromIndentedLines(tree.toIndentedLines());
            } else if (edit < 95) {
                tree.clear();
            }
            std::size_t nodeCount = 0, textBytes = 0;
            tree.forEach([&](TreeNode& node, int) {
                ++nodeCount;
                textBytes += node.text.size();
            });
            ASSERT_EQ(tree.nodeCount(), nodeCount) << "round " << round << " step " << step;
            ASSERT_EQ(tree.textBytes(), textBytes) << "round " << round << " step " << step;
            // Some events twice in a row, so that answers are remembered and then used.
            for (int ask = 0; ask < 4; ++ask) {
                const std::string& event = events[pick(events.size())];
                ASSERT_EQ(tree.firstMatch(event), walkedMatch(tree, event))
                    << "round " << round << " step " << step << " event '" << event << "'";
                ASSERT_EQ(tree.firstMatch(event), walkedMatch(tree, event));
            }
        }
    }
}

// Learning stops at each of the tree's limits and leaves the tree as it was; what does not pass
// them (an event already known included) is taken as before.
TEST(EventTree, LearningStopsAtTheTreesLimits) {
    struct Case {
        const char* what;
        TreeLimits limits;
        std::string event;
        EventTree::Learnt learnt;
    };
    // The tree below: 3 nodes, 5 + 5 + 4 = 14 bytes of text.
    const Case cases[] = {
        {"within every limit", {4, 19, 5}, "Event", EventTree::Learnt::Added},
        {"one node too many", {3, 100, 100}, "Event", EventTree::Learnt::OverLimits},
        {"one byte too many in all", {100, 18, 100}, "Event", EventTree::Learnt::OverLimits},
        {"a text one byte too long", {100, 100, 4}, "Event", EventTree::Learnt::OverLimits},
        {"known already, in a full tree", {3, 14, 1}, "Save", EventTree::Learnt::Known},
    };
    for (const Case& c : cases) {
        EventTree tree;
        tree.setLimits(c.limits);
        TreeNode& root = tree.appendRoot("a.htm");
        TreeNode& form = root.appendChild("Form1");
        form.appendChild("Save");
        const std::vector<std::string> before = tree.toIndentedLines();

        EXPECT_EQ(tree.learnChild(form, c.event), c.learnt) << c.what;
        if (c.learnt != EventTree::Learnt::Added) {
            EXPECT_EQ(tree.toIndentedLines(), before) << c.what;
            EXPECT_FALSE(form.expanded) << c.what;
        } else {
            EXPECT_EQ(tree.nodeCount(), 4u) << c.what;
            EXPECT_TRUE(form.children.back()->expanded) << c.what;
        }
    }
}

} // namespace
} // namespace pelotest
