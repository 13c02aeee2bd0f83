#include "LibCurl.h"

#include <dlfcn.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/select.h>
#include <sys/socket.h>

namespace LibCurl {
namespace {

// The one loaded copy, shared by every session; the bot has one thread.
void* library = nullptr;
int sessions = 0;
Api calls{};
const char* lastError = "";

template <typename F> bool resolve(F& target, const char* name) {
    target = reinterpret_cast<F>(dlsym(library, name));
    return target != nullptr;
}

bool load() {
    // Local symbols: nothing the library brings may stand in for a symbol of ours, nor stay behind.
    library = dlopen("libcurl.so.4", RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        lastError = dlerror();
        return false;
    }
    const bool complete =
        resolve(calls.easy_init, "curl_easy_init") && resolve(calls.easy_setopt, "curl_easy_setopt") &&
        resolve(calls.easy_perform, "curl_easy_perform") &&
        resolve(calls.easy_getinfo, "curl_easy_getinfo") &&
        resolve(calls.easy_cleanup, "curl_easy_cleanup") &&
        resolve(calls.easy_strerror, "curl_easy_strerror") &&
        resolve(calls.slist_append, "curl_slist_append") &&
        resolve(calls.slist_free_all, "curl_slist_free_all") &&
        resolve(calls.global_init, "curl_global_init") &&
        resolve(calls.global_cleanup, "curl_global_cleanup") &&
        resolve(calls.multi_init, "curl_multi_init") &&
        resolve(calls.multi_add_handle, "curl_multi_add_handle") &&
        resolve(calls.multi_remove_handle, "curl_multi_remove_handle") &&
        resolve(calls.multi_perform, "curl_multi_perform") &&
        resolve(calls.multi_fdset, "curl_multi_fdset") &&
        resolve(calls.multi_timeout, "curl_multi_timeout") && resolve(calls.multi_wait, "curl_multi_wait") &&
        resolve(calls.multi_info_read, "curl_multi_info_read") &&
        resolve(calls.multi_cleanup, "curl_multi_cleanup");
    // TLS is set up here once for every session of this load, before any handle exists.
    if (!complete || calls.global_init(CURL_GLOBAL_SSL) != CURLE_OK) {
        lastError = complete ? "curl_global_init failed" : "libcurl lacks a call this program uses";
        dlclose(library);
        library = nullptr;
        calls = Api{};
        return false;
    }
    return true;
}

} // namespace

Session::Session() {
    if (sessions++ == 0)
        load();
}

Session::~Session() {
    if (--sessions > 0 || library == nullptr)
        return;
    calls.global_cleanup();
    dlclose(library);
    library = nullptr;
    calls = Api{};
}

bool Session::ok() const {
    return library != nullptr;
}

const char* Session::error() {
    return lastError;
}

const Api& api() {
    return calls;
}

CURLcode perform(CURLM* multi, CURL* curl) {
    ServiceManager::feedWatchdog();
    if (calls.multi_add_handle(multi, curl) != CURLM_OK)
        return CURLE_FAILED_INIT;
    // Stays so only when libcurl itself failed and never ended the transfer.
    CURLcode result = CURLE_FAILED_INIT;
    for (int running = 1; running != 0;) {
        if (calls.multi_perform(multi, &running) != CURLM_OK)
            break;
        if (running == 0)
            break;
        // The transfer's own bounds (CURLOPT_TIMEOUT_MS and the rest) show in libcurl's timeout.
        long timeout = -1;
        calls.multi_timeout(multi, &timeout);
        fd_set read, write, error;
        FD_ZERO(&read);
        FD_ZERO(&write);
        FD_ZERO(&error);
        int highest = -1;
        calls.multi_fdset(multi, &read, &write, &error, &highest);
        // The replies awaited are acknowledged at once, not after the kernel's delayed-ACK pause: a server
        // that writes with Nagle on (pure-ftpd ending a TLS listing: its data, then its close_notify) holds
        // its next small write until the last one is acknowledged, 40 ms per listing.
        for (int fd = 0; fd <= highest; ++fd)
            if (FD_ISSET(fd, &read)) {
                const int on = 1;
                ::setsockopt(fd, IPPROTO_TCP, TCP_QUICKACK, &on, sizeof on);
            }
        // Never a long wait: libcurl's FTP at times has a step to take with no socket to wait on (after a
        // passive reply), or waits on the data connection while the answer it needs comes on the control one
        // (the reply to TYPE while a TLS data connection is set up); it would sleep out its own timeout, up
        // to a second. A few milliseconds bound that, and cost nothing next to a transfer.
        const long most = 5;
        if (timeout < 0 || timeout > most)
            timeout = most;
        int ready = 0;
        if (timeout > 0)
            calls.multi_wait(multi, nullptr, 0, int(timeout), &ready);
    }
    int queued = 0;
    while (const CURLMsg* message = calls.multi_info_read(multi, &queued))
        if (message->msg == CURLMSG_DONE && message->easy_handle == curl)
            result = message->data.result;
    calls.multi_remove_handle(multi, curl);
    return result;
}

std::optional<Tls::Certificate> serverCertificate(CURL* curl) {
    curl_certinfo* chain = nullptr;
    if (easy_getinfo(curl, CURLINFO_CERTINFO, &chain) != CURLE_OK || chain == nullptr ||
        chain->num_of_certs < 1)
        return std::nullopt;
    Tls::Certificate certificate;
    for (const curl_slist* item = chain->certinfo[0]; item != nullptr; item = item->next) {
        const QString line = QString::fromUtf8(item->data);
        if (line.startsWith(QLatin1String("Subject:")))
            certificate.subject = line.mid(8).trimmed();
        else if (line.startsWith(QLatin1String("Expire date:")))
            certificate.expires = Tls::readExpiry(line.mid(12).trimmed());
    }
    return certificate;
}

void verifyPeer(CURL* curl, const QByteArray& caFile) {
    easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
    easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
    if (!caFile.isEmpty())
        easy_setopt(curl, CURLOPT_CAINFO, caFile.constData());
}

} // namespace LibCurl
