#include "modJobFTP.h"

#include "AnsiCodec.h"
#include "ErrorLog.h"
#include "FtpClient.h"
#include "JobAccounts.h"
#include "MessageBox.h"
#include "ProgramInfo.h"
#include "Recordset.h"
#include "SiblingTool.h"
#include "VbError.h"
#include "cMySQL.h"
#include "modIniFile.h"

#include <array>
#include <memory>
#include <optional>

namespace modJobFTP {

namespace {

const QString CrLf = QStringLiteral("\r\n");

// The module's one FTP connection.
std::unique_ptr<FtpClient> connection;

int passiveFlag() {
    return modIniFile::ReadIniValue(QStringLiteral("General"), QStringLiteral("FTP_PASV"), QString(),
                                    modIniFile::SetupIniPath()) == QLatin1String("1")
               ? 1
               : 0;
}

// The jobs count in 16 bits; past that they stop with an overflow, as they always have.
void add16(qint16& counter, int amount) {
    const int sum = counter + amount;
    if (sum > 32767 || sum < -32768)
        throw VbError(VbErrors::Overflow, QStringLiteral("modJobFTP"),
                      VbErrors::describe(VbErrors::Overflow));
    counter = qint16(sum);
}

} // namespace

bool FTP_Open(const QString& host, const QString& user, const QString& password, int port, int passive,
              FtpClient::NameEncoding names, const Tls::Policy& tls) {
    try {
        FTP_Close();
        auto client = std::make_unique<FtpClient>();
        client->setNameEncoding(names);
        client->setTls(tls);
        if (!client->open(host, user, password, port, passive == 1)) {
            // The report says only that the log-in failed; why is for the administrator to act on.
            const QString refusal = client->serverRefusal();
            ErrorLog::WriteToFile(QStringLiteral("FTP %1:%2 (%3): no session: %4")
                                      .arg(host)
                                      .arg(port)
                                      .arg(user, refusal.isEmpty() ? client->lastError() : refusal));
            return false;
        }
        connection = std::move(client);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

void FTP_Close() {
    connection.reset();
}

const QStringList& RemovalFolders() {
    static const QStringList folders = {QStringLiteral("/public_html/download/"),
                                        QStringLiteral("/public_html/download/versions/")};
    return folders;
}

namespace {

// The two backup kinds: the folder listing their servers, and the folder of their daily folders.
struct BackupKind {
    const char* servers;
    const char* daily;
};
const BackupKind BackupKinds[] = {{"/csdb_backup/servers/", "/csdb_backup_new/daily/"},
                                  {"/pvdb_backup/servers/", "/pvdb_backup_new/daily/"}};

} // namespace

const QStringList& BackupFolders() {
    static const QStringList folders = [] {
        QStringList all;
        for (const BackupKind& kind : BackupKinds)
            all << QLatin1String(kind.servers) << QLatin1String(kind.daily);
        return all;
    }();
    return folders;
}

bool FTP_Rename(const QString& from, const QString& to) {
    return connection && connection->rename(from, to);
}

QString FtpSearch::FTP_FindFirst(const QString& pathWithMask) {
    FTP_CloseSearch();
    if (!connection)
        return QString();
    const qsizetype cut = pathWithMask.lastIndexOf(QLatin1Char('/')) + 1;
    const QString directory = pathWithMask.left(cut);
    const QStringView mask = QStringView(pathWithMask).mid(cut);
    const std::optional<QStringList> listed = connection->listNames(directory);
    if (!listed && connection->lastWasBound()) {
        // Past its bound the job stops: what it holds of the listing would be no report.
        ErrorLog::WriteToFile(QStringLiteral("FTP: %1; the job stops").arg(connection->lastError()));
        throw VbError(VbErrors::OutOfMemory, QStringLiteral("modJobFTP"), connection->lastError());
    }
    directory_ = directory;
    failed_ = !listed;
    empty_ = listed && listed->isEmpty();
    if (!listed)
        return QString();
    for (const QString& name : *listed) {
        if (mask.isEmpty() || FtpClient::matchesMask(name, mask))
            names_.append(name);
    }
    return FTP_FindNext();
}

QString FtpSearch::FTP_FindNext() {
    if (next_ < names_.size())
        return names_.at(next_++);
    FTP_CloseSearch();
    return QString();
}

void FtpSearch::FTP_CloseSearch() {
    names_.clear();
    next_ = 0;
}

bool FtpSearch::FTP_FolderListed() {
    if (failed_ || !connection)
        return false;
    // Asked only of an empty listing, and once.
    if (empty_ && !connection->isFolder(directory_))
        failed_ = true;
    empty_ = false;
    return !failed_;
}

namespace {

// A job's log-in to one of the two FTP servers, as deployment.ini asks for it this run.
bool openFor(const JobContext& context, const QString& host, const JobAccounts::Account& account) {
    // Without a password there is nothing to log in with: the failure line names the missing key.
    if (!account.missing().isEmpty())
        return false;
    return FTP_Open(host, account.user, account.password, context.settings.FtpPort, passiveFlag(),
                    context.ftpNames(), context.settings.ftpTls());
}

} // namespace

bool FTP_2RemoveBatch(QString& report, const JobContext& context) {
    const JobAccounts::Account account = JobAccounts::WebHostFtp(context.settings);
    const QString& user = account.user;
    const QString mask = QStringLiteral("*_2.*");
    const QString removed = QStringLiteral("_2");

    report = QStringLiteral("[FTP의 _2제거 일괄작업 처리결과]") + CrLf + CrLf;
    if (!openFor(context, context.webHostFtp, account)) {
        report += QStringLiteral("FTP Open에 실패했습니다.") + CrLf + context.webHostFtp +
                  QStringLiteral(" - ") + user + account.missingNote();
        return false;
    }

    qint16 ok = 0, failed = 0;
    FtpSearch search;
    const auto processDirectory = [&](const QString& directory) {
        // The whole listing is taken before the first rename, so a renamed file is never met again.
        for (QString name = search.FTP_FindFirst(directory + mask); !name.isEmpty();
             name = search.FTP_FindNext()) {
            const QString newName = QString(name).remove(removed);
            if (FTP_Rename(directory + name, directory + newName)) {
                report += QStringLiteral("처리완료  ");
                add16(ok, 1);
            } else {
                report += QStringLiteral("처리실패! ");
                add16(failed, 1);
            }
            report += name + CrLf;
        }
        // A folder that could not be looked at is no week without uploads.
        if (!search.FTP_FolderListed()) {
            report +=
                QStringLiteral("처리실패! ") + directory + QStringLiteral(" (폴더를 읽을 수 없음)") + CrLf;
            add16(failed, 1);
        }
    };
    try {
        processDirectory(RemovalFolders().at(0));
        if (ok > 0)
            processDirectory(RemovalFolders().at(1));
    } catch (const VbError& error) {
        FTP_Close();
        if (error.number() != VbErrors::OutOfMemory)
            throw;
        // A listing past its bound ends the batch with the error instead of the counts.
        report += VbErrors::trappedText(error, QStringLiteral("FTP_2RemoveBatch"), QStringLiteral("Module"),
                                        QStringLiteral("modJobFTP"));
        return false;
    } catch (...) {
        FTP_Close();
        throw;
    }
    FTP_Close();

    report += CrLf + QStringLiteral("처리완료:") + QString::number(ok) + QStringLiteral(", 처리실패:") +
              QString::number(failed);
    const bool result = ok > 0;
    if (result)
        SiblingTool::StartCodeUpdater(ProgramInfo::folder());
    // The product pages still point at last week's files: the report must not read as all done.
    if (const QString failure = ChangeRnameFile(context); !failure.isEmpty())
        report += CrLf + QStringLiteral("웹DB 갱신실패! ") + failure;
    return result;
}

bool DB_BackupCheck(QString& report, const JobContext& context) {
    const JobAccounts::Account account = JobAccounts::BackupFtp(context.settings);
    const QString& user = account.user;
    const QString today = context.clock.now().date().toString(QStringLiteral("yyyy-MM-dd"));
    report = QStringLiteral("< DB 백업결과 보고서 >") + CrLf + CrLf;
    try {
        if (!openFor(context, context.backupFtp, account)) {
            report += QStringLiteral("FTP Open에 실패했습니다.") + CrLf + context.backupFtp +
                      QStringLiteral(" - user: ") + user + account.missingNote() + CrLf;
            return false;
        }
        qint16 total = 0, missing = 0;
        FtpSearch search;
        std::array<QString, 100> servers;
        for (const BackupKind& kind : BackupKinds) {
            servers.fill(QString());
            int count = 0;
            for (QString name = search.FTP_FindFirst(QLatin1String(kind.servers)); !name.isEmpty();
                 name = search.FTP_FindNext()) {
                if (count == int(servers.size()))
                    throw VbError(VbErrors::SubscriptOutOfRange, QStringLiteral("modFTPJob"),
                                  VbErrors::describe(VbErrors::SubscriptOutOfRange));
                servers[count++] = name;
            }
            add16(total, count);
            // A server list that could not be looked at is a failure of its own, not zero servers fine.
            if (!search.FTP_FolderListed()) {
                report += QStringLiteral("[!!] ") + QLatin1String(kind.servers) +
                          QStringLiteral(" : Folder Not Readable!") + CrLf;
                add16(missing, 1);
            }

            // Today's folder is listed once for all the kind's servers, each then looked for in that listing
            // as its own search would have: one data connection (and over TLS one handshake) instead of one
            // per server.
            QStringList daily;
            if (count > 0)
                for (QString name =
                         search.FTP_FindFirst(QLatin1String(kind.daily) + today + QLatin1Char('/'));
                     !name.isEmpty(); name = search.FTP_FindNext())
                    daily.append(name);
            for (int i = 0; i < count; ++i) {
                const QString mask = QLatin1Char('(') + servers[i] + QStringLiteral(")*");
                QString found;
                for (const QString& name : std::as_const(daily))
                    if (FtpClient::matchesMask(name, mask)) {
                        found = name;
                        break;
                    }
                if (!found.isEmpty()) {
                    report += QStringLiteral("[OK] ") + found + CrLf;
                } else {
                    report += QStringLiteral("[!!] ") + servers[i].rightJustified(3, QLatin1Char(' ')) +
                              QStringLiteral(" : File Not Found!") + CrLf;
                    add16(missing, 1);
                }
            }
        }
        FTP_Close();

        report += CrLf + CrLf;
        if (missing == 0)
            report +=
                QStringLiteral("결과: ") + QString::number(total) + QStringLiteral("건 모두 정상입니다.");
        else
            report += QStringLiteral("결과: 백업실패가 발견되었습니다. (") + QString::number(missing) +
                      QStringLiteral("건)");
        return true;
    } catch (const std::exception& error) {
        // The connection is not left open behind a failed check.
        FTP_Close();
        report += VbErrors::trappedText(error, QStringLiteral("DB_BackupCheck"), QStringLiteral("Module"),
                                        QStringLiteral("modFTPJob"));
        return false;
    }
}

QString ChangeRnameFile(const JobContext& context) {
    // The first failure, for the caller's report; the message boxes show each one as they always have.
    QString failure;
    const auto fail = [&failure](const QString& text) {
        if (failure.isEmpty())
            failure = text;
    };
    const auto showTrapped = [&fail](const std::exception& error) {
        const QString text = VbErrors::trappedText(error, QStringLiteral("ChangeRnameFile_Error"),
                                                   QStringLiteral("Form"), QStringLiteral("FrmMain"));
        fail(text);
        MessageBox::show(text);
    };
    // A statement the server refused has shown query's own message.
    const auto refused = [&fail](cMySQL& db) {
        if (db.err_no() != 0)
            fail(QStringLiteral("Error %1 (%2)").arg(db.err_no()).arg(db.err_description()));
    };
    struct Rows {
        int cate3;
        int cate3Info;
    };
    const auto rowsOf = [](const QString& code) -> std::optional<Rows> {
        if (code == QLatin1String("1"))
            return Rows{48, 62};
        if (code == QLatin1String("2"))
            return Rows{49, 63};
        if (code == QLatin1String("3"))
            return Rows{52, 65};
        if (code == QLatin1String("4"))
            return Rows{86, 88};
        return std::nullopt;
    };

    std::unique_ptr<cMySQL> db;
    try {
        db = std::make_unique<cMySQL>();
    } catch (const std::exception& error) {
        showTrapped(error);
        return failure;
    }
    db->setTls(context.settings.mySqlTls());
    db->setUsualPort(context.settings.MySqlPort);
    std::unique_ptr<Recordset> rs;
    const JobAccounts::Account web = JobAccounts::WebDatabase(context.settings);
    if (const QString missing = web.missing(); !missing.isEmpty()) {
        ErrorLog::WriteToFile(QStringLiteral("web database %1: %2").arg(web.user, missing));
        return QStringLiteral("DB Open에 실패했습니다. %1 %2%3")
            .arg(context.webLogin, web.user, web.missingNote());
    }
    const bool connected =
        db->real_connect(context.webLogin, web.user, web.password, web.database, 3306, QString(), 0, false);
    if (!connected) {
        db->logLoginRefusal(QStringLiteral("web database"));
        fail(QStringLiteral("DB Open에 실패했습니다. %1 %2 (%3)")
                 .arg(context.webLogin, web.user, db->failureWords()));
    }
    if (connected) {
        // A failed SELECT has shown query's own message; there is nothing to walk.
        rs = db->query(QStringLiteral("SELECT a.code, a.rname FROM file_rname AS a ORDER BY a.code"));
        if (!rs)
            refused(*db);
        while (rs && !rs->Eof()) {
            try {
                const QString code = rs->Fields().Item(QStringLiteral("code")).Value();
                const QString rname = rs->Fields().Item(QStringLiteral("rname")).Value();
                const std::optional<Rows> rows = rowsOf(code);
                if (!rname.isEmpty() && rows) {
                    // The name goes in through the connection's own escaping: an apostrophe in it is stored,
                    // never read as the end of the text.
                    QString name;
                    db->escape_string(name, rname, int(AnsiCodec::fromUnicode(rname).size()));
                    db->query(QStringLiteral("update cate3 as a set a.DemoDownFile  = '") + name +
                              QStringLiteral("' where a.idx=") + QString::number(rows->cate3));
                    refused(*db);
                    db->query(QStringLiteral("update cate3_info as a  set a.DemoDownFile  = '") + name +
                              QStringLiteral("'where a.idx = ") + QString::number(rows->cate3Info));
                    refused(*db);
                }
            } catch (const std::exception& error) {
                showTrapped(error);
            }
            try {
                rs->MoveNext();
            } catch (const std::exception& error) {
                showTrapped(error);
                break;
            }
        }
    }
    Recordset::CloseRecordset(rs);
    db->free_result();
    return failure;
}

} // namespace modJobFTP
