#pragma once

#include "Deployment.h"
#include "HttpClient.h"
#include "json.h"

#include <QString>
#include <optional>

// The directory of named company endpoints (name -> host). At start-up the directory server is asked for the
// current directory, the answer is kept in server_address_setting.json beside the program, and that file is
// loaded and looked up by entry name. The cache lets the bot start with the last directory it received when
// the directory server cannot be reached.
namespace modServerAddressUtil {

// The cache file's name in the program folder.
QString CacheFileName();

// The largest directory answer taken; a directory of a few dozen entries is a few KiB.
inline constexpr qsizetype DirectoryBoundBytes = 64 * 1024;

// Where the directory is asked: deployment.ini's DirectoryServer (host[:port]), over https when HttpTls
// requires it.
struct DirectoryServer {
    QString host;
    Tls::Policy tls;

    static DirectoryServer of(const Deployment& deployment) {
        return {deployment.DirectoryServer, deployment.httpTls()};
    }
};

// Asks the directory server `server` for the directory,
// sending the cached "ver" and `user` when there are any, and rewrites the cache when the answer says
// "success": true and carries a "data" object in which every member and element has a value. True when the
// server answered 200 with a JSON object. Bounded in time and size; never fails outright.
bool RefreshServerDirectory(const QString& user, const DirectoryServer& server);

// What the directory server said to one request, before anything is stored.
struct DirectoryAnswer {
    // False when the cache exists but does not parse: such a cache is not sent, and nothing is asked.
    bool asked = false;
    QString request;
    HttpClient::Response response;
    // Status 200 with a JSON object.
    bool understood = false;
    // The directory to keep: the answer's "data" object when its "success" is true.
    std::optional<JsonValue> directory;
};

// The request a refresh makes, with its cached "ver" and `user`, and what came back; changes nothing.
// Raises VbError when the cache is of the wrong shape.
DirectoryAnswer AskServerDirectory(const QString& user, const DirectoryServer& server,
                                   const HttpClient::Options& options);

// The directory an answer text carries: its "data" object when its "success" is true and every member and
// element of "data" has a value. `understood` tells whether the text is a JSON object at all.
std::optional<JsonValue> ReadDirectoryAnswer(const QString& answerText, bool* understood);

// Takes the directory server's answer text: what ReadDirectoryAnswer finds replaces the cache. True when the
// answer is a JSON object. Never fails outright.
bool TakeDirectoryAnswer(const QString& answerText);

// Reads the cache file into the in-memory directory (which stays as it was when there is no file). A cache
// that does not parse as an object is logged, once per start, here or by RefreshServerDirectory.
void LoadServerDirectory();

// The host of the first entry called `name`, or the empty text (no directory, no such entry, no host). A
// directory of the wrong shape raises VbError to the caller.
QString LookupServerHost(const QString& name);
// The same lookup in the directory `in`.
QString LookupServerHost(const JsonValue& in, const QString& name);

// True when `path` is a plain file that a directory listing shows (hidden files are not).
bool FileExists(const QString& path);

// The whole file as UTF-8 text, a leading byte-order mark dropped; on failure a message box and the empty
// text.
QString ReadUtf8File(const QString& path);

// The text as UTF-8 with a byte-order mark, replacing the file whole; on failure a message box.
void WriteUtf8File(const QString& path, const QString& content);
// The same for text already in UTF-8.
void WriteUtf8FileBytes(const QString& path, const QByteArray& utf8);

// Forgets the in-memory directory and that this start has logged an unreadable cache (for tests; the program
// loads it once).
void ForgetServerDirectory();

} // namespace modServerAddressUtil
