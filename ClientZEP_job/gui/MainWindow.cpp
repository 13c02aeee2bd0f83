#include "MainWindow.h"

#include "ImageList1.h"

#include <QAction>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QStyle>
#include <QStyleFactory>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

void showImage(QTreeWidgetItem* item, int image) {
    item->setIcon(0, ImageList1::icon(image));
    item->setData(0, Qt::UserRole, image);
}

} // namespace

MainWindow::MainWindow(frmMain& form, QWidget* parent) : QMainWindow(parent), form_(form) {
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(form_.caption());

    auto* mnuFile = menuBar()->addMenu(QStringLiteral("메뉴(&M)"));
    mnuFile->setObjectName(QStringLiteral("mnuFile"));
    mnuFile_Exit = mnuFile->addAction(QStringLiteral("종료(&X)"));
    mnuFile_Exit->setObjectName(QStringLiteral("mnuFile_Exit"));

    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(6, 6, 6, 6);
    layout->setSpacing(6);

    lblMyInfo = new QLabel(form_.myInfo(), central);
    lblMyInfo->setObjectName(QStringLiteral("lblMyInfo"));
    // A long name is cut off rather than widening the window.
    lblMyInfo->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    lblCnt = new QLabel(form_.onlineCountText(), central);
    lblCnt->setObjectName(QStringLiteral("lblCnt"));
    lblCnt->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    auto* labels = new QHBoxLayout;
    labels->addWidget(lblMyInfo, 1);
    labels->addWidget(lblCnt);
    layout->addLayout(labels);

    TreeView1 = new QTreeWidget(central);
    TreeView1->setObjectName(QStringLiteral("TreeView1"));
    TreeView1->setColumnCount(1);
    TreeView1->setHeaderHidden(true);
    TreeView1->setRootIsDecorated(true);
    TreeView1->setItemsExpandable(true);
    TreeView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    TreeView1->setSelectionMode(QAbstractItemView::SingleSelection);
    TreeView1->setUniformRowHeights(true);
    TreeView1->setIconSize(QSize(16, 16));
    // The classic style draws dotted lines from a group to its users and plus/minus boxes on the groups.
    if (QStyle* lines = QStyleFactory::create(QStringLiteral("Windows"))) {
        lines->setParent(TreeView1);
        TreeView1->setStyle(lines);
    }
    layout->addWidget(TreeView1, 1);

    cmdSend = new QPushButton(QStringLiteral("받은 폴더"), central);
    cmdSend->setObjectName(QStringLiteral("cmdSend"));
    cmdTest = new QPushButton(QStringLiteral("test2"), central);
    cmdTest->setObjectName(QStringLiteral("cmdTest"));
    cmdTest->setEnabled(form_.testButtonEnabled());
    cmdClose = new QPushButton(QStringLiteral("닫기"), central);
    cmdClose->setObjectName(QStringLiteral("cmdClose"));
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(cmdSend);
    buttons->addWidget(cmdTest);
    buttons->addStretch(1);
    buttons->addWidget(cmdClose);
    layout->addLayout(buttons);

    setCentralWidget(central);
    setMinimumSize(240, 320);
    resize(320, 560);

    connect(cmdSend, &QPushButton::clicked, this, [this] { form_.cmdSend_Click(5); });
    connect(cmdTest, &QPushButton::clicked, this, [this] { form_.cmdTest_Click(); });
    connect(cmdClose, &QPushButton::clicked, this, [this] { form_.cmdClose_Click(); });
    connect(mnuFile_Exit, &QAction::triggered, this, [this] { form_.mnuFile_Exit_Click(); });

    connect(&form_, &frmMain::captionChanged, this, &QWidget::setWindowTitle);
    connect(&form_, &frmMain::myInfoChanged, lblMyInfo, &QLabel::setText);
    connect(&form_, &frmMain::onlineCountTextChanged, lblCnt, &QLabel::setText);
    connect(&form_, &frmMain::unloaded, this, &MainWindow::formUnloaded);

    ContactTree& tree = form_.tree();
    connect(&tree, &ContactTree::cleared, this, &MainWindow::clearTree);
    connect(&tree, &ContactTree::nodeAdded, this, &MainWindow::addNode);
    connect(&tree, &ContactTree::imageChanged, this, &MainWindow::setNodeImage);
    connect(&tree, &ContactTree::nodeExpanded, this, &MainWindow::expandNode);
    buildTree();
}

void MainWindow::buildTree() {
    clearTree();
    const std::vector<TreeNode>& nodes = form_.tree().nodes();
    items_.reserve(qsizetype(nodes.size()));
    // Items are made detached and handed to their parents in one go per parent; the model keeps parents
    // ahead of their children, so every parent already has its item.
    QList<QTreeWidgetItem*> topLevel;
    QHash<QTreeWidgetItem*, QList<QTreeWidgetItem*>> children;
    for (const TreeNode& node : nodes) {
        if (items_.contains(node.key))
            continue;
        auto* item = new QTreeWidgetItem(QStringList(node.text));
        showImage(item, node.image);
        items_.insert(node.key, item);
        QTreeWidgetItem* parent = node.parentKey.isEmpty() ? nullptr : items_.value(node.parentKey);
        if (parent)
            children[parent].append(item);
        else
            topLevel.append(item);
    }
    for (auto it = children.cbegin(); it != children.cend(); ++it)
        it.key()->addChildren(it.value());
    TreeView1->addTopLevelItems(topLevel);
    for (const TreeNode& node : nodes)
        if (node.expanded)
            expandNode(node.key);
}

void MainWindow::clearTree() {
    items_.clear();
    TreeView1->clear();
}

void MainWindow::addNode(const TreeNode& node) {
    if (QTreeWidgetItem* existing = items_.value(node.key)) {
        // The tree never repeats a key; should it happen, the node is shown once with what it says now.
        existing->setText(0, node.text);
        showImage(existing, node.image);
        return;
    }
    auto* item = new QTreeWidgetItem(QStringList(node.text));
    showImage(item, node.image);
    items_.insert(node.key, item);
    // A node whose parent has no item is shown at the top level rather than lost.
    if (QTreeWidgetItem* parent = node.parentKey.isEmpty() ? nullptr : items_.value(node.parentKey))
        parent->addChild(item);
    else
        TreeView1->addTopLevelItem(item);
    if (node.expanded)
        item->setExpanded(true);
}

void MainWindow::setNodeImage(const QString& key, int image) {
    if (QTreeWidgetItem* item = items_.value(key))
        showImage(item, image);
}

void MainWindow::expandNode(const QString& key) {
    if (QTreeWidgetItem* item = items_.value(key))
        item->setExpanded(true);
}

void MainWindow::formUnloaded() {
    unloaded_ = true;
    close();
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (!unloaded_) {
        unloaded_ = true;
        form_.cmdClose_Click();
    }
    event->accept();
}
