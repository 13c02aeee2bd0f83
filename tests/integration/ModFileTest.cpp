#include "modFile.h"

#include "MessageBoxRecorder.h"
#include "QStringPrinter.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>
#include <QtEndian>
#include <gtest/gtest.h>
#include <memory>
#include <sys/stat.h>

namespace {

const QStringList Keys = {"CompanyName",    "FileDescription",  "FileVersion",  "InternalName",
                          "LegalCopyright", "OriginalFilename", "ProductName",  "ProductVersion",
                          "Comments",       "LegalTrademarks",  "PrivateBuild", "SpecialBuild"};

const QMap<QString, QString> FullValues = {{"CompanyName", "(주)제트이피"},
                                           {"FileDescription", "ZEP job server"},
                                           {"FileVersion", "1.00.0012"},
                                           {"InternalName", "ClientZEP_job"},
                                           {"LegalCopyright", "(C) 2009"},
                                           {"OriginalFilename", "a.exe"},
                                           {"ProductName", "ZEP Messenger"},
                                           {"ProductVersion", "3.4.301"},
                                           {"Comments", "잡 서버"},
                                           {"LegalTrademarks", "ZEP"},
                                           {"PrivateBuild", "p"},
                                           {"SpecialBuild", "special"}};

// The version list of a block holding `values`, with "Not specified" for the keys it lacks.
QStringList expected(const QMap<QString, QString>& values, const QString& language) {
    QStringList list;
    for (const QString& key : Keys)
        list.append(key + ": " + values.value(key, "Not specified"));
    return list << language;
}

// A resource script with one string table (none when `table` is empty); the values go in alphabetically,
// not in the order of the list.
QString versionRc(const QString& table, const QMap<QString, QString>& values) {
    QString rc = "#pragma code_page(65001)\n1 VERSIONINFO\nFILEVERSION 1,0,0,12\nBEGIN\n";
    if (!table.isEmpty()) {
        rc += "BLOCK \"StringFileInfo\"\nBEGIN\nBLOCK \"" + table + "\"\nBEGIN\n";
        for (auto v = values.begin(); v != values.end(); ++v)
            rc += "VALUE \"" + v.key() + "\", \"" + v.value() + "\"\n";
        rc += "END\nEND\n";
    }
    return rc + "BLOCK \"VarFileInfo\"\nBEGIN\nVALUE \"Translation\", 0x412, 1200\nEND\nEND\n";
}

// Little-endian 16-bit units of `text`.
QByteArray units(const QString& text, bool terminated = true) {
    QByteArray bytes;
    for (QChar c : text + (terminated ? QString(QChar(0)) : QString()))
        bytes += char(c.unicode() & 0xFF) + QByteArray(1, char(c.unicode() >> 8));
    return bytes;
}

// A block entry laid out by hand: length, value length, type, key, padding, value, padding, children.
QByteArray entry(const QString& key, const QByteArray& value, const QByteArray& children = {}) {
    QByteArray bytes = QByteArray(6, '\0') + units(key);
    bytes += QByteArray((4 - bytes.size() % 4) % 4, '\0') + value;
    if (!children.isEmpty())
        bytes += QByteArray((4 - bytes.size() % 4) % 4, '\0') + children;
    qToLittleEndian<quint16>(quint16(bytes.size()), bytes.data());
    qToLittleEndian<quint16>(quint16(value.size() / 2), bytes.data() + 2);
    bytes[4] = 1; // text
    return bytes;
}

struct Fixture {
    QString name;
    QString toolchain;
    QString rc;       // none: an executable without resources
    QByteArray block; // a raw version resource instead
};

class ModFileTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        const QString x86 = "i686-w64-mingw32-";
        const QString x64 = "x86_64-w64-mingw32-";
        const QMap<QString, QString> sparse = {{"CompanyName", "ZEP"}, {"Comments", ""}};
        std::vector<Fixture> fixtures = {
            {"full32", x86, versionRc("041204B0", FullValues), {}},
            {"full64", x64, versionRc("041204B0", FullValues), {}},
            {"sparse", x86, versionRc("047704B0", sparse), {}},
            {"nostrings", x64, versionRc({}, {}), {}},
            {"noversion", x86, "1 RCDATA { \"not a version\" }\n", {}},
            {"noresources", x64, {}, {}},
            // Comments without any value unit, followed straight by the next entry.
            {"emptyvalue",
             x86,
             {},
             entry("VS_VERSION_INFO", {},
                   entry("StringFileInfo", {},
                         entry("041204B0", {}, entry("Comments", {}) + entry("ProductName", units("ZEP")))))},
            // The block ends right after a key.
            {"endsinkey", x86, {}, QByteArray("\x40\0\0\0\1\0", 6) + units("FileVersion", false)},
            // Unterminated value, odd last byte.
            {"endsinvalue", x86, {}, entry("FileVersion", units("7.0.0009", false)) + "\x01"},
            {"notables", x86, {}, entry("VS_VERSION_INFO", {}, entry("StringFileInfo", {}))},
        };
        for (const char* version : {"3.1.0.0005", "2.5", "1.2.beta", "7", "1.00.", "1, 0, 0, 12", ".0040"})
            fixtures.push_back(
                {versionName(version), x86, versionRc("040904B0", {{"FileVersion", version}}), {}});

        dir = std::make_unique<QTemporaryDir>();
        problem = dir->isValid() ? QString() : "no temporary folder";
        writeFile("main.c", "int main(void) { return 0; }\n");
        for (const Fixture& f : fixtures)
            build(f);
        writeFile("plain.txt", "FileVersion 1.00.0012\r\n");
        writeFile("mzonly.exe", QByteArray("MZ") + QByteArray(126, '\0'));
        QDir(dir->path()).mkdir("folder.exe");
    }

    static void TearDownTestSuite() { dir.reset(); }

    // A fixture that could not be made fails every test.
    void SetUp() override { ASSERT_TRUE(problem.isEmpty()) << problem.toStdString(); }

    static QString path(const QString& name) { return dir->filePath(name); }

    static QString versionName(const QString& version) { return "v" + version.toUtf8().toHex() + ".exe"; }

    static void writeFile(const QString& name, const QByteArray& bytes) {
        QFile f(path(name));
        if (problem.isEmpty() && (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size()))
            problem = "cannot write " + name;
    }

    static void run(const QString& program, const QStringList& arguments) {
        if (!problem.isEmpty())
            return;
        QProcess p;
        p.setWorkingDirectory(dir->path());
        p.start(program, arguments);
        if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
            problem = program + " " + arguments.join(' ') + ": " + p.errorString() + " " +
                      QString::fromLocal8Bit(p.readAllStandardError());
    }

    // Compiles the resources with the real resource compiler and links them into an executable.
    static void build(const Fixture& f) {
        const QString stem = f.name.endsWith(".exe") ? f.name.chopped(4) : f.name;
        QStringList link = {"-s", "main.c", "-o", stem + ".exe"};
        const QString rc = f.block.isEmpty() ? f.rc : "1 16 \"" + stem + ".bin\"\n";
        if (!f.block.isEmpty())
            writeFile(stem + ".bin", f.block);
        if (!rc.isEmpty()) {
            writeFile(stem + ".rc", rc.toUtf8());
            run(f.toolchain + "windres", {stem + ".rc", "-O", "coff", "-o", stem + ".o"});
            link.append(stem + ".o");
        }
        run(f.toolchain + "gcc", link);
    }

    static QByteArray readAll(const QString& name) { return TestSupport::readAll(path(name)); }

    // The version list of a new file holding `bytes` (rewriting one file would make ext4 flush it each time).
    static std::optional<QStringList> readCopy(const QByteArray& bytes) {
        static int copies = 0;
        const QString name = QStringLiteral("copy%1.exe").arg(++copies);
        writeFile(name, bytes);
        auto list = modFile::ReadFileVersionInfo(path(name));
        QFile::remove(path(name));
        return list;
    }

    static inline std::unique_ptr<QTemporaryDir> dir;
    static inline QString problem;
};

TEST_F(ModFileTest, VersionListsOfExecutables) {
    // Neither a FIFO (which would hold the reader) nor a link (whoever placed it chose its target) is read.
    ::mkfifo(QFile::encodeName(path("fifo.exe")).constData(), 0600);
    QFile::link(path("full32.exe"), path("link.exe"));
    const std::pair<QString, std::optional<QStringList>> cases[] = {
        {"full32.exe", expected(FullValues, "Language: Korean")},
        {"full64.exe", expected(FullValues, "Language: Korean")},
        {"sparse.exe", expected({{"CompanyName", "ZEP"}, {"Comments", ""}}, "Language: ")},
        {"nostrings.exe", expected({}, "Language")},
        {"emptyvalue.exe", expected({{"ProductName", "ZEP"}, {"Comments", ""}}, "Language: Korean")},
        {"endsinkey.exe", expected({{"FileVersion", ""}}, "Language")},
        {"endsinvalue.exe", expected({{"FileVersion", "7.0.0009"}}, "Language")},
        {"notables.exe", expected({}, "Language: ")},
        {"noversion.exe", std::nullopt},
        {"noresources.exe", std::nullopt},
        {"plain.txt", std::nullopt},
        {"mzonly.exe", std::nullopt},
        {"folder.exe", std::nullopt},
        {"missing.exe", std::nullopt},
        {"fifo.exe", std::nullopt},
        {"link.exe", std::nullopt},
    };
    MessageBoxRecorder boxes;
    for (const auto& [file, list] : cases)
        EXPECT_EQ(modFile::ReadFileVersionInfo(path(file)), list) << file.toStdString();
    EXPECT_EQ(boxes.texts, QStringList());
}

TEST_F(ModFileTest, GetFileVerShortensTheFileVersion) {
    const QString typeMismatch = "Error 13 (Type mismatch) in procedure GetFileVer of Module mdlFile";
    const QString invalidCall =
        "Error 5 (Invalid procedure call or argument) in procedure GetFileVer of Module mdlFile";
    struct Case {
        QString file;
        QString withBuild;
        QString withoutBuild;
        QStringList boxes; // of both calls, when messages are wanted
    };
    const Case cases[] = {
        {"full32.exe", "1.00.12", "1.00", {}},
        {"full64.exe", "1.00.12", "1.00", {}},
        {"endsinvalue.exe", "7.0.9", "7.0", {}},
        {versionName("3.1.0.0005"), "3.1.0.5", "3.1.0", {}},
        {versionName("2.5"), "2.5", "2", {}},
        {versionName("1.2.beta"), "1.2.beta", "1.2", {}},
        {versionName("1.00."), "1.00.", "1.00", {}},
        {versionName(".0040"), ".40", "", {}},
        {versionName("7"), "7", "7", {invalidCall}},
        {versionName("1, 0, 0, 12"), "1, 0, 0, 12", "1, 0, 0, 12", {invalidCall}},
        {"sparse.exe", "Not specified", "Not specified", {invalidCall}},
        {"noversion.exe", "", "", {typeMismatch, typeMismatch}},
        {"plain.txt", "", "", {typeMismatch, typeMismatch}},
        {"missing.exe", "", "", {typeMismatch, typeMismatch}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file.toStdString());
        for (bool noErrMsg : {true, false}) {
            MessageBoxRecorder boxes;
            EXPECT_EQ(modFile::GetFileVer(path(c.file), true, noErrMsg), c.withBuild);
            EXPECT_EQ(modFile::GetFileVer(path(c.file), false, noErrMsg), c.withoutBuild);
            EXPECT_EQ(boxes.texts, noErrMsg ? QStringList() : c.boxes) << "noErrMsg " << noErrMsg;
        }
    }
}

// Cut short anywhere before the end of its version block, an executable has none; after it, all of it.
// Damaged in its headers, resource tree or block, it gives a whole list or none and is never read outside the
// file (the sanitizer build watches that).
TEST_F(ModFileTest, TruncatedAndDamagedExecutables) {
    for (const char* name : {"full32.exe", "full64.exe"}) {
        SCOPED_TRACE(name);
        const QByteArray exe = readAll(name);
        const qsizetype block = exe.indexOf(units("VS_VERSION_INFO")) - 6;
        ASSERT_GT(block, 0x400);
        const qsizetype end = block + qFromLittleEndian<quint16>(exe.constData() + block);
        const QStringList full = expected(FullValues, "Language: Korean");

        for (qsizetype cut : {qsizetype(0), end - 1, end, end + 1, exe.size() - 1})
            EXPECT_EQ(readCopy(exe.left(cut)), cut < end ? std::nullopt : std::optional(full)) << cut;
        for (qsizetype cut = 0; cut < exe.size(); cut += 97)
            EXPECT_EQ(readCopy(exe.left(cut)), cut < end ? std::nullopt : std::optional(full)) << cut;

        for (qsizetype at = 0; at < block + 0x40; at = at == 0x400 ? block - 0x100 : at + 1) {
            for (char mask : {'\xff', '\x80'}) {
                QByteArray damaged = exe;
                damaged[at] = char(damaged[at] ^ mask);
                const auto list = readCopy(damaged);
                EXPECT_EQ(list ? list->size() : 13, 13) << at;
            }
        }
    }
    EXPECT_EQ(problem, QString());
}

TEST(ModFileLanguageTest, LanguageNames) {
    const std::pair<QString, QString> cases[] = {
        {"0412", "Korean"},
        {"041204b0", "Korean"},
        {"0409", "English - United States"},
        {"0809", "English - United Kingdom"},
        {"0411", "Japanese"},
        {"0804", "Chinese - PRC"},
        {"0c07", "German - Austrian"},
        {"1407", "German - Lichtenstein"},
        {"0401", "Arabic - Saudia Arabia"},
        {"240a04e4", "Spanish - Columbia"},
        {"0414", "Norwegian - Bokm책l"},
        {"0422", "Ukranian"},
        {"0432", "Setsuana"},
        {"0430", "Sutu"},
        {"0477", ""},
        {"041", ""},
        {" 0412", ""},
    };
    for (const auto& [code, name] : cases)
        EXPECT_EQ(modFile::LanguageName(code), name) << code.toStdString();

    const QStringList ids =
        QStringLiteral("0436 041C 3801 3C01 1401 0C01 0801 2C01 3401 3001 1001 1801 2001 4001 0401 2801 1C01 "
                       "2401 042D 0423 "
                       "0402 0403 0804 0C04 1004 0404 041A 0405 0406 0413 0813 0C09 2809 1009 1809 2009 1409 "
                       "1C09 2C09 0809 "
                       "0409 0425 0429 040B 0438 040C 080C 0C0C 140C 100C 043C 0407 0C07 1407 1007 0807 0408 "
                       "040D 0439 040E "
                       "040F 0421 0410 0810 0411 0412 0426 0427 042F 043E 043A 0414 0415 0816 0416 0417 0418 "
                       "0818 0419 0819 "
                       "0C1A 0432 0424 041B 042E 040A 2C0A 400A 340A 240A 140A 1C0A 300A 100A 480A 080A 4C0A "
                       "180A 280A 500A "
                       "3C0A 440A 380A 200A 0430 041D 081D 041E 041F 0431 0422 0420 042A 0434 043D 0435")
            .split(' ');
    QSet<QString> named;
    QSet<QString> names;
    for (int id = 0; id <= 0xFFFF; ++id) {
        const QString code = QString::number(id, 16).rightJustified(4, '0').toUpper();
        if (const QString name = modFile::LanguageName(code); !name.isEmpty()) {
            named.insert(code);
            names.insert(name);
        }
    }
    EXPECT_EQ(named, QSet<QString>(ids.begin(), ids.end()));
    EXPECT_EQ(names.size(), 116) << "every language has a name of its own";
}

} // namespace
