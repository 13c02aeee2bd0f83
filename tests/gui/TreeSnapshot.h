#pragma once

#include "ContactTree.h"
#include "QStringPrinter.h"

#include <QHash>
#include <QString>
#include <QTreeWidget>
#include <ostream>
#include <vector>

// What a tree shows, level by level: text, image number and whether the item is expanded. Built from the
// widgets or from the model, so the two can be compared as a whole.
struct ShownItem {
    QString text;
    int image = 0;
    bool expanded = false;
    std::vector<ShownItem> children;

    bool operator==(const ShownItem&) const = default;
};

inline void PrintTo(const ShownItem& item, std::ostream* os) {
    *os << '{' << '"' << item.text.toStdString() << "\" " << item.image << (item.expanded ? " +" : "");
    for (const ShownItem& child : item.children) {
        *os << ' ';
        PrintTo(child, os);
    }
    *os << '}';
}

namespace TreeSnapshot {

inline ShownItem fromItem(const QTreeWidgetItem* item) {
    ShownItem shown{item->text(0), item->data(0, Qt::UserRole).toInt(), item->isExpanded(), {}};
    shown.children.reserve(size_t(item->childCount()));
    for (int i = 0; i < item->childCount(); ++i)
        shown.children.push_back(fromItem(item->child(i)));
    return shown;
}

inline std::vector<ShownItem> fromWidget(const QTreeWidget& tree) {
    std::vector<ShownItem> shown;
    for (int i = 0; i < tree.topLevelItemCount(); ++i)
        shown.push_back(fromItem(tree.topLevelItem(i)));
    return shown;
}

// The model's nodes as the tree control would show them: each parent's children in the order they were added.
inline std::vector<ShownItem> fromModel(const ContactTree& tree) {
    QHash<QString, std::vector<const TreeNode*>> childrenOf;
    for (const TreeNode& node : tree.nodes())
        childrenOf[node.parentKey].push_back(&node);
    const auto build = [&](const auto& self, const QString& parentKey) -> std::vector<ShownItem> {
        std::vector<ShownItem> level;
        for (const TreeNode* node : childrenOf.value(parentKey))
            level.push_back(ShownItem{node->text, node->image, node->expanded, self(self, node->key)});
        return level;
    };
    return build(build, QString());
}

} // namespace TreeSnapshot
