#include "AnsiCodec.h"
#include "TestSupport.h"
#include "modIniFile.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

TEST(ReadIniValueTest, ReadsAsTheIniServiceDoes) {
    const QString longValue = QString(250, QLatin1Char('v'));
    const QString longHangul = QString(150, QChar(u'백'));
    const QString spacesAtTheCut = QString(195, QLatin1Char('a')) + QString(10, QLatin1Char(' ')) + "b";
    const QString text =
        QStringLiteral("[General]\r\nFTP_PASV =  1  \r\nCSBackupPath=\r\nHangul=D:\\CS백업\r\n"
                       "Long=%1\r\nLongHangul=%2\r\nCut=%3\r\nQuoted=\"D:\\CS Backup\"\r\n"
                       "Single='x'\r\nHalfQuoted=\"x\r\n[Other]\r\nFTP_PASV=0\r\n")
            .arg(longValue, longHangul, spacesAtTheCut);
    QTemporaryDir dir;
    const QString path = dir.path() + "/setup.ini";
    TestSupport::writeFile(path, AnsiCodec::fromUnicode(text));

    struct Case {
        const char* section;
        const char* key;
        QString defaultValue;
        QString path;
        QString expected;
    };
    const Case cases[] = {
        {"General", "FTP_PASV", "0", path, "1"},
        {"general", "ftp_pasv", "0", path, "1"},
        {"Other", "FTP_PASV", "", path, "0"},
        {"General", "CSBackupPath", "unset", path, ""},
        {"General", "Hangul", "", path, "D:\\CS백업"},
        {"General", "Long", "", path, longValue.left(199)},
        {"General", "LongHangul", "", path, longHangul.left(99)},
        {"General", "Cut", "", path, spacesAtTheCut.left(199)},
        {"General", "Quoted", "", path, "D:\\CS Backup"},
        {"General", "Single", "", path, "x"},
        {"General", "HalfQuoted", "", path, "\"x"},
        {"General", "Missing", "fallback", path, "fallback"},
        {"Missing", "FTP_PASV", "fallback", path, "fallback"},
        {"General", "FTP_PASV", "  fallback  ", dir.path() + "/none.ini", "fallback"},
        {"General", "FTP_PASV", longValue, dir.path() + "/none.ini", longValue.left(199)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.section) + "/" + c.key);
        EXPECT_EQ(
            modIniFile::ReadIniValue(QLatin1String(c.section), QLatin1String(c.key), c.defaultValue, c.path),
            c.expected);
    }
}

// Bytes that are no CP949 read as U+FFFD; a value cut to its 199 bytes keeps that character instead of the
// "?" that encoding it again would give.
TEST(ReadIniValueTest, ALongValueKeepsWhatItsBytesReadAs) {
    QTemporaryDir dir;
    const QString path = dir.path() + "/setup.ini";
    TestSupport::writeFile(path, "[General]\r\nBroken=\xB0\x5F" + QByteArray(200, 'a') + "\r\n");
    EXPECT_EQ(modIniFile::ReadIniValue("General", "Broken", "", path),
              QString(QChar(0xFFFD)) + "_" + QString(197, QLatin1Char('a')));
}

} // namespace
