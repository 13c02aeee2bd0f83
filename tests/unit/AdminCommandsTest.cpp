// The command line's options, the report as --run-job prints it, and the plain words --check gives for a
// peer's failure.

#include "CommandLine.h"
#include "HttpClient.h"
#include "PeerProbe.h"
#include "QStringPrinter.h"
#include "RunJob.h"

#include <cerrno>
#include <curl/curl.h>
#include <errmsg.h>
#include <gtest/gtest.h>

namespace {

TEST(CommandLineTest, OptionsStartWithTwoDashesAndEverythingElseIsTheHost) {
    struct Case {
        QStringList words;
        CommandLine::Mode mode;
        QString text;
    };
    const Case cases[] = {
        {{}, CommandLine::Bot, ""},
        {{"chat.corp"}, CommandLine::Bot, "chat.corp"},
        {{"#comment", "--check"}, CommandLine::Bot, "#comment --check"},
        {{" host", "-x"}, CommandLine::Bot, " host -x"},
        {{"-h"}, CommandLine::Bot, "-h"},
        {{"--help"}, CommandLine::Help, ""},
        {{"--version"}, CommandLine::Version, ""},
        {{"--help", "x"}, CommandLine::Wrong, "--help takes no arguments"},
        {{"--run-job", "disk-space"}, CommandLine::RunJob, "disk-space"},
        {{"--run-job", "nonsense"}, CommandLine::RunJob, "nonsense"}, // the name is checked by the job runner
        {{"--run-job"}, CommandLine::Wrong, "--run-job takes one job name"},
        {{"--run-job", ""}, CommandLine::Wrong, "--run-job takes one job name"},
        {{"--run-job", "a", "b"}, CommandLine::Wrong, "--run-job takes one job name"},
        {{"--check"}, CommandLine::Check, ""},
        {{"--check", "chat.corp"}, CommandLine::Check, "chat.corp"},
        {{"--check", "#", "x"}, CommandLine::Check, "# x"},
        {{"--checks"}, CommandLine::Wrong, "unknown option --checks"},
        {{"--"}, CommandLine::Wrong, "unknown option --"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.words.join(' ').toStdString());
        const CommandLine parsed = CommandLine::parse(c.words);
        EXPECT_EQ(parsed.mode, c.mode);
        EXPECT_EQ(parsed.text, c.text);
    }
}

TEST(RunJobTest, EachNameRunsItsJobAndTheReportKeepsItsLines) {
    QStringList ran;
    const JobCatalogue::Runner jobs = [&](JobCatalogue::JobId id) -> JobCatalogue::JobResult {
        using enum JobCatalogue::JobId;
        ran << (id == DiskSpace ? "disk" : id == Remove2 ? "remove" : id == DbBackup ? "backup" : "cs");
        return {id == DiskSpace  ? QStringLiteral("< 하드잔량 보고서 >\r\n-----")
                : id == Remove2  ? QStringLiteral("removal")
                : id == DbBackup ? QStringLiteral("backup")
                                 : QStringLiteral("cs"),
                false};
    };
    EXPECT_EQ(RunJob::run("disk-space", jobs), std::optional<QString>("< 하드잔량 보고서 >\r\n-----"));
    EXPECT_EQ(RunJob::run("remove-2", jobs), std::optional<QString>("removal"));
    EXPECT_EQ(RunJob::run("db-backup", jobs), std::optional<QString>("backup"));
    EXPECT_EQ(RunJob::run("cs-backup", jobs), std::optional<QString>("cs"));
    EXPECT_EQ(RunJob::run("Disk-Space", jobs), std::nullopt);
    EXPECT_EQ(ran, QStringList({"disk", "remove", "backup", "cs"}));
    QStringList names;
    for (const RunJob::Job& job : RunJob::Jobs())
        names << job.name;
    EXPECT_EQ(names, QStringList({"disk-space", "remove-2", "db-backup", "cs-backup"}));

    EXPECT_EQ(RunJob::printable("[알림] 한 줄"), QByteArray("[알림] 한 줄\n"));
    EXPECT_EQ(RunJob::printable("a\r\n\r\nb\r\n"), QByteArray("a\n\nb\n\n"));
    EXPECT_EQ(RunJob::printable(""), QByteArray("\n"));
}

TEST(PeerProbeTest, FailuresInPlainWords) {
    using PeerProbe::curlWords;
    EXPECT_EQ(curlWords(CURLE_COULDNT_CONNECT, ECONNREFUSED, "x"), "refused");
    EXPECT_EQ(curlWords(CURLE_COULDNT_CONNECT, ETIMEDOUT, "x"), "timed out");
    EXPECT_EQ(curlWords(CURLE_COULDNT_CONNECT, EHOSTUNREACH, "x"), "unreachable");
    EXPECT_EQ(curlWords(CURLE_COULDNT_CONNECT, 0, "Couldn't connect"), "cannot connect (Couldn't connect)");
    EXPECT_EQ(curlWords(CURLE_OPERATION_TIMEDOUT, 0, "x"), "timed out");
    EXPECT_EQ(curlWords(CURLE_LOGIN_DENIED, 0, "Access denied: 530"), "login refused");
    EXPECT_EQ(curlWords(CURLE_COULDNT_RESOLVE_HOST, 0, "x"), "host not found");
    EXPECT_EQ(curlWords(CURLE_RECV_ERROR, 0, "Failure when receiving data"),
              "failed (Failure when receiving data)");

    using PeerProbe::mysqlWords;
    EXPECT_EQ(mysqlWords(1045, "Access denied for user 'qz_logs_read'@'127.0.0.1'", false), "login refused");
    EXPECT_EQ(mysqlWords(1044, "Access denied for user to database 'qz_logs'", false), "login refused");
    EXPECT_EQ(mysqlWords(1049, "Unknown database 'qz_logs'", false), "database not found");
    EXPECT_EQ(mysqlWords(CR_CONN_HOST_ERROR, "Can't connect to server on '127.0.0.1' (111)", false),
              "refused");
    EXPECT_EQ(mysqlWords(CR_CONN_HOST_ERROR, "Can't connect to server on '127.0.0.9' (110)", false),
              "timed out");
    EXPECT_EQ(mysqlWords(CR_CONN_HOST_ERROR, "Can't connect to server on '127.0.0.1' (115)", false),
              "refused");
    EXPECT_EQ(mysqlWords(CR_CONN_HOST_ERROR, "Can't connect to server on '127.0.0.9' (115)", true),
              "timed out");
    EXPECT_EQ(mysqlWords(CR_UNKNOWN_HOST, "Unknown server host 'x' (-2)", false), "host not found");
    EXPECT_EQ(
        mysqlWords(CR_SERVER_LOST, "Lost connection to server at 'handshake', system error: 110", false),
        "timed out");
    EXPECT_EQ(mysqlWords(CR_SERVER_LOST, "Lost connection to server at 'handshake'", false),
              "closed during the log-in (Lost connection to server at 'handshake')");
    EXPECT_EQ(mysqlWords(1226, "too many", false), "failed: Error 1226 (too many)");

    using PeerProbe::socketWords;
    EXPECT_EQ(socketWords(QAbstractSocket::ConnectionRefusedError, "x"), "refused");
    EXPECT_EQ(socketWords(QAbstractSocket::SocketTimeoutError, "x"), "timed out");
    EXPECT_EQ(socketWords(QAbstractSocket::HostNotFoundError, "x"), "host not found");

    HttpClient::Response response;
    response.answered = true;
    response.status = 404;
    EXPECT_EQ(PeerProbe::httpWords(response), "not found (HTTP 404)");
    response.status = 503;
    EXPECT_EQ(PeerProbe::httpWords(response), "answered HTTP 503");
    response.status = 200;
    EXPECT_EQ(PeerProbe::httpWords(response), "");
    response = {};
    response.curlCode = CURLE_COULDNT_CONNECT;
    response.osErrno = ECONNREFUSED;
    EXPECT_EQ(PeerProbe::httpWords(response), "refused");
}

} // namespace
