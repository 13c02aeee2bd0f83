#include "LibCurl.h"

#include <dlfcn.h>

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
    const bool complete = resolve(calls.easy_init, "curl_easy_init") &&
                          resolve(calls.easy_setopt, "curl_easy_setopt") &&
                          resolve(calls.easy_perform, "curl_easy_perform") &&
                          resolve(calls.easy_getinfo, "curl_easy_getinfo") &&
                          resolve(calls.easy_cleanup, "curl_easy_cleanup") &&
                          resolve(calls.easy_strerror, "curl_easy_strerror") &&
                          resolve(calls.slist_append, "curl_slist_append") &&
                          resolve(calls.slist_free_all, "curl_slist_free_all") &&
                          resolve(calls.global_init, "curl_global_init") &&
                          resolve(calls.global_cleanup, "curl_global_cleanup");
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
