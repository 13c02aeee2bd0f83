#include "ContactList.h"

#include "TestSupport.h"
#include "UserRecords.h"

#include <gtest/gtest.h>

namespace {

class ContactListTest : public ::testing::Test {
protected:
    void SetUp() override {
        TestSupport::takeErrorLog();
        contacts.InitUserTree();
    }

    QStringList childrenOf(const QString& group) const {
        QStringList keys;
        for (const TreeNode& n : tree.nodes())
            if (n.parentKey == group)
                keys << n.key;
        return keys;
    }
    int image(const QString& key) const { return tree.node(key) ? tree.node(key)->image : -1; }

    static constexpr qint32 Me = 123;
    ContactTree tree;
    ContactList contacts{tree};
};

TEST_F(ContactListTest, GroupsInTheirOrder) {
    QStringList texts, keys;
    for (const TreeNode& n : tree.nodes()) {
        keys << n.key;
        texts << n.text;
        EXPECT_EQ(n.image, 1);
        EXPECT_TRUE(n.parentKey.isEmpty());
    }
    EXPECT_EQ(keys, QStringList({"G1", "G2", "G3", "G4", "G5", "G0"}));
    EXPECT_EQ(texts, QStringList({"[대구]영업/고객관리팀", "관리부", "기술개발팀", "[서울]영업전략팀", "대표",
                                  "기타"}));
    EXPECT_EQ(ContactList::GetDeptName(6), QStringLiteral("???"));
    EXPECT_EQ(ContactList::GetDeptName(-1), QStringLiteral("???"));
}

TEST_F(ContactListTest, ListFillsTreeCountAndEntries) {
    contacts.Proc_CL_List(userList({userRecord(17, 1, "김민준", 1), userRecord(Me, 3, "잡서버", 1),
                                    userRecord(21, 1, "이서연", 0), userRecord(33, 5, "박대표", 2),
                                    userRecord(45, 0, "최기타", 0)}),
                          Me);
    EXPECT_EQ(contacts.UserCount, 5);
    ASSERT_EQ(contacts.UserList.size(), 6);
    EXPECT_EQ(contacts.UserList[0].UserId, 0);
    const UserInfo& first = contacts.UserList[1];
    EXPECT_EQ(first.UserId, 17);
    EXPECT_EQ(first.Column1Text, QStringLiteral("login17"));
    EXPECT_EQ(first.Name, QStringLiteral("김민준"));
    EXPECT_EQ(first.Column5Text, QStringLiteral("사원"));
    EXPECT_EQ(first.DeptCode, 1);
    EXPECT_EQ(first.NodeIndex, 7); // six groups before it
    EXPECT_EQ(first.Status, 1);
    EXPECT_EQ(first.LoginText, QStringLiteral("127.0.0.1"));
    EXPECT_EQ(first.LoginNumber, 0);

    EXPECT_EQ(childrenOf("G1"), QStringList({"M17", "M21"}));
    EXPECT_EQ(childrenOf("G3"), QStringList()); // the bot has an entry but no node
    EXPECT_EQ(childrenOf("G5"), QStringList({"M33"}));
    EXPECT_EQ(childrenOf("G0"), QStringList({"M45"}));
    EXPECT_EQ(image("M17"), 4);
    EXPECT_EQ(image("M21"), 3);
    EXPECT_EQ(image("M33"), 5); // status 2 counts as online
    EXPECT_EQ(contacts.OnlineCount, 2);
    EXPECT_EQ(contacts.OnlineCountText(), QStringLiteral("2명"));
    EXPECT_EQ(contacts.FindUserIndex(Me), 2);
    EXPECT_EQ(contacts.FindUserIndex(999), 0);

    for (const char* g : {"G1", "G5", "G0"})
        EXPECT_TRUE(tree.node(g)->expanded) << g;
    for (const char* g : {"G2", "G3", "G4"})
        EXPECT_FALSE(tree.node(g)->expanded) << g;
    EXPECT_TRUE(TestSupport::takeErrorLog().isEmpty());
}

TEST_F(ContactListTest, ListOfTheBotAlone) {
    contacts.Proc_CL_List(userList({userRecord(Me, 3, "잡서버", 1)}), Me);
    EXPECT_EQ(contacts.UserCount, 1);
    EXPECT_EQ(contacts.OnlineCount, 0);
    EXPECT_EQ(contacts.OnlineCountText(), QStringLiteral("0명"));
    EXPECT_EQ(tree.count(), 6);
    for (const TreeNode& n : tree.nodes())
        EXPECT_FALSE(n.expanded);
}

TEST_F(ContactListTest, OddRecordsCostOnlyThemselves) {
    contacts.Proc_CL_List(
        userList({userRecord(17, 1, "김민준", 1), userRecord(21, 9, "외부", 1), userRecord(17, 2, "중복", 1),
                  "33\tx\t\tnot-a-number\t박\t\t1\t\t0", "34\tshort\trecord", userRecord(45, 0, "최", 70000),
                  QString(), userRecord(52, 2, "정", 1), QString()},
                 3),
        Me);
    EXPECT_EQ(childrenOf("G1"), QStringList({"M17"}));
    EXPECT_EQ(childrenOf("G0"), QStringList({"M21"})); // unknown department goes under 기타
    EXPECT_EQ(childrenOf("G2"), QStringList({"M52"})); // more records than announced are kept
    EXPECT_EQ(contacts.OnlineCount, 3);
    EXPECT_EQ(contacts.UserList.size(), 4);
    EXPECT_EQ(contacts.UserCount, 3);
    EXPECT_EQ(contacts.UserList[2].DeptCode, 9);

    const QStringList log = TestSupport::takeErrorLog();
    ASSERT_EQ(log.size(), 4);
    EXPECT_EQ(log[0],
              QStringLiteral("Error 35602 (Key is not unique in collection) in procedure Proc_CL_List of "
                             "Form frmMain(Data:") +
                  userRecord(17, 2, "중복", 1) + ")");
    EXPECT_TRUE(
        log[1].startsWith("Error 13 (Type mismatch) in procedure Proc_CL_List of Form frmMain(Data:33"));
    EXPECT_TRUE(log[2].startsWith("Error 9 (Subscript out of range) in procedure Proc_CL_List"));
    EXPECT_TRUE(log[3].startsWith("Error 6 (Overflow) in procedure Proc_CL_List"));
}

TEST_F(ContactListTest, HugeCountLineDoesNotAllocate) {
    contacts.Proc_CL_List(QStringLiteral("2000000000\r\n") + userRecord(17, 1, "김", 1), Me);
    EXPECT_EQ(contacts.UserList.size(), 2);
    EXPECT_EQ(contacts.UserCount, 2000000000);
    EXPECT_TRUE(contacts.IsFewUsersOnline());
}

TEST_F(ContactListTest, SecondListReplacesTheFirst) {
    contacts.Proc_CL_List(userList({userRecord(17, 1, "김", 1), userRecord(21, 2, "이", 1)}), Me);
    contacts.Proc_CL_List(userList({userRecord(17, 1, "김", 0), userRecord(33, 4, "박", 1)}), Me);
    EXPECT_EQ(tree.count(), 8);
    EXPECT_EQ(childrenOf("G2"), QStringList());
    EXPECT_EQ(contacts.OnlineCount, 1);
    EXPECT_EQ(contacts.UserCount, 2);
}

TEST_F(ContactListTest, PresenceNotices) {
    contacts.Proc_CL_List(
        userList({userRecord(17, 1, "김", 0), userRecord(21, 2, "이", 1), userRecord(Me, 3, "잡서버", 1)}),
        Me);
    ASSERT_EQ(contacts.OnlineCount, 1);

    EXPECT_TRUE(contacts.Proc_CL_Online(QStringLiteral("17;127.0.0.5;77"), Me));
    EXPECT_EQ(image("M17"), 4);
    EXPECT_EQ(contacts.OnlineCount, 2);
    const UserInfo& u = contacts.UserList[contacts.FindUserIndex(17)];
    EXPECT_EQ(u.LoginText, QStringLiteral("127.0.0.5"));
    EXPECT_EQ(u.LoginNumber, 77);
    EXPECT_EQ(u.Status, 1);

    // Already online: counted again.
    EXPECT_TRUE(contacts.Proc_CL_Online(QStringLiteral("17;x;1"), Me));
    EXPECT_EQ(contacts.OnlineCount, 3);

    // A status change moves the icon, not the count.
    contacts.Proc_CL_CngStat(QStringLiteral("21;0"), Me);
    EXPECT_EQ(image("M21"), 3);
    EXPECT_EQ(contacts.OnlineCount, 3);
    contacts.Proc_CL_CngStat(QStringLiteral("21;2"), Me);
    EXPECT_EQ(image("M21"), 5);
    EXPECT_EQ(contacts.UserList[contacts.FindUserIndex(21)].Status, 2);

    // Offline twice: the count falls each time and may go below zero.
    for (int expected : {2, 1, 0, -1}) {
        EXPECT_TRUE(contacts.Proc_CL_Offline(QStringLiteral("17"), Me));
        EXPECT_EQ(contacts.OnlineCount, expected);
    }
    EXPECT_EQ(image("M17"), 3);
    EXPECT_EQ(contacts.OnlineCountText(), QStringLiteral("-1명"));

    // Unknown users and the bot itself change no count and no node.
    EXPECT_FALSE(contacts.Proc_CL_Online(QStringLiteral("999;x;0"), Me));
    EXPECT_FALSE(contacts.Proc_CL_Offline(QStringLiteral("abc"), Me));
    EXPECT_FALSE(contacts.Proc_CL_Online(QStringLiteral("123;x;0"), Me));
    EXPECT_FALSE(contacts.Proc_CL_Offline(QStringLiteral("123"), Me));
    contacts.Proc_CL_CngStat(QStringLiteral("999;1"), Me);
    contacts.Proc_CL_CngStat(QStringLiteral("123;2"), Me);
    EXPECT_EQ(contacts.OnlineCount, -1);
    EXPECT_TRUE(TestSupport::takeErrorLog().isEmpty());

    // Lenient ids: leading blanks and trailing text.
    EXPECT_TRUE(contacts.Proc_CL_Online(QStringLiteral(" 17abc;x;5"), Me));
    EXPECT_EQ(contacts.OnlineCount, 0);
}

TEST_F(ContactListTest, BadNoticesAreLoggedAndSurvived) {
    contacts.Proc_CL_List(userList({userRecord(17, 1, "김", 0)}), Me);
    EXPECT_TRUE(contacts.Proc_CL_Online(QStringLiteral("17;x;notanumber"), Me));
    EXPECT_EQ(contacts.UserList[1].LoginNumber, 0);
    contacts.Proc_CL_CngStat(QStringLiteral("17"), Me);
    const QStringList log = TestSupport::takeErrorLog();
    ASSERT_EQ(log.size(), 2);
    EXPECT_EQ(log[0],
              QStringLiteral("Error 13 (Type mismatch) in procedure Proc_CL_Online of Form frmMain(Data:17;x;"
                             "notanumber)"));
    EXPECT_EQ(log[1], QStringLiteral("Error 9 (Subscript out of range) in procedure Proc_CL_CngStat of Form "
                                     "frmMain(Data:17)"));
}

TEST_F(ContactListTest, FewUsersOnlineBelowFortyPercent) {
    EXPECT_TRUE(contacts.IsFewUsersOnline()); // no list yet
    struct Case {
        int users, online;
        bool few;
    };
    for (const Case& c : {Case{10, 4, false}, Case{10, 3, true}, Case{20, 8, false}, Case{20, 7, true},
                          Case{1, 1, false}, Case{1, 0, true}}) {
        contacts.Proc_CL_List(userList(colleagues(c.users, c.online)), Me);
        EXPECT_EQ(contacts.IsFewUsersOnline(), c.few) << c.online << " of " << c.users;
    }
}

} // namespace
