#pragma once

#include "Recordset.h"
#include "Tls.h"
#include "modMySQL.h"

#include <QString>
#include <memory>
#include <optional>

// One MySQL client connection. It keeps the connection parameters as properties and reuses them when an
// argument is left empty, hands every result back as an in-memory Recordset of text columns, converts text to
// and from CP949, and reconnects once inside `query` when the server has gone away.
//
// Operations raise VbError (number = the library's error number, source "cMysql::<operation>") to their
// caller; only real_connect and query handle their own errors, with a message box.
//
// The password is never handed to the server: without TLS only authentication plug-ins that prove the
// password without sending it are allowed; over verified TLS also those that send it encrypted to the server
// (sha256_password, caching_sha2_password); the plug-ins that hand it over as it is (mysql_clear_password,
// dialog) never. A server asking for another one is refused. The server is
// never offered files of this machine (LOAD DATA LOCAL). A result may bring at most MaxRows rows and
// MaxResultBytes bytes of values, and no row more than MaxPacketBytes; past any of them the statement fails
// and the connection is dropped.
class cMySQL {
public:
    // Raises error 512 when the client library cannot initialise a connection record.
    cMySQL();
    ~cMySQL();
    cMySQL(const cMySQL&) = delete;
    cMySQL& operator=(const cMySQL&) = delete;

    const QString& user() const { return user_; }
    void setUser(const QString& value) { user_ = value; }
    const QString& password() const { return password_; }
    void setPassword(const QString& value) { password_ = value; }
    const QString& host() const { return host_; }
    void setHost(const QString& value) { host_ = value; }
    int port() const { return port_; }
    void setPort(int value) { port_ = value; }
    const QString& db() const { return db_; }
    void setDb(const QString& value) { db_ = value; }
    int ClientFlags() const { return clientFlags_; }
    void setClientFlags(int value) { clientFlags_ = value; }
    const QString& unix_socket() const { return unixSocket_; }
    void setUnix_socket(const QString& value) { unixSocket_ = value; }

    // How long real_connect waits for the server: 10 s unless set.
    void setConnectTimeout(unsigned seconds);

    // TLS for the connections made from now on; in clear unless set.
    void setTls(const Tls::Policy& policy) { tls_ = policy; }
    // The port a connection to the usual port 3306 dials (a site's MySqlPort); 3306 unless set.
    void setUsualPort(int value) { usualPort_ = value; }
    // The connection runs over TLS: its cipher, empty when in clear.
    QString tlsCipher();
    // The server's certificate of a TLS connection, for the administrator's check.
    std::optional<Tls::Certificate> peerCertificate();
    // Why the last call failed, in plain words where TLS or a refused plug-in was the reason, else the
    // library's text with tlsHint() where it has one.
    QString failureWords();
    // After a log-in in clear was refused by a server that offers TLS: that it may require it. Empty
    // otherwise.
    QString tlsHint();
    // After a failed real_connect: when TLS or a refused plug-in was the reason, the error log says so,
    // naming `peer`.
    void logLoginRefusal(const QString& peer);

    static constexpr int MaxRows = 200'000;
    static constexpr qsizetype MaxResultBytes = 32 * 1024 * 1024;
    // The most bytes one packet from the server (one row) may bring; the library refuses a longer one by its
    // length, before it holds it.
    static constexpr qsizetype MaxPacketBytes = 16 * 1024 * 1024;

    // Never raises. On failure shows "Error <n> <text>" with the two lines asking to check the network,
    // unless NoErrMsg, and returns false. Port 3306 dials the usual port (setUsualPort).
    bool real_connect(const QString& host = {}, const QString& user = {}, const QString& passwd = {},
                      const QString& db = {}, int port = modMySQL::DefaultPort,
                      const QString& unix_socket = {}, int clientflag = 0, bool NoErrMsg = false);

    // Never raises: a failure shows its message box and gives nothing. A statement without rows gives
    // nothing.
    std::unique_ptr<Recordset> query(const QString& SQL);
    std::unique_ptr<Recordset> real_query(const QString& query, int Length);

    std::unique_ptr<Recordset> list_dbs(const QString& wild = {});
    std::unique_ptr<Recordset> list_tables(const QString& wild = {});
    std::unique_ptr<Recordset> list_fields(const QString& table, const QString& wild = {});
    std::unique_ptr<Recordset> list_processes();

    void select_db(const QString& db);

    int affected_rows();
    void create_db(const QString& db);
    void debug_push(const QString& DBUG_PUSH);
    void dump_debug_info();
    bool eof();
    int err_no();
    QString err_description();
    void escape_string(QString& to_, const QString& FROM_, int from_length);
    void free_result();
    QString get_client_info();
    QString get_host_info();
    QString get_proto_info();
    QString get_server_info();
    QString info();
    int insert_id();
    void Kill(int PID);
    int num_fields();
    int num_rows();
    void ping();
    void Refresh(int refresh_options);
    void shutdown();
    QString stat();
    int thread_id();
    int thread_safe();

    // Library text to program text: CP949 decoded, cut at the first NUL, spaces (U+0020 only) trimmed.
    static QString text_from_cstr(const char* text);
    // The same into `out`, reusing its room.
    static void text_from_cstr(const char* text, QString& out);
    // The low 32 bits of a library count, as a signed number.
    static int low_long(quint64 value);

private:
    void initRecord();
    void applyOptions();
    void applyTls(const Tls::Policy& policy);
    void allowPlugins(const char* names);
    // The plug-in refused at the last real_connect, in words; empty when none was.
    QString refusalWords();
    // Ends a result past its bounds: the connection is reset and the statement fails with `words`.
    [[noreturn]] void dropOversizedResult(const QString& words);
    [[noreturn]] void raise(const char* operation);
    // A library text, or the connection's error raised when the library gave none.
    QString textOrRaise(const char* text, const char* operation);
    void makeCurrent(MYSQL_RES* result);
    std::unique_ptr<Recordset> resultOrNothing(MYSQL_RES* result);
    std::unique_ptr<Recordset> result_to_recordset();

    MYSQL* handle_ = nullptr;
    MYSQL mysql_{};
    MYSQL_RES* result_ = nullptr;
    bool recordInitialised_ = false;
    bool recordUsed_ = false;

    QString user_;
    QString password_;
    QString host_;
    QString db_;
    QString unixSocket_;
    int clientFlags_ = 0;
    int port_ = 0;
    unsigned connectTimeoutSeconds_ = 10;
    Tls::Policy tls_;
    int usualPort_ = modMySQL::DefaultPort;
    QByteArray caFile_;
    QByteArray allowedPlugins_;
    QString refusedPlugin_; // the password-handing plug-in the server asked for at the last real_connect
};
