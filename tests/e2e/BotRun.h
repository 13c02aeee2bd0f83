#pragma once

// The built ClientZEP_job in a program folder of its own, against messenger-sim: the one driver of the
// end-to-end tests. BotFolder sets the stage (the bot's copy, the simulator, deployment.ini); BotRun plays a
// script of the simulator's through; DrivenBot feeds the simulator line by line, so that the test can act
// between two packets and restart the bot in the same folder.

#include "AnsiCodec.h"
#include "FtpServer.h"
#include "MariaDbServer.h"
#include "TestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

using TestSupport::readAll;
using TestSupport::writeFile;

// One line the simulator printed for a packet from the bot: "BOT <code> <header> <escaped body>".
struct BotLine {
    QString code, header, body;
    bool operator==(const BotLine&) const = default;
};

inline void PrintTo(const BotLine& l, std::ostream* os) {
    *os << "BOT " << l.code.toStdString() << " " << l.header.toStdString() << " " << l.body.toStdString();
}

// A program folder with its own copy of the bot, a simulator whose port it is told, and both processes,
// ended with the folder.
class BotFolder {
public:
    // `script` is the simulator's script; a null one leaves the simulator to its standard input.
    // `besideProgram` are further files copied into the program folder; `deployment` are further lines of its
    // deployment.ini.
    BotFolder(const QByteArray& script, const QStringList& simArguments, const QStringList& besideProgram,
              const QByteArray& deployment) {
        EXPECT_TRUE(
            QFile::copy(QStringLiteral(ZEPJOB_BOT_BINARY), inFolder(QStringLiteral("ClientZEP_job"))));
        for (const QString& file : besideProgram)
            EXPECT_TRUE(QFile::copy(file, inFolder(QFileInfo(file).fileName()))) << file.toStdString();
        // The simulator's files stay out of the program folder, whose entries some tests compare.
        const QString portFile = simFolder.path() + QStringLiteral("/port");
        QStringList arguments = {QStringLiteral("--port"),         QStringLiteral("0"),
                                 QStringLiteral("--port-file"),    portFile,
                                 QStringLiteral("--keepalive-ms"), QStringLiteral("0")};
        if (!script.isNull()) {
            writeFile(simFolder.path() + QStringLiteral("/script.txt"), script);
            arguments << QStringLiteral("--script") << simFolder.path() + QStringLiteral("/script.txt");
        }
        sim.setProgram(QStringLiteral(ZEPJOB_SIM_BINARY));
        sim.setArguments(arguments + simArguments);
        sim.start();
        EXPECT_TRUE(sim.waitForStarted());
        EXPECT_TRUE(TestSupport::waitUntil([&] { return !readAll(portFile).isEmpty(); }, 5000, 10))
            << "messenger-sim did not listen";
        writeFile(inFolder(QStringLiteral("deployment.ini")),
                  "[Deployment]\r\nMessengerPort=" + readAll(portFile) + "\r\n" + deployment);
    }

    ~BotFolder() {
        for (QProcess* p : {&bot, &sim}) {
            if (p->state() != QProcess::NotRunning) {
                p->kill();
                p->waitForFinished();
            }
        }
    }
    BotFolder(const BotFolder&) = delete;
    BotFolder& operator=(const BotFolder&) = delete;

    QString inFolder(const QString& name) const { return folder.path() + QLatin1Char('/') + name; }

    // The bot's environment: headless, with `extra` added (a preloaded libfaketime, say).
    static QProcessEnvironment environmentWith(const QProcessEnvironment& extra) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("ZEPJOB_HEADLESS"), QStringLiteral("1"));
        // A test run from a service must not make the bot believe it is one.
        env.remove(QStringLiteral("INVOCATION_ID"));
        env.remove(QStringLiteral("NOTIFY_SOCKET"));
        env.insert(extra);
        return env;
    }

    // The packets from the bot among the simulator's lines.
    static QList<BotLine> packetsIn(const QString& simOutput) {
        QList<BotLine> lines;
        for (const QString& line : simOutput.split(QLatin1Char('\n'))) {
            if (line.startsWith(QStringLiteral("BOT ")))
                lines.append({line.section(QLatin1Char(' '), 1, 1), line.section(QLatin1Char(' '), 2, 2),
                              line.section(QLatin1Char(' '), 3)});
        }
        return lines;
    }

    QStringList errorLog() const {
        return AnsiCodec::toUnicode(readAll(inFolder(QStringLiteral("ErrorLog.txt"))))
            .split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    }

    QTemporaryDir folder;    // the program folder
    QTemporaryDir simFolder; // the simulator's port file and script
    QProcess sim, bot;

protected:
    // Starts the bot in the program folder; whether it started.
    bool launchBot(const QProcessEnvironment& extraEnvironment) {
        bot.setProgram(inFolder(QStringLiteral("ClientZEP_job")));
        bot.setProcessEnvironment(environmentWith(extraEnvironment));
        bot.start();
        return bot.waitForStarted();
    }
};

// The bot started at once against a simulator that plays `script` through.
class BotRun : public BotFolder {
public:
    // `extraEnvironment` is added to the bot's environment. `besideProgram` are further files copied into the
    // program folder; `deployment` are further lines of its deployment.ini.
    explicit BotRun(const QStringList& simArguments, const QByteArray& script,
                    const QProcessEnvironment& extraEnvironment = {}, const QStringList& besideProgram = {},
                    const QByteArray& deployment = {})
        : BotFolder(script, simArguments, besideProgram, deployment) {
        EXPECT_TRUE(launchBot(extraEnvironment));
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

    QList<BotLine> botPackets() const { return packetsIn(simOutput); }

    QString simOutput, botOutput;
};

// The bot logged in to a simulator that the test drives line by line over its standard input.
class DrivenBot : public BotFolder {
public:
    // `deployment` are further lines of deployment.ini. The directory server is one that cannot be reached,
    // so every endpoint keeps its default and nothing is cached.
    explicit DrivenBot(const QByteArray& deployment)
        : BotFolder(QByteArray(), {QStringLiteral("--wait-timeout-ms"), QStringLiteral("0")}, {},
                    "DirectoryServer=127.0.0.1:1\r\n" + deployment) {}

    // Starts the bot (again) in the program folder and waits for its login.
    void startBot(const QProcessEnvironment& extraEnvironment) {
        stopBot();
        ASSERT_TRUE(launchBot(extraEnvironment));
        ASSERT_FALSE(waitLine(QStringLiteral("SIM login accepted"), 30000).isEmpty())
            << "the bot did not log in\n"
            << botOutput().toStdString();
    }

    // SIGKILL, as a crash would end it.
    void stopBot() {
        if (bot.state() != QProcess::NotRunning) {
            bot.kill();
            bot.waitForFinished();
        }
        readBot();
    }

    // One command line for the simulator (a chat line is "<user id> <text>").
    void command(const QString& line) {
        sim.write(line.toUtf8() + '\n');
        sim.waitForBytesWritten();
    }

    // The oldest line of the simulator's output that starts with `prefix` and that no earlier wait has taken;
    // waits up to `ms` for it. Empty when none came.
    QString waitLine(const QString& prefix, int ms = 30000) {
        QString found;
        TestSupport::waitUntil(
            [&] {
                take();
                for (qsizetype i = 0; i < lines_.size(); ++i) {
                    if (!taken_[i] && lines_[i].startsWith(prefix)) {
                        taken_[i] = true;
                        found = lines_[i];
                        return true;
                    }
                }
                return false;
            },
            ms, 20);
        return found;
    }

    // The next packet the bot sends with that code to that recipient ("123;92"), as the simulator printed it;
    // an empty line when none came within `ms`.
    BotLine waitPacket(const QString& code, const QString& header, int ms = 30000) {
        const QString line =
            waitLine(QStringLiteral("BOT ") + code + QLatin1Char(' ') + header + QLatin1Char(' '), ms);
        if (line.isEmpty())
            return {};
        return {code, header, line.section(QLatin1Char(' '), 3)};
    }

    // A chat line from user `user` and the bot's answer to it.
    BotLine ask(const QString& user, const QString& text, int ms = 30000) {
        command(user + QLatin1Char(' ') + text);
        return waitPacket(QStringLiteral("01"), QStringLiteral("123;") + user, ms);
    }

    // Everything the simulator printed so far.
    QString simOutput() {
        take();
        return lines_.join(QLatin1Char('\n'));
    }

    // What the bot wrote to standard error (its state lines and, headless, its message boxes).
    QString botOutput() {
        readBot();
        return botErrors_;
    }

    // The message boxes the headless bot has shown, each text whole.
    QStringList messageBoxes() {
        QStringList boxes;
        const QString marker = QStringLiteral("[message box] ");
        const QString all = botOutput();
        for (qsizetype at = all.indexOf(marker); at >= 0;) {
            const qsizetype next = all.indexOf(marker, at + marker.size());
            QString box = all.mid(at + marker.size(), next < 0 ? -1 : next - at - marker.size());
            // The box's own text may hold line breaks; the line of the next message ends it.
            const qsizetype state = box.indexOf(QStringLiteral("\nClientZEP_job: "));
            if (state >= 0)
                box.truncate(state);
            if (box.endsWith(QLatin1Char('\n')))
                box.chop(1);
            boxes << box;
            at = next;
        }
        return boxes;
    }

    // The program folder's entries, sorted, hidden ones included; sub-folders end with "/".
    QStringList programFolder() const {
        QStringList names;
        for (const QFileInfo& entry :
             QDir(folder.path())
                 .entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                                QDir::Name))
            names << entry.fileName() + (entry.isDir() ? QStringLiteral("/") : QString());
        return names;
    }

private:
    void take() {
        QCoreApplication::processEvents();
        partial_ += sim.readAllStandardOutput();
        for (qsizetype end = partial_.indexOf('\n'); end >= 0; end = partial_.indexOf('\n')) {
            lines_ << QString::fromUtf8(partial_.left(end));
            taken_ << false;
            partial_.remove(0, end + 1);
        }
        readBot();
    }

    void readBot() {
        if (bot.isOpen())
            botErrors_ += QString::fromUtf8(bot.readAllStandardError());
    }

    QByteArray partial_;
    QStringList lines_;
    QList<bool> taken_;
    QString botErrors_;
};

// The deployment.ini lines that dial the FTP and MariaDB servers of the test fixtures.
inline QByteArray jobServerPorts() {
    return "FtpPort=" + QByteArray::number(FtpServer::port()) +
           "\r\nMySqlPort=" + QByteArray::number(MariaDbServer::port()) + "\r\n";
}

inline QString escaped(QString text) {
    return text.replace("\\", "\\\\").replace("\r", "\\r").replace("\n", "\\n").replace("\t", "\\t");
}

// The bot's statement is provably in flight: the server shows it waiting for the lock another session holds.
inline bool waitingOnLock(MariaDbServer::Admin& admin, const QString& user, const QString& statementStart) {
    return TestSupport::waitUntil(
        [&] {
            return admin.exec(
                       QStringLiteral("SELECT COUNT(*) FROM information_schema.PROCESSLIST WHERE USER = '%1' "
                                      "AND STATE LIKE 'Waiting for table%' AND INFO LIKE '%2%'")
                           .arg(user, statementStart)) == QLatin1String("1");
        },
        60000, 20);
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
