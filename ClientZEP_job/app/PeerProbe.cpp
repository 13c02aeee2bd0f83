#include "PeerProbe.h"

#include "FtpClient.h"
#include "HttpClient.h"
#include "LibCurl.h"
#include "cMySQL.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QTcpSocket>
#include <cerrno>

namespace PeerProbe {
namespace {

// The words of a connect that failed with the system's error `osErrno`.
QString connectWords(long osErrno, const QString& text) {
    switch (osErrno) {
    case ECONNREFUSED:
        return QStringLiteral("refused");
    case ETIMEDOUT:
        return QStringLiteral("timed out");
    case EHOSTUNREACH:
    case ENETUNREACH:
        return QStringLiteral("unreachable");
    default:
        return QStringLiteral("cannot connect (%1)").arg(text);
    }
}

Outcome outcome(const QString& failure) {
    Outcome result;
    result.ok = failure.isEmpty();
    result.words = result.ok ? QStringLiteral("ok") : failure;
    return result;
}

} // namespace

QString linkWords(const Outcome& outcome, const QDateTime& now) {
    if (!outcome.encrypted)
        return QStringLiteral("in clear");
    if (!outcome.certificate)
        return QStringLiteral("encrypted");
    return QStringLiteral("encrypted, certificate %1, expires in %2 days")
        .arg(outcome.certificate->subject)
        .arg(Tls::daysLeft(*outcome.certificate, now));
}

QString socketWords(QAbstractSocket::SocketError error, const QString& text) {
    switch (error) {
    case QAbstractSocket::ConnectionRefusedError:
        return QStringLiteral("refused");
    case QAbstractSocket::SocketTimeoutError:
        return QStringLiteral("timed out");
    case QAbstractSocket::HostNotFoundError:
        return QStringLiteral("host not found");
    case QAbstractSocket::NetworkError:
        return QStringLiteral("unreachable");
    default:
        return QStringLiteral("cannot connect (%1)").arg(text);
    }
}

QString curlWords(int code, long osErrno, const QString& text) {
    switch (code) {
    case CURLE_COULDNT_RESOLVE_HOST:
        return QStringLiteral("host not found");
    case CURLE_COULDNT_CONNECT:
        return connectWords(osErrno, text);
    case CURLE_OPERATION_TIMEDOUT:
    case CURLE_FTP_ACCEPT_TIMEOUT:
        return QStringLiteral("timed out");
    case CURLE_LOGIN_DENIED:
        return QStringLiteral("login refused");
    case CURLE_GOT_NOTHING:
        return QStringLiteral("closed without an answer");
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_USE_SSL_FAILED:
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CACERT_BADFILE:
        return QStringLiteral("refused over TLS: %1").arg(text);
    case CURLE_WEIRD_SERVER_REPLY:
        return QStringLiteral("not the expected server (%1)").arg(text);
    default:
        return QStringLiteral("failed (%1)").arg(text);
    }
}

QString httpWords(const HttpClient::Response& response) {
    if (!response.answered)
        return curlWords(response.curlCode, response.osErrno, response.error);
    if (response.status == 200)
        return QString();
    if (response.status == 404)
        return QStringLiteral("not found (HTTP 404)");
    return QStringLiteral("answered HTTP %1").arg(response.status);
}

QString mysqlWords(int number, const QString& text, bool wholeBound) {
    // The client library puts the system's error number of a failed connect in parentheses at the end.
    static const QRegularExpression systemError(QStringLiteral("\\((\\d+)\\)\\s*$"));
    switch (number) {
    case 1044: // ER_DBACCESS_DENIED_ERROR
    case 1045: // ER_ACCESS_DENIED_ERROR
    case 1698: // ER_ACCESS_DENIED_NO_PASSWORD_ERROR
        return QStringLiteral("login refused");
    case 1049: // ER_BAD_DB_ERROR
        return QStringLiteral("database not found");
    case CR_UNKNOWN_HOST:
        return QStringLiteral("host not found");
    case CR_CONNECTION_ERROR:
    case CR_CONN_HOST_ERROR:
        if (const auto match = systemError.match(text);
            match.hasMatch() && match.captured(1).toLong() != EINPROGRESS)
            return connectWords(match.captured(1).toLong(), text);
        return wholeBound ? QStringLiteral("timed out") : QStringLiteral("refused");
    case CR_SSL_CONNECTION_ERROR:
        return QStringLiteral("refused over TLS: %1").arg(text);
    case CR_SERVER_LOST:
    case CR_SERVER_GONE_ERROR:
        if (text.contains(QLatin1String("110")) ||
            text.contains(QLatin1String("timeout"), Qt::CaseInsensitive))
            return QStringLiteral("timed out");
        return QStringLiteral("closed during the log-in (%1)").arg(text);
    default:
        return QStringLiteral("failed: Error %1 (%2)").arg(number).arg(text);
    }
}

Outcome tcp(const QString& host, quint16 port, int timeoutMs) {
    QTcpSocket socket;
    socket.connectToHost(host, port);
    if (socket.waitForConnected(timeoutMs)) {
        socket.abort();
        return outcome(QString());
    }
    const QString words = socketWords(socket.error(), socket.errorString());
    socket.abort();
    return outcome(words);
}

Outcome http(const QString& url, int timeoutMs, const Tls::Policy& tls) {
    HttpClient::Options options;
    options.connectTimeoutMs = timeoutMs;
    options.totalTimeoutMs = timeoutMs;
    options.maxBytes = 4096; // whether it is there, not what it says
    options.tls = tls;
    options.certificate = true;
    const HttpClient::Response response = HttpClient::get(url, options);
    Outcome result = outcome(httpWords(response));
    result.encrypted = response.encrypted;
    result.certificate = response.peerCertificate;
    return result;
}

Outcome mysql(const QString& host, const QString& user, const QString& password, const QString& db, int port,
              int timeoutSeconds, const Tls::Policy& tls) {
    try {
        cMySQL connection;
        connection.setConnectTimeout(unsigned(timeoutSeconds));
        connection.setTls(tls);
        connection.setUsualPort(port);
        QElapsedTimer clock;
        clock.start();
        if (connection.real_connect(host, user, password, db, port, QString(), 0, true)) {
            Outcome result = outcome(QString());
            result.encrypted = !connection.tlsCipher().isEmpty();
            result.certificate = connection.peerCertificate();
            return result;
        }
        const bool wholeBound = clock.elapsed() >= qint64(timeoutSeconds) * 1000 - 100;
        const QString words = mysqlWords(connection.err_no(), connection.failureWords(), wholeBound);
        const QString hint = connection.tlsHint();
        return outcome(hint.isEmpty() || words.contains(hint)
                           ? words
                           : words + QStringLiteral(" (") + hint + QLatin1Char(')'));
    } catch (const std::exception&) {
        return outcome(QStringLiteral("the MySQL client could not start"));
    }
}

Outcome ftp(const QString& host, const QString& user, const QString& password, int port, bool passive,
            int timeoutMs, const Tls::Policy& tls, const QStringList& folders) {
    // The log-in gets the time the jobs give it: servers answer a wrong password only after a pause of
    // seconds, and a shorter bound would call the same refusal a time-out on one run and not the next.
    const std::chrono::milliseconds login = FtpClient::Timeouts{}.connect;
    const std::chrono::milliseconds stalled(timeoutMs);
    FtpClient client(FtpClient::Timeouts{login, login, stalled, login + stalled});
    client.setTls(tls);
    if (client.open(host, user, password, port, passive)) {
        Outcome result = outcome(QString());
        result.encrypted = client.encrypted();
        result.certificate = client.certificate();
        for (const QString& folder : folders) {
            const std::optional<QStringList> names = client.listNames(folder);
            if (!names) {
                const QString refusal = client.serverRefusal();
                result.folderProblems.append(
                    QStringLiteral("%1 cannot be listed (%2)")
                        .arg(folder, refusal.isEmpty() ? client.lastError() : refusal));
            } else if (names->isEmpty() && !client.isFolder(folder)) {
                // Some servers list a missing folder as an empty one.
                result.folderProblems.append(folder + QStringLiteral(" does not exist"));
            }
        }
        client.close();
        return result;
    }
    if (client.lastCode() == 0)
        return outcome(QStringLiteral("the FTP client could not start (%1)").arg(client.lastError()));
    // What the server said, where it refused; else what became of the connection or its TLS.
    const QString refusal = client.serverRefusal();
    return outcome(refusal.isEmpty() ? curlWords(client.lastCode(), client.lastOsErrno(), client.lastError())
                                     : refusal);
}

} // namespace PeerProbe
