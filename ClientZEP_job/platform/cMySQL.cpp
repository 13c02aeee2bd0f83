#include "cMySQL.h"

#include "AnsiCodec.h"
#include "ErrorLog.h"
#include "MessageBox.h"
#include "ServiceManager.h"
#include "VbError.h"

#include <QTimeZone>
#include <cstring>
#include <mysql/plugin_auth.h>
#include <mysqld_error.h>
#include <sys/socket.h>
// The library is built with TLS; its connection structures say so only when asked.
#define HAVE_TLS
#include <ma_pvio.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

namespace {

constexpr int InitialiseFailed = 512;

// Texts Korean sites have always been shown when the database server cannot be reached.
const char16_t* const ServerNotFound = u"데이터베이스 서버를 찾을 수 없습니다.";
const char16_t* const CheckInternet = u"인터넷이 연결되어 있는지 확인을 해 주세요.";

// A server that stops answering must not hold the one thread for ever; a reply slower than this counts as a
// lost connection (and query's single reconnect applies). Connecting is bounded by connectTimeoutSeconds_.
constexpr unsigned ReadTimeoutSeconds = 120;
constexpr unsigned WriteTimeoutSeconds = 60;

// Texts go to the library as CP949 bytes; an empty text is passed as absent.
class CText {
public:
    explicit CText(const QString& text) : bytes_(AnsiCodec::fromUnicode(text)), absent_(text.isEmpty()) {}
    const char* get() const { return absent_ ? nullptr : bytes_.constData(); }
    const char* orEmpty() const { return bytes_.constData(); }
    const QByteArray& bytes() const { return bytes_; }

private:
    QByteArray bytes_;
    bool absent_;
};

// The plug-ins that prove the password without sending it; over a verified TLS link, those that send it
// encrypted to the server's key or inside the link as well. The two that hand the password itself to whoever
// asks (mysql_clear_password, dialog) are added to either list only when the refusing stand-ins below hold
// their names.
const char* const ProvingPlugins = "mysql_native_password,client_ed25519";
const char* const PluginsOverTls =
    "mysql_native_password,client_ed25519,caching_sha2_password,sha256_password";

// Stand-ins under the names of the plug-ins that hand over the password. Registered before the library could
// load the real ones, they answer every request for them by sending nothing and ending the log-in, and they
// remember which one the server asked for: the library's own refusal names the wrong plug-in after a switch
// request.
thread_local const char* refusedPlugin = nullptr;

int refuseClearPassword(MYSQL_PLUGIN_VIO*, MYSQL*) {
    refusedPlugin = "mysql_clear_password";
    return CR_ERROR;
}
int refuseDialog(MYSQL_PLUGIN_VIO*, MYSQL*) {
    refusedPlugin = "dialog";
    return CR_ERROR;
}

// An authentication plug-in as the library takes one (its client_plugin.h, which Debian ships without a
// header it includes): the common plug-in header, then the log-in.
struct AuthenticationPlugin {
    MYSQL_CLIENT_PLUGIN_HEADER
    int (*authenticate_user)(MYSQL_PLUGIN_VIO* vio, MYSQL* mysql);
};
constexpr int AuthenticationPluginType = 2;
constexpr unsigned AuthenticationPluginInterface = 0x0100;

AuthenticationPlugin refusingPlugin(const char* name, int (*refuse)(MYSQL_PLUGIN_VIO*, MYSQL*)) {
    return {AuthenticationPluginType,
            AuthenticationPluginInterface,
            name,
            "ClientZEP_job",
            "refuses to hand over the password",
            {1, 0, 0},
            "GPL",
            nullptr,
            nullptr,
            nullptr,
            nullptr,
            refuse};
}

// The refusing plug-ins' names when both are in place, for the list of allowed plug-ins; else nothing, and
// the library refuses the real ones by itself.
const char* refusingPluginNames(MYSQL* mysql) {
    static AuthenticationPlugin clearPassword = refusingPlugin("mysql_clear_password", refuseClearPassword);
    static AuthenticationPlugin dialog = refusingPlugin("dialog", refuseDialog);
    static const bool registered = [mysql] {
        const auto take = [mysql](AuthenticationPlugin& plugin) {
            return mysql_client_register_plugin(mysql, reinterpret_cast<st_mysql_client_plugin*>(&plugin)) ==
                   reinterpret_cast<st_mysql_client_plugin*>(&plugin);
        };
        const bool both = take(clearPassword) && take(dialog);
        // Whatever the library did here must not stay as the record's error.
        mysql->net.last_errno = 0;
        return both;
    }();
    return registered ? ",mysql_clear_password,dialog" : "";
}

// The client library's number for a result it cannot hold.
constexpr int ResultTooLarge = CR_OUT_OF_MEMORY;

QString errorBox(int number, const QString& description) {
    return QStringLiteral("Error %1 (%2)").arg(number).arg(description);
}

} // namespace

cMySQL::cMySQL() {
    initRecord();
    if (handle_ == nullptr)
        throw VbError(InitialiseFailed, QStringLiteral("cMysql::Initialize"),
                      QStringLiteral("Cannot Initialize a mysql record::Fatal"));
}

cMySQL::~cMySQL() {
    if (result_ != nullptr)
        mysql_free_result(result_);
    // The library allocates inside the record at initialisation, so the record is closed even when the last
    // connect failed; skipping it would leak at every failed connect of a bot that runs for months.
    if (recordInitialised_)
        mysql_close(&mysql_);
}

void cMySQL::initRecord() {
    handle_ = mysql_init(&mysql_);
    recordInitialised_ = handle_ != nullptr;
    recordUsed_ = false;
    if (recordInitialised_)
        applyOptions();
}

void cMySQL::applyOptions() {
    // The server converts between its columns and EUC-KR, whose Hangul the CP949 texts of the program share.
    mysql_optionsv(&mysql_, MYSQL_SET_CHARSET_NAME, "euckr");
    mysql_optionsv(&mysql_, MYSQL_OPT_CONNECT_TIMEOUT, &connectTimeoutSeconds_);
    mysql_optionsv(&mysql_, MYSQL_OPT_READ_TIMEOUT, &ReadTimeoutSeconds);
    mysql_optionsv(&mysql_, MYSQL_OPT_WRITE_TIMEOUT, &WriteTimeoutSeconds);
    const unsigned noLocalFiles = 0;
    mysql_optionsv(&mysql_, MYSQL_OPT_LOCAL_INFILE, &noLocalFiles);
    // Told before anything is read, so that one huge value is refused by its length instead of buffered.
    const size_t packetBound = MaxPacketBytes;
    mysql_optionsv(&mysql_, MYSQL_OPT_MAX_ALLOWED_PACKET, &packetBound);
    allowPlugins(ProvingPlugins);
}

void cMySQL::allowPlugins(const char* names) {
    allowedPlugins_ = QByteArray(names) + refusingPluginNames(&mysql_);
    mysql_optionsv(&mysql_, MARIADB_OPT_RESTRICTED_AUTH, allowedPlugins_.constData());
}

void cMySQL::applyTls(const Tls::Policy& policy) {
    if (!policy.required)
        return;
    // TLS before the log-in or no log-in at all; the chain and the server's name verified.
    const my_bool on = 1;
    mysql_optionsv(&mysql_, MYSQL_OPT_SSL_ENFORCE, &on);
    mysql_optionsv(&mysql_, MYSQL_OPT_SSL_VERIFY_SERVER_CERT, &on);
    caFile_ = policy.caFile.toLocal8Bit();
    if (!caFile_.isEmpty())
        mysql_optionsv(&mysql_, MYSQL_OPT_SSL_CA, caFile_.constData());
    allowPlugins(PluginsOverTls);
}

QString cMySQL::refusalWords() {
    QString plugin = refusedPlugin_;
    if (plugin.isEmpty() && mysql_errno(&mysql_) == CR_PLUGIN_NOT_ALLOWED) {
        // The library's text names the plug-in between quotes.
        const QString text = text_from_cstr(mysql_error(&mysql_));
        const qsizetype open = text.indexOf(QLatin1Char('\''));
        const qsizetype close = text.indexOf(QLatin1Char('\''), open + 1);
        if (open >= 0 && close > open)
            plugin = text.mid(open + 1, close - open - 1);
    }
    if (plugin.isEmpty())
        return Tls::why(text_from_cstr(mysql_error(&mysql_)));
    if (plugin == QLatin1String("mysql_clear_password") || plugin == QLatin1String("dialog"))
        return QStringLiteral("the server asked for the authentication plug-in %1, which would hand it the "
                              "password; refused")
            .arg(plugin);
    if (!tls_.required && QByteArray(PluginsOverTls).split(',').contains(plugin.toLatin1()))
        return QStringLiteral(
                   "the server asked for the authentication plug-in %1, which this bot allows only "
                   "over TLS (MySqlTls=required); refused")
            .arg(plugin);
    return QStringLiteral(
               "the server asked for the authentication plug-in %1, which this bot does not allow; "
               "refused")
        .arg(plugin);
}

QString cMySQL::failureWords() {
    const QString words = refusalWords();
    if (!words.isEmpty())
        return words;
    const QString text = text_from_cstr(mysql_error(&mysql_));
    const QString hint = tlsHint();
    return hint.isEmpty() ? text : text + QStringLiteral("; ") + hint;
}

QString cMySQL::tlsHint() {
    // A server that requires TLS turns a log-in in clear away as it would a wrong password. Its greeting
    // still said whether it offers TLS at all.
    const unsigned number = mysql_errno(&mysql_);
    const bool refused = number == ER_ACCESS_DENIED_ERROR || number == ER_ACCESS_DENIED_NO_PASSWORD_ERROR;
    if (tls_.required || !refused || (mysql_.server_capabilities & CLIENT_SSL) == 0)
        return QString();
    return QStringLiteral("the server offers TLS and may require it: MySqlTls=required");
}

void cMySQL::logLoginRefusal(const QString& peer) {
    const QString words = refusalWords();
    if (!words.isEmpty())
        ErrorLog::WriteToFile(QStringLiteral("MySQL %1 %2/%3: no log-in: %4").arg(peer, host_, db_, words));
}

std::optional<Tls::Certificate> cMySQL::peerCertificate() {
    // Connector/C shows no certificate of its own; its TLS session is OpenSSL's, kept on the connection.
    const MARIADB_PVIO* pvio = mysql_.net.pvio;
    if (handle_ == nullptr || pvio == nullptr || pvio->ctls == nullptr || pvio->ctls->ssl == nullptr)
        return std::nullopt;
    X509* x509 = SSL_get1_peer_certificate(static_cast<SSL*>(pvio->ctls->ssl));
    if (x509 == nullptr)
        return std::nullopt;
    Tls::Certificate certificate;
    char subject[512] = {};
    X509_NAME_oneline(X509_get_subject_name(x509), subject, int(sizeof subject));
    certificate.subject = QString::fromUtf8(subject);
    int days = 0, seconds = 0;
    if (ASN1_TIME_diff(&days, &seconds, nullptr, X509_get0_notAfter(x509)) == 1)
        certificate.expires = QDateTime::currentDateTimeUtc().addDays(days).addSecs(seconds);
    X509_free(x509);
    return certificate;
}

QString cMySQL::tlsCipher() {
    return text_from_cstr(mysql_get_ssl_cipher(&mysql_));
}

void cMySQL::setConnectTimeout(unsigned seconds) {
    connectTimeoutSeconds_ = seconds;
    if (recordInitialised_)
        mysql_optionsv(&mysql_, MYSQL_OPT_CONNECT_TIMEOUT, &connectTimeoutSeconds_);
}

bool cMySQL::real_connect(const QString& host, const QString& user, const QString& passwd, const QString& db,
                          int port, const QString& unix_socket, int clientflag, bool NoErrMsg) {
    try {
        if (!host.isEmpty())
            host_ = host;
        if (!user.isEmpty())
            user_ = user;
        if (!passwd.isEmpty())
            password_ = passwd;
        if (!db.isEmpty())
            db_ = db;
        if (!unix_socket.isEmpty())
            unixSocket_ = unix_socket;
        if (port != modMySQL::DefaultPort)
            port_ = port;
        if (clientflag != 0)
            clientFlags_ = clientflag;

        // A record that has been connected (or tried to) starts afresh, so a reconnect neither fails as
        // "already connected" nor leaks what the previous connection kept in it.
        if (recordUsed_ || !recordInitialised_) {
            if (result_ != nullptr) {
                mysql_free_result(result_);
                result_ = nullptr;
            }
            if (recordInitialised_)
                mysql_close(&mysql_);
            initRecord();
            if (!recordInitialised_)
                throw VbError(InitialiseFailed, QStringLiteral("cMysql::Initialize"),
                              QStringLiteral("Cannot Initialize a mysql record::Fatal"));
        }
        recordUsed_ = true;

        const int dialled = port == modMySQL::DefaultPort ? usualPort_ : port;
        applyTls(tls_);
        const CText h(host_), u(user_), p(password_), d(db_), s(unixSocket_);
        // Each call is bounded well inside a service manager's watchdog; a job of many calls tells it
        // between them that the program is alive.
        ServiceManager::feedWatchdog();
        refusedPlugin = nullptr;
        handle_ = mysql_real_connect(&mysql_, h.get(), u.get(), p.get(), d.get(), unsigned(dialled), s.get(),
                                     static_cast<unsigned long>(static_cast<unsigned>(clientFlags_)));
        refusedPlugin_ = QLatin1String(refusedPlugin);
        if (handle_ != nullptr)
            return true;
        const QString reason = failureWords();
        throw VbError(int(mysql_errno(&mysql_)), QStringLiteral("cMysql::real_connect"),
                      reason + QStringLiteral("\r\n\r\n") + QString::fromUtf16(ServerNotFound) +
                          QStringLiteral("\r\n") + QString::fromUtf16(CheckInternet));
    } catch (const VbError& e) {
        if (!NoErrMsg)
            MessageBox::show(QStringLiteral("Error %1 %2").arg(e.number()).arg(e.description()));
        return false;
    }
}

std::unique_ptr<Recordset> cMySQL::query(const QString& SQL) {
    bool retried = false;
    for (;;) {
        const CText sql(SQL);
        ServiceManager::feedWatchdog();
        if (mysql_query(&mysql_, sql.orEmpty()) != 0) {
            const int number = int(mysql_errno(&mysql_));
            const QString description = text_from_cstr(mysql_error(&mysql_));
            if ((number == CR_SERVER_LOST || number == CR_SERVER_GONE_ERROR) && !retried) {
                if (!real_connect(host_, user_, password_, db_, modMySQL::DefaultPort, QString(), 0, false))
                    return nullptr;
                retried = true;
                continue;
            }
            MessageBox::show(errorBox(number, description));
            return nullptr;
        }
        try {
            MYSQL_RES* result = mysql_use_result(&mysql_);
            // A statement that should have rows but whose rows could not be read is a failure, not "no rows".
            if (result == nullptr && mysql_field_count(&mysql_) != 0)
                throw VbError(int(mysql_errno(&mysql_)), QStringLiteral("cMysql::query"),
                              text_from_cstr(mysql_error(&mysql_)));
            return resultOrNothing(result);
        } catch (const VbError& e) {
            if (e.number() == ResultTooLarge)
                ErrorLog::WriteToFile(QStringLiteral("MySQL %1/%2: %3; the statement is dropped")
                                          .arg(host_, db_, e.description()));
            MessageBox::show(errorBox(e.number(), e.description()));
            return nullptr;
        }
    }
}

std::unique_ptr<Recordset> cMySQL::real_query(const QString& query, int Length) {
    const CText sql(query);
    // The length counts bytes of the converted text; it can shorten the statement but never read past it.
    const unsigned long length = static_cast<unsigned long>(qBound(0, Length, int(sql.bytes().size())));
    ServiceManager::feedWatchdog();
    if (mysql_real_query(&mysql_, sql.orEmpty(), length) != 0)
        raise("real_query");
    MYSQL_RES* result = mysql_use_result(&mysql_);
    if (result == nullptr && mysql_field_count(&mysql_) != 0)
        raise("real_query");
    return resultOrNothing(result);
}

std::unique_ptr<Recordset> cMySQL::list_dbs(const QString& wild) {
    return resultOrNothing(mysql_list_dbs(&mysql_, CText(wild).get()));
}

std::unique_ptr<Recordset> cMySQL::list_tables(const QString& wild) {
    return resultOrNothing(mysql_list_tables(&mysql_, CText(wild).get()));
}

std::unique_ptr<Recordset> cMySQL::list_fields(const QString& table, const QString& wild) {
    return resultOrNothing(mysql_list_fields(&mysql_, CText(table).orEmpty(), CText(wild).get()));
}

std::unique_ptr<Recordset> cMySQL::list_processes() {
    return resultOrNothing(mysql_list_processes(&mysql_));
}

void cMySQL::select_db(const QString& db) {
    const int rc = mysql_select_db(&mysql_, CText(db).orEmpty());
    db_ = db;
    if (rc != 0)
        raise("select_db");
}

int cMySQL::affected_rows() {
    return low_long(mysql_affected_rows(&mysql_));
}

void cMySQL::create_db(const QString& db) {
    // The client library has no call of its own for this: the statement, with the name quoted as an
    // identifier.
    QString name = db;
    name.replace(QLatin1Char('`'), QStringLiteral("``"));
    if (mysql_query(&mysql_, CText(QStringLiteral("CREATE DATABASE `%1`").arg(name)).orEmpty()) != 0)
        raise("create_db");
}

void cMySQL::debug_push(const QString& DBUG_PUSH) {
    mysql_debug(CText(DBUG_PUSH).get());
}

void cMySQL::dump_debug_info() {
    if (mysql_dump_debug_info(&mysql_) != 0)
        raise("dump_debug_info");
}

bool cMySQL::eof() {
    // Without a current result nothing is left to read.
    return result_ == nullptr || mysql_eof(result_) != 0;
}

int cMySQL::err_no() {
    return int(mysql_errno(&mysql_));
}

QString cMySQL::err_description() {
    return text_from_cstr(mysql_error(&mysql_));
}

void cMySQL::escape_string(QString& to_, const QString& FROM_, int from_length) {
    // Escaped by the connection's own routine over the CP949 bytes, so a quote inside a double-byte character
    // sequence is recognised exactly as the server will read it.
    const QByteArray from = AnsiCodec::fromUnicode(FROM_);
    const unsigned long length = static_cast<unsigned long>(qBound(0, from_length, int(from.size())));
    QByteArray to(int(length) * 2 + 1, '\0');
    const unsigned long written = mysql_real_escape_string(&mysql_, to.data(), from.constData(), length);
    to.truncate(written == static_cast<unsigned long>(-1) ? 0 : int(written));
    to_ = AnsiCodec::toUnicode(to);
}

void cMySQL::free_result() {
    if (result_ != nullptr) {
        mysql_free_result(result_);
        result_ = nullptr;
    }
}

QString cMySQL::get_client_info() {
    return textOrRaise(mysql_get_client_info(), "get_client_info");
}

QString cMySQL::get_host_info() {
    return textOrRaise(mysql_get_host_info(&mysql_), "get_host_info");
}

QString cMySQL::get_proto_info() {
    const unsigned version = mysql_get_proto_info(&mysql_);
    if (version == 0)
        raise("get_proto_info");
    return QString::number(version);
}

QString cMySQL::get_server_info() {
    return textOrRaise(mysql_get_server_info(&mysql_), "get_server_info");
}

QString cMySQL::info() {
    return textOrRaise(mysql_info(&mysql_), "info");
}

int cMySQL::insert_id() {
    return low_long(mysql_insert_id(&mysql_));
}

void cMySQL::Kill(int PID) {
    if (mysql_kill(&mysql_, static_cast<unsigned long>(static_cast<unsigned>(PID))) != 0)
        raise("kill");
}

int cMySQL::num_fields() {
    return result_ == nullptr ? 0 : int(mysql_num_fields(result_));
}

int cMySQL::num_rows() {
    return result_ == nullptr ? 0 : low_long(mysql_num_rows(result_));
}

void cMySQL::ping() {
    if (mysql_ping(&mysql_) != 0)
        raise("ping");
}

void cMySQL::Refresh(int refresh_options) {
    if (mysql_refresh(&mysql_, static_cast<unsigned>(refresh_options)) != 0)
        raise("refresh");
}

void cMySQL::shutdown() {
    if (mysql_shutdown(&mysql_, SHUTDOWN_DEFAULT) != 0)
        raise("shutdown");
}

QString cMySQL::stat() {
    return textOrRaise(mysql_stat(&mysql_), "stat");
}

int cMySQL::thread_id() {
    const unsigned long id = mysql_thread_id(&mysql_);
    if (id == 0)
        raise("thread_id");
    return low_long(id);
}

int cMySQL::thread_safe() {
    return int(mysql_thread_safe());
}

QString cMySQL::text_from_cstr(const char* text) {
    QString out;
    text_from_cstr(text, out);
    return out;
}

void cMySQL::text_from_cstr(const char* text, QString& out) {
    if (text == nullptr) {
        out.clear();
        return;
    }
    // Bytes up to the first NUL; a space byte is never part of a double-byte CP949 character, so the spaces
    // can be trimmed before decoding.
    const char* begin = text;
    const char* end = text + std::strlen(text);
    while (begin < end && *begin == ' ')
        ++begin;
    while (end > begin && end[-1] == ' ')
        --end;
    AnsiCodec::toUnicode(begin, end - begin, out);
}

int cMySQL::low_long(quint64 value) {
    return static_cast<int>(static_cast<quint32>(value));
}

void cMySQL::dropOversizedResult(const QString& words) {
    // The rest is not read: the connection is dropped instead, and the result with it. Reset rather than
    // closed, so that the server stops sending at once instead of waiting out its own time-out.
    const struct linger reset { 1, 0 };
    setsockopt(int(mysql_get_socket(&mysql_)), SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    mariadb_cancel(&mysql_);
    free_result();
    throw VbError(ResultTooLarge, QStringLiteral("cMysql::query"), words);
}

void cMySQL::raise(const char* operation) {
    throw VbError(int(mysql_errno(&mysql_)), QStringLiteral("cMysql::") + QLatin1String(operation),
                  text_from_cstr(mysql_error(&mysql_)));
}

QString cMySQL::textOrRaise(const char* text, const char* operation) {
    if (text == nullptr)
        raise(operation);
    return text_from_cstr(text);
}

void cMySQL::makeCurrent(MYSQL_RES* result) {
    // The result it replaces is released here: nobody can reach it any more.
    if (result_ != nullptr && result_ != result)
        mysql_free_result(result_);
    result_ = result;
}

std::unique_ptr<Recordset> cMySQL::resultOrNothing(MYSQL_RES* result) {
    if (result == nullptr)
        return nullptr;
    makeCurrent(result);
    try {
        return result_to_recordset();
    } catch (...) {
        // Rows left on the wire would put the connection out of step for the next statement.
        free_result();
        throw;
    }
}

std::unique_ptr<Recordset> cMySQL::result_to_recordset() {
    auto rs = std::make_unique<Recordset>();
    const unsigned n = mysql_num_fields(result_);

    // Names that occur more than once are qualified by their table, in every column that bears them.
    const MYSQL_FIELD* fields = mysql_fetch_fields(result_);
    QStringList seen, repeated;
    for (unsigned k = 0; k < n; ++k) {
        const QString name = text_from_cstr(fields[k].name);
        if (seen.contains(name))
            repeated.append(name);
        else
            seen.append(name);
    }

    mysql_field_seek(result_, 0);
    for (unsigned k = 0; k < n; ++k) {
        const MYSQL_FIELD* field = mysql_fetch_field(result_);
        if (field == nullptr)
            continue;
        QString name = text_from_cstr(field->name);
        if (repeated.contains(name))
            name = text_from_cstr(field->table) + QLatin1Char('.') + name;
        rs->Fields().Append(name, Recordset::adBSTR, low_long(field->length), Recordset::adFldUnspecified);
    }

    rs->Open();
    // Row by row off the wire, so that a result larger than its bounds is stopped before it is held.
    int rows = 0;
    QString value; // one decoding room for every value: the table copies each into its own text
    qsizetype bytes = 0;
    while (MYSQL_ROW row = mysql_fetch_row(result_)) {
        const unsigned long* lengths = mysql_fetch_lengths(result_);
        for (unsigned m = 0; m < n; ++m)
            bytes += qsizetype(lengths[m]);
        if (++rows > MaxRows || bytes > MaxResultBytes)
            dropOversizedResult(
                rows > MaxRows
                    ? QStringLiteral("the result has more than its bound of %1 rows").arg(MaxRows)
                    : QStringLiteral("the result has more than its bound of %1 bytes").arg(MaxResultBytes));
        rs->AddNew();
        for (unsigned m = 0; m < n; ++m) {
            text_from_cstr(row[m], value);
            rs->Fields().Item(int(m)).setValue(value);
        }
    }
    // The library refused a row larger than its packet bound before reading it whole.
    // The library refuses a row longer than its packet bound by its length and ends the connection; it says
    // only that the connection was lost (or, in some versions, that the packet was too large).
    if (const unsigned number = mysql_errno(&mysql_);
        number == CR_SERVER_LOST || number == CR_NET_PACKET_TOO_LARGE)
        ErrorLog::WriteToFile(
            QStringLiteral("MySQL %1/%2: the result broke off after %3 rows (%4); a row of more "
                           "than its bound of %5 bytes ends it so")
                .arg(host_, db_)
                .arg(rows)
                .arg(text_from_cstr(mysql_error(&mysql_)))
                .arg(MaxPacketBytes));
    // A connection lost half-way is a failure, not the end of the rows.
    if (mysql_errno(&mysql_) != 0)
        raise("query");
    rs->UpdateBatch(Recordset::adAffectAllChapters);
    if (rs->RecordCount() > 1)
        rs->MoveFirst();
    return rs;
}
