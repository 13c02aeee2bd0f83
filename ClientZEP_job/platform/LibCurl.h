#pragma once

// Types and constants only: the library itself is loaded while a transfer needs it.
#define CURL_DISABLE_TYPECHECK
#include "ServiceManager.h"
#include "Tls.h"

#include <QByteArray>
#include <curl/curl.h>
#include <optional>

// libcurl, loaded on demand. Linked in, it and the thirty-odd libraries it pulls in would stay resident for
// the whole life of a bot that talks FTP and HTTP a few minutes a day; loaded for each job and unloaded
// after, they cost a few milliseconds per job instead.
namespace LibCurl {

// Keeps the library loaded and initialised while it lives; the last one to end unloads it. The calls below
// are valid only while a session that is ok() lives.
class Session {
public:
    Session();
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // False when the library could not be loaded; the reason is in error().
    bool ok() const;
    static const char* error();
};

struct Api {
    CURL* (*easy_init)();
    CURLcode (*easy_setopt)(CURL*, CURLoption, ...);
    CURLcode (*easy_perform)(CURL*);
    CURLcode (*easy_getinfo)(CURL*, CURLINFO, ...);
    void (*easy_cleanup)(CURL*);
    const char* (*easy_strerror)(CURLcode);
    curl_slist* (*slist_append)(curl_slist*, const char*);
    void (*slist_free_all)(curl_slist*);
    CURLcode (*global_init)(long);
    void (*global_cleanup)();
};

const Api& api();

inline CURL* easy_init() {
    return api().easy_init();
}
template <typename T> CURLcode easy_setopt(CURL* curl, CURLoption option, T value) {
    return api().easy_setopt(curl, option, value);
}
inline CURLcode easy_perform(CURL* curl) {
    // A transfer is bounded well inside a service manager's watchdog; a job of many tells it between them.
    ServiceManager::feedWatchdog();
    return api().easy_perform(curl);
}
template <typename T> CURLcode easy_getinfo(CURL* curl, CURLINFO info, T target) {
    return api().easy_getinfo(curl, info, target);
}
inline void easy_cleanup(CURL* curl) {
    api().easy_cleanup(curl);
}
inline const char* easy_strerror(CURLcode code) {
    return api().easy_strerror(code);
}
inline curl_slist* slist_append(curl_slist* list, const char* text) {
    return api().slist_append(list, text);
}
inline void slist_free_all(curl_slist* list) {
    api().slist_free_all(list);
}

// The server's own certificate (the first of the chain) of a TLS transfer made with CURLOPT_CERTINFO.
std::optional<Tls::Certificate> serverCertificate(CURL* curl);

// The peer's certificate chain and name verified, against `caFile` (PEM) when it is not empty, else the
// system's store. `caFile` must outlive the transfers.
void verifyPeer(CURL* curl, const QByteArray& caFile);

} // namespace LibCurl
