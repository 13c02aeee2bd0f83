#include "Deployment.h"
#include "ErrorLog.h"
#include "IniFile.h"
#include "InstanceLock.h"
#include "MachineId.h"
#include "MessageBoxRecorder.h"
#include "NumericText.h"
#include "TestSupport.h"
#include "VbError.h"
#include "Version.h"
#include "frmMain.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <functional>
#include <gtest/gtest.h>
#include <new>
#include <optional>

namespace {

using TestSupport::readAll;
using TestSupport::writeFile;

TEST(ErrorLogTest, EntriesAreStampedCp949LinesAppended) {
    const QDateTime at(QDate(2026, 12, 7), QTime(14, 5, 9));
    EXPECT_EQ(ErrorLog::entry(at, QStringLiteral("로그인 실패: 0x")),
              QByteArray("261207140509 \xb7\xce\xb1\xd7\xc0\xce \xbd\xc7\xc6\xd0: 0x\r\n"));

    QTemporaryDir dir;
    const QString path = dir.path() + "/ErrorLog.txt";
    ErrorLog::WriteToFile(dir.path(), at, QStringLiteral("first"));
    ErrorLog::WriteToFile(dir.path(), QDateTime(QDate(2027, 1, 2), QTime(3, 4, 5)), QStringLiteral("second"));
    EXPECT_EQ(readAll(path), QByteArray("261207140509 first\r\n270102030405 second\r\n"));

    // A folder that cannot take the file: nothing is reported, nothing thrown.
    EXPECT_NO_THROW(ErrorLog::WriteToFile(dir.path() + "/missing/folder", at, QStringLiteral("lost")));
}

// A peer's text cannot start an entry of its own, and a full log makes room by becoming the one older file.
TEST(ErrorLogTest, EntriesStayOneLineAndTheLogIsCapped) {
    const QDateTime at(QDate(2026, 12, 7), QTime(14, 5, 9));
    const struct {
        QString message;
        QByteArray entry;
    } cases[] = {
        {QStringLiteral("ok\r\n261207000000 forged"), "261207140509 ok\\r\\n261207000000 forged\r\n"},
        {QStringLiteral("tab\tbell\a esc\x1b[31m"), "261207140509 tab\tbell\\x07 esc\\x1b[31m\r\n"},
        {QStringLiteral("line\u2028sep\u0085"), "261207140509 line\\u2028sep\\x85\r\n"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ErrorLog::entry(at, c.message), c.entry);

    QTemporaryDir dir;
    const QString path = dir.path() + "/ErrorLog.txt";
    const QString line(100, QLatin1Char('x'));
    const qint64 entryBytes = ErrorLog::entry(at, line).size();
    const qint64 perFile = ErrorLog::MaxBytes / entryBytes;
    for (qint64 i = 0; i < perFile; ++i)
        ErrorLog::WriteToFile(dir.path(), at, line);
    EXPECT_EQ(QFileInfo(path).size(), perFile * entryBytes);
    EXPECT_FALSE(QFile::exists(path + ".1"));
    ErrorLog::WriteToFile(dir.path(), at, QStringLiteral("next"));
    EXPECT_EQ(QFileInfo(path + ".1").size(), perFile * entryBytes);
    EXPECT_EQ(readAll(path), "261207140509 next\r\n");
    // Once more full: the older file is replaced, never a third one.
    for (qint64 i = 0; i < perFile; ++i)
        ErrorLog::WriteToFile(dir.path(), at, line);
    EXPECT_TRUE(readAll(path + ".1").startsWith("261207140509 next\r\n"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList({"ErrorLog.txt", "ErrorLog.txt.1"}));
}

TEST(VbErrorTest, TrappedTextShape) {
    EXPECT_EQ(VbErrors::trappedText(13, QStringLiteral("Type mismatch"), QStringLiteral("Main"),
                                    QStringLiteral("Module"), QStringLiteral("modMain")),
              QStringLiteral("Error 13 (Type mismatch) in procedure Main of Module modMain"));
    EXPECT_EQ(
        VbErrors::trappedText(VbError(9, "x", VbErrors::describe(9)), QStringLiteral("Find"),
                              QStringLiteral("Class Module"), QStringLiteral("cStringBuilder")),
        QStringLiteral("Error 9 (Subscript out of range) in procedure Find of Class Module cStringBuilder"));
}

// Whatever a boundary catches as a std::exception gives one trapped text: a VbError its own number and
// description (also through what()), anything else error 51 with its what().
TEST(VbErrorTest, BoundariesTrapAnyStandardException) {
    const VbError vb(35602, QString(), QStringLiteral("Key is not unique in collection: 키"));
    EXPECT_STREQ(vb.what(), "Key is not unique in collection: \xed\x82\xa4");
    const std::exception& caught = vb;
    EXPECT_EQ(
        VbErrors::trappedText(caught, QStringLiteral("Add"), QStringLiteral("Form"),
                              QStringLiteral("frmMain")),
        QStringLiteral("Error 35602 (Key is not unique in collection: 키) in procedure Add of Form frmMain"));
    EXPECT_EQ(VbErrors::trappedText(std::bad_alloc(), QStringLiteral("tmrWork_Timer"), QStringLiteral("Form"),
                                    QStringLiteral("frmMain")),
              QStringLiteral("Error 51 (std::bad_alloc) in procedure tmrWork_Timer of Form frmMain"));
}

TEST(NumericTextTest, LenientAndStrictReadings) {
    struct Case {
        QString text;
        qint64 lenient;
        std::optional<qint64> strict;
    };
    const Case cases[] = {
        {"123", 123, 123},
        {"  42  ", 42, 42},
        {"\t7", 7, 7},
        {"7x", 7, std::nullopt},
        {"x7", 0, std::nullopt},
        {"", 0, std::nullopt},
        {"-5", -5, -5},
        {"+5", 5, 5},
        {"1 2", 1, std::nullopt},
        {"99999999999999999999", std::numeric_limits<qint64>::max(), std::nullopt},
        {"-", 0, std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(NumericText::leadingNumber(c.text), c.lenient) << c.text.toStdString();
        EXPECT_EQ(NumericText::wholeNumber(c.text), c.strict) << c.text.toStdString();
    }
    EXPECT_EQ(NumericText::leadingNumberAs<qint16>(QStringLiteral("70000")), 32767);
    EXPECT_EQ(NumericText::narrow<qint16>(std::optional<qint64>(70000)), std::nullopt);
}

TEST(IniFileTest, LookupRules) {
    const QString text =
        QStringLiteral("; comment\r\n[general]\r\n  FTP_PASV = 1 \r\nCSBackupPath=D:\\백업\r\n"
                       "[Other]\r\nFTP_PASV=0\r\nbroken line\r\n");
    const auto find = [&](const char* section, const char* key) {
        return IniFile::findValue(text, QLatin1String(section), QLatin1String(key),
                                  QStringLiteral("<default>"));
    };
    EXPECT_EQ(find("General", "ftp_pasv"), QStringLiteral("1"));
    EXPECT_EQ(find("GENERAL", "CSBackupPath"), QStringLiteral("D:\\백업"));
    EXPECT_EQ(find("Other", "FTP_PASV"), QStringLiteral("0"));
    EXPECT_EQ(find("General", "Missing"), QStringLiteral("<default>"));
    EXPECT_EQ(find("Missing", "FTP_PASV"), QStringLiteral("<default>"));
    EXPECT_EQ(IniFile::readValue(QStringLiteral("/nonexistent/setup.ini"), "General", "FTP_PASV", "d"), "d");
}

TEST(DeploymentTest, DefaultsAndOverrides) {
    const Deployment d = Deployment::defaults();
    for (const QString& host : {d.DirectoryServer, d.AddrMasterServer, d.AddrWebLogin, d.AddrAutoUpdate,
                                d.AddrBackupFtp, d.AddrMessenger, d.WebHostFtpHost, d.BackupFtpHost})
        EXPECT_EQ(host, QStringLiteral("127.0.0.1"));
    EXPECT_EQ(d.MessengerPort, 10015);
    EXPECT_EQ(d.FtpPort, 21);
    EXPECT_EQ(d.MySqlPort, 3306);

    QTemporaryDir dir;
    EXPECT_EQ(Deployment::load(dir.path()).MessengerPort, 10015); // no file at all
    writeFile(dir.path() + "/deployment.ini", "[deployment]\nmessengerport = 20015\nAddrMessenger=127.0.0.2\n"
                                              "FtpPort=notaport\nMySqlPort=70000\nBackupFtpHost=\n");
    const Deployment loaded = Deployment::load(dir.path());
    EXPECT_EQ(loaded.MessengerPort, 20015);
    EXPECT_EQ(loaded.AddrMessenger, QStringLiteral("127.0.0.2"));
    EXPECT_EQ(loaded.FtpPort, 21);
    EXPECT_EQ(loaded.MySqlPort, 3306);
    EXPECT_EQ(loaded.BackupFtpHost, QStringLiteral("127.0.0.1"));
}

TEST(MachineIdTest, Formats) {
    EXPECT_EQ(MachineId::formatMac(QStringLiteral("0a:1b:2c:3d:4e:5f")), QStringLiteral("0A1B2C3D4E5F"));
    EXPECT_EQ(MachineId::formatMac(QStringLiteral("0A-1B-2C-3D-4E-5F")), QStringLiteral("0A1B2C3D4E5F"));
    EXPECT_EQ(MachineId::formatSerial(0x0000ABCD), QStringLiteral("ABCD"));
    EXPECT_EQ(MachineId::formatSerial(0x8C2F01A4), QStringLiteral("8C2F01A4"));
    EXPECT_EQ(MachineId::formatSerial(0), QStringLiteral("0"));
    EXPECT_EQ(MachineId::driveSerial(QStringLiteral("/nonexistent/path")), QStringLiteral("FFFFFFFF"));
    const QString serial = MachineId::driveSerial(QString());
    EXPECT_FALSE(serial.isEmpty());
    EXPECT_EQ(serial, serial.toUpper());
    EXPECT_LE(serial.size(), 8);
    const QString mac = MachineId::macAddress();
    EXPECT_TRUE(mac.isEmpty() || QRegularExpression(QStringLiteral("^[0-9A-F]+$")).match(mac).hasMatch())
        << mac.toStdString();
}

TEST(LoginTest, BodyFormat) {
    EXPECT_EQ(frmMain::LoginBody("jobserver", "kx-630195", "0A1B2C3D4E5F", "8C2F01A4"),
              QStringLiteral("jobserver/kx-630195/0A1B2C3D4E5F-8C2F01A4"));
    EXPECT_EQ(frmMain::LoginBody("jobserver", "kx-630195", "", "FFFFFFFF"),
              QStringLiteral("jobserver/kx-630195/-FFFFFFFF"));
}

// Only a running holder counts as "already running": an empty lock file (left where the holder's name could
// not be written) is taken over, and a lock that cannot be taken at all says why.
TEST(InstanceLockTest, OnlyARunningHolderRefusesTheLock) {
    struct Case {
        const char* name;
        std::function<void(const QString& folder)> before;
        bool locked;
        bool failed; // for a reason other than another instance
    };
    std::optional<InstanceLock> other;
    const QList<Case> cases = {
        {"no lock file", [](const QString&) {}, true, false},
        {"held by another instance",
         [&](const QString& folder) { ASSERT_TRUE(other.emplace(folder).tryLock()); }, false, false},
        {"an empty file nobody holds",
         [](const QString& folder) { TestSupport::writeFile(InstanceLock::path(folder), {}); }, true, false},
        {"a folder in its place",
         [](const QString& folder) { ASSERT_TRUE(QDir().mkdir(InstanceLock::path(folder))); }, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        c.before(dir.path());
        InstanceLock lock(dir.path());
        EXPECT_EQ(lock.tryLock(), c.locked);
        EXPECT_EQ(lock.failure().isEmpty(), !c.failed) << lock.failure().toStdString();
        if (c.locked) {
            EXPECT_TRUE(lock.tryLock()); // asking again keeps it
            EXPECT_FALSE(InstanceLock(dir.path()).tryLock());
        }
        other.reset();
    }
}

// The version every text carries is the one project(VERSION ...) gives the build; the tests compare with it.
TEST(VersionTest, TheProgramCarriesTheProjectVersion) {
    EXPECT_EQ(ProgramInfo::versionText(), QStringLiteral(ZEPJOB_PROJECT_VERSION));
    EXPECT_EQ(ProgramInfo::versionText(), QString::fromLatin1(Version::Text));
}

TEST(MessageBoxTest, RecorderCollectsTexts) {
    {
        MessageBoxRecorder recorder;
        MessageBox::show(QStringLiteral("이미 실행중입니다."));
        EXPECT_EQ(recorder.texts, QStringList({QStringLiteral("이미 실행중입니다.")}));
        {
            MessageBoxRecorder inner;
            MessageBox::show(QStringLiteral("x"));
            EXPECT_EQ(inner.texts.size(), 1);
        }
        MessageBox::show(QStringLiteral("y"));
        EXPECT_EQ(recorder.texts.size(), 2);
    }
}

} // namespace
