#include "app/browse/DiscTreeOrder.h"

#include <QTreeWidget>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "app/browse/BrowseText.h"
#include "platform/QtText.h"

namespace {

void SortChildren(QTreeWidgetItem *parent)
{
    // Texts are converted once, not at every comparison.
    std::vector<std::pair<std::string, QTreeWidgetItem *>> nodes;
    for (QTreeWidgetItem *child : parent->takeChildren())
        nodes.emplace_back(FromQString(child->text(0)), child);
    std::stable_sort(nodes.begin(), nodes.end(),
                     [](const auto &a, const auto &b) { return CompareNamesFoldAZ(a.first, b.first) < 0; });
    QList<QTreeWidgetItem *> ordered;
    ordered.reserve(static_cast<qsizetype>(nodes.size()));
    for (const auto &node : nodes)
        ordered.append(node.second);
    parent->addChildren(ordered);
}

} // namespace

void SortTreeByName(QTreeWidget *tree)
{
    if (!tree)
        return;
    // Level by level rather than by recursion: a deep tree costs no stack.
    std::vector<QTreeWidgetItem *> pending{tree->invisibleRootItem()};
    while (!pending.empty()) {
        QTreeWidgetItem *parent = pending.back();
        pending.pop_back();
        SortChildren(parent);
        for (int i = 0; i < parent->childCount(); ++i)
            if (parent->child(i)->childCount() > 0)
                pending.push_back(parent->child(i));
    }
}
