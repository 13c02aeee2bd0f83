// deployment.ini: what is taken from it, and every line that cannot be used, with its line and key.

#include "Deployment.h"

#include "QStringPrinter.h"

#include <gtest/gtest.h>

// Found by GoogleTest beside the type, in the global namespace.
void PrintTo(const DeploymentIssue& issue, std::ostream* os) {
    *os << "line " << issue.line << " [" << issue.key.toStdString() << "] " << issue.problem.toStdString();
}

namespace {

QString settingOf(const DeploymentFile& file, const QString& key, int* line = nullptr) {
    for (const DeploymentFile::Setting& s : file.settings) {
        if (s.key == key) {
            if (line)
                *line = s.line;
            return s.value;
        }
    }
    ADD_FAILURE() << "no setting " << key.toStdString();
    return QString();
}

TEST(DeploymentParseTest, ValidFilesGiveTheirValuesAndNoIssues) {
    const DeploymentFile file = Deployment::parse("; the site's values\r\n"
                                                  "# a comment of the other kind\r\n"
                                                  "\r\n"
                                                  "[ deployment ]\r\n"
                                                  "  directoryserver = dir.corp-1.local:8080 \r\n"
                                                  "AddrMessenger=\"127.0.10.3\"\r\n"
                                                  "AddrAutoUpdate=[::1]:8081\r\n"
                                                  "AddrMasterServer=::1\r\n"
                                                  "WebHostFtpHost=ftp_web.corp\r\n"
                                                  "BackupFtpHost=\r\n"
                                                  "MessengerPort=1\r\n"
                                                  "FtpPort=65535\r\n"
                                                  "MySqlPort= 3307 \r\n");
    EXPECT_TRUE(file.issues.isEmpty()) << ::testing::PrintToString(file.issues);
    EXPECT_EQ(file.values.DirectoryServer, "dir.corp-1.local:8080");
    EXPECT_EQ(file.values.AddrMessenger, "127.0.10.3");
    EXPECT_EQ(file.values.AddrAutoUpdate, "[::1]:8081");
    EXPECT_EQ(file.values.AddrMasterServer, "::1");
    EXPECT_EQ(file.values.WebHostFtpHost, "ftp_web.corp");
    EXPECT_EQ(file.values.BackupFtpHost, "127.0.0.1"); // empty: the default, as always
    EXPECT_EQ(file.values.MessengerPort, 1);
    EXPECT_EQ(file.values.FtpPort, 65535);
    EXPECT_EQ(file.values.MySqlPort, 3307);

    int line = -1;
    EXPECT_EQ(settingOf(file, "DirectoryServer", &line), "dir.corp-1.local:8080");
    EXPECT_EQ(line, 5);
    EXPECT_EQ(settingOf(file, "BackupFtpHost", &line), "127.0.0.1");
    EXPECT_EQ(line, 0);
    EXPECT_EQ(settingOf(file, "MySqlPort", &line), "3307");
    EXPECT_EQ(line, 13);
    EXPECT_EQ(settingOf(file, "AddrWebLogin", &line), "127.0.0.1");
    EXPECT_EQ(line, 0);
    ASSERT_EQ(file.settings.size(), 29);
    EXPECT_EQ(file.settings.first().key, "DirectoryServer");
    EXPECT_EQ(file.settings[10].key, "MySqlPort");
    EXPECT_EQ(file.settings.last().key, "LateRun");
}

// CommandUsers: absent or empty, everyone; "none", nobody; else the ids it lists. An entry that is no user id
// is named and left out, and a list with none left lets nobody, never everyone.
TEST(DeploymentParseTest, CommandUsersNameWhoMayStartJobs) {
    const struct {
        const char* line;
        QString problem;
        QStringList allowed, refused;
    } cases[] = {
        {"", "", {"17", "x"}, {}},
        {"CommandUsers= 17 , 42,17", "", {"17", "42", " 17"}, {"170", "", "17;", "x"}},
        {"CommandUsers=17,,4e2",
         "\"\", \"4e2\" are not user ids (whole numbers); only the user 17 may start the "
         "chat commands' jobs",
         {"17"},
         {"400", ""}},
        {"CommandUsers= None ", "", {}, {"17", "0", ""}},
        {"CommandUsers=99999999999",
         "\"99999999999\" is not a user id (whole numbers); nobody may start the chat commands' jobs",
         {},
         {"99999999999", "17", ""}},
    };
    for (const auto& c : cases) {
        const DeploymentFile file = Deployment::parse(QStringLiteral("[Deployment]\n") + c.line);
        const QList<DeploymentIssue> issue = {{2, "CommandUsers", c.problem}};
        EXPECT_EQ(file.issues, c.problem.isEmpty() ? QList<DeploymentIssue>() : issue) << c.line;
        for (const QString& user : c.allowed + c.refused)
            EXPECT_EQ(file.values.CommandUsers.allows(user), c.allowed.contains(user))
                << c.line << user.toStdString();
    }
}

// Each unusable value is named with its line and key, and the default stays in its place.
TEST(DeploymentParseTest, UnusableValuesKeepTheirDefaults) {
    struct Case {
        const char* line;
        const char* key;     // of the value checked
        const char* value;   // what the program uses
        const char* problem; // empty: the value is usable
    };
    const Case cases[] = {
        {"MessengerPort=abc", "MessengerPort", "10015",
         "\"abc\" is not a port number from 1 to 65535; the default 10015 is used"},
        {"MessengerPort=99999", "MessengerPort", "10015",
         "\"99999\" is not a port number from 1 to 65535; the default 10015 is used"},
        {"MessengerPort=65536", "MessengerPort", "10015",
         "\"65536\" is not a port number from 1 to 65535; the default 10015 is used"},
        {"FtpPort=0", "FtpPort", "21", "\"0\" is not a port number from 1 to 65535; the default 21 is used"},
        {"FtpPort=-21", "FtpPort", "21",
         "\"-21\" is not a port number from 1 to 65535; the default 21 is used"},
        {"MySqlPort=33 06", "MySqlPort", "3306",
         "\"33 06\" is not a port number from 1 to 65535; the default 3306 is used"},
        {"MySqlPort=3306x", "MySqlPort", "3306",
         "\"3306x\" is not a port number from 1 to 65535; the default 3306 is used"},
        {"MessengerPort=65535", "MessengerPort", "65535", ""},
        {"LateRun=OFF", "LateRun", "off", ""},
        {"LateRun=no", "LateRun", "on", "\"no\" is neither on nor off; the default on is used"},
        {"FtpNameEncoding=utf8", "FtpNameEncoding", "UTF-8", ""},
        {"FtpNameEncoding=EUC-KR", "FtpNameEncoding", "CP949",
         "\"EUC-KR\" is not CP949 or UTF-8; the default CP949 is used"},
        {"DirectoryServer=dir host", "DirectoryServer", "127.0.0.1",
         "\"dir host\" is not a host[:port]; the default 127.0.0.1 is used"},
        {"DirectoryServer=dir:0", "DirectoryServer", "127.0.0.1",
         "\"dir:0\" is not a host[:port]; the default 127.0.0.1 is used"},
        {"DirectoryServer=dir:", "DirectoryServer", "127.0.0.1",
         "\"dir:\" is not a host[:port]; the default 127.0.0.1 is used"},
        {"DirectoryServer=http://dir", "DirectoryServer", "127.0.0.1",
         "\"http://dir\" is not a host[:port]; the default 127.0.0.1 is used"},
        {"DirectoryServer=[::1", "DirectoryServer", "127.0.0.1",
         "\"[::1\" is not a host[:port]; the default 127.0.0.1 is used"},
        {"DirectoryServer=127.0.0.1:65535", "DirectoryServer", "127.0.0.1:65535", ""},
        {"AddrAutoUpdate=update.corp:8080", "AddrAutoUpdate", "update.corp:8080", ""},
        {"AddrMessenger=127.0.0.1:10015", "AddrMessenger", "127.0.0.1",
         "\"127.0.0.1:10015\" is not a host name or address (its port has a key of its own); the default "
         "127.0.0.1 is used"},
        {"AddrMasterServer=999.1.1.1", "AddrMasterServer", "127.0.0.1",
         "\"999.1.1.1\" is not a host name or address (its port has a key of its own); the default 127.0.0.1 "
         "is used"},
        {"AddrMasterServer=127.0.1", "AddrMasterServer", "127.0.0.1",
         "\"127.0.1\" is not a host name or address (its port has a key of its own); the default 127.0.0.1 "
         "is used"},
        {"AddrWebLogin=web..corp", "AddrWebLogin", "127.0.0.1",
         "\"web..corp\" is not a host name or address (its port has a key of its own); the default 127.0.0.1 "
         "is used"},
        {"AddrWebLogin=-web.corp", "AddrWebLogin", "127.0.0.1",
         "\"-web.corp\" is not a host name or address (its port has a key of its own); the default "
         "127.0.0.1 is used"},
        {"BackupFtpHost=백업서버", "BackupFtpHost", "127.0.0.1",
         "\"백업서버\" is not a host name or address (its port has a key of its own); the default 127.0.0.1 "
         "is used"},
        {"BackupFtpHost=backup-2", "BackupFtpHost", "backup-2", ""},
        {"FtpTls=required", "FtpTls", "required", ""},
        {"MySqlTls=Required", "MySqlTls", "required", ""},
        {"HttpTls=off", "HttpTls", "off", ""},
        // A word that asks for something else than "off" is read as the safe one.
        {"HttpTls=yes", "HttpTls", "required", "\"yes\" is neither off nor required; required is used"},
        {"TlsCaFile=/etc/clientzep-job/ca.pem", "TlsCaFile", "/etc/clientzep-job/ca.pem", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        const DeploymentFile file =
            Deployment::parse(QStringLiteral("[Deployment]\n") + QString::fromUtf8(c.line) + "\n");
        EXPECT_EQ(settingOf(file, c.key), QString::fromUtf8(c.value));
        const QList<DeploymentIssue> expected =
            *c.problem ? QList<DeploymentIssue>{{2, c.key, QString::fromUtf8(c.problem)}}
                       : QList<DeploymentIssue>{};
        EXPECT_EQ(file.issues, expected);
    }
}

// Lines that are not values of [Deployment]: named, ignored, and nothing else changes.
TEST(DeploymentParseTest, LinesThatAreNotValuesAreNamed) {
    const DeploymentFile file = Deployment::parse("MessengerPort=1111\n" // 1: before any section
                                                  "[Deployment]\n"       // 2
                                                  "Colour=blue\n"        // 3: unknown key
                                                  "just some words\n"    // 4: not key=value
                                                  "=20015\n"             // 5: no key
                                                  "FtpPort=2121\n"       // 6
                                                  "ftpport=2222\n"       // 7: again
                                                  "[General]\n"          // 8: unknown section
                                                  "FTP_PASV=1\n"         // 9: its line, not repeated
                                                  "[Deployment\n"        // 10: no "]"
                                                  "MySqlPort=3310\n");   // 11: still read
    const QList<DeploymentIssue> expected = {
        {1, "MessengerPort", "outside the section [Deployment]; ignored"},
        {3, "Colour", "unknown key; ignored"},
        {4, "", "\"just some words\" is not key=value; ignored"},
        {5, "", "\"=20015\" is not key=value; ignored"},
        {7, "ftpport", "given again (first on line 6); ignored"},
        {8, "[General]", "unknown section (the only one is [Deployment]); its lines are ignored"},
        {10, "", "\"[Deployment\" lacks its \"]\""},
    };
    EXPECT_EQ(file.issues, expected);
    EXPECT_EQ(file.values.MessengerPort, 10015);
    EXPECT_EQ(file.values.FtpPort, 2121);
    EXPECT_EQ(file.values.MySqlPort, 3310);
}

TEST(DeploymentParseTest, IssueTextNamesFileLineAndKey) {
    const DeploymentFile file = Deployment::parse("[Deployment]\r\nMessengerPort=abc\r\nwords\r\n");
    ASSERT_EQ(file.issues.size(), 2);
    EXPECT_EQ(
        file.issues[0].text("/opt/zep/deployment.ini"),
        "/opt/zep/deployment.ini line 2: MessengerPort: \"abc\" is not a port number from 1 to 65535; the "
        "default 10015 is used");
    EXPECT_EQ(file.issues[1].text("/opt/zep/deployment.ini"),
              "/opt/zep/deployment.ini line 3: \"words\" is not key=value; ignored");
}

TEST(DeploymentParseTest, EmptyAndMissingFilesGiveTheDefaults) {
    for (const char* text : {"", "\n\n", "[Deployment]\n"}) {
        const DeploymentFile file = Deployment::parse(text);
        EXPECT_TRUE(file.issues.isEmpty());
        EXPECT_EQ(file.values.MessengerPort, 10015);
        EXPECT_EQ(file.values.AddrMessenger, "127.0.0.1");
    }
    const DeploymentFile missing = Deployment::read("/nonexistent/folder");
    EXPECT_FALSE(missing.present);
    EXPECT_TRUE(missing.issues.isEmpty());
    EXPECT_EQ(missing.values.FtpPort, 21);
}

// The accounts: absent, today's; given, the site's, passwords included as written ("#" and ";" inside a value
// are no comment); a value that would break a log-in line is refused without repeating a password.
TEST(DeploymentParseTest, AccountsComeFromTheFileOrStayTheProgramsOwn) {
    const Deployment defaults = Deployment::defaults();
    EXPECT_EQ(defaults.LoginId, "jobserver");
    EXPECT_EQ(defaults.LoginPassword, "kx-630195");
    EXPECT_EQ(defaults.LogDatabaseUser, "qz_logs_read");
    EXPECT_EQ(defaults.WebHostFtpPassword, "qrw4#KLBcvx2");
    EXPECT_EQ(defaults.BackupFtpUser, "backup_checker");

    const DeploymentFile file = Deployment::parse("[Deployment]\n"
                                                  "LoginId=bot2\n"
                                                  "LoginPassword=s3cr#t;x\n"
                                                  "LogDatabaseUser=reader\n"
                                                  "LogDatabasePassword=\"with blank\"\n"
                                                  "WebDatabaseUser=web\n"
                                                  "WebDatabasePassword=pa/ss\n"
                                                  "WebHostFtpUser=ftpweb\n"
                                                  "WebHostFtpPassword=\n"
                                                  "BackupFtpUser=bk\n"
                                                  "BackupFtpPassword=b:k\n");
    EXPECT_TRUE(file.issues.isEmpty()) << ::testing::PrintToString(file.issues);
    EXPECT_EQ(file.values.LoginId, "bot2");
    EXPECT_EQ(file.values.LoginPassword, "s3cr#t;x");
    EXPECT_EQ(file.values.LogDatabaseUser, "reader");
    EXPECT_EQ(file.values.LogDatabasePassword, "with blank");
    EXPECT_EQ(file.values.WebDatabasePassword, "pa/ss"); // "/" only matters in the messenger log-in
    EXPECT_EQ(file.values.WebHostFtpPassword, "qrw4#KLBcvx2");
    EXPECT_EQ(file.values.BackupFtpPassword, "b:k");
    int line = -1;
    settingOf(file, "LoginPassword", &line);
    EXPECT_EQ(line, 3);
    for (const DeploymentFile::Setting& s : file.settings)
        EXPECT_EQ(s.secret, s.key.endsWith("Password")) << s.key.toStdString();

    struct Case {
        const char* line;
        const char* key;
        const char* problem;
    };
    const Case refused[] = {
        {"LoginId=a/b", "LoginId",
         "\"a/b\" holds a \"/\", which separates the fields of the messenger log-in; the default is used"},
        {"LoginPassword=x/y", "LoginPassword",
         "the value holds a \"/\", which separates the fields of the messenger log-in; the default is used"},
        {"BackupFtpPassword=a\x01b", "BackupFtpPassword",
         "the value holds a control character; the default is used"},
        {"WebDatabaseUser=w\x7f", "WebDatabaseUser",
         "\"w\x7f\" holds a control character; the default is used"},
    };
    for (const Case& c : refused) {
        const DeploymentFile bad =
            Deployment::parse(QStringLiteral("[Deployment]\n") + QString::fromUtf8(c.line));
        ASSERT_EQ(bad.issues.size(), 1) << c.line;
        EXPECT_EQ(bad.issues[0].key, c.key);
        EXPECT_EQ(bad.issues[0].problem, c.problem);
        EXPECT_EQ(settingOf(bad, c.key), settingOf(Deployment::parse(QString()), c.key)) << c.line;
    }
}

} // namespace
