// A user-list body (packet 51) taken into the contact list and its tree, as after a login.
//
// Input: the first byte says whether the bot's own id is 0 (even) or the id of the first record (odd); the
// rest is the body in CP949. Whatever the body holds, the list, the tree and the online count agree.
#include "AnsiCodec.h"
#include "ContactList.h"
#include "FuzzSupport.h"
#include "NumericText.h"

#include <QSet>

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    FuzzSupport::environment();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    const QString body = AnsiCodec::toUnicode(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));
    qint32 myUserId = 0;
    if (data[0] & 1) {
        const QString firstRecord = body.section(QStringLiteral("\r\n"), 1, 1);
        myUserId = NumericText::leadingNumberAs<qint32>(firstRecord.section(QLatin1Char('\t'), 0, 0));
    }

    ContactTree tree;
    ContactList list(tree);
    list.InitUserTree();
    const int groups = tree.count();
    list.Proc_CL_List(body, myUserId);
    // A second list replaces the first.
    if (data[0] & 2)
        list.Proc_CL_List(body, myUserId);

    if (list.UserCount < list.UserList.size() - 1)
        FuzzSupport::violated("UserCount covers every entry");
    QSet<qint32> ids;
    int others = 0, online = 0;
    for (qsizetype i = 1; i < list.UserList.size(); ++i) {
        const UserInfo& user = list.UserList[i];
        if (ids.contains(user.UserId))
            FuzzSupport::violated("user ids are unique");
        ids.insert(user.UserId);
        if (list.FindUserIndex(user.UserId) != i)
            FuzzSupport::violated("every entry is found by its id");
        const QString key = QStringLiteral("M") + QString::number(user.UserId);
        if (user.UserId == myUserId) {
            if (tree.contains(key))
                FuzzSupport::violated("the bot's own entry has no node");
            continue;
        }
        ++others;
        online += user.Status != 0;
        const TreeNode* node = tree.node(key);
        if (!node || node->parentKey.isEmpty() || node->text != user.Name ||
            node->image != ContactTree::UserImageBase + user.Status)
            FuzzSupport::violated("every other entry has its node under a group", key);
    }
    if (tree.count() != groups + others)
        FuzzSupport::violated("the tree holds the groups and one node per other entry");
    if (list.OnlineCount != std::min(online, 32767))
        FuzzSupport::violated("the online count is the number of others online");
    if (list.OnlineCountText() != QString::number(list.OnlineCount) + QStringLiteral("명"))
        FuzzSupport::violated("the label shows the online count");
    QFile::remove(FuzzSupport::programFolder() + QStringLiteral("/ErrorLog.txt"));
    return 0;
}
