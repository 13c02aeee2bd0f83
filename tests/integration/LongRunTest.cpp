// Months of running, compressed: the window model logged in to a loopback peer, with the real job servers
// behind it, through thirty days of schedule ticks and a thousand reconnects. Whatever runs must run exactly
// when it is due, and the process must hold no more at the end than it did after the first day.

#include "AnsiCodec.h"
#include "FormFixture.h"
#include "FtpServer.h"
#include "MariaDbServer.h"
#include "MessageBoxRecorder.h"
#include "ProcessFigures.h"
#include "QStringPrinter.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <cstdio>
#include <gtest/gtest.h>
#include <map>
#include <set>

namespace {

using namespace FormSetup;

constexpr int Contacts = 20;

// A clock the test moves on by hand.
using SteppingClock = TestSupport::FixedClock;

// The user list of the run: `Contacts` colleagues, of whom the first ten are online.
const QString UserList = userList(colleagues(Contacts, 10));

using TestSupport::writeFile;

using TestSupport::errorLogText;

struct Figures {
    int descriptors;
    long residentKb;
    long long heapBytes;
};

Figures figuresNow() {
    return {ProcessFigures::openDescriptors(), ProcessFigures::residentKb(),
            ProcessFigures::heapInUseBytes()};
}

// One report as it went out: the minute of the tick that sent it, the recipient and the text.
struct Sent {
    QString minute;
    QString recipient;
    QString text;
};

class LongRunTest : public FormFixture {
protected:
    MessageBoxRecorder boxes;
};

// ---- thirty days ----

// What the test arranges for one day, and so what the schedule must do on it.
struct DayPlan {
    QDate date;
    int online = 10;          // colleagues online from 00:30 on, of `Contacts`
    QStringList removalFiles; // "_2" files below download/, put there at 20:00 the day before
    bool backupPresent = true;
    bool csZipPresent = false;

    bool removalDay() const { return date.dayOfWeek() == Qt::Wednesday || date.dayOfWeek() == Qt::Thursday; }
    bool enoughOnline() const { return online * 10 >= Contacts * 4; }
    bool removalRuns() const { return removalDay() && enoughOnline(); }
    bool removalReported() const {
        return removalRuns() && (date.dayOfWeek() == Qt::Wednesday || !removalFiles.isEmpty());
    }
};

// December 2026 from Tuesday the 1st: Wednesdays 2, 9, 16, 23, 30; Thursdays 3, 10, 17, 24.
QList<DayPlan> decemberPlan() {
    QList<DayPlan> days;
    for (int d = 1; d <= 30; ++d) {
        DayPlan day;
        day.date = QDate(2026, 12, d);
        day.csZipPresent = d % 2 == 1;
        day.backupPresent = d != 5 && d != 20;
        switch (d) {
        case 2: // Wednesday, 50 %, nothing to rename: reported all the same
            break;
        case 3: // Thursday, 50 %, two renames: reported
            day.removalFiles = {"t3_2.exe", "versions/v3_2.msi"};
            break;
        case 9: // Wednesday, 35 %: nothing runs
        case 23:
            day.online = 7;
            break;
        case 10: // Thursday, 50 %, nothing to rename: runs, nothing sent
            break;
        case 16: // Wednesday, exactly 40 %, one rename
            day.online = 8;
            day.removalFiles = {"w16_2.exe"};
            break;
        case 17: // Thursday, 35 %, a file waiting: nothing runs, the file stays
            day.online = 7;
            day.removalFiles = {"t17_2.exe"};
            break;
        case 24: // Thursday, 60 %, one rename
            day.online = 12;
            day.removalFiles = {"t24_2.exe"};
            break;
        case 30: // Wednesday, 60 %
            day.online = 12;
            break;
        default:
            break;
        }
        days.append(day);
    }
    return days;
}

const QString Rule = QStringLiteral("-----------------------------");

QString diskReport(const QDate& today) {
    return QStringList{"< 하드잔량 보고서 >",
                       "일시: " + today.addDays(-1).toString("yyyy-MM-dd") + " 23:30",
                       "결과: 1건 모두 정상입니다.",
                       Rule,
                       "하드   잔량    감소 Days 결과",
                       Rule,
                       "127.0.0.1",
                       "  C:  50,000    100      OK",
                       Rule}
        .join("\r\n");
}

QString removalReport(const QStringList& files) {
    QString text = QStringLiteral("[FTP의 _2제거 일괄작업 처리결과]\r\n\r\n");
    for (const QString& file : files)
        text += "처리완료  " + file.section('/', -1) + "\r\n";
    return text + QStringLiteral("\r\n처리완료:%1, 처리실패:0").arg(files.size());
}

QString backupReport(const DayPlan& day) {
    const QString title = QStringLiteral("< DB 백업결과 보고서 >\r\n\r\n");
    if (!day.backupPresent)
        return title + "[!!] db1 : File Not Found!\r\n\r\n\r\n결과: 백업실패가 발견되었습니다. (1건)";
    return title + "[OK] (db1)_" + day.date.toString("MMdd") + ".bak\r\n\r\n\r\n결과: 1건 모두 정상입니다.";
}

QString csReport(const DayPlan& day, const QString& root) {
    return day.csZipPresent ? QStringLiteral("[알림] CS DB 파일서버에 다운로드 완료")
                            : "[문제발생] CS DB가 파일서버에 다운로드 되지 않았습니다!\r\n" + root;
}

QList<Sent> expectedReports(const DayPlan& day, const QString& csRoot) {
    const QString date = day.date.toString("yyyy-MM-dd ");
    QList<Sent> all{{date + "09:05", "92", diskReport(day.date)}};
    if (day.removalReported())
        all.append({date + "09:10", "-1", removalReport(day.removalFiles)});
    all.append({date + "11:00", "92", backupReport(day)});
    all.append({date + "14:00", "92", csReport(day, csRoot)});
    return all;
}

class ThirtyDaysTest : public LongRunTest {
protected:
    void SetUp() override {
        LongRunTest::SetUp();
        ASSERT_NE(FtpServer::port(), 0) << "no FTP fixture in " << FtpServer::folder().toStdString();
        ASSERT_NE(MariaDbServer::port(), 0)
            << "no MariaDB fixture in " << MariaDbServer::folder().toStdString();
        ASSERT_TRUE(admin.connected());
        writeDeployment(folder.path(), QStringLiteral("FtpPort=%1\r\nMySqlPort=%2\r\n")
                                           .arg(FtpServer::port())
                                           .arg(MariaDbServer::port())
                                           .toLatin1());
        csRoot = folder.path() + "/cs";
        writeFile(folder.path() + "/setup.ini",
                  AnsiCodec::fromUnicode("[General]\r\nFTP_PASV=1\r\nCSBackupPath=" + csRoot + "\r\n"));

        // One server with one drive, measured every night; one database server with its daily backups.
        admin.setOldProductPages();
        FtpServer::reset();
        FtpServer::layOutDownloads({"setup.exe"});
        FtpServer::layOutBackups({"csdb_backup/servers/db1"});
        QStringList servers, drives;
        for (const DayPlan& day : plan) {
            const int seq = day.date.day();
            servers << QStringLiteral("(%1,'127.0.0.1','%2')")
                           .arg(seq)
                           .arg(day.date.addDays(-1).toString("yyyy-MM-dd"));
            drives << QStringLiteral("(%1,'C:','50000','100')").arg(seq);
            if (day.backupPresent)
                FtpServer::layOutBackups({"csdb_backup_new/daily/" + day.date.toString("yyyy-MM-dd") +
                                          "/(db1)_" + day.date.toString("MMdd") + ".bak"});
            if (day.csZipPresent) {
                const QString zipFolder = csRoot + "/csdb_backup/" + day.date.toString("yyyy-MM-dd");
                ASSERT_TRUE(QDir().mkpath(zipFolder));
                writeFile(zipFolder + "/cs_full.zip", "PK");
            }
        }
        admin.setDiskSpace(servers.join(QLatin1Char(',')), drives.join(QLatin1Char(',')));
        ASSERT_TRUE(QDir().mkpath(csRoot));
    }
    void TearDown() override { FtpServer::reset(); }

    static QString download() { return FtpServer::download() + QLatin1Char('/'); }

    const QList<DayPlan> plan = decemberPlan();
    QString csRoot;
    MariaDbServer::Admin admin;
};

TEST_F(ThirtyDaysTest, EveryEntryRunsOnceOnEachDueDayAndNothingGrows) {
    constexpr int Ticks = 30 * 24 * 60;
    SteppingClock clock(QDateTime(plan.first().date, QTime(0, 0)));
    // One tick per turn of the event loop, each one minute later on the clock.
    frmMain form(peer.port(), {.autoLogin = 300, .schedule = 0}, clock);

    QList<std::pair<QString, QString>> sentAt; // minute and recipient, as the window reported each send
    QObject::connect(&form, &frmMain::stateLine, [&](const QString& line) {
        if (line.startsWith("report sent to "))
            sentAt.append({clock.at.toString("yyyy-MM-dd HH:mm"), line.mid(15).section(':', 0, 0)});
    });

    std::set<int> online; // the colleagues the peer has announced as online
    QString webName = QStringLiteral("old");
    std::map<int, Figures> nightly; // day of month -> figures at 23:59
    int ticks = 0;
    int reports = 0;

    // Reports sent but not yet seen at the peer, oldest first. Each packet that reaches the peer must be
    // the oldest of them, and nothing but reports may come.
    QList<Sent> undelivered;
    const auto checkDelivered = [&] {
        for (const MessengerPeer::Packet& packet : peer.received) {
            EXPECT_EQ(packet.code, 2) << packet.body.toStdString();
            if (undelivered.isEmpty()) {
                ADD_FAILURE() << "an unexpected report: " << packet.body.toStdString();
                continue;
            }
            const Sent expected = undelivered.takeFirst();
            SCOPED_TRACE(expected.minute.toStdString());
            EXPECT_EQ(packet.header, "123;" + expected.recipient);
            EXPECT_EQ(packet.body, expected.text);
        }
        peer.received.clear();
    };

    // Runs after the window's own tick handler: checks and arranges what belongs to the minute just ticked,
    // then moves the clock on by one minute.
    const auto afterTick = [&] {
        if (ticks == Ticks)
            return; // the run is over; later ticks stay at midnight, where nothing is due
        ++ticks;
        const QDateTime at = clock.at;
        const DayPlan& day = plan[plan.first().date.daysTo(at.date())];
        const QString minute = at.time().toString("HH:mm");
        if (minute == "00:30") {
            // Attendance of the day, through presence packets.
            for (int i = 0; i < Contacts; ++i) {
                const int id = 1000 + i;
                const bool wanted = i < day.online;
                if (wanted && !online.count(id)) {
                    peer.send(10, QStringLiteral("%1;127.0.0.1;0").arg(id));
                    online.insert(id);
                } else if (!wanted && online.count(id)) {
                    peer.send(11, QString::number(id));
                    online.erase(id);
                }
            }
        } else if (minute == "09:00" && day.removalDay()) {
            webName = day.removalRuns() ? day.date.toString("'web-'MMdd'.exe'") : webName;
            admin.setFileNames("('1', '" + day.date.toString("'web-'MMdd'.exe'") + "')");
        } else if (minute == "09:09") {
            EXPECT_EQ(form.contacts().OnlineCount, day.online)
                << "presence not taken in by " << at.toString().toStdString();
        } else if (minute == "12:00" && day.removalDay()) {
            SCOPED_TRACE(day.date.toString().toStdString());
            // The web database follows every run of the removal, and only those.
            EXPECT_EQ(admin.exec("SELECT DemoDownFile FROM webhost.cate3 WHERE idx=48"), webName);
            for (const QString& file : day.removalFiles) {
                const QString renamed = QString(file).replace("_2", "");
                EXPECT_EQ(QFile::exists(download() + file), !day.removalRuns()) << file.toStdString();
                EXPECT_EQ(QFile::exists(download() + renamed), day.removalRuns()) << renamed.toStdString();
                QFile::remove(download() + file); // a file the gate kept back is not for another day
            }
        } else if (minute == "20:00" && day.date < plan.last().date) {
            for (const QString& file : plan[plan.first().date.daysTo(at.date()) + 1].removalFiles)
                FtpServer::createFile(download() + file);
        } else if (minute == "23:59") {
            // The day's sends as the window made them, then what has reached the peer so far: checked and
            // forgotten, so that the test itself keeps nothing that grows from day to day.
            SCOPED_TRACE(day.date.toString().toStdString());
            const QList<Sent> due = expectedReports(day, csRoot);
            reports += int(due.size());
            EXPECT_EQ(sentAt.size(), due.size());
            for (qsizetype i = 0; i < due.size(); ++i) {
                EXPECT_EQ(sentAt.value(i).first, due[i].minute);
                EXPECT_EQ(sentAt.value(i).second, due[i].recipient);
            }
            sentAt.clear();
            undelivered += due;
            checkDelivered();
            nightly[at.date().day()] = figuresNow();
        }
        clock.at = at.addSecs(60);
    };
    QObject::connect(&form.scheduleTimer(), &QTimer::timeout, afterTick);

    QElapsedTimer real;
    real.start();
    for (int i = 0; i < 10; ++i)
        online.insert(1000 + i);
    ASSERT_NO_FATAL_FAILURE(logIn(form, peer, UserList));
    ASSERT_TRUE(waitUntil([&] { return ticks == Ticks; }, 300000)) << ticks << " ticks";
    const qint64 runMs = real.elapsed();

    EXPECT_TRUE(waitUntil([&] {
        checkDelivered();
        return undelivered.isEmpty();
    }));
    pump(200);
    form.cmdClose_Click();
    checkDelivered();
    EXPECT_EQ(reports, 95);
    EXPECT_EQ(errorLogText(folder.path()), QString());
    EXPECT_EQ(boxes.texts, QStringList());

    // The figures of every night, for the record; the last night holds what the first did.
    ASSERT_EQ(nightly.size(), 30u);
    std::printf("thirty days: %d ticks in %.1f s, %d reports\nnight  fds  VmRSS kB  heap bytes\n", Ticks,
                runMs / 1000.0, reports);
    for (const auto& [date, f] : nightly)
        std::printf("%5d %4d %9ld %11lld\n", date, f.descriptors, f.residentKb, f.heapBytes);
    const Figures first = nightly.begin()->second, last = nightly.rbegin()->second;
    for (const auto& [date, f] : nightly)
        EXPECT_EQ(f.descriptors, first.descriptors) << "night " << date;
    if (!ProcessFigures::MemoryIsMeasurable)
        return;
    EXPECT_GT(first.residentKb, 0);
    EXPECT_LT(last.residentKb - first.residentKb, 1024)
        << "resident memory grew from " << first.residentKb << " kB to " << last.residentKb << " kB";
    // The allocator's own caches fill during the first week; after that the heap in use must stand still.
    const Figures middle = nightly.at(15);
    EXPECT_LT(last.heapBytes - first.heapBytes, 256 * 1024)
        << "the heap in use grew from " << first.heapBytes << " to " << last.heapBytes << " bytes";
    EXPECT_LT(last.heapBytes - middle.heapBytes, 32 * 1024)
        << "the heap in use grew from " << middle.heapBytes << " to " << last.heapBytes << " bytes";
}

// ---- a thousand reconnects ----

TEST_F(LongRunTest, AThousandReconnectsLeaveNothingBehind) {
    constexpr int Reconnects = 1000;
    constexpr int Settled = 20; // the figures are compared from here on
    // Early in the morning: the schedule has nothing due, whenever it ticks.
    const SteppingClock night(QDateTime(QDate(2026, 12, 9), QTime(3, 0)));
    frmMain form(peer.port(), {.autoLogin = 5}, night);

    QElapsedTimer real;
    real.start();
    form.Form_Load();
    ASSERT_TRUE(peer.take(50));
    Figures settled{};
    for (int i = 0; i <= Reconnects; ++i) {
        if (i > 0) {
            peer.drop();
            const auto login = peer.take(50);
            ASSERT_TRUE(login) << "reconnect " << i;
            ASSERT_EQ(login->header, QStringLiteral("123;0")) << "reconnect " << i;
        }
        ASSERT_NO_FATAL_FAILURE(acceptLogin(peer, UserList)) << "reconnect " << i;
        ASSERT_TRUE(form.scheduleTimer().isActive());
        if (i == Settled)
            settled = figuresNow();
    }
    const Figures last = figuresNow();
    const qint64 runMs = real.elapsed();
    EXPECT_EQ(peer.connections, Reconnects + 1);
    EXPECT_EQ(form.contacts().OnlineCount, 10);
    EXPECT_TRUE(peer.received.isEmpty());
    EXPECT_EQ(errorLogText(folder.path()), QString());
    form.cmdClose_Click();

    std::printf("%d reconnects in %.1f s; after %d: %d fds, %ld kB; after %d: %d fds, %ld kB\n", Reconnects,
                runMs / 1000.0, Settled, settled.descriptors, settled.residentKb, Reconnects,
                last.descriptors, last.residentKb);
    EXPECT_EQ(last.descriptors, settled.descriptors);
    if (!ProcessFigures::MemoryIsMeasurable)
        return;
    EXPECT_GT(settled.residentKb, 0);
    EXPECT_LT(last.residentKb - settled.residentKb, 2048);
}

} // namespace
