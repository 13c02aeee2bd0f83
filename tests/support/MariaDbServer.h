#pragma once

#include "Deployment.h"
#include "ProgramInfo.h"
#include "TestSupport.h"

#include <QFile>
#include <QString>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <mysql.h>

// The MariaDB server the test fixture started, in the folder mariadb-fixture of ZEPJOB_FIXTURES.
namespace MariaDbServer {

inline QString folder() {
    return TestSupport::fixtureFolder("mariadb-fixture");
}

inline quint16 port() {
    return TestSupport::fixturePort(folder());
}

// Makes the program folder's deployment.ini dial this server for "port 3306".
inline void pointDeploymentAt(const QString& programFolder) {
    QFile ini(programFolder + QStringLiteral("/deployment.ini"));
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ini.write(QStringLiteral("[Deployment]\r\nMySqlPort=%1\r\n").arg(port()).toLatin1());
}

// A root session over the server's socket, independent of the code under test: it prepares tables, reads
// back what was stored and kills connections.
class Admin {
public:
    Admin() : Admin(folder() + QStringLiteral("/mysqld.sock")) {}
    // A root session over the socket of another server (one a test started for itself).
    explicit Admin(const QString& socketPath) {
        mysql_init(&mysql_);
        const QByteArray socket = socketPath.toLocal8Bit();
        connected_ = mysql_real_connect(&mysql_, nullptr, "root", nullptr, nullptr, 0, socket.constData(), 0);
        mysql_set_character_set(&mysql_, "utf8mb4");
    }
    ~Admin() { mysql_close(&mysql_); }
    Admin(const Admin&) = delete;
    Admin& operator=(const Admin&) = delete;

    bool connected() const { return connected_ != nullptr; }

    // Runs a statement; returns the first column of the first row as UTF-8 text, if any.
    QString exec(const QString& sql) {
        const QByteArray text = sql.toUtf8();
        if (mysql_real_query(&mysql_, text.constData(), text.size()) != 0) {
            ADD_FAILURE() << "admin: " << mysql_error(&mysql_) << " in " << text.constData();
            return QString();
        }
        QString first;
        if (MYSQL_RES* result = mysql_store_result(&mysql_)) {
            if (MYSQL_ROW row = mysql_fetch_row(result); row != nullptr && row[0] != nullptr)
                first = QString::fromUtf8(row[0]);
            mysql_free_result(result);
        }
        return first;
    }

    // ---- the jobs' tables; rows are SQL value lists ("(1, 'a'), (2, 'b')"), an empty list leaves none ----

    // Replaces every row of `table`.
    void setRows(const QString& table, const QString& rows) {
        exec(QStringLiteral("DELETE FROM ") + table);
        if (!rows.isEmpty())
            exec(QStringLiteral("INSERT INTO %1 VALUES %2").arg(table, rows));
    }

    // The disk-space log: the measured servers (mseq, svrip, log_date) and their drives (mseq, drvname,
    // freesize, diffsize).
    void setDiskSpace(const QString& servers = {}, const QString& drives = {}) {
        setRows(QStringLiteral("qz_logs.hddfree_t"), drives);
        setRows(QStringLiteral("qz_logs.hddfree_m"), servers);
    }

    // The disk space measured on the evening of Tuesday 2026-12-08 (and one row of the day before): a drive
    // in danger, one with a warning and one that is fine on two servers.
    void setDiskSpaceOfDecember8() {
        setDiskSpace(QStringLiteral("(1, '127.0.0.10', '2026-12-08'), (2, '127.0.0.11', '2026-12-08'), "
                                    "(3, '127.0.0.10', '2026-12-07')"),
                     QStringLiteral("(1, 'D:', '4500', '1000'), (1, 'C:', '52000', '1000'), "
                                    "(2, 'C:', '2999', '0'), (3, 'C:', '1', '1')"));
    }

    // The web host's product file names (idx, name), which the "_2" removal and the web update read.
    void setFileNames(const QString& rows) { setRows(QStringLiteral("webhost.file_rname"), rows); }

    // The product pages the web update writes: cate3 and cate3_info (idx, DemoDownFile).
    void setProductPages(const QString& cate3 = {}, const QString& cate3Info = {}) {
        setRows(QStringLiteral("webhost.cate3"), cate3);
        setRows(QStringLiteral("webhost.cate3_info"), cate3Info);
    }

    // No file names, and each of the five product pages of both tables named "old".
    void setOldProductPages() {
        setFileNames({});
        setProductPages(QStringLiteral("(48,'old'),(49,'old'),(52,'old'),(86,'old'),(87,'old')"),
                        QStringLiteral("(62,'old'),(63,'old'),(65,'old'),(88,'old'),(89,'old')"));
    }

    // Every table the jobs read or write, empty.
    void emptyJobTables() {
        setDiskSpace();
        setFileNames({});
        setProductPages();
    }

private:
    MYSQL mysql_{};
    MYSQL* connected_ = nullptr;
};

} // namespace MariaDbServer

// A suite against the fixture's server: one temporary program folder whose deployment.ini dials it, and a
// root session for preparing and checking tables.
class MariaDbTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ASSERT_NE(MariaDbServer::port(), 0)
            << "no MariaDB fixture in " << MariaDbServer::folder().toStdString();
        folder_ = new QTemporaryDir;
        ProgramInfo::setFolder(folder_->path());
        MariaDbServer::pointDeploymentAt(folder_->path());
    }
    static void TearDownTestSuite() {
        delete folder_;
        folder_ = nullptr;
    }
    void SetUp() override { ASSERT_TRUE(admin.connected()); }

    static QString folder() { return folder_->path(); }
    // The program folder's deployment.ini as a job run reads it.
    static Deployment deployed() { return Deployment::load(folder()); }

    MariaDbServer::Admin admin;

private:
    static inline QTemporaryDir* folder_ = nullptr;
};
