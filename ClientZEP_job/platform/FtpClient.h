#pragma once

#include "Tls.h"

#include <QString>
#include <QStringList>
#include <chrono>
#include <initializer_list>
#include <memory>
#include <optional>

namespace LibCurl {
class Session;
}

// One FTP session over one libcurl easy handle: logged in at open, then directory listings and renames on the
// same control connection. Names and paths travel in CP949, or in UTF-8 for a server that stores its names
// so. Paths starting with "/" are taken from the server's root, others from the login directory.
//
// Every call is bounded in time, and a listing in the number of its names and its bytes, so a server that
// stops answering or never ends a listing ends the call with a failure instead of holding the program's one
// thread or its memory. When the server drops the connection, the next call logs in again with the same
// account.
//
// With TLS required the session is explicit FTPS: AUTH TLS before the log-in, the listings protected as well
// (PROT P), the certificate verified; a server that cannot do that is left before the password is sent.
//
// A listing that fails may leave the control connection out of step with the server (a data connection
// half set up, a TLS handshake cut): the next call then starts on a session of its own, logged in afresh.
class FtpClient {
public:
    struct Timeouts {
        std::chrono::milliseconds connect{10'000};  // TCP connect, greeting and login together
        std::chrono::milliseconds response{30'000}; // any one reply of the server
        std::chrono::milliseconds stalled{30'000};  // a listing that moves less than 1 byte/s this long
        std::chrono::milliseconds whole{120'000};   // any one exchange (log-in, listing, rename) as a whole
    };
    // The most names one listing may bring.
    static constexpr qsizetype MaxNames = 100'000;
    // The most bytes one listing may bring, whatever its line ends.
    static constexpr qsizetype MaxListingBytes = 8 * 1024 * 1024;

    // How the server spells the names it holds. Servers announce UTF8 in FEAT whatever their disks hold, so
    // this is the site's word, never a guess.
    enum class NameEncoding { Cp949, Utf8 };

    FtpClient();
    explicit FtpClient(const Timeouts& timeouts);
    ~FtpClient();
    FtpClient(const FtpClient&) = delete;
    FtpClient& operator=(const FtpClient&) = delete;

    // Whether the data connections are passive: as asked, and always over TLS. A server connecting back
    // to the client cannot be made to run the data connection's TLS handshake here, and such a listing
    // only ends at its time bound.
    static bool passiveWith(bool passive, bool tls) { return passive || tls; }

    // Connects and logs in. Passive data connections when passiveWith(`passive`, TLS), active ones (the
    // server connects back to the control connection's local address) otherwise. An open session is closed
    // first.
    bool open(const QString& host, const QString& user, const QString& password, int port, bool passive);
    bool isOpen() const { return curl_ != nullptr; }
    // Takes effect at the next open; with UTF-8 the session asks for it ("OPTS UTF8 ON") where the server
    // accepts that.
    void setNameEncoding(NameEncoding encoding) { nameEncoding_ = encoding; }

    // Applies to the sessions opened from now on.
    void setTls(const Tls::Policy& policy) { tls_ = policy; }
    // The open session runs over TLS; its server's certificate.
    bool encrypted() const { return curl_ != nullptr && tls_.required; }
    const std::optional<Tls::Certificate>& certificate() const { return certificate_; }

    // The names (NLST) in `directory`, without "." and "..", in the server's order. Nothing when the listing
    // fails or no session is open.
    std::optional<QStringList> listNames(const QString& directory);

    // Whether the server can change into `directory`: tells a missing folder from an empty one where a server
    // lists both as nothing. The session's own folder stays the login directory.
    bool isFolder(const QString& directory);

    // RNFR/RNTO; true when the server confirms the rename.
    bool rename(const QString& from, const QString& to);

    // Ends the session (QUIT) and releases the handle; harmless when nothing is open.
    void close();

    // libcurl's text for the last failure, for diagnostics.
    const QString& lastError() const { return lastError_; }
    // libcurl's code of the last failure and the system's error number of a failed connect (0 when none).
    int lastCode() const { return lastCode_; }
    long lastOsErrno() const { return lastOsErrno_; }
    // The server's last reply line ("421 ..."), empty when it said nothing.
    const QString& lastReply() const { return lastReply_; }
    // What the server said to end the last exchange, in the words shown to administrators: "login refused"
    // for a 530 to the password, "closed by the server: 421 ..." and "refused by the server: 550 ..." for
    // any other refusal. Empty when the server refused nothing or TLS failed: the connection or its TLS is
    // the reason then, in lastError().
    QString serverRefusal() const;
    // The last failure was a bound (time or names) passed, and lastError() names it.
    bool lastWasBound() const { return lastWasBound_; }

    // Whether `name` matches `mask`: "*" any run of characters, "?" exactly one, anything else itself. Case
    // counts, as it does in the names of the servers' file systems.
    static bool matchesMask(QStringView name, QStringView mask);

private:
    std::unique_ptr<LibCurl::Session> library_; // loaded while a session is open
    void* curl_ = nullptr;                      // CURL*
    void* multi_ = nullptr;                     // CURLM*: holds the connection between calls
    // The log-in of the open session, for a fresh one after a failed listing.
    struct Login {
        QString host, user, password;
        int port = 0;
        bool passive = false;
    } login_;
    bool stale_ = false;     // the next call opens a new session first
    QByteArray lastCommand_; // the verb of the last command sent ("PASS")
    QByteArray baseUrl_;     // "ftp://host:port/"
    Timeouts timeouts_;
    NameEncoding nameEncoding_ = NameEncoding::Cp949;
    Tls::Policy tls_;
    QByteArray caFile_;
    std::optional<Tls::Certificate> certificate_;
    QString lastError_;
    QString lastReply_;
    bool lastWasBound_ = false;
    int lastCode_ = 0;
    long lastOsErrno_ = 0;
    char errorBuffer_[256] = {};

    void applySession(bool passive);
    bool ready();
    bool perform();
    bool quote(std::initializer_list<QByteArray> lines, long* reply);
    QByteArray urlOf(const QString& path, bool directory) const;
    QByteArray encoded(QStringView text) const;
    QString decoded(QByteArrayView bytes) const;
    static size_t takeReply(char* data, size_t size, size_t count, void* client);
    static int takeCommand(void* curl, int type, char* data, size_t size, void* client);
};
