#include "HeadlessFront.h"

#include "Startup.h"
#include "frmMain.h"

namespace {

void print(const QString& line) {
    Startup::stateLine(line);
}

QString statusWord(int image) {
    switch (image - ContactTree::UserImageBase) {
    case 0:
        return QStringLiteral("offline");
    case 1:
        return QStringLiteral("online");
    default:
        return QStringLiteral("status %1").arg(image - ContactTree::UserImageBase);
    }
}

// The contact tree as the window would show it: one line per department group with its users.
void printTree(const ContactTree& tree) {
    for (const TreeNode& group : tree.nodes()) {
        if (!group.parentKey.isEmpty())
            continue;
        QStringList users;
        for (const TreeNode& user : tree.nodes())
            if (user.parentKey == group.key)
                users << QStringLiteral("%1 (%2)").arg(user.text, statusWord(user.image));
        print(QStringLiteral("  %1: %2")
                  .arg(group.text, users.isEmpty() ? QStringLiteral("-") : users.join(", ")));
    }
}

} // namespace

HeadlessFront::HeadlessFront(frmMain& form) : QObject(&form) {
    connect(&form, &frmMain::stateLine, this, [](const QString& line, const QString& reportRecipient) {
        // In the journal a report's line carries its recipient: journalctl ZEPJOB_RECIPIENT=92.
        Journal::Fields fields;
        if (!reportRecipient.isEmpty())
            fields.append({"ZEPJOB_RECIPIENT", reportRecipient.toUtf8()});
        Startup::stateLine(line, Journal::Info, fields);
    });
    connect(&form, &frmMain::warningLine, this,
            [](const QString& line) { Startup::stateLine(line, Journal::Warning); });
    connect(&form, &frmMain::captionChanged, this,
            [](const QString& caption) { print(QStringLiteral("window: ") + caption); });
    connect(&form, &frmMain::userListReceived, this, [&form] { printTree(form.tree()); });
}
