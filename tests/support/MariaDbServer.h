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
