#pragma once

#include "frmMain.h"

#include <QHash>
#include <QMainWindow>
#include <QString>

class QAction;
class QCloseEvent;
class QLabel;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

// The main window on screen. It owns no state of its own: captions, labels and the contact tree follow the
// form's signals, and the buttons and the menu call the form's handlers. Every control carries the form's
// control name as its object name.
class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit MainWindow(frmMain& form, QWidget* parent = nullptr);

    // The tree item shown for the node with `key`, or nullptr.
    QTreeWidgetItem* treeItem(const QString& key) const { return items_.value(key); }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildTree();
    void clearTree();
    void addNode(const TreeNode& node);
    void setNodeImage(const QString& key, int image);
    void expandNode(const QString& key);
    void formUnloaded();

    frmMain& form_;
    QTreeWidget* TreeView1;
    QLabel* lblMyInfo;
    QLabel* lblCnt;
    QPushButton* cmdSend;
    QPushButton* cmdClose;
    QPushButton* cmdTest;
    QAction* mnuFile_Exit;

    // The tree items by node key, so a change finds its item without searching the tree.
    QHash<QString, QTreeWidgetItem*> items_;
    // Set once the form has unloaded: closing the window afterwards must not unload it a second time.
    bool unloaded_ = false;
};
