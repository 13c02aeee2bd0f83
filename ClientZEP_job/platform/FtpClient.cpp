#include "FtpClient.h"

#include "AnsiCodec.h"
#include "LibCurl.h"

#include <cctype>

namespace {

CURL* handle(void* curl) {
    return static_cast<CURL*>(curl);
}

long wholeSeconds(std::chrono::milliseconds duration) {
    return long(qMax<qint64>(1, (duration.count() + 999) / 1000));
}

// A listing as it arrives, stopped once it holds more names than it may.
struct Listing {
    QByteArray bytes;
    qsizetype lines = 0;
    bool over = false;
    bool tooLong = false; // past the byte bound: one endless name counts no line ends
};

size_t appendTo(char* data, size_t size, size_t count, void* target) {
    const qsizetype bytes = qsizetype(size * count);
    if (target == nullptr)
        return size_t(bytes);
    auto* listing = static_cast<Listing*>(target);
    listing->lines += QByteArrayView(data, bytes).count('\n');
    // One name more than the bound may be an unended last line; well past it, the listing is too long.
    if (listing->lines > FtpClient::MaxNames + 1) {
        listing->over = true;
        return 0;
    }
    if (listing->bytes.size() + bytes > FtpClient::MaxListingBytes) {
        listing->tooLong = true;
        return 0;
    }
    listing->bytes.append(data, bytes);
    return size_t(bytes);
}

// A name with a line break or NUL would end the command early and smuggle the rest in as another one.
bool fitsOnCommandLine(const QByteArray& bytes) {
    return !bytes.contains('\r') && !bytes.contains('\n') && !bytes.contains('\0');
}

} // namespace

FtpClient::FtpClient() : FtpClient(Timeouts{}) {}

FtpClient::FtpClient(const Timeouts& timeouts) : timeouts_(timeouts) {}

FtpClient::~FtpClient() {
    close();
}

bool FtpClient::open(const QString& host, const QString& user, const QString& password, int port,
                     bool passive) {
    close();
    login_ = {host, user, password, port, passive};
    lastError_.clear();
    lastReply_.clear();
    lastCommand_.clear();
    lastCode_ = 0;
    lastOsErrno_ = 0;
    lastWasBound_ = false;
    library_ = std::make_unique<LibCurl::Session>();
    if (!library_->ok()) {
        lastError_ = QString::fromLocal8Bit(LibCurl::Session::error());
        library_.reset();
        return false;
    }
    curl_ = LibCurl::easy_init();
    multi_ = LibCurl::multi_init();
    if (curl_ == nullptr || multi_ == nullptr) {
        close();
        lastError_ = QStringLiteral("cannot create a libcurl handle");
        return false;
    }
    QByteArray hostPart = host.toUtf8();
    if (hostPart.contains(':') && !hostPart.startsWith('['))
        hostPart = '[' + hostPart + ']';
    baseUrl_ = "ftp://" + hostPart + ':' + QByteArray::number(port) + '/';
    LibCurl::easy_setopt(handle(curl_), CURLOPT_USERNAME, AnsiCodec::fromUnicode(user).constData());
    LibCurl::easy_setopt(handle(curl_), CURLOPT_PASSWORD, AnsiCodec::fromUnicode(password).constData());
    applySession(passiveWith(passive, tls_.required));

    LibCurl::easy_setopt(handle(curl_), CURLOPT_URL, baseUrl_.constData());
    LibCurl::easy_setopt(handle(curl_), CURLOPT_NOBODY, 1L);
    // "*": a server that does not know the option (it may still take UTF-8 bytes) is no failure.
    if (nameEncoding_ == NameEncoding::Utf8 ? !quote({"*OPTS UTF8 ON"}, nullptr) : !perform()) {
        close();
        return false;
    }
    if (tls_.required)
        certificate_ = LibCurl::serverCertificate(handle(curl_));
    return true;
}

QByteArray FtpClient::encoded(QStringView text) const {
    return nameEncoding_ == NameEncoding::Utf8 ? text.toUtf8() : AnsiCodec::fromUnicode(text);
}

QString FtpClient::decoded(QByteArrayView bytes) const {
    return nameEncoding_ == NameEncoding::Utf8 ? QString::fromUtf8(bytes)
                                               : AnsiCodec::toUnicode(bytes.data(), bytes.size());
}

size_t FtpClient::takeReply(char* data, size_t size, size_t count, void* client) {
    // libcurl hands every reply line of the server to the header function. The line is shown to people:
    // a short one, without control characters.
    QByteArrayView line(data, qsizetype(size * count));
    if (line.size() < 3 || !std::isdigit(uchar(line[0])) || !std::isdigit(uchar(line[1])) ||
        !std::isdigit(uchar(line[2])))
        return size * count;
    QString reply = QString::fromUtf8(line.first(qMin<qsizetype>(line.size(), 200))).trimmed();
    for (QChar& c : reply)
        if (c.category() == QChar::Other_Control)
            c = QLatin1Char(' ');
    static_cast<FtpClient*>(client)->lastReply_ = reply;
    return size * count;
}

int FtpClient::takeCommand(void*, int type, char* data, size_t size, void* client) {
    // Only the verb is kept: the password follows "PASS".
    if (type == CURLINFO_HEADER_OUT) {
        const QByteArrayView line(data, qsizetype(size));
        const qsizetype end = line.indexOf(' ');
        static_cast<FtpClient*>(client)->lastCommand_ =
            line.first(end < 0 ? line.size() : end).trimmed().toByteArray();
    }
    return 0;
}

QString FtpClient::serverRefusal() const {
    // Where TLS failed, that is the reason (a server without it refuses AUTH TLS, say); lastError() names it.
    switch (lastCode_) {
    case CURLE_USE_SSL_FAILED:
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE:
        return QString();
    default:
        break;
    }
    if (lastReply_.size() < 3 || (lastReply_[0] != u'4' && lastReply_[0] != u'5'))
        return QString();
    if (lastReply_.startsWith(QLatin1String("530")) && lastCommand_ == "PASS")
        return QStringLiteral("login refused");
    // libcurl words a "421" (too many sessions, no home folder...) as its own time-out.
    if (lastReply_.startsWith(QLatin1String("421")))
        return QStringLiteral("closed by the server: ") + lastReply_;
    return QStringLiteral("refused by the server: ") + lastReply_;
}

// Sends `lines` as they are (a leading "*" lets a refusal pass) and gives the server's last reply code.
bool FtpClient::quote(std::initializer_list<QByteArray> lines, long* reply) {
    CURL* curl = handle(curl_);
    curl_slist* commands = nullptr;
    for (const QByteArray& line : lines)
        commands = LibCurl::slist_append(commands, line.constData());
    LibCurl::easy_setopt(curl, CURLOPT_URL, baseUrl_.constData());
    LibCurl::easy_setopt(curl, CURLOPT_NOBODY, 1L);
    LibCurl::easy_setopt(curl, CURLOPT_QUOTE, commands);
    const bool sent = perform();
    LibCurl::easy_setopt(curl, CURLOPT_QUOTE, nullptr);
    LibCurl::slist_free_all(commands);
    if (reply != nullptr) {
        *reply = 0;
        LibCurl::easy_getinfo(curl, CURLINFO_RESPONSE_CODE, reply);
    }
    return sent;
}

void FtpClient::applySession(bool passive) {
    CURL* curl = handle(curl_);
    LibCurl::easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "ftp");
    LibCurl::easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    LibCurl::easy_setopt(curl, CURLOPT_ERRORBUFFER, errorBuffer_);
    LibCurl::easy_setopt(curl, CURLOPT_HEADERFUNCTION, takeReply);
    LibCurl::easy_setopt(curl, CURLOPT_HEADERDATA, this);
    // The commands sent, to tell a refused password from a refused user name.
    LibCurl::easy_setopt(curl, CURLOPT_DEBUGFUNCTION, takeCommand);
    LibCurl::easy_setopt(curl, CURLOPT_DEBUGDATA, this);
    LibCurl::easy_setopt(curl, CURLOPT_VERBOSE, 1L);
    LibCurl::easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, long(timeouts_.connect.count()));
    LibCurl::easy_setopt(curl, CURLOPT_ACCEPTTIMEOUT_MS, long(timeouts_.connect.count()));
    LibCurl::easy_setopt(curl, CURLOPT_SERVER_RESPONSE_TIMEOUT, wholeSeconds(timeouts_.response));
    LibCurl::easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    LibCurl::easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, wholeSeconds(timeouts_.stalled));
    LibCurl::easy_setopt(curl, CURLOPT_TIMEOUT_MS, long(timeouts_.whole.count()));
    if (tls_.required) {
        // AUTH TLS first and nothing in clear after it: no TLS, no USER and no PASS.
        caFile_ = tls_.caFile.toLocal8Bit();
        LibCurl::easy_setopt(curl, CURLOPT_USE_SSL, long(CURLUSESSL_ALL));
        LibCurl::easy_setopt(curl, CURLOPT_FTPSSLAUTH, long(CURLFTPAUTH_TLS));
        LibCurl::verifyPeer(curl, caFile_);
        LibCurl::easy_setopt(curl, CURLOPT_CERTINFO, 1L);
    }
    // Full paths in every command instead of walking there with CWD: one round trip per command.
    LibCurl::easy_setopt(curl, CURLOPT_FTP_FILEMETHOD, long(CURLFTPMETHOD_NOCWD));
    if (!passive)
        LibCurl::easy_setopt(curl, CURLOPT_FTPPORT, "-");
}

bool FtpClient::perform() {
    errorBuffer_[0] = '\0';
    lastWasBound_ = false;
    const CURLcode result = LibCurl::perform(multi_, handle(curl_));
    if (result == CURLE_OK)
        return true;
    lastError_ = QString::fromUtf8(errorBuffer_[0] != '\0' ? errorBuffer_ : LibCurl::easy_strerror(result));
    if (const QString words = Tls::why(lastError_); !words.isEmpty())
        lastError_ = words;
    lastCode_ = int(result);
    lastOsErrno_ = 0;
    LibCurl::easy_getinfo(handle(curl_), CURLINFO_OS_ERRNO, &lastOsErrno_);
    // A time-out at the whole exchange's bound, not at a single reply's.
    curl_off_t took = 0;
    LibCurl::easy_getinfo(handle(curl_), CURLINFO_TOTAL_TIME_T, &took);
    lastWasBound_ = result == CURLE_OPERATION_TIMEDOUT && took / 1000 >= timeouts_.whole.count() * 19 / 20;
    if (lastWasBound_)
        lastError_ = QStringLiteral("the exchange took longer than its bound of %1 s (%2)")
                         .arg(timeouts_.whole.count() / 1000.0)
                         .arg(lastError_);
    return false;
}

QByteArray FtpClient::urlOf(const QString& path, bool directory) const {
    QByteArray bytes = encoded(path);
    QByteArray url = baseUrl_;
    // The URL's own first slash only separates the host; a path from the root needs one more, encoded.
    if (bytes.startsWith('/')) {
        url += "%2F";
        bytes.remove(0, 1);
    }
    url += bytes.toPercentEncoding("/");
    if (directory && !bytes.isEmpty() && !bytes.endsWith('/'))
        url += '/';
    return url;
}

// A session that a failed listing may have put out of step is replaced by a fresh one first.
bool FtpClient::ready() {
    if (curl_ != nullptr && stale_) {
        const Login login = login_;
        open(login.host, login.user, login.password, login.port, login.passive);
    }
    return curl_ != nullptr;
}

std::optional<QStringList> FtpClient::listNames(const QString& directory) {
    if (!ready())
        return std::nullopt;
    CURL* curl = handle(curl_);
    Listing received;
    const QByteArray url = urlOf(directory, true);
    LibCurl::easy_setopt(curl, CURLOPT_URL, url.constData());
    LibCurl::easy_setopt(curl, CURLOPT_NOBODY, 0L);
    LibCurl::easy_setopt(curl, CURLOPT_DIRLISTONLY, 1L);
    LibCurl::easy_setopt(curl, CURLOPT_WRITEFUNCTION, appendTo);
    LibCurl::easy_setopt(curl, CURLOPT_WRITEDATA, &received);
    const bool listed = perform();
    LibCurl::easy_setopt(curl, CURLOPT_DIRLISTONLY, 0L);
    LibCurl::easy_setopt(curl, CURLOPT_WRITEDATA, nullptr);
    if (received.over) {
        lastWasBound_ = true;
        lastError_ = QStringLiteral("the listing of %1 has more than its bound of %2 names")
                         .arg(directory)
                         .arg(MaxNames);
    } else if (received.tooLong) {
        lastWasBound_ = true;
        lastError_ = QStringLiteral("the listing of %1 has more than its bound of %2 bytes")
                         .arg(directory)
                         .arg(MaxListingBytes);
    }
    if (!listed) {
        stale_ = true;
        return std::nullopt;
    }
    const QByteArray& listing = received.bytes;

    QStringList names;
    for (qsizetype start = 0; start < listing.size();) {
        qsizetype end = listing.indexOf('\n', start);
        if (end < 0)
            end = listing.size();
        QByteArrayView line = QByteArrayView(listing).sliced(start, end - start);
        start = end + 1;
        if (line.endsWith('\r'))
            line.chop(1);
        // Some servers answer NLST of a directory with paths; the name is the last part.
        if (const qsizetype slash = line.lastIndexOf('/'); slash >= 0)
            line = line.sliced(slash + 1);
        if (line.isEmpty() || line == "." || line == "..")
            continue;
        names.append(decoded(line));
    }
    return names;
}

bool FtpClient::isFolder(const QString& directory) {
    const QByteArray path = encoded(directory);
    if (!fitsOnCommandLine(path) || !ready())
        return false;
    long reply = 0;
    const bool changed = quote({"*CWD " + path}, &reply) && reply >= 200 && reply < 300;
    // Back to the login directory, which relative paths are taken from.
    const char* entry = nullptr;
    LibCurl::easy_getinfo(handle(curl_), CURLINFO_FTP_ENTRY_PATH, &entry);
    if (changed && entry != nullptr)
        quote({"*CWD " + QByteArray(entry)}, nullptr);
    return changed;
}

bool FtpClient::rename(const QString& from, const QString& to) {
    if (!ready())
        return false;
    const QByteArray source = encoded(from), target = encoded(to);
    if (!fitsOnCommandLine(source) || !fitsOnCommandLine(target)) {
        lastError_ = QStringLiteral("a path with a line break cannot be sent");
        return false;
    }
    // "*" keeps libcurl from treating a refusal as a broken session: the connection stays for the next
    // rename, and the last reply tells the outcome (after a refused RNFR the RNTO is refused as well).
    long reply = 0;
    bool renamed = quote({"*RNFR " + source, "*RNTO " + target}, &reply);
    if (renamed) {
        renamed = reply >= 200 && reply < 300;
        if (!renamed)
            lastError_ = QStringLiteral("the server refused the rename (reply %1)").arg(reply);
    }
    return renamed;
}

void FtpClient::close() {
    certificate_.reset();
    stale_ = false;
    // The connections live in the multi handle: it goes first, saying goodbye on them.
    if (multi_ != nullptr) {
        LibCurl::multi_cleanup(multi_);
        multi_ = nullptr;
    }
    if (curl_ != nullptr) {
        LibCurl::easy_cleanup(handle(curl_));
        curl_ = nullptr;
    }
    library_.reset();
}

bool FtpClient::matchesMask(QStringView name, QStringView mask) {
    qsizetype n = 0, m = 0;
    qsizetype starMask = -1, starName = 0;
    while (n < name.size()) {
        if (m < mask.size() && mask[m] == u'*') {
            starMask = m++;
            starName = n;
        } else if (m < mask.size() && (mask[m] == u'?' || mask[m] == name[n])) {
            ++n;
            ++m;
        } else if (starMask >= 0) {
            // Let the last "*" swallow one more character and try again from there.
            m = starMask + 1;
            n = ++starName;
        } else {
            return false;
        }
    }
    while (m < mask.size() && mask[m] == u'*')
        ++m;
    return m == mask.size();
}
