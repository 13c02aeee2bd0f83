// messenger-sim: a small messenger server for demos and tests. It accepts one bot connection on the loopback
// address, answers its login with the bot's record and the user list, sends keep-alives, and replays chat
// lines and presence changes from a script or from standard input. Everything that crosses the wire is
// printed on standard output, one line per packet.

#include "SimScript.h"
#include "SimServer.h"
#include "SimText.h"
#include "UserTable.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <cstdio>

namespace {

constexpr int kExitStartup = 1;

int fail(const QString& message) {
    std::fprintf(stderr, "messenger-sim: %s\n", message.toLocal8Bit().constData());
    return kExitStartup;
}

bool parseCount(const QCommandLineParser& parser, const QString& name, qint64 max, int* out, QString* error) {
    if (!parser.isSet(name))
        return true;
    bool ok = false;
    const qint64 value = parser.value(name).toLongLong(&ok);
    if (!ok || value < 0 || value > max) {
        *error = QStringLiteral("--%1 wants a number from 0 to %2, got \"%3\"")
                     .arg(name)
                     .arg(max)
                     .arg(parser.value(name));
        return false;
    }
    *out = int(value);
    return true;
}

QString defaultUsersFile() {
    const QString besideBinary = QCoreApplication::applicationDirPath() + QStringLiteral("/users.tsv");
    if (QFileInfo::exists(besideBinary))
        return besideBinary;
    return QStringLiteral(ZEPJOB_SIM_SOURCE_DIR "/users.tsv");
}

bool writePortFile(const QString& path, quint16 port, QString* error) {
    // Written whole or not at all, so a reader polling for the file never sees half a number.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(QByteArray::number(port)) < 0 || !file.commit()) {
        *error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("messenger-sim"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Loopback messenger server for the job bot's demo and tests."));
    parser.addHelpOption();
    parser.addOptions({
        {QStringLiteral("port"), QStringLiteral("Port to listen on; 0 picks a free one (default 10015)."),
         QStringLiteral("N"), QStringLiteral("10015")},
        {QStringLiteral("users"),
         QStringLiteral("User table, UTF-8 TSV (default: users.tsv beside the binary)."),
         QStringLiteral("FILE")},
        {QStringLiteral("bot-id"), QStringLiteral("User id of the bot's own record (default 123)."),
         QStringLiteral("N"), QStringLiteral("123")},
        {QStringLiteral("password"), QStringLiteral("Password the bot must log in with (default kx-630195)."),
         QStringLiteral("TEXT"), QStringLiteral("kx-630195")},
        {QStringLiteral("login-id"), QStringLiteral("Login id the bot must log in with (default jobserver)."),
         QStringLiteral("TEXT"), QStringLiteral("jobserver")},
        {QStringLiteral("keepalive-ms"),
         QStringLiteral("Keep-alive period while logged in; 0 = never (default 20000)."), QStringLiteral("N"),
         QStringLiteral("20000")},
        {QStringLiteral("script"), QStringLiteral("Run commands from FILE instead of standard input."),
         QStringLiteral("FILE")},
        {QStringLiteral("port-file"), QStringLiteral("Write the listening port to FILE."),
         QStringLiteral("FILE")},
        {QStringLiteral("wait-timeout-ms"),
         QStringLiteral("Longest a wait command may wait; 0 = forever (default 15000)."), QStringLiteral("N"),
         QStringLiteral("15000")},
        {QStringLiteral("quiet-keepalive"),
         QStringLiteral("Do not print periodic keep-alives or the bot's answers.")},
        {QStringLiteral("readable"),
         QStringLiteral("Print packets for people: sender -> recipient, the body's lines as lines.")},
    });
    parser.process(app);
    if (!parser.positionalArguments().isEmpty())
        return fail(QStringLiteral("unexpected argument \"%1\"").arg(parser.positionalArguments().first()));

    QString error;
    int port = 10015;
    int botId = 123;
    int keepaliveMs = 20000;
    int waitTimeoutMs = 15000;
    if (!parseCount(parser, QStringLiteral("port"), 65535, &port, &error) ||
        !parseCount(parser, QStringLiteral("bot-id"), 2147483647, &botId, &error) ||
        !parseCount(parser, QStringLiteral("keepalive-ms"), 2147483647, &keepaliveMs, &error) ||
        !parseCount(parser, QStringLiteral("wait-timeout-ms"), 2147483647, &waitTimeoutMs, &error))
        return fail(error);

    SimConfig config;
    config.botId = botId;
    config.loginId = parser.value(QStringLiteral("login-id"));
    config.password = parser.value(QStringLiteral("password"));
    config.keepaliveMs = keepaliveMs;
    config.quietKeepalive = parser.isSet(QStringLiteral("quiet-keepalive"));
    config.readable = parser.isSet(QStringLiteral("readable"));

    UserTable users;
    const QString usersFile =
        parser.isSet(QStringLiteral("users")) ? parser.value(QStringLiteral("users")) : defaultUsersFile();
    if (!users.load(usersFile, &error))
        return fail(error);
    if (!users.contains(config.botId))
        return fail(QStringLiteral("%1 has no user with the bot's id %2").arg(usersFile).arg(config.botId));

    QStringList scriptLines;
    const bool scripted = parser.isSet(QStringLiteral("script"));
    if (scripted) {
        QFile script(parser.value(QStringLiteral("script")));
        if (!script.open(QIODevice::ReadOnly))
            return fail(QStringLiteral("cannot open %1: %2").arg(script.fileName(), script.errorString()));
        scriptLines = QString::fromUtf8(script.readAll()).split(u'\n');
    }

    SimServer server(users, config);
    if (!server.listen(quint16(port), &error))
        return fail(QStringLiteral("cannot listen on 127.0.0.1:%1: %2").arg(port).arg(error));
    if (parser.isSet(QStringLiteral("port-file")) &&
        !writePortFile(parser.value(QStringLiteral("port-file")), server.port(), &error))
        return fail(error);

    SimScript script(server, waitTimeoutMs);
    QObject::connect(&script, &SimScript::exitRequested, &app, [&server](int status) {
        server.shutdown();
        std::fflush(stdout);
        QCoreApplication::exit(status);
    });
    if (scripted)
        script.runLines(scriptLines);
    else
        script.readStandardInput();

    return app.exec();
}
