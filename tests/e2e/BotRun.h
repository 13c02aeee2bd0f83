#pragma once

// The built ClientZEP_job in a program folder of its own, against messenger-sim: the harness of the
// end-to-end tests.

#include "AnsiCodec.h"
#include "TestSupport.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

namespace {

using TestSupport::writeFile;

// One line the simulator printed for a packet from the bot: "BOT <code> <header> <escaped body>".
struct BotLine {
    QString code, header, body;
    bool operator==(const BotLine&) const = default;
};

inline void PrintTo(const BotLine& l, std::ostream* os) {
    *os << "BOT " << l.code.toStdString() << " " << l.header.toStdString() << " " << l.body.toStdString();
}

// A program folder with its own copy of the bot, a simulator whose port it is told, and both processes.
class BotRun {
public:
    // `extraEnvironment` is added to the bot's environment (a preloaded libfaketime, say).
    // `besideProgram` are further files copied into the program folder; `deployment` are further lines of its
    // deployment.ini.
    explicit BotRun(const QStringList& simArguments, const QByteArray& script,
                    const QProcessEnvironment& extraEnvironment = {}, const QStringList& besideProgram = {},
                    const QByteArray& deployment = {}) {
        const QString exe = folder.path() + "/ClientZEP_job";
        QFile::copy(QStringLiteral(ZEPJOB_BOT_BINARY), exe);
        for (const QString& file : besideProgram)
            QFile::copy(file, folder.path() + "/" + QFileInfo(file).fileName());
        writeFile(folder.path() + "/sim-script.txt", script);

        sim.setProgram(QStringLiteral(ZEPJOB_SIM_BINARY));
        sim.setArguments(QStringList{"--port", "0", "--port-file", folder.path() + "/sim-port", "--script",
                                     folder.path() + "/sim-script.txt", "--keepalive-ms", "0"} +
                         simArguments);
        sim.start();
        EXPECT_TRUE(sim.waitForStarted());
        QString port;
        for (int i = 0; i < 500 && port.isEmpty(); ++i) {
            QThread::msleep(10);
            QFile f(folder.path() + "/sim-port");
            if (f.open(QIODevice::ReadOnly))
                port = QString::fromLatin1(f.readAll());
        }
        EXPECT_FALSE(port.isEmpty());
        writeFile(folder.path() + "/deployment.ini",
                  "[Deployment]\r\nMessengerPort=" + port.toLatin1() + "\r\n" + deployment);

        bot.setProgram(exe);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("ZEPJOB_HEADLESS", "1");
        // A test run from a service must not make the bot believe it is one.
        env.remove("INVOCATION_ID");
        env.remove("NOTIFY_SOCKET");
        env.insert(extraEnvironment);
        bot.setProcessEnvironment(env);
        bot.start();
        EXPECT_TRUE(bot.waitForStarted());
    }

    ~BotRun() {
        for (QProcess* p : {&bot, &sim}) {
            if (p->state() != QProcess::NotRunning) {
                p->kill();
                p->waitForFinished();
            }
        }
    }

    // Waits for the simulator's script to end and returns its exit code.
    int finishScript(int ms = 60000) {
        EXPECT_TRUE(sim.waitForFinished(ms)) << "the simulator's script did not end";
        simOutput = QString::fromUtf8(sim.readAllStandardOutput());
        bot.kill();
        bot.waitForFinished();
        botOutput = QString::fromUtf8(bot.readAllStandardError());
        return sim.exitCode();
    }

    QList<BotLine> botPackets() const {
        QList<BotLine> lines;
        for (const QString& line : simOutput.split('\n')) {
            if (!line.startsWith("BOT "))
                continue;
            const QStringList parts = line.mid(4).split(' ');
            lines.append({parts.value(0), parts.value(1), line.section(' ', 3)});
        }
        return lines;
    }

    QStringList errorLog() const {
        QFile f(folder.path() + "/ErrorLog.txt");
        if (!f.open(QIODevice::ReadOnly))
            return {};
        return AnsiCodec::toUnicode(f.readAll()).split("\r\n", Qt::SkipEmptyParts);
    }

    QTemporaryDir folder;
    QProcess sim, bot;
    QString simOutput, botOutput;
};

inline QString escaped(QString text) {
    return text.replace("\\", "\\\\").replace("\r", "\\r").replace("\n", "\\n").replace("\t", "\\t");
}

// Runs the bot with libfaketime preloaded: `setting` is libfaketime's FAKETIME text ("+0 x10",
// "@2026-12-09 09:04:50 x10"). Qt's timers follow, because the monotonic clock is faked too.
inline QProcessEnvironment fakedTime(const QString& setting) {
    QProcessEnvironment faketime;
    faketime.insert("LD_PRELOAD", QStringLiteral(ZEPJOB_FAKETIME_LIBRARY));
    faketime.insert("FAKETIME", setting);
    // A sanitizer build must accept a library loaded ahead of its runtime.
    faketime.insert("ASAN_OPTIONS", qEnvironmentVariable("ASAN_OPTIONS") + ":verify_asan_link_order=0");
    EXPECT_TRUE(QFile::exists(faketime.value("LD_PRELOAD")))
        << "libfaketime is missing: run scripts/setup.sh";
    return faketime;
}

} // namespace
