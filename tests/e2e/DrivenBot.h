#pragma once

// The built bot in a program folder of its own, logged in to a messenger-sim that the test drives line by
// line over its standard input: the test can act between two packets (kill a server while a job is blocked on
// it, start it again) and restart the bot in the same folder.

#include "BotRun.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>

class DrivenBot {
public:
    // `deployment` are further lines of deployment.ini. The directory server is one that cannot be reached,
    // so every endpoint keeps its default and nothing is cached.
    explicit DrivenBot(const QByteArray& deployment) {
        QFile::copy(QStringLiteral(ZEPJOB_BOT_BINARY), folder.path() + QStringLiteral("/ClientZEP_job"));
        sim.setProgram(QStringLiteral(ZEPJOB_SIM_BINARY));
        sim.setArguments({QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--port-file"),
                          simFolder.path() + QStringLiteral("/port"), QStringLiteral("--keepalive-ms"),
                          QStringLiteral("0"), QStringLiteral("--wait-timeout-ms"), QStringLiteral("0")});
        sim.start();
        EXPECT_TRUE(sim.waitForStarted());
        QByteArray port;
        for (int i = 0; i < 500 && port.isEmpty(); ++i) {
            QThread::msleep(10);
            QFile f(simFolder.path() + QStringLiteral("/port"));
            if (f.open(QIODevice::ReadOnly))
                port = f.readAll();
        }
        EXPECT_FALSE(port.isEmpty()) << "messenger-sim did not listen";
        writeFile(folder.path() + QStringLiteral("/deployment.ini"),
                  "[Deployment]\r\nMessengerPort=" + port + "\r\nDirectoryServer=127.0.0.1:1\r\n" +
                      deployment);
    }

    ~DrivenBot() {
        for (QProcess* p : {&bot, &sim}) {
            if (p->state() != QProcess::NotRunning) {
                p->kill();
                p->waitForFinished();
            }
        }
    }

    // Starts the bot (again) in the program folder and waits for its login.
    void startBot(const QProcessEnvironment& extraEnvironment) {
        stopBot();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("ZEPJOB_HEADLESS"), QStringLiteral("1"));
        env.insert(extraEnvironment);
        bot.setProcessEnvironment(env);
        bot.setProgram(folder.path() + QStringLiteral("/ClientZEP_job"));
        bot.start();
        ASSERT_TRUE(bot.waitForStarted());
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
        QDeadlineTimer deadline(ms);
        for (;;) {
            take();
            for (qsizetype i = 0; i < lines_.size(); ++i) {
                if (!taken_[i] && lines_[i].startsWith(prefix)) {
                    taken_[i] = true;
                    return lines_[i];
                }
            }
            if (deadline.hasExpired())
                return QString();
            sim.waitForReadyRead(20);
        }
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

    QStringList errorLog() const {
        QFile f(folder.path() + QStringLiteral("/ErrorLog.txt"));
        if (!f.open(QIODevice::ReadOnly))
            return {};
        return AnsiCodec::toUnicode(f.readAll()).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
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

    QTemporaryDir folder;    // the program folder
    QTemporaryDir simFolder; // the simulator's port file, kept out of the program folder
    QProcess sim, bot;

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
