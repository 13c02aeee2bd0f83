#include "MainWindow.h"

#include "AnsiCodec.h"
#include "FormFixture.h"
#include "ImageList1.h"
#include "TreeSnapshot.h"

#include <QAction>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>
#include <functional>
#include <gtest/gtest.h>

namespace {

const QString Groups[] = {
    QStringLiteral("[대구]영업/고객관리팀"), QStringLiteral("관리부"), QStringLiteral("기술개발팀"),
    QStringLiteral("[서울]영업전략팀"),      QStringLiteral("대표"),   QStringLiteral("기타")};

ShownItem group(int index, bool expanded, std::vector<ShownItem> users = {}) {
    return ShownItem{Groups[index], ImageList1::Group, expanded, std::move(users)};
}

ShownItem user(const QString& name, int image) {
    return ShownItem{name, image, false, {}};
}

std::vector<ShownItem> bareGroups() {
    std::vector<ShownItem> groups;
    for (int i = 0; i < 6; ++i)
        groups.push_back(group(i, false));
    return groups;
}

struct Record {
    int id;
    const char* login;
    int dept;
    const char* name;
    const char* title;
    int status;
};

// One user-list record: id, login name, an unused column, department, name, title, status, login text,
// number.
QString recordLine(const Record& r) {
    return QStringList{QString::number(r.id),
                       QString::fromUtf8(r.login),
                       QString(),
                       QString::number(r.dept),
                       QString::fromUtf8(r.name),
                       QString::fromUtf8(r.title),
                       QString::number(r.status),
                       r.status ? QStringLiteral("127.0.0.1") : QString(),
                       QStringLiteral("0")}
        .join(QLatin1Char('\t'));
}

const Record Bot{123, "jobserver", 3, "잡서버", "봇", 1};

// Five departments with users, "대표" without; statuses 0, 1 and 2.
const Record Users[] = {
    {201, "kim", 1, "김영업", "과장", 1},  {202, "lee", 1, "이고객", "대리", 0},
    {203, "park", 2, "박관리", "부장", 2}, {204, "choi", 3, "최개발", "선임", 1},
    {205, "jung", 3, "정개발", "주임", 0}, {206, "kang", 4, "강전략", "팀장", 1},
    {207, "cho", 0, "조기타", "사원", 0},  {208, "yoon", 0, "윤기타", "고문", 2},
};

QString userListBody() {
    QStringList lines{QString::number(int(std::size(Users)) + 1), recordLine(Bot)};
    for (const Record& r : Users)
        lines << recordLine(r);
    return lines.join(QStringLiteral("\r\n"));
}

template <typename T> T* control(const QWidget& window, const char* name) {
    T* found = window.findChild<T*>(QLatin1String(name));
    EXPECT_NE(found, nullptr) << name;
    return found;
}

QString artifactPath(const QString& fileName) {
    const QString folder = QStringLiteral(ZEPJOB_ARTIFACTS_DIR);
    QDir().mkpath(folder);
    return folder + QLatin1Char('/') + fileName;
}

} // namespace

// The whole session through the real socket: login, user list, presence notices and the server going away,
// each reflected in the widgets.
TEST(MainWindowTest, ShowsTheSessionOfALoopbackMessenger) {
    MessengerPeer server;
    ASSERT_TRUE(server.listening());
    const QTemporaryDir folder;
    FormSetup::resetProgram(folder.path());
    frmMain form(server.port());
    MainWindow w(form);
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    form.Form_Load();

    auto* tree = control<QTreeWidget>(w, "TreeView1");
    auto* lblMyInfo = control<QLabel>(w, "lblMyInfo");
    auto* lblCnt = control<QLabel>(w, "lblCnt");
    ASSERT_TRUE(tree && lblMyInfo && lblCnt);

    EXPECT_EQ(w.windowTitle(), QStringLiteral("메신저(스케줄서버 전용) v") + TestSupport::version());
    EXPECT_EQ(TreeSnapshot::fromWidget(*tree), bareGroups());

    ASSERT_TRUE(waitUntil([&] { return server.connected(); }));
    const auto login = server.take(50);
    ASSERT_TRUE(login.has_value());
    EXPECT_TRUE(login->body.startsWith(QStringLiteral("jobserver/"))) << login->body.toStdString();

    server.send(50, QStringLiteral("1\t") + recordLine(Bot));
    server.send(51, userListBody());
    ASSERT_TRUE(QTest::qWaitFor([&] { return lblCnt->text() == QStringLiteral("5명"); }, 5000))
        << lblCnt->text().toStdString();
    // The bot answers the list with its version: by then the list has been taken whole.
    ASSERT_TRUE(server.take(10).has_value());

    EXPECT_EQ(lblMyInfo->text(), QStringLiteral("[기술개발팀] 잡서버"));
    const std::vector<ShownItem> listed{
        group(0, true, {user(QStringLiteral("김영업"), 4), user(QStringLiteral("이고객"), 3)}),
        group(1, true, {user(QStringLiteral("박관리"), 5)}),
        group(2, true, {user(QStringLiteral("최개발"), 4), user(QStringLiteral("정개발"), 3)}),
        group(3, true, {user(QStringLiteral("강전략"), 4)}),
        group(4, false),
        group(5, true, {user(QStringLiteral("조기타"), 3), user(QStringLiteral("윤기타"), 5)}),
    };
    EXPECT_EQ(TreeSnapshot::fromWidget(*tree), listed);
    EXPECT_EQ(TreeSnapshot::fromWidget(*tree), TreeSnapshot::fromModel(form.tree()));
    EXPECT_EQ(w.treeItem(QStringLiteral("M123")), nullptr) << "the bot has no node";
    EXPECT_TRUE(tree->findItems(QStringLiteral("잡서버"), Qt::MatchExactly | Qt::MatchRecursive).isEmpty());
    // Every user item shows the icon of its image number.
    for (const Record& r : Users) {
        const QTreeWidgetItem* item = w.treeItem(QStringLiteral("M%1").arg(r.id));
        ASSERT_NE(item, nullptr) << r.id;
        EXPECT_EQ(item->icon(0).cacheKey(), ImageList1::icon(3 + r.status).cacheKey()) << r.id;
    }

    const QString shot = artifactPath(QStringLiteral("gui-mainwindow.png"));
    QFile::remove(shot);
    ASSERT_TRUE(w.grab().save(shot));
    EXPECT_GT(QFileInfo(shot).size(), 0);

    // Presence: one goes offline, one comes online, one changes to another state.
    const auto imageOf = [&](int id) {
        const QTreeWidgetItem* item = w.treeItem(QStringLiteral("M%1").arg(id));
        return item ? item->data(0, Qt::UserRole).toInt() : -1;
    };
    server.send(11, QStringLiteral("204"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return lblCnt->text() == QStringLiteral("4명"); }, 5000))
        << lblCnt->text().toStdString();
    EXPECT_EQ(imageOf(204), 3);

    server.send(10, QStringLiteral("205;127.0.0.1;0"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return lblCnt->text() == QStringLiteral("5명"); }, 5000))
        << lblCnt->text().toStdString();
    EXPECT_EQ(imageOf(205), 4);

    server.send(13, QStringLiteral("207;3"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return imageOf(207) == 6; }, 5000)) << imageOf(207);
    EXPECT_EQ(w.treeItem(QStringLiteral("M207"))->icon(0).cacheKey(), ImageList1::icon(6).cacheKey());
    EXPECT_EQ(lblCnt->text(), QStringLiteral("5명"));
    EXPECT_EQ(TreeSnapshot::fromWidget(*tree), TreeSnapshot::fromModel(form.tree()));

    // The server goes away: the tree is back to the bare groups, the count keeps its last text.
    server.drop();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return tree->topLevelItemCount() == 6 && !w.treeItem(QStringLiteral("M201")); }, 5000));
    EXPECT_EQ(TreeSnapshot::fromWidget(*tree), bareGroups());
    EXPECT_EQ(lblCnt->text(), QStringLiteral("5명"));
    EXPECT_EQ(lblMyInfo->text(), QStringLiteral("[기술개발팀] 잡서버"));
}

TEST(MainWindowTest, HasTheControlsOfTheMainWindow) {
    frmMain form(0);
    MainWindow w(form);
    w.show();

    EXPECT_EQ(w.windowTitle(), form.caption());
    auto* tree = control<QTreeWidget>(w, "TreeView1");
    ASSERT_NE(tree, nullptr);
    EXPECT_TRUE(tree->isHeaderHidden());
    EXPECT_TRUE(tree->rootIsDecorated());
    EXPECT_EQ(tree->editTriggers(), QAbstractItemView::NoEditTriggers);
    EXPECT_EQ(control<QLabel>(w, "lblMyInfo")->text(), QStringLiteral("MyInfo"));
    EXPECT_EQ(control<QLabel>(w, "lblCnt")->text(), QStringLiteral("00명"));

    const struct {
        const char* name;
        QString caption;
        bool enabled;
    } buttons[] = {
        {"cmdSend", QStringLiteral("받은 폴더"), true},
        {"cmdClose", QStringLiteral("닫기"), true},
        {"cmdTest", QStringLiteral("test2"), true},
    };
    for (const auto& b : buttons) {
        auto* button = control<QPushButton>(w, b.name);
        ASSERT_NE(button, nullptr);
        EXPECT_EQ(button->text(), b.caption) << b.name;
        EXPECT_EQ(button->isEnabled(), b.enabled) << b.name;
        EXPECT_TRUE(button->isVisible()) << b.name;
    }

    auto* menu = control<QMenu>(w, "mnuFile");
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(menu->title(), QStringLiteral("메뉴(&M)"));
    EXPECT_TRUE(w.menuBar()->actions().contains(menu->menuAction()));
    auto* exit = control<QAction>(w, "mnuFile_Exit");
    ASSERT_NE(exit, nullptr);
    EXPECT_EQ(exit->text(), QStringLiteral("종료(&X)"));
    EXPECT_TRUE(menu->actions().contains(exit));

    // Labels above the tree, buttons below it.
    const int treeTop = tree->mapTo(&w, QPoint(0, 0)).y();
    const int treeBottom = treeTop + tree->height();
    EXPECT_LT(control<QLabel>(w, "lblMyInfo")->mapTo(&w, QPoint(0, 0)).y(), treeTop);
    EXPECT_GE(control<QPushButton>(w, "cmdClose")->mapTo(&w, QPoint(0, 0)).y(), treeBottom);
}

// Whatever closes the window or calls the form's close handlers, the form unloads exactly once and the window
// goes away.
TEST(MainWindowTest, ClosingUnloadsTheFormOnce) {
    const struct {
        const char* way;
        std::function<void(MainWindow&)> close;
    } ways[] = {
        {"window closed", [](MainWindow& w) { w.close(); }},
        {"닫기 clicked",
         [](MainWindow& w) { w.findChild<QPushButton*>(QStringLiteral("cmdClose"))->click(); }},
        {"종료 chosen",
         [](MainWindow& w) { w.findChild<QAction*>(QStringLiteral("mnuFile_Exit"))->trigger(); }},
    };
    for (const auto& way : ways) {
        SCOPED_TRACE(way.way);
        frmMain form(0);
        MainWindow w(form);
        w.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
        QSignalSpy unloaded(&form, &frmMain::unloaded);

        way.close(w);
        EXPECT_EQ(unloaded.count(), 1);
        EXPECT_FALSE(w.isVisible());

        // Closing an unloaded window again does not unload the form a second time.
        w.close();
        EXPECT_EQ(unloaded.count(), 1);
    }
}

// "받은 폴더" opens the received-files folder in the desktop's file browser.
TEST(MainWindowTest, ReceivedFolderButtonOpensTheFolder) {
    QTemporaryDir bin;
    ASSERT_TRUE(bin.isValid());
    const QString record = bin.filePath(QStringLiteral("opened.txt"));
    TestSupport::writeScript(
        bin.filePath(QStringLiteral("xdg-open")),
        QStringLiteral("printf '%s' \"$1\" > '%1.tmp' && mv '%1.tmp' '%1'\n").arg(record).toUtf8());

    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(bin.path()) + ':' + path);
    frmMain form(0);
    MainWindow w(form);
    w.show();
    w.findChild<QPushButton*>(QStringLiteral("cmdSend"))->click();
    const bool opened = QTest::qWaitFor([&] { return QFileInfo::exists(record); }, 5000);
    qputenv("PATH", path);

    ASSERT_TRUE(opened);
    QFile file(record);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(QString::fromUtf8(file.readAll()), ProgramInfo::folder() + QStringLiteral("/RECVFILE"));
}

// Every change of the contact tree reaches the widget, whether it came before the window or after it.
TEST(MainWindowTest, MirrorsEveryChangeOfTheContactTree) {
    frmMain form(0);
    ContactTree& model = form.tree();
    form.InitUserTree();
    model.add(QStringLiteral("G3"), QStringLiteral("M1"), QStringLiteral("가"), 4);
    model.expand(QStringLiteral("G3"));

    MainWindow w(form);
    w.show();
    auto* tree = control<QTreeWidget>(w, "TreeView1");
    ASSERT_NE(tree, nullptr);
    EXPECT_EQ(TreeSnapshot::fromWidget(*tree), TreeSnapshot::fromModel(model)) << "state before the window";
    EXPECT_TRUE(tree->topLevelItem(2)->isExpanded());

    const struct {
        const char* change;
        std::function<void()> apply;
    } steps[] = {
        {"user added under a collapsed group",
         [&] { model.add(QStringLiteral("G1"), QStringLiteral("M2"), QStringLiteral("나"), 3); }},
        {"user added under an expanded group",
         [&] { model.add(QStringLiteral("G3"), QStringLiteral("M3"), QStringLiteral("다"), 5); }},
        {"group expanded", [&] { model.expand(QStringLiteral("G1")); }},
        {"image changed", [&] { model.setImage(QStringLiteral("M1"), 3); }},
        {"image changed to another state", [&] { model.setImage(QStringLiteral("M2"), 9); }},
        {"unknown key expanded", [&] { model.expand(QStringLiteral("M404")); }},
        {"cleared", [&] { model.clear(); }},
        {"groups again", [&] { form.InitUserTree(); }},
        {"user after the groups came back",
         [&] { model.add(QStringLiteral("G0"), QStringLiteral("M1"), QStringLiteral("가"), 4); }},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.change);
        step.apply();
        EXPECT_EQ(TreeSnapshot::fromWidget(*tree), TreeSnapshot::fromModel(model));
        for (const TreeNode& node : model.nodes()) {
            const QTreeWidgetItem* item = w.treeItem(node.key);
            ASSERT_NE(item, nullptr) << node.key.toStdString();
            EXPECT_EQ(item->text(0), node.text);
            EXPECT_EQ(item->icon(0).cacheKey(), ImageList1::icon(node.image).cacheKey());
        }
    }
    EXPECT_EQ(w.treeItem(QStringLiteral("M2")), nullptr) << "items of a cleared tree are forgotten";
}

// A company-sized list: 20,000 users arrive one node at a time, and a second window starts from all of them.
TEST(MainWindowTest, MirrorsTwentyThousandUsers) {
    constexpr int UserCount = 20000;
    frmMain form(0);
    ContactTree& model = form.tree();
    form.InitUserTree();
    MainWindow w(form);
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    auto* tree = control<QTreeWidget>(w, "TreeView1");
    ASSERT_NE(tree, nullptr);

    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < UserCount; ++i)
        model.add(QStringLiteral("G%1").arg(i % 6), QStringLiteral("M%1").arg(1000 + i),
                  QStringLiteral("사용자%1").arg(i), 3 + i % 3);
    for (int g = 0; g < 6; ++g)
        model.expand(QStringLiteral("G%1").arg(g));
    for (int i = 0; i < UserCount; i += 7)
        model.setImage(QStringLiteral("M%1").arg(1000 + i), 4);
    QCoreApplication::processEvents();
    w.repaint();
    const qint64 incrementalMs = clock.elapsed();

    int items = 0;
    for (int g = 0; g < tree->topLevelItemCount(); ++g)
        items += 1 + tree->topLevelItem(g)->childCount();
    EXPECT_EQ(items, 6 + UserCount);
    EXPECT_EQ(TreeSnapshot::fromWidget(*tree), TreeSnapshot::fromModel(model));

    clock.restart();
    MainWindow second(form);
    second.show();
    QCoreApplication::processEvents();
    second.repaint();
    const qint64 initialMs = clock.elapsed();
    EXPECT_EQ(TreeSnapshot::fromWidget(*control<QTreeWidget>(second, "TreeView1")),
              TreeSnapshot::fromModel(model));

    clock.restart();
    form.InitUserTree();
    QCoreApplication::processEvents();
    const qint64 resetMs = clock.elapsed();
    EXPECT_EQ(TreeSnapshot::fromWidget(*tree), bareGroups());

    // Linear work takes well under a second here; a search of the tree per node takes many.
    std::printf("20000 users: incremental %lld ms, initial %lld ms, reset %lld ms\n", incrementalMs,
                initialMs, resetMs);
    EXPECT_LT(incrementalMs, 4000);
    EXPECT_LT(initialMs, 4000);
    EXPECT_LT(resetMs, 4000);
}
