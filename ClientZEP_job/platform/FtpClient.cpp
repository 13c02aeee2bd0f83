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

size_t appendTo(char* data, size_t size, size_t count, void* target) {
    if (target != nullptr)
        static_cast<QByteArray*>(target)->append(data, qsizetype(size * count));
    return size * count;
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
    lastError_.clear();
    lastReply_.clear();
    lastCode_ = 0;
    lastOsErrno_ = 0;
    library_ = std::make_unique<LibCurl::Session>();
    if (!library_->ok()) {
        lastError_ = QString::fromLocal8Bit(LibCurl::Session::error());
        library_.reset();
        return false;
    }
    curl_ = LibCurl::easy_init();
    if (curl_ == nullptr) {
        lastError_ = QStringLiteral("cannot create a libcurl handle");
        library_.reset();
        return false;
    }
    QByteArray hostPart = host.toUtf8();
    if (hostPart.contains(':') && !hostPart.startsWith('['))
        hostPart = '[' + hostPart + ']';
    baseUrl_ = "ftp://" + hostPart + ':' + QByteArray::number(port) + '/';
    LibCurl::easy_setopt(handle(curl_), CURLOPT_USERNAME, AnsiCodec::fromUnicode(user).constData());
    LibCurl::easy_setopt(handle(curl_), CURLOPT_PASSWORD, AnsiCodec::fromUnicode(password).constData());
    applySession(passive);

    LibCurl::easy_setopt(handle(curl_), CURLOPT_URL, baseUrl_.constData());
    LibCurl::easy_setopt(handle(curl_), CURLOPT_NOBODY, 1L);
    // "*": a server that does not know the option (it may still take UTF-8 bytes) is no failure.
    if (nameEncoding_ == NameEncoding::Utf8 ? !quote({"*OPTS UTF8 ON"}, nullptr) : !perform()) {
        close();
        return false;
    }
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
    LibCurl::easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, long(timeouts_.connect.count()));
    LibCurl::easy_setopt(curl, CURLOPT_ACCEPTTIMEOUT_MS, long(timeouts_.connect.count()));
    LibCurl::easy_setopt(curl, CURLOPT_SERVER_RESPONSE_TIMEOUT, wholeSeconds(timeouts_.response));
    LibCurl::easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    LibCurl::easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, wholeSeconds(timeouts_.stalled));
    // Full paths in every command instead of walking there with CWD: one round trip per command.
    LibCurl::easy_setopt(curl, CURLOPT_FTP_FILEMETHOD, long(CURLFTPMETHOD_NOCWD));
    if (!passive)
        LibCurl::easy_setopt(curl, CURLOPT_FTPPORT, "-");
}

bool FtpClient::perform() {
    errorBuffer_[0] = '\0';
    const CURLcode result = LibCurl::easy_perform(handle(curl_));
    if (result == CURLE_OK)
        return true;
    lastError_ = QString::fromUtf8(errorBuffer_[0] != '\0' ? errorBuffer_ : LibCurl::easy_strerror(result));
    lastCode_ = int(result);
    lastOsErrno_ = 0;
    LibCurl::easy_getinfo(handle(curl_), CURLINFO_OS_ERRNO, &lastOsErrno_);
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

std::optional<QStringList> FtpClient::listNames(const QString& directory) {
    if (curl_ == nullptr)
        return std::nullopt;
    CURL* curl = handle(curl_);
    QByteArray listing;
    const QByteArray url = urlOf(directory, true);
    LibCurl::easy_setopt(curl, CURLOPT_URL, url.constData());
    LibCurl::easy_setopt(curl, CURLOPT_NOBODY, 0L);
    LibCurl::easy_setopt(curl, CURLOPT_DIRLISTONLY, 1L);
    LibCurl::easy_setopt(curl, CURLOPT_WRITEFUNCTION, appendTo);
    LibCurl::easy_setopt(curl, CURLOPT_WRITEDATA, &listing);
    const bool listed = perform();
    LibCurl::easy_setopt(curl, CURLOPT_DIRLISTONLY, 0L);
    LibCurl::easy_setopt(curl, CURLOPT_WRITEDATA, nullptr);
    if (!listed)
        return std::nullopt;

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
    if (curl_ == nullptr || !fitsOnCommandLine(path))
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
    if (curl_ == nullptr)
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
