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

// A directory that came over verified TLS (HttpTls=required) is the company's own; one that came in clear may
// have been written by anyone on the path. The cache says which by a member of its own,
// "fetchedOverVerifiedTls": true, present only when it is so (a directory answer's own member of that name is
// never kept). Readers that do not know the member see the directory as before.
QString VerifiedMember();
// Whether `directory` (as the cache holds it) came over verified TLS.
bool CameOverVerifiedTls(const JsonValue& directory);
// The cache file's content for `directory`, saying whether it came over verified TLS.
QByteArray CacheText(const JsonValue& directory, bool verified);
// Whether a directory may name the host of a peer reached with `peer`: one that came in clear names none of a
// peer whose TLS is required, whose host is then the one deployment.ini gives.
inline bool MayNameHost(bool directoryVerified, const Tls::Policy& peer) {
    return directoryVerified || !peer.required;
}

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
    // It came over verified TLS.
    bool verified = false;
};

// The request a refresh makes, with its cached "ver" and `user`, and what came back; changes nothing. A cache
// that came in clear does not send its "ver" over verified TLS, so the company's server sends its whole
// directory instead of keeping the cache's. Raises VbError when the cache is of the wrong shape.
DirectoryAnswer AskServerDirectory(const QString& user, const DirectoryServer& server,
                                   const HttpClient::Options& options);

// The directory an answer text carries: its "data" object when its "success" is true and every member and
// element of "data" has a value. `understood` tells whether the text is a JSON object at all.
std::optional<JsonValue> ReadDirectoryAnswer(const QString& answerText, bool* understood);

// Takes the directory server's answer text, as one that came in clear: what ReadDirectoryAnswer finds
// replaces the cache. True when the answer is a JSON object. Never fails outright.
bool TakeDirectoryAnswer(const QString& answerText);

// Reads the cache file into the in-memory directory (which stays as it was when there is no file). A cache
// that does not parse as an object is logged, once per start, here or by RefreshServerDirectory.
void LoadServerDirectory();

// The host of the first entry called `name`, or the empty text (no directory, no such entry, no host). A
// directory of the wrong shape raises VbError to the caller.
QString LookupServerHost(const QString& name);
// Whether the loaded directory came over verified TLS (false when there is none).
bool LoadedDirectoryVerified();
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
