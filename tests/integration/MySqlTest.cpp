#include "MariaDbServer.h"
#include "MessageBoxRecorder.h"
#include "ProgramInfo.h"
#include "QStringPrinter.h"
#include "VbError.h"
#include "cMySQL.h"

#include <QTemporaryDir>
#include <atomic>
#include <gtest/gtest.h>
#include <thread>

namespace {

const QString Host = QStringLiteral("127.0.0.1");
const QString User = QStringLiteral("zeptest");
const QString Password = QStringLiteral("zeptest-pw");
const QString Database = QStringLiteral("zeptest");

const QString NotFoundLines = QStringLiteral("\r\n\r\n데이터베이스 서버를 찾을 수 없습니다.\r\n"
                                             "인터넷이 연결되어 있는지 확인을 해 주세요.");

// What the client library itself says about a connection attempt, asked without the wrapper.
QString rawConnectError(const char* password, unsigned port) {
    MYSQL mysql;
    mysql_init(&mysql);
    QString text;
    if (mysql_real_connect(&mysql, "127.0.0.1", "zeptest", password, "zeptest", port, nullptr, 0) == nullptr)
        text = QStringLiteral("Error %1 %2")
                   .arg(mysql_errno(&mysql))
                   .arg(QString::fromUtf8(mysql_error(&mysql)));
    mysql_close(&mysql);
    return text;
}

class MySqlTest : public MariaDbTest {
protected:
    // A wrapper connected the way the jobs connect: port 3306, which dials the fixture's port.
    static std::unique_ptr<cMySQL> connected() {
        auto db = std::make_unique<cMySQL>();
        db->setUsualPort(deployed().MySqlPort);
        EXPECT_TRUE(db->real_connect(Host, User, Password, Database, 3306, QString(), 0, false));
        return db;
    }

    // Every value of every record, walking the table as the jobs do.
    static QList<QStringList> rows(Recordset& rs) {
        QList<QStringList> all;
        while (!rs.Eof()) {
            QStringList row;
            for (int i = 0; i < rs.Fields().Count(); ++i)
                row << rs.Fields().Item(i).Value();
            all << row;
            rs.MoveNext();
        }
        return all;
    }

    static QStringList names(const Recordset& rs) {
        QStringList all;
        for (int i = 0; i < rs.Fields().Count(); ++i)
            all << rs.Fields().Item(i).Name();
        return all;
    }

    MessageBoxRecorder boxes;
};

TEST_F(MySqlTest, ConnectFailureShowsItsBoxOnlyWhenAsked) {
    const QString denied = rawConnectError("wrong", MariaDbServer::port());
    const QString refused = rawConnectError("zeptest-pw", 1);
    ASSERT_TRUE(denied.startsWith("Error 1045 Access denied for user 'zeptest'@")) << denied.toStdString();
    ASSERT_TRUE(refused.startsWith("Error 2002 ")) << refused.toStdString();

    struct Case {
        const char* name;
        QString password;
        int port;
        bool noErrMsg;
        QStringList expected;
    };
    const Case cases[] = {
        {"bad password, silent", QStringLiteral("wrong"), 3306, true, {}},
        {"bad password, shown", QStringLiteral("wrong"), 3306, false, {denied + NotFoundLines}},
        {"nobody listening, silent", Password, 1, true, {}},
        {"nobody listening, shown", Password, 1, false, {refused + NotFoundLines}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        boxes.texts.clear();
        cMySQL db;
        db.setUsualPort(deployed().MySqlPort);
        EXPECT_FALSE(db.real_connect(Host, User, c.password, Database, c.port, QString(), 0, c.noErrMsg));
        EXPECT_EQ(boxes.texts, c.expected);
    }
}

TEST_F(MySqlTest, EmptyArgumentsKeepStoredPropertiesAndPort3306IsNeverStored) {
    cMySQL db;
    db.setUsualPort(deployed().MySqlPort);
    EXPECT_EQ(db.port(), 0);
    ASSERT_TRUE(db.real_connect(Host, User, Password, Database, 3306, QString(), 0, true));
    EXPECT_EQ(db.port(), 0);
    EXPECT_EQ(db.host(), Host);
    EXPECT_EQ(db.user(), User);
    EXPECT_EQ(db.db(), Database);

    // Every argument empty: the stored ones connect again.
    ASSERT_TRUE(db.real_connect(QString(), QString(), QString(), QString(), 3306, QString(), 0, true));

    // A port other than 3306 is stored and dialled as given; 3306 afterwards dials the site's port again and
    // leaves the stored one alone.
    EXPECT_FALSE(db.real_connect(QString(), QString(), QString(), QString(), 1, QString(), 0, true));
    EXPECT_EQ(db.port(), 1);
    EXPECT_TRUE(db.real_connect(QString(), QString(), QString(), QString(), 3306, QString(), 0, true));
    EXPECT_EQ(db.port(), 1);
    EXPECT_EQ(db.user(), User);
    EXPECT_TRUE(boxes.texts.isEmpty());

    db.setUser(QStringLiteral("somebody"));
    EXPECT_EQ(db.user(), QStringLiteral("somebody"));
    EXPECT_EQ(db.ClientFlags(), 0);
}

TEST_F(MySqlTest, SelectGivesATablePositionedOnItsFirstRecord) {
    admin.exec("DROP TABLE IF EXISTS zeptest.shapes");
    admin.exec("CREATE TABLE zeptest.shapes (id INT, label VARCHAR(20), note VARCHAR(10))");
    admin.exec(
        "INSERT INTO zeptest.shapes VALUES (1,'one','a'),(2,'two',NULL),(3,'three','c'),(4,'four','d')");
    auto db = connected();

    struct Case {
        const char* sql;
        QList<QStringList> expected;
    };
    const Case cases[] = {
        {"SELECT id, label FROM shapes WHERE id > 10", {}},
        {"SELECT id, label FROM shapes WHERE id = 2", {{"2", "two"}}},
        {"SELECT id, label, note FROM shapes ORDER BY id",
         {{"1", "one", "a"}, {"2", "two", ""}, {"3", "three", "c"}, {"4", "four", "d"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sql);
        auto rs = db->query(QString::fromLatin1(c.sql));
        ASSERT_TRUE(rs);
        EXPECT_EQ(rs->State(), Recordset::adStateOpen);
        EXPECT_EQ(rs->RecordCount(), c.expected.size());
        EXPECT_EQ(rs->Eof(), c.expected.isEmpty());
        if (!c.expected.isEmpty()) {
            EXPECT_EQ(rs->Fields().Item(QStringLiteral("LABEL")).Value(), c.expected[0][1]);
        }
        EXPECT_EQ(rows(*rs), c.expected);
        Recordset::CloseRecordset(rs);
        EXPECT_FALSE(rs);
    }

    // Columns carry the declared width the server reports for this connection's character set.
    auto rs = db->query(QStringLiteral("SELECT label FROM shapes"));
    ASSERT_TRUE(rs);
    EXPECT_EQ(rs->Fields().Item(0).Type(), Recordset::adBSTR);
    EXPECT_EQ(rs->Fields().Item(0).DefinedSize(), 40);
    EXPECT_EQ(db->num_fields(), 1);
    EXPECT_EQ(db->num_rows(), 4);
    db->free_result();
    EXPECT_EQ(db->num_fields(), 0);
    EXPECT_TRUE(boxes.texts.isEmpty());
}

TEST_F(MySqlTest, RepeatedColumnNamesAreQualifiedByTheirTable) {
    admin.exec("DROP TABLE IF EXISTS zeptest.left_t, zeptest.right_t");
    admin.exec("CREATE TABLE zeptest.left_t (id INT, name VARCHAR(10))");
    admin.exec("CREATE TABLE zeptest.right_t (id INT)");
    admin.exec("INSERT INTO zeptest.left_t VALUES (1,'x')");
    admin.exec("INSERT INTO zeptest.right_t VALUES (7)");
    auto db = connected();

    auto rs = db->query(QStringLiteral("SELECT a.id, b.id, a.name FROM left_t a JOIN right_t b"));
    ASSERT_TRUE(rs);
    EXPECT_EQ(names(*rs), QStringList({"a.id", "b.id", "name"}));
    EXPECT_EQ(rs->Fields().Item(QStringLiteral("b.id")).Value(), QStringLiteral("7"));
    EXPECT_TRUE(boxes.texts.isEmpty());

    // The same qualified name twice cannot be told apart: the table refuses it and query shows why.
    for (const char* sql : {"SELECT 1 AS x, 2 AS x", "SELECT a.id, a.id FROM left_t a"}) {
        SCOPED_TRACE(sql);
        boxes.texts.clear();
        EXPECT_FALSE(db->query(QString::fromLatin1(sql)));
        EXPECT_EQ(boxes.texts, QStringList({"Error 3367 (Object already in collection. Cannot append.)"}));
    }
}

TEST_F(MySqlTest, NullAndSurroundingSpacesReadAsTrimmedText) {
    auto db = connected();
    auto rs = db->query(QStringLiteral("SELECT NULL AS n, '  x  ' AS padded, '    ' AS blank, "
                                       "' 한글 ' AS hangul, '\\t tab' AS tab"));
    ASSERT_TRUE(rs);
    EXPECT_EQ(rows(*rs), QList<QStringList>({{"", "x", "", "한글", "\t tab"}}));
}

TEST_F(MySqlTest, StatementsWithoutRowsGiveNothingAndFailuresTheirBox) {
    admin.exec("DROP TABLE IF EXISTS zeptest.upd");
    admin.exec("CREATE TABLE zeptest.upd (id INT AUTO_INCREMENT PRIMARY KEY, v INT)");
    admin.exec("INSERT INTO zeptest.upd (v) VALUES (1),(1),(2)");
    auto db = connected();

    EXPECT_FALSE(db->query(QStringLiteral("UPDATE upd SET v = 5 WHERE v = 1")));
    EXPECT_EQ(db->affected_rows(), 2);
    EXPECT_EQ(db->info(), QStringLiteral("Rows matched: 2  Changed: 2  Warnings: 0"));
    EXPECT_FALSE(db->query(QStringLiteral("INSERT INTO upd (v) VALUES (9)")));
    EXPECT_EQ(db->insert_id(), 4);
    EXPECT_TRUE(boxes.texts.isEmpty());
    EXPECT_EQ(admin.exec("SELECT GROUP_CONCAT(v ORDER BY id) FROM zeptest.upd"), QStringLiteral("5,5,2,9"));

    EXPECT_FALSE(db->query(QStringLiteral("SELEKT 1")));
    ASSERT_EQ(boxes.texts.size(), 1);
    EXPECT_TRUE(boxes.texts[0].startsWith("Error 1064 (You have an error in your SQL syntax;"))
        << boxes.texts[0].toStdString();
    EXPECT_TRUE(boxes.texts[0].endsWith(")"));
}

TEST_F(MySqlTest, ALostConnectionIsReconnectedOnceSilently) {
    admin.exec("DROP TABLE IF EXISTS zeptest.lost");
    admin.exec("CREATE TABLE zeptest.lost (v VARCHAR(5))");
    admin.exec("INSERT INTO zeptest.lost VALUES ('a'),('b')");
    auto db = connected();
    const int first = db->thread_id();

    admin.exec(QStringLiteral("KILL CONNECTION %1").arg(first));
    auto rs = db->query(QStringLiteral("SELECT v FROM lost ORDER BY v"));
    ASSERT_TRUE(rs);
    EXPECT_EQ(rows(*rs), QList<QStringList>({{"a"}, {"b"}}));
    EXPECT_TRUE(boxes.texts.isEmpty());
    EXPECT_NE(db->thread_id(), first);

    // A reconnect that fails shows the connect box, and query gives nothing.
    db->setPassword(QStringLiteral("changed-meanwhile"));
    admin.exec(QStringLiteral("KILL CONNECTION %1").arg(db->thread_id()));
    EXPECT_FALSE(db->query(QStringLiteral("SELECT v FROM lost")));
    ASSERT_EQ(boxes.texts.size(), 1);
    EXPECT_TRUE(boxes.texts[0].startsWith("Error 1045 Access denied")) << boxes.texts[0].toStdString();
    EXPECT_TRUE(boxes.texts[0].endsWith(NotFoundLines));
}

TEST_F(MySqlTest, ASecondLossInOneCallFallsToTheBox) {
    auto db = connected();
    // Another session kills the statement's connection twice: the first time before the reconnect, the second
    // time after the statement was sent again.
    std::atomic<int> kills{0};
    std::thread killer([&] {
        MariaDbServer::Admin watcher;
        for (int i = 0; i < 400 && kills < 2; ++i) {
            const QString id = watcher.exec(QStringLiteral("SELECT id FROM information_schema.processlist "
                                                           "WHERE info LIKE 'SELECT SLEEP(5) AS victim%'"));
            if (!id.isEmpty()) {
                watcher.exec(QStringLiteral("KILL CONNECTION %1").arg(id));
                ++kills;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
    const auto rs = db->query(QStringLiteral("SELECT SLEEP(5) AS victim"));
    killer.join();
    EXPECT_EQ(kills, 2);
    EXPECT_FALSE(rs);
    EXPECT_EQ(boxes.texts, QStringList({"Error 2013 (Lost connection to server during query)"}));
}

TEST_F(MySqlTest, SelectDbRaisesForAMissingDatabaseAndKeepsItsName) {
    auto db = connected();
    try {
        db->select_db(QStringLiteral("no_such_db"));
        FAIL() << "select_db did not raise";
    } catch (const VbError& e) {
        EXPECT_EQ(e.number(), 1049);
        EXPECT_EQ(e.source(), QStringLiteral("cMysql::select_db"));
        EXPECT_EQ(e.description(), QStringLiteral("Unknown database 'no_such_db'"));
    }
    EXPECT_EQ(db->db(), QStringLiteral("no_such_db"));
    db->select_db(Database);
    EXPECT_EQ(db->db(), Database);
}

TEST_F(MySqlTest, HangulTravelsBothWaysUnchanged) {
    admin.exec("DROP TABLE IF EXISTS zeptest.hangul");
    admin.exec("CREATE TABLE zeptest.hangul (id INT, v VARCHAR(40)) CHARACTER SET utf8mb4");
    auto db = connected();
    // Common syllables and ones only CP949's extension has.
    const QString text = QStringLiteral("서버 점검 똠방각하 뷁 ABC");
    EXPECT_FALSE(db->query(QStringLiteral("INSERT INTO hangul VALUES (1, '%1')").arg(text)));
    admin.exec("INSERT INTO zeptest.hangul VALUES (2, '관리자가 쓴 글')");

    // The server holds the real characters, not re-labelled bytes.
    EXPECT_EQ(admin.exec("SELECT v FROM zeptest.hangul WHERE id = 1"), text);
    auto rs = db->query(QStringLiteral("SELECT v FROM hangul WHERE v LIKE '%%똠%%' OR id = 2 ORDER BY id"));
    ASSERT_TRUE(rs);
    EXPECT_EQ(rows(*rs), QList<QStringList>({{text}, {QStringLiteral("관리자가 쓴 글")}}));
    EXPECT_TRUE(boxes.texts.isEmpty());
}

TEST_F(MySqlTest, EscapeStringUsesTheConnectionsOwnRoutine) {
    admin.exec("DROP TABLE IF EXISTS zeptest.names");
    admin.exec("CREATE TABLE zeptest.names (v VARCHAR(60)) CHARACTER SET utf8mb4");
    auto db = connected();

    struct Case {
        QString from;
        int length;
        QString escaped;
    };
    const Case cases[] = {
        {QStringLiteral("it's_2.zip"), 100, QStringLiteral("it\\'s_2.zip")},
        {QStringLiteral("a\\b\"c"), 100, QStringLiteral("a\\\\b\\\"c")},
        {QStringLiteral("한'글"), 100, QStringLiteral("한\\'글")},
        {QStringLiteral("abc'def"), 3, QStringLiteral("abc")},
        {QStringLiteral("x"), -5, QString()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.from.toStdString());
        QString to = QStringLiteral("untouched");
        db->escape_string(to, c.from, c.length);
        EXPECT_EQ(to, c.escaped);
    }

    // What is escaped is stored as it was written.
    const QString name = QStringLiteral("O'Brien 설치'파일_2.exe");
    QString escaped;
    db->escape_string(escaped, name, 200);
    EXPECT_FALSE(db->query(QStringLiteral("INSERT INTO names VALUES ('%1')").arg(escaped)));
    EXPECT_TRUE(boxes.texts.isEmpty());
    EXPECT_EQ(admin.exec("SELECT v FROM zeptest.names"), name);
}

TEST_F(MySqlTest, InformationAndListOperations) {
    admin.exec("DROP TABLE IF EXISTS zeptest.listed");
    admin.exec("CREATE TABLE zeptest.listed (alpha INT, beta VARCHAR(3))");
    auto db = connected();

    EXPECT_FALSE(db->get_server_info().isEmpty());
    EXPECT_FALSE(db->get_client_info().isEmpty());
    EXPECT_EQ(db->get_proto_info(), QStringLiteral("10"));
    EXPECT_TRUE(db->get_host_info().contains(Host)) << db->get_host_info().toStdString();
    EXPECT_TRUE(db->stat().startsWith(QStringLiteral("Uptime: "))) << db->stat().toStdString();
    EXPECT_GT(db->thread_id(), 0);
    EXPECT_NO_THROW(db->ping());

    auto dbs = db->list_dbs(QStringLiteral("zeptes%"));
    ASSERT_TRUE(dbs);
    EXPECT_EQ(rows(*dbs), QList<QStringList>({{"zeptest"}}));
    auto tables = db->list_tables(QStringLiteral("list%"));
    ASSERT_TRUE(tables);
    EXPECT_EQ(rows(*tables), QList<QStringList>({{"listed"}}));
    auto fields = db->list_fields(QStringLiteral("listed"));
    ASSERT_TRUE(fields);
    EXPECT_EQ(names(*fields), QStringList({"alpha", "beta"}));
    EXPECT_TRUE(fields->Eof());
    auto processes = db->list_processes();
    ASSERT_TRUE(processes);
    EXPECT_GE(processes->RecordCount(), 2);

    // A SELECT leaves no information text: that raises.
    db->query(QStringLiteral("SELECT 1"));
    EXPECT_TRUE(db->eof());
    try {
        db->info();
        FAIL() << "info did not raise";
    } catch (const VbError& e) {
        EXPECT_EQ(e.source(), QStringLiteral("cMysql::info"));
    }
    try {
        db->Kill(999999);
        FAIL() << "Kill did not raise";
    } catch (const VbError& e) {
        EXPECT_EQ(e.number(), 1094);
        EXPECT_EQ(e.source(), QStringLiteral("cMysql::kill"));
        EXPECT_EQ(e.description(), QStringLiteral("Unknown thread id: 999999"));
    }

    admin.exec("DROP DATABASE IF EXISTS `zep``odd`");
    db->create_db(QStringLiteral("zep`odd"));
    EXPECT_EQ(admin.exec("SELECT COUNT(*) FROM information_schema.schemata WHERE schema_name = 'zep`odd'"),
              QStringLiteral("1"));
    EXPECT_THROW(db->create_db(QStringLiteral("zep`odd")), VbError);
    admin.exec("DROP DATABASE `zep``odd`");
    EXPECT_TRUE(boxes.texts.isEmpty());
}

TEST_F(MySqlTest, RealQueryRaisesToItsCaller) {
    auto db = connected();
    const QString sql = QStringLiteral("SELECT '한' AS h, 2 AS n");
    auto rs = db->real_query(sql, 25);
    ASSERT_TRUE(rs);
    EXPECT_EQ(rows(*rs), QList<QStringList>({{"한", "2"}}));
    try {
        db->real_query(QStringLiteral("SELEKT"), 6);
        FAIL() << "real_query did not raise";
    } catch (const VbError& e) {
        EXPECT_EQ(e.number(), 1064);
        EXPECT_EQ(e.source(), QStringLiteral("cMysql::real_query"));
    }
    EXPECT_TRUE(boxes.texts.isEmpty());
}

} // namespace
