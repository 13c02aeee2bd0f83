#pragma once

// Servers a test starts for itself, each in a folder of its own, so that it may kill, freeze and restart them
// without touching the servers other tests share: MariaDB (from a prepared data folder), the FTP server and
// the HTTP server of tests/integration.

#include "MariaDbServer.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>
#include <csignal>
#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

namespace OwnServers {

using TestSupport::readAll;

// A signal to a process this test started.
inline void signalProcess(const QProcess& process, int signal) {
    ASSERT_NE(process.processId(), 0);
    ASSERT_EQ(::kill(pid_t(process.processId()), signal), 0);
}

inline void endProcess(QProcess& process) {
    if (process.state() != QProcess::NotRunning) {
        ::kill(pid_t(process.processId()), SIGCONT);
        process.kill();
        process.waitForFinished();
    }
}

// A MariaDB server of the test's own: a copy of the data folder that ZEPJOB_MARIADB_TEMPLATE names (the
// databases and accounts of the jobs, prepared once by a CTest fixture), served on a free loopback port.
class MariaDb {
public:
    MariaDb() = default;
    ~MariaDb() { endProcess(server_); }
    MariaDb(const MariaDb&) = delete;
    MariaDb& operator=(const MariaDb&) = delete;

    // Copies the prepared data and starts the server; false (with a test failure) when it does not come up.
    bool start() {
        const QString templateDir = qEnvironmentVariable("ZEPJOB_MARIADB_TEMPLATE");
        if (templateDir.isEmpty() || !QDir(templateDir + QStringLiteral("/data")).exists()) {
            ADD_FAILURE() << "no prepared MariaDB data folder in ZEPJOB_MARIADB_TEMPLATE ("
                          << templateDir.toStdString() << ")";
            return false;
        }
        if (QProcess::execute(QStringLiteral("cp"),
                              {QStringLiteral("-a"), templateDir + QStringLiteral("/data"), data()}) != 0) {
            ADD_FAILURE() << "cannot copy the prepared MariaDB data";
            return false;
        }
        // A port taken by someone else between the probe and the server's bind: try another.
        for (int attempt = 0; attempt < 3; ++attempt) {
            port_ = TestSupport::freePort();
            if (launch())
                return true;
        }
        ADD_FAILURE() << "mariadbd did not start:\n" << readAll(folder_.path() + "/error.log").toStdString();
        return false;
    }

    // SIGKILL, as a crash or the OOM killer would end it: no shutdown, connections cut where they stand.
    void kill() {
        server_.kill();
        server_.waitForFinished();
    }

    // The same data and the same port again; InnoDB recovers what the kill left.
    bool restart() {
        if (launch())
            return true;
        ADD_FAILURE() << "mariadbd did not start again:\n"
                      << readAll(folder_.path() + "/error.log").toStdString();
        return false;
    }

    quint16 port() const { return port_; }
    QString socket() const { return folder_.path() + QStringLiteral("/mysqld.sock"); }

private:
    QString data() const { return folder_.path() + QStringLiteral("/data"); }

    bool launch() {
        endProcess(server_);
        const passwd* user = getpwuid(geteuid());
        server_.setProgram(QStringLiteral("mariadbd"));
        server_.setArguments(
            {QStringLiteral("--no-defaults"), QStringLiteral("--datadir=") + data(),
             QStringLiteral("--tmpdir=") + folder_.path(),
             QStringLiteral("--user=") + QString::fromLocal8Bit(user ? user->pw_name : "root"),
             QStringLiteral("--bind-address=127.0.0.1"), QStringLiteral("--port=%1").arg(port_),
             QStringLiteral("--socket=") + socket(),
             QStringLiteral("--pid-file=") + folder_.path() + QStringLiteral("/mysqld.pid"),
             QStringLiteral("--log-error=") + folder_.path() + QStringLiteral("/error.log"),
             QStringLiteral("--skip-log-bin"), QStringLiteral("--innodb-buffer-pool-size=32M")});
        server_.setStandardInputFile(QProcess::nullDevice());
        server_.setStandardOutputFile(folder_.path() + QStringLiteral("/mysqld.out"), QIODevice::Append);
        server_.setStandardErrorFile(folder_.path() + QStringLiteral("/mysqld.out"), QIODevice::Append);
        server_.start();
        if (!server_.waitForStarted())
            return false;
        return TestSupport::waitUntil(
                   [this] {
                       if (server_.state() == QProcess::NotRunning)
                           return true;
                       QTcpServer probe; // the TCP port is what the bot dials
                       return !probe.listen(QHostAddress::LocalHost, port_) &&
                              MariaDbServer::Admin(socket()).connected();
                   },
                   60000, 20) &&
               server_.state() == QProcess::Running;
    }

    QTemporaryDir folder_;
    QProcess server_;
    quint16 port_ = 0;
};

// One of the Python servers of tests/integration (`server.py DIR [PORT]`, writing DIR/port once it listens),
// run in a folder of the test's own.
class PythonServer {
public:
    explicit PythonServer(const QString& script) : script_(script) {}
    ~PythonServer() { endProcess(server_); }
    PythonServer(const PythonServer&) = delete;
    PythonServer& operator=(const PythonServer&) = delete;

    // Starts on a free port, or again on the port of the previous start.
    bool start() {
        endProcess(server_);
        QFile::remove(folder() + QStringLiteral("/port"));
        QStringList arguments = {script_, folder()};
        if (port_ != 0)
            arguments << QString::number(port_);
        server_.setProgram(QStringLiteral("/usr/bin/python3")); // the interpreter that sees pyftpdlib
        server_.setArguments(arguments);
        server_.setStandardInputFile(QProcess::nullDevice());
        server_.setStandardOutputFile(folder() + QStringLiteral("/server.log"), QIODevice::Append);
        server_.setStandardErrorFile(folder() + QStringLiteral("/server.log"), QIODevice::Append);
        server_.start();
        const bool up = server_.waitForStarted() && TestSupport::waitUntil(
                                                        [this] {
                                                            return server_.state() == QProcess::NotRunning ||
                                                                   !readAll(folder() + "/port").isEmpty();
                                                        },
                                                        15000, 20);
        port_ = quint16(readAll(folder() + QStringLiteral("/port")).trimmed().toUInt());
        if (!up || port_ == 0 || server_.state() != QProcess::Running) {
            ADD_FAILURE() << "the server " << script_.toStdString() << " did not start:\n"
                          << readAll(folder() + "/server.log").toStdString();
            return false;
        }
        return true;
    }

    void kill() {
        server_.kill();
        server_.waitForFinished();
    }
    void freeze() { signalProcess(server_, SIGSTOP); }
    void resume() { signalProcess(server_, SIGCONT); }
    bool running() const { return server_.state() == QProcess::Running; }
    // "T" while stopped.
    QByteArray state() const { return TestSupport::processState(server_.processId()); }

    quint16 port() const { return port_; }
    QString folder() const { return folder_.path(); }

private:
    QString script_;
    QTemporaryDir folder_;
    QProcess server_;
    quint16 port_ = 0;
};

// The FTP server of the jobs: the home of qzc1 is webHome(), which the test fills and reads directly.
class Ftp : public PythonServer {
public:
    Ftp() : PythonServer(QStringLiteral(ZEPJOB_FTP_SERVER_SCRIPT)) {}
    QString webHome() const { return folder() + QStringLiteral("/webhost"); }
    QString download() const { return webHome() + QStringLiteral("/public_html/download"); }
    // Empty files at `paths`, relative to the download folder ("versions/a_2.1.zip").
    void layOutDownloads(const QStringList& paths) const {
        for (const QString& path : paths)
            TestSupport::touch(download() + QLatin1Char('/') + path);
    }
};

// The HTTP server: serves www/ below its folder, logs request paths in requests.log.
class Http : public PythonServer {
public:
    Http() : PythonServer(QStringLiteral(ZEPJOB_HTTP_SERVER_SCRIPT)) {}

    QString host() const { return QStringLiteral("127.0.0.1:%1").arg(port()); }

    // Puts `bytes` at `path` below www/ (folders made as needed).
    void serve(const QString& path, const QByteArray& bytes) const {
        const QString local = folder() + QStringLiteral("/www/") + path;
        QDir().mkpath(local.left(local.lastIndexOf(QLatin1Char('/'))));
        TestSupport::writeFile(local, bytes);
    }
    void remove(const QString& path) const { QFile::remove(folder() + QStringLiteral("/www/") + path); }

    // The paths requested since the last call.
    QStringList takeRequests() const {
        const QString log = folder() + QStringLiteral("/requests.log");
        const QStringList lines =
            QString::fromUtf8(readAll(log)).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QFile::remove(log);
        return lines;
    }
};

} // namespace OwnServers
