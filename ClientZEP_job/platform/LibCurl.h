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
    CURLM* (*multi_init)();
    CURLMcode (*multi_add_handle)(CURLM*, CURL*);
    CURLMcode (*multi_remove_handle)(CURLM*, CURL*);
    CURLMcode (*multi_perform)(CURLM*, int*);
    CURLMcode (*multi_fdset)(CURLM*, fd_set*, fd_set*, fd_set*, int*);
    CURLMcode (*multi_timeout)(CURLM*, long*);
    CURLMcode (*multi_wait)(CURLM*, curl_waitfd*, unsigned, int, int*);
    CURLMsg* (*multi_info_read)(CURLM*, int*);
    CURLMcode (*multi_cleanup)(CURLM*);
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
// One transfer of `curl` through `multi`, which keeps the connections between transfers. Unlike
// curl_easy_perform, it never sleeps while libcurl has a step to take but no socket to wait on (it does so
// between an FTP passive reply and the data connection's connect, a whole second each time).
CURLcode perform(CURLM* multi, CURL* curl);
inline CURLM* multi_init() {
    return api().multi_init();
}
inline void multi_cleanup(CURLM* multi) {
    api().multi_cleanup(multi);
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
