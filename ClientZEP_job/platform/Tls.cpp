#include "Tls.h"

#include <QLocale>
#include <QRegularExpression>
#include <QTimeZone>
#include <array>

namespace Tls {

QString why(const QString& libraryText) {
    struct Verdict {
        const char* marker; // a piece of the libraries' texts, compared without regard to case
        const char* words;
    };
    // Most specific first: a failed verification names its reason after a general "verify failed".
    static const std::array<Verdict, 18> verdicts{{
        {"certificate has expired", "the server's certificate has expired"},
        {"not yet valid", "the server's certificate is not valid yet"},
        {"subject name", "the server's certificate is for another name"},
        {"does not match", "the server's certificate is for another name"},
        {"hostname mismatch", "the server's certificate is for another name"},
        {"host name", "the server's certificate is for another name"},
        {"validation of ssl server certificate", "the server's certificate is for another name"},
        {"local issuer", "the server's certificate is signed by a CA this bot does not trust"},
        {"self-signed", "the server's certificate is signed by a CA this bot does not trust"},
        {"self signed", "the server's certificate is signed by a CA this bot does not trust"},
        {"unknown ca", "the server's certificate is signed by a CA this bot does not trust"},
        {"certificate verify failed", "the server's certificate could not be verified"},
        {"setting certificate file", "the CA file (TlsCaFile) cannot be read"},
        {"cacert", "the CA file (TlsCaFile) cannot be read"},
        {"requested ssl level failed", "the server does not offer TLS"},
        {"server does not support", "the server does not offer TLS"},
        {"wrong version number", "the server does not offer TLS"},
        {"ssl", "the TLS handshake failed"},
    }};
    const QString text = libraryText.toLower();
    for (const Verdict& v : verdicts)
        if (text.contains(QLatin1String(v.marker)))
            return QLatin1String(v.words) + QStringLiteral(" (") + libraryText + QLatin1Char(')');
    return QString();
}

qint64 daysLeft(const Certificate& certificate, const QDateTime& now) {
    if (!certificate.expires.isValid())
        return 0;
    const qint64 seconds = now.secsTo(certificate.expires);
    return seconds >= 0 ? seconds / 86400 : -((-seconds + 86399) / 86400);
}

QDateTime readExpiry(const QString& text) {
    static const QRegularExpression iso(QStringLiteral("(\\d{4}-\\d{2}-\\d{2}) (\\d{2}:\\d{2}:\\d{2})"));
    if (const auto m = iso.match(text); m.hasMatch())
        return QDateTime(QDate::fromString(m.captured(1), Qt::ISODate),
                         QTime::fromString(m.captured(2), Qt::ISODate), QTimeZone::utc());
    // "Dec 10 10:00:00 2027 GMT"; the day may be padded with a blank.
    QString simplified = text.simplified();
    simplified.remove(QStringLiteral(" GMT"));
    const QDateTime at = QLocale::c().toDateTime(simplified, QStringLiteral("MMM d HH:mm:ss yyyy"));
    return at.isValid() ? QDateTime(at.date(), at.time(), QTimeZone::utc()) : QDateTime();
}

} // namespace Tls
