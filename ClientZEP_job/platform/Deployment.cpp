#include "Deployment.h"

#include "NumericText.h"

#include <QFile>
#include <QHostAddress>
#include <algorithm>
#include <iterator>
#include <optional>

#ifndef ZEPJOB_DEFAULT_HOST
#define ZEPJOB_DEFAULT_HOST "127.0.0.1"
#endif
#ifndef ZEPJOB_DEFAULT_MESSENGER_PORT
#define ZEPJOB_DEFAULT_MESSENGER_PORT 10015
#endif
#ifndef ZEPJOB_DEFAULT_FTP_PORT
#define ZEPJOB_DEFAULT_FTP_PORT 21
#endif
// The release key built in (a minisign public key line), empty when the build has none.
#ifndef ZEPJOB_UPDATE_PUBLIC_KEY
#define ZEPJOB_UPDATE_PUBLIC_KEY ""
#endif
#ifndef ZEPJOB_DEFAULT_MYSQL_PORT
#define ZEPJOB_DEFAULT_MYSQL_PORT 3306
#endif

namespace {

const QString Section = QStringLiteral("Deployment");

// What a key holds. The hosts of HTTP addresses may carry a port; the others are dialled with the port of
// their own key, so a ":port" there would only make the host name unresolvable.
// Account names and passwords are texts; those of the messenger log-in travel between "/" separators.
// A name encoding is one of the names the FTP layer knows. The command users are a list of messenger user
// ids. A switch is "off" or "required"; an option is "on" or "off"; a file is a path.
enum class Kind {
    HostAndPort,
    Host,
    Port,
    Account,
    LoginAccount,
    NameEncoding,
    UserList,
    Switch,
    Option,
    File
};

struct Key {
    const char* name;
    Kind kind;
    QString Deployment::*text;
    quint16 Deployment::*port;
    bool secret = false;
    bool Deployment::*flag = nullptr;
};

const Key Keys[] = {
    {"DirectoryServer", Kind::HostAndPort, &Deployment::DirectoryServer, nullptr},
    {"AddrMasterServer", Kind::Host, &Deployment::AddrMasterServer, nullptr},
    {"AddrWebLogin", Kind::Host, &Deployment::AddrWebLogin, nullptr},
    {"AddrAutoUpdate", Kind::HostAndPort, &Deployment::AddrAutoUpdate, nullptr},
    {"AddrBackupFtp", Kind::Host, &Deployment::AddrBackupFtp, nullptr},
    {"AddrMessenger", Kind::Host, &Deployment::AddrMessenger, nullptr},
    {"WebHostFtpHost", Kind::Host, &Deployment::WebHostFtpHost, nullptr},
    {"BackupFtpHost", Kind::Host, &Deployment::BackupFtpHost, nullptr},
    {"MessengerPort", Kind::Port, nullptr, &Deployment::MessengerPort},
    {"FtpPort", Kind::Port, nullptr, &Deployment::FtpPort},
    {"MySqlPort", Kind::Port, nullptr, &Deployment::MySqlPort},
    {"FtpNameEncoding", Kind::NameEncoding, &Deployment::FtpNameEncoding, nullptr},
    {"LoginId", Kind::LoginAccount, &Deployment::LoginId, nullptr},
    {"LoginPassword", Kind::LoginAccount, &Deployment::LoginPassword, nullptr, true},
    {"LogDatabaseUser", Kind::Account, &Deployment::LogDatabaseUser, nullptr},
    {"LogDatabasePassword", Kind::Account, &Deployment::LogDatabasePassword, nullptr, true},
    {"WebDatabaseUser", Kind::Account, &Deployment::WebDatabaseUser, nullptr},
    {"WebDatabasePassword", Kind::Account, &Deployment::WebDatabasePassword, nullptr, true},
    {"WebHostFtpUser", Kind::Account, &Deployment::WebHostFtpUser, nullptr},
    {"WebHostFtpPassword", Kind::Account, &Deployment::WebHostFtpPassword, nullptr, true},
    {"BackupFtpUser", Kind::Account, &Deployment::BackupFtpUser, nullptr},
    {"BackupFtpPassword", Kind::Account, &Deployment::BackupFtpPassword, nullptr, true},
    {"UpdatePublicKey", Kind::Account, &Deployment::UpdatePublicKey, nullptr},
    {"CommandUsers", Kind::UserList, nullptr, nullptr},
    {"FtpTls", Kind::Switch, nullptr, nullptr, false, &Deployment::FtpTls},
    {"MySqlTls", Kind::Switch, nullptr, nullptr, false, &Deployment::MySqlTls},
    {"HttpTls", Kind::Switch, nullptr, nullptr, false, &Deployment::HttpTls},
    {"TlsCaFile", Kind::File, &Deployment::TlsCaFile, nullptr},
    {"LateRun", Kind::Option, nullptr, nullptr, false, &Deployment::LateRun},
};

QString switchText(bool on) {
    return on ? QStringLiteral("required") : QStringLiteral("off");
}

QString onOffText(bool on) {
    return on ? QStringLiteral("on") : QStringLiteral("off");
}

// Why an account value cannot be used, or nothing. Control characters would end up in a log-in line.
std::optional<QString> accountProblem(Kind kind, QStringView text) {
    for (QChar c : text)
        if (c.category() == QChar::Other_Control)
            return QStringLiteral("holds a control character");
    if (kind == Kind::LoginAccount && text.contains(u'/'))
        return QStringLiteral("holds a \"/\", which separates the fields of the messenger log-in");
    return std::nullopt;
}

// A value enclosed in a pair of double or single quotes loses them, as with the system's ini service.
QString unquoted(const QString& value) {
    if (value.size() >= 2 && value.front() == value.back() &&
        (value.front() == QLatin1Char('"') || value.front() == QLatin1Char('\'')))
        return value.mid(1, value.size() - 2);
    return value;
}

std::optional<quint16> portOf(QStringView text) {
    const auto n = NumericText::narrow<quint16>(NumericText::wholeNumber(text));
    if (n && *n > 0)
        return n;
    return std::nullopt;
}

// A DNS name (letters, digits, "-" and "_" in dot-separated labels) or a dotted IPv4 address.
bool isHostName(QStringView text) {
    if (text.isEmpty() || text.size() > 253)
        return false;
    bool numeric = true;
    int labels = 0;
    for (QStringView label : text.split(u'.')) {
        ++labels;
        if (label.isEmpty() || label.size() > 63 || label.front() == u'-' || label.back() == u'-')
            return false;
        for (QChar c : label) {
            const bool digit = c >= u'0' && c <= u'9';
            if (!digit && !(c >= u'a' && c <= u'z') && !(c >= u'A' && c <= u'Z') && c != u'-' && c != u'_')
                return false;
            numeric = numeric && digit;
        }
    }
    // All digits: an IPv4 address, four numbers up to 255.
    return !numeric || (labels == 4 && !QHostAddress(text.toString()).isNull());
}

bool isIpv6(QStringView text) {
    return text.contains(u':') && QHostAddress(text.toString()).protocol() == QHostAddress::IPv6Protocol;
}

bool isHost(QStringView text) {
    return isHostName(text) || isIpv6(text);
}

// host, host:port, [IPv6] or [IPv6]:port.
bool isHostAndPort(QStringView text) {
    QStringView host = text;
    if (text.startsWith(u'[')) {
        const qsizetype close = text.indexOf(u']');
        if (close < 0 || !isIpv6(text.mid(1, close - 1)))
            return false;
        const QStringView rest = text.mid(close + 1);
        return rest.isEmpty() || (rest.startsWith(u':') && portOf(rest.mid(1)));
    }
    if (const qsizetype colon = text.lastIndexOf(u':'); colon >= 0) {
        host = text.left(colon);
        if (!portOf(text.mid(colon + 1)))
            return false;
    }
    return isHostName(host);
}

// The name as the program writes it, whatever the case and the hyphen ("utf8", "Cp949").
std::optional<QString> encodingName(const QString& value) {
    const QString plain = value.toUpper().remove(QLatin1Char('-'));
    if (plain == QLatin1String("CP949"))
        return QStringLiteral("CP949");
    if (plain == QLatin1String("UTF8"))
        return QStringLiteral("UTF-8");
    return std::nullopt;
}

QString quoted(const QString& value) {
    return QLatin1Char('"') + value + QLatin1Char('"');
}

std::optional<qint32> userId(QStringView text) {
    return NumericText::narrow<qint32>(NumericText::wholeNumber(text));
}

// The ids of a comma-separated list, and the entries that are none. Whatever cannot be used closes rather
// than opens: the rights hold the usable ids alone, and nobody's when there is none.
CommandRights commandRights(const QString& value, QStringList& unusable) {
    CommandRights rights;
    rights.everyone = false;
    // The package's own value: nobody until the administrator names the users.
    if (value.trimmed().compare(CommandRights::Nobody, Qt::CaseInsensitive) == 0)
        return rights;
    for (const QString& entry : value.split(QLatin1Char(','))) {
        if (const auto id = userId(entry)) {
            if (!rights.ids.contains(*id))
                rights.ids.append(*id);
        } else {
            unusable.append(quoted(entry.trimmed()));
        }
    }
    return rights;
}

} // namespace

bool CommandRights::allows(const QString& sender) const {
    if (everyone)
        return true;
    const auto id = userId(sender);
    return id && ids.contains(*id);
}

QString CommandRights::text() const {
    if (!everyone && ids.isEmpty())
        return QLatin1String(Nobody);
    QStringList names;
    for (qint32 id : ids)
        names.append(QString::number(id));
    return names.join(QLatin1Char(','));
}

QString CommandRights::description() const {
    if (everyone)
        return QStringLiteral("every user (CommandUsers is not set)");
    if (ids.isEmpty())
        return QStringLiteral("nobody: set CommandUsers in deployment.ini to the user ids that may");
    return (ids.size() == 1 ? QStringLiteral("only the user ") : QStringLiteral("only the users ")) +
           text().replace(QLatin1Char(','), QStringLiteral(", "));
}

QString DeploymentIssue::text(const QString& file) const {
    QString message = QStringLiteral("%1 line %2: ").arg(file).arg(line);
    if (!key.isEmpty())
        message += key + QStringLiteral(": ");
    return message + problem;
}

Deployment Deployment::defaults() {
    const QString host = QStringLiteral(ZEPJOB_DEFAULT_HOST);
    Deployment d;
    d.DirectoryServer = d.AddrMasterServer = d.AddrWebLogin = d.AddrAutoUpdate = d.AddrBackupFtp =
        d.AddrMessenger = d.WebHostFtpHost = d.BackupFtpHost = host;
    d.MessengerPort = ZEPJOB_DEFAULT_MESSENGER_PORT;
    d.FtpPort = ZEPJOB_DEFAULT_FTP_PORT;
    d.MySqlPort = ZEPJOB_DEFAULT_MYSQL_PORT;
    d.FtpNameEncoding = QStringLiteral("CP949");
    d.LoginId = QStringLiteral("jobserver");
    d.LogDatabaseUser = QStringLiteral("qz_logs_read");
    d.WebDatabaseUser = QStringLiteral("WebHostUser");
    d.WebHostFtpUser = QStringLiteral("qzc1");
    d.BackupFtpUser = QStringLiteral("backup_checker");
#ifdef ZEPJOB_COMPILED_PASSWORDS
    d.LoginPassword = QStringLiteral("kx-630195");
    d.LogDatabasePassword = QStringLiteral("pomel3526");
    d.WebDatabasePassword = QStringLiteral("SiteRun4172");
    d.WebHostFtpPassword = QStringLiteral("qrw4#KLBcvx2");
    d.BackupFtpPassword = QStringLiteral("Rtm_e457.");
#endif
    d.UpdatePublicKey = QStringLiteral(ZEPJOB_UPDATE_PUBLIC_KEY);
    return d;
}

QString Deployment::path(const QString& folder) {
    return folder + QStringLiteral("/deployment.ini");
}

Deployment Deployment::load(const QString& folder) {
    return read(folder).values;
}

DeploymentFile Deployment::read(const QString& folder) {
    QFile file(path(folder));
    if (!file.open(QIODevice::ReadOnly))
        return parse(QString()); // no file: every default, nothing to report
    DeploymentFile parsed = parse(QString::fromUtf8(file.readAll()));
    parsed.present = true;
    return parsed;
}

DeploymentFile Deployment::parse(const QString& text) {
    // The ini service's rules: names without regard to case, blanks around names and values dropped, a pair
    // of quotes around a value dropped, the first occurrence of a key wins wherever its section appears.
    DeploymentFile result;
    const Deployment defaults = Deployment::defaults();
    result.values = defaults;
    constexpr qsizetype KeyCount = std::size(Keys);
    struct Given {
        int line = 0;
        QString value;
    } given[KeyCount];

    enum { Outside, Ours, Other } section = Outside;
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const int number = int(i + 1);
        const QString line = lines[i].trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char(';')) || line.startsWith(QLatin1Char('#')))
            continue;
        if (line.startsWith(QLatin1Char('['))) {
            const qsizetype close = line.indexOf(QLatin1Char(']'));
            const QString name = line.mid(1, close < 0 ? -1 : close - 1).trimmed();
            section = name.compare(Section, Qt::CaseInsensitive) == 0 ? Ours : Other;
            if (close < 0)
                result.issues.append({number, QString(), quoted(line) + QStringLiteral(" lacks its \"]\"")});
            else if (section == Other)
                result.issues.append({number, QLatin1Char('[') + name + QLatin1Char(']'),
                                      QStringLiteral("unknown section (the only one is [Deployment]); "
                                                     "its lines are ignored")});
            continue;
        }
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        const QString key = eq < 0 ? QString() : line.left(eq).trimmed();
        if (key.isEmpty()) {
            result.issues.append(
                {number, QString(), quoted(line) + QStringLiteral(" is not key=value; ignored")});
            continue;
        }
        if (section == Other)
            continue; // its section has been reported
        if (section == Outside) {
            result.issues.append({number, key, QStringLiteral("outside the section [Deployment]; ignored")});
            continue;
        }
        qsizetype k = 0;
        while (k < KeyCount && key.compare(QLatin1String(Keys[k].name), Qt::CaseInsensitive) != 0)
            ++k;
        if (k == KeyCount) {
            result.issues.append({number, key, QStringLiteral("unknown key; ignored")});
            continue;
        }
        if (given[k].line != 0) {
            result.issues.append(
                {number, key, QStringLiteral("given again (first on line %1); ignored").arg(given[k].line)});
            continue;
        }
        given[k] = {number, unquoted(line.mid(eq + 1).trimmed())};
    }

    for (qsizetype k = 0; k < KeyCount; ++k) {
        const Key& key = Keys[k];
        const QString& value = given[k].value;
        const QString name = QLatin1String(key.name);
        DeploymentFile::Setting setting{name, QString(), 0, key.secret};
        // An empty value means the default, as it always has.
        bool usable = value.isEmpty();
        if (!value.isEmpty()) {
            switch (key.kind) {
            case Kind::Port:
                if (const auto port = portOf(value)) {
                    result.values.*key.port = *port;
                    usable = true;
                } else {
                    result.issues.append(
                        {given[k].line, name,
                         quoted(value) + QStringLiteral(" is not a port number from 1 to 65535; the "
                                                        "default %1 is used")
                                             .arg(defaults.*key.port)});
                }
                break;
            case Kind::HostAndPort:
            case Kind::Host:
                if (key.kind == Kind::HostAndPort ? isHostAndPort(value) : isHost(value)) {
                    result.values.*key.text = value;
                    usable = true;
                } else {
                    const QString form = key.kind == Kind::HostAndPort
                                             ? QStringLiteral("host[:port]")
                                             : QStringLiteral("host name or address (its port has a key "
                                                              "of its own)");
                    result.issues.append(
                        {given[k].line, name,
                         quoted(value) + QStringLiteral(" is not a %1; the default %2 is used")
                                             .arg(form, defaults.*key.text)});
                }
                break;
            case Kind::NameEncoding:
                if (const auto spelled = encodingName(value)) {
                    result.values.*key.text = *spelled;
                    usable = true;
                } else {
                    result.issues.append({given[k].line, name,
                                          quoted(value) + QStringLiteral(" is not CP949 or UTF-8; the "
                                                                         "default %1 is used")
                                                              .arg(defaults.*key.text)});
                }
                break;
            case Kind::Switch:
                // A value that is neither word asks for something: the safe reading is TLS, not clear text.
                usable = value.compare(QLatin1String("off"), Qt::CaseInsensitive) == 0 ||
                         value.compare(QLatin1String("required"), Qt::CaseInsensitive) == 0;
                result.values.*key.flag = value.compare(QLatin1String("off"), Qt::CaseInsensitive) != 0;
                if (!usable)
                    result.issues.append({given[k].line, name,
                                          quoted(value) + QStringLiteral(" is neither off nor required; "
                                                                         "required is used")});
                break;
            case Kind::Option:
                usable = value.compare(QLatin1String("on"), Qt::CaseInsensitive) == 0 ||
                         value.compare(QLatin1String("off"), Qt::CaseInsensitive) == 0;
                if (usable)
                    result.values.*key.flag = value.compare(QLatin1String("on"), Qt::CaseInsensitive) == 0;
                else
                    result.issues.append(
                        {given[k].line, name,
                         quoted(value) + QStringLiteral(" is neither on nor off; the default "
                                                        "%1 is used")
                                             .arg(onOffText(defaults.*key.flag))});
                break;
            case Kind::File:
            case Kind::Account:
            case Kind::LoginAccount:
                if (const auto problem = accountProblem(key.kind, value)) {
                    // A password is not repeated into the logs.
                    result.issues.append({given[k].line, name,
                                          (key.secret ? QStringLiteral("the value") : quoted(value)) +
                                              QLatin1Char(' ') + *problem +
                                              QStringLiteral("; the default is used")});
                } else {
                    result.values.*key.text = value;
                    usable = true;
                }
                break;
            case Kind::UserList: {
                QStringList unusable;
                result.values.CommandUsers = commandRights(value, unusable);
                usable = true; // the list is in force, with whatever ids it holds
                if (!unusable.isEmpty())
                    result.issues.append({given[k].line, name,
                                          unusable.join(QStringLiteral(", ")) +
                                              (unusable.size() == 1 ? QStringLiteral(" is not a user id")
                                                                    : QStringLiteral(" are not user ids")) +
                                              QStringLiteral(" (whole numbers); ") +
                                              (result.values.CommandUsers.ids.isEmpty()
                                                   ? QStringLiteral("nobody")
                                                   : result.values.CommandUsers.description()) +
                                              QStringLiteral(" may start the chat commands' jobs")});
                break;
            }
            }
        }
        if (usable && !value.isEmpty())
            setting.line = given[k].line;
        if (key.kind == Kind::Port)
            setting.value = QString::number(result.values.*key.port);
        else if (key.kind == Kind::Switch)
            setting.value = switchText(result.values.*key.flag);
        else if (key.kind == Kind::Option)
            setting.value = onOffText(result.values.*key.flag);
        else if (key.kind == Kind::UserList)
            setting.value = result.values.CommandUsers.text();
        else
            setting.value = result.values.*key.text;
        result.settings.append(setting);
    }
    std::stable_sort(result.issues.begin(), result.issues.end(),
                     [](const DeploymentIssue& a, const DeploymentIssue& b) { return a.line < b.line; });
    return result;
}
