#include "modJobMain.h"

#include "ErrorLog.h"
#include "FileSystem.h"
#include "JobAccounts.h"
#include "Recordset.h"
#include "VbError.h"
#include "cMySQL.h"
#include "modIniFile.h"
#include "modString.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <memory>
#include <optional>
#include <string>

namespace modJobMain {
namespace {

const QString CrLf = QStringLiteral("\r\n");
const QString Rule = QStringLiteral("-----------------------------");

// Megabytes: below this a drive is in danger whatever its trend.
constexpr double DangerFreeMb = 3000;
// A daily decrease up to this is noise, not a trend.
constexpr double SteadyDecreaseMb = 5;
constexpr qint64 NoTrendDays = 9999;

[[noreturn]] void fail(int number) {
    throw VbError(number, QStringLiteral("modJobMain"), VbErrors::describe(number));
}

// A decimal number the way the collector's text columns hold one: blanks around it, a sign, digits (commas
// between them allowed) with an optional fraction, an optional exponent. Anything else is no number.
double readFigure(const QString& text) {
    std::string digits;
    digits.reserve(text.size());
    qsizetype i = 0;
    const qsizetype n = text.size();
    const auto isDigit = [&](qsizetype at) { return at < n && text[at] >= u'0' && text[at] <= u'9'; };
    while (i < n && (text[i] == u' ' || text[i] == u'\t'))
        ++i;
    if (i < n && (text[i] == u'+' || text[i] == u'-')) {
        if (text[i] == u'-')
            digits += '-';
        ++i;
    }
    int mantissaDigits = 0;
    bool wholePartZero = true;
    for (; isDigit(i) || (mantissaDigits > 0 && i < n && text[i] == u','); ++i) {
        if (text[i] == u',')
            continue; // thousands written out, as a conversion to a number accepts them
        ++mantissaDigits;
        wholePartZero = wholePartZero && text[i] == u'0';
        digits += char(text[i].unicode());
    }
    if (i < n && text[i] == u'.') {
        digits += '.';
        for (++i; isDigit(i); ++i, ++mantissaDigits)
            digits += char(text[i].unicode());
    }
    if (mantissaDigits == 0)
        fail(VbErrors::TypeMismatch);
    bool negativeExponent = false;
    if (i < n && (text[i] == u'e' || text[i] == u'E')) {
        digits += 'e';
        ++i;
        if (i < n && (text[i] == u'+' || text[i] == u'-')) {
            negativeExponent = text[i] == u'-';
            digits += char(text[i++].unicode());
        }
        if (!isDigit(i))
            fail(VbErrors::TypeMismatch);
        for (; isDigit(i); ++i)
            digits += char(text[i].unicode());
    }
    while (i < n && (text[i] == u' ' || text[i] == u'\t'))
        ++i;
    if (i != n)
        fail(VbErrors::TypeMismatch);
    double value = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (error == std::errc::result_out_of_range && (negativeExponent || wholePartZero))
        return 0; // too small to tell from zero
    if (error != std::errc() || end != digits.data() + digits.size() || !std::isfinite(value))
        fail(VbErrors::Overflow);
    return value;
}

QString formatRounded(double value) {
    // Half away from zero, as a display format rounds; a figure that rounds to nothing shows no sign.
    const double rounded = std::round(value);
    QString digits = QString::number(std::fabs(rounded), 'f', 0);
    for (qsizetype at = digits.size() - 3; at > 0; at -= 3)
        digits.insert(at, QLatin1Char(','));
    return rounded < 0 ? QLatin1Char('-') + digits : digits;
}

// A whole number as a conversion to an integer takes it: to the nearest, ties to the even one. Kept in 64
// bits, so a volume beyond 2,147,483,647 MB shows its days instead of ending the report with an overflow.
qint64 wholeNumber(double value) {
    const double rounded = std::nearbyint(value);
    if (!(rounded >= -9.2e18 && rounded <= 9.2e18))
        fail(VbErrors::Overflow);
    return qint64(rounded);
}

// Right-aligned in its column. A figure wider than its column is shown whole rather than cut, which would
// turn 1,500,000 into "1,500,00".
QString column(const QString& figure, int width) {
    return figure.size() > width ? figure : modString::LPad(figure, width, QStringLiteral(" "));
}

void increment(qint16& count) {
    if (count == std::numeric_limits<qint16>::max())
        fail(VbErrors::Overflow);
    ++count;
}

// One drive's line, appended piece by piece: a figure that is no number stops it where it stands.
void appendDrive(QString& table, const QString& drive, const QString& freeText, const QString& diffText,
                 qint16& dangers, qint16& warnings) {
    table += QStringLiteral("  ");
    table += drive;
    const double free = readFigure(freeText);
    table += column(formatRounded(free), 8);
    const double diff = readFigure(diffText);
    table += column(formatRounded(diff), 7);

    qint64 days = NoTrendDays;
    if (diff > SteadyDecreaseMb) {
        days = wholeNumber(free) / wholeNumber(diff);
        table += days <= 99 ? column(QString::number(days), 5) : QString(5, QLatin1Char(' '));
    } else {
        table += QString(5, QLatin1Char(' '));
    }

    if (free < DangerFreeMb || days <= 2) {
        increment(dangers);
        table += QStringLiteral(" !!");
    } else if (days <= 5) {
        increment(warnings);
        table += QStringLiteral(" !");
    } else {
        table += QStringLiteral(" OK");
    }
    table += CrLf;
}

} // namespace

QString FormatFigure(const QString& figure) {
    return formatRounded(readFigure(figure));
}

QString ServersHDDFreeCheck(const JobContext& context) {
    const QString& host = context.masterServer;
    QString table = QStringLiteral("하드   잔량    감소 Days 결과") + CrLf + Rule + CrLf;
    QString report;
    std::unique_ptr<cMySQL> db;
    std::unique_ptr<Recordset> rs;
    try {
        db = std::make_unique<cMySQL>();
        db->setTls(context.settings.mySqlTls());
        db->setUsualPort(context.settings.MySqlPort);
        const JobAccounts::Account Log = JobAccounts::LogDatabase(context.settings);
        // Without a password there is nothing to log in with: the failure line names the missing key.
        const bool missing = !Log.missing().isEmpty();
        if (missing ||
            !db->real_connect(host, Log.user, Log.password, Log.database, 3306, QString(), 0, true)) {
            if (!missing)
                db->logLoginRefusal(QStringLiteral("log database"));
            table += QStringLiteral("DB Open에 실패했습니다.") + CrLf + host + QLatin1Char(' ') + Log.user +
                     Log.missingNote() + CrLf;
            report = table;
        } else {
            const QString date =
                context.clock.now().date().addDays(-1).toString(QStringLiteral("yyyy-MM-dd"));
            rs = db->query(QStringLiteral("select m.svrip, t.drvname, t.freesize, t.diffsize") +
                           QStringLiteral(" from `hddfree_m` m") +
                           QStringLiteral(" inner join `hddfree_t` t on m.mseq=t.mseq") +
                           QStringLiteral(" where m.log_date = '") + date + QLatin1Char('\'') +
                           QStringLiteral(" order by m.svrip, t.drvname"));
            // The query has already shown its own message box; reading on from no table is the error that
            // ends the report.
            if (!rs)
                throw VbError(VbErrors::ObjectNotSet, QStringLiteral("modJobMain"),
                              VbErrors::describe(VbErrors::ObjectNotSet));

            qint16 rows = 0, dangers = 0, warnings = 0;
            QString previous;
            while (!rs->Eof()) {
                increment(rows);
                const QString address = rs->Fields().Item(QStringLiteral("svrip")).Value();
                if (address != previous) {
                    if (!previous.isEmpty())
                        table += CrLf;
                    previous = address;
                    table += address + CrLf;
                }
                appendDrive(table, rs->Fields().Item(QStringLiteral("drvname")).Value(),
                            rs->Fields().Item(QStringLiteral("freesize")).Value(),
                            rs->Fields().Item(QStringLiteral("diffsize")).Value(), dangers, warnings);
                rs->MoveNext();
            }
            table += Rule;

            QString summary = QStringLiteral("< 하드잔량 보고서 >") + CrLf;
            summary += QStringLiteral("일시: ") + date + QStringLiteral(" 23:30") + CrLf;
            if (dangers == 0 && warnings == 0)
                summary += QStringLiteral("결과: %1건 모두 정상입니다.").arg(rows);
            else
                summary += QStringLiteral("결과: 위험(%1)건, 경고(%2)건 발견!").arg(dangers).arg(warnings) +
                           CrLf + CrLf + QStringLiteral(" - 위험: 2일치 이하(또는 3G이하)") + CrLf +
                           QStringLiteral(" - 경고: 5일치 이하");
            summary += CrLf + Rule + CrLf;
            report = summary + table;
        }
    } catch (const std::exception& e) {
        report = table + VbErrors::trappedText(e, QStringLiteral("ServersHDDFreeCheck"),
                                               QStringLiteral("Module"), QStringLiteral("modJobMain"));
    }
    Recordset::CloseRecordset(rs);
    if (db)
        db->free_result();
    return report;
}

double DiskGigabytes(quint64 clusterBytes, quint64 clusters) {
    // Default rounding mode: ties go to the even neighbour, at both steps.
    const double thousands = std::nearbyint(double(clusters) / 1024.0);
    return std::nearbyint(double(clusterBytes) * thousands / 1048576.0 * 100.0) / 100.0;
}

double GetMyFreeDisk(const QString& drive, double& total) {
    const FileSystem::DiskSpace space = FileSystem::diskSpace(drive);
    if (!space.ok()) {
        ErrorLog::WriteToFile(VbErrors::trappedText(space.errorNumber, space.errorDescription,
                                                    QStringLiteral("GetMyFreeDisk"), QStringLiteral("Module"),
                                                    QStringLiteral("frmMain")));
        return 0;
    }
    total = DiskGigabytes(space.clusterBytes, space.totalClusters);
    return DiskGigabytes(space.clusterBytes, space.freeClusters);
}

QString DownloadNotice(double freeGigabytes, const QString& root) {
    if (freeGigabytes > 0.1)
        return QStringLiteral("[알림] CS DB 파일서버에 다운로드 완료");
    return QStringLiteral("[알림] CS DB 파일서버에 다운로드 실패! 하드 용량부족 ") + root;
}

void CSDB_DownloadCheck(QString& report, const JobContext& context) {
    const QString root = modIniFile::ReadIniValue(QStringLiteral("General"), QStringLiteral("CSBackupPath"),
                                                  QString(), modIniFile::SetupIniPath());
    if (root.isEmpty()) {
        report = QStringLiteral("CS Full 백업 경로가 설정되지 않았습니다. General > CSBackupPath (") +
                 modIniFile::SetupIniPath() + QLatin1Char(')');
        ErrorLog::WriteToFile(report);
        return;
    }
    const QString today = root + QStringLiteral("/csdb_backup/") +
                          context.clock.now().date().toString(QStringLiteral("yyyy-MM-dd"));
    if (!FileSystem::firstMatch(today + QStringLiteral("/*.zip"))) {
        report = QStringLiteral("[문제발생] CS DB가 파일서버에 다운로드 되지 않았습니다!") + CrLf + root;
        return;
    }
    // The root itself stands for its drive: statvfs finds the volume that holds it.
    double total = 0;
    report = DownloadNotice(GetMyFreeDisk(root, total), root);
}

} // namespace modJobMain
