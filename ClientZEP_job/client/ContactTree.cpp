#include "ContactTree.h"

#include "VbError.h"

namespace {
constexpr int ElementNotFound = 35601;
constexpr int KeyNotUnique = 35602;

[[noreturn]] void raise(int number, const QString& description) {
    throw VbError(number, QStringLiteral("TreeView1"), description);
}
} // namespace

void ContactTree::clear() {
    nodes_.clear();
    byKey_.clear();
    childCounts_.clear();
    emit cleared();
}

void ContactTree::add(const QString& parentKey, const QString& key, const QString& text, int image) {
    if (byKey_.contains(key))
        raise(KeyNotUnique, QStringLiteral("Key is not unique in collection"));
    if (!parentKey.isEmpty() && !byKey_.contains(parentKey))
        raise(ElementNotFound, QStringLiteral("Element not found"));
    byKey_.insert(key, int(nodes_.size()));
    nodes_.push_back(TreeNode{key, parentKey, text, image, false});
    if (!parentKey.isEmpty())
        ++childCounts_[parentKey];
    emit nodeAdded(nodes_.back());
}

void ContactTree::setImage(const QString& key, int image) {
    const auto it = byKey_.constFind(key);
    if (it == byKey_.cend())
        raise(ElementNotFound, QStringLiteral("Element not found"));
    nodes_[size_t(*it)].image = image;
    emit imageChanged(key, image);
}

void ContactTree::expand(const QString& key) {
    const auto it = byKey_.constFind(key);
    if (it == byKey_.cend())
        return;
    nodes_[size_t(*it)].expanded = true;
    emit nodeExpanded(key);
}

const TreeNode* ContactTree::node(const QString& key) const {
    const auto it = byKey_.constFind(key);
    return it == byKey_.cend() ? nullptr : &nodes_[size_t(*it)];
}
