#pragma once

#include <QHash>
#include <QObject>
#include <QString>
#include <vector>

// One node of the contact tree: a department group (no parent) or a user below its group.
struct TreeNode {
    QString key;
    QString parentKey;
    QString text;
    int image = 0;
    bool expanded = false;
};

// The contact tree of the main window as data. The view mirrors it through the signals; the tree itself knows
// nothing of widgets. Keys are unique, as in the window's tree control.
class ContactTree : public QObject {
    Q_OBJECT
public:
    // Image numbers: 1 = group, 3 + status = user (3 offline, 4 online, 5 and up other states).
    static constexpr int GroupImage = 1;
    static constexpr int UserImageBase = 3;

    void clear();

    // Adds a node under `parentKey` (empty: top level). Throws VbError 35602 for a key already present and
    // 35601 for a parent that does not exist.
    void add(const QString& parentKey, const QString& key, const QString& text, int image);

    // Changes a node's image. Throws VbError 35601 when the key does not exist.
    void setImage(const QString& key, int image);

    void expand(const QString& key);

    bool contains(const QString& key) const { return byKey_.contains(key); }
    const TreeNode* node(const QString& key) const;
    int count() const { return int(nodes_.size()); }
    int childCount(const QString& key) const { return childCounts_.value(key); }

    // All nodes in the order they were added.
    const std::vector<TreeNode>& nodes() const { return nodes_; }

signals:
    void cleared();
    void nodeAdded(const TreeNode& node);
    void imageChanged(const QString& key, int image);
    void nodeExpanded(const QString& key);

private:
    std::vector<TreeNode> nodes_;
    QHash<QString, int> byKey_;
    QHash<QString, int> childCounts_;
};
