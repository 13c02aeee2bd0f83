#pragma once

#include "ContactTree.h"

#include <QList>
#include <QString>

// One user of the messenger's user list.
struct UserInfo {
    qint32 UserId = 0;
    QString Column1Text;
    QString Name;
    QString Column5Text;
    qint32 DeptCode = 0;
    qint16 NodeIndex = 0;
    qint16 Status = 0; // 0 offline, 1 online, other values from status changes; non-zero counts as online
    QString LoginText;
    qint32 LoginNumber = 0;
};

// The user list, the online count and the contact tree that mirrors them, grouped by department.
class ContactList {
public:
    explicit ContactList(ContactTree& tree) : tree_(tree) {}

    // Department group names; empty group names make no node. Codes without a group give "???".
    static QString GetDeptName(qint16 code);

    // The tree back to the department groups, and no one online.
    void InitUserTree();

    // A new user list (a UserList packet). `myUserId` is the bot's own id: its entry is kept but gets no
    // node.
    void Proc_CL_List(const QString& body, qint32 myUserId);

    // Presence notices (UserOnline, UserOffline and UserStatus packets). The first two return true when the
    // online count changed.
    bool Proc_CL_Online(const QString& body, qint32 myUserId);
    bool Proc_CL_Offline(const QString& body, qint32 myUserId);
    void Proc_CL_CngStat(const QString& body, qint32 myUserId);

    // Index into UserList of the first entry with this id; 0 when there is none.
    qint32 FindUserIndex(qint32 id) const;

    // Whether fewer than 40 % of the listed users are online. With no list yet, true.
    bool IsFewUsersOnline() const;

    // "N명", the text of the online label.
    QString OnlineCountText() const;

    // Entries from index 1; index 0 stays empty.
    QList<UserInfo> UserList{UserInfo{}};
    qint32 UserCount = 0;
    qint16 OnlineCount = 0;

private:
    static QString userKey(qint32 id) { return QStringLiteral("M") + QString::number(id); }
    static QString groupKey(qint32 code) { return QStringLiteral("G") + QString::number(code); }
    void changeOnlineCount(int delta);
    bool hasUserNodes() const;

    ContactTree& tree_;
};
