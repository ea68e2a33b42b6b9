#include "platform/linux/LinuxHttp.h"

#include <curl/curl.h>

#include <memory>
#include <mutex>

#include "platform/Version.h"

namespace vaultry::platform {
namespace {

struct Transfer {
    std::vector<std::uint8_t> body;
    std::size_t maxBody = 0;
    bool tooLarge = false;
};

std::size_t onBody(char* data, std::size_t size, std::size_t count, void* user) {
    auto* t = static_cast<Transfer*>(user);
    const std::size_t n = size * count;
    if (n > t->maxBody - t->body.size()) {
        t->tooLarge = true;
        return 0;  // aborts the transfer
    }
    t->body.insert(t->body.end(), data, data + n);
    return n;
}

// Every response (a redirect, an interim 100) starts with its status line; only the last
// response's body counts.
std::size_t onHeader(char* data, std::size_t size, std::size_t count, void* user) {
    const std::size_t n = size * count;
    if (n >= 5 && std::string_view(data, 5) == "HTTP/") static_cast<Transfer*>(user)->body.clear();
    return n;
}

struct EasyDeleter {
    void operator()(CURL* c) const { curl_easy_cleanup(c); }
};

}  // namespace

LinuxHttp::LinuxHttp() : LinuxHttp(Limits{}) {}

LinuxHttp::LinuxHttp(Limits limits) : limits_(limits) {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

Result<Http::Response> LinuxHttp::get(const std::string& url) {
    std::unique_ptr<CURL, EasyDeleter> curl(curl_easy_init());
    if (!curl) return fail("the HTTP library could not start a transfer");
    Transfer t;
    t.maxBody = limits_.maxBody;
    char detail[CURL_ERROR_SIZE] = {};
    const std::string agent = std::string("Vaultry/") + kVersion;
    CURL* c = curl.get();
    curl_easy_setopt(c, CURLOPT_URL, url.c_str());
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(c, CURLOPT_MAXREDIRS, limits_.maxRedirects);
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(limits_.connectTimeout.count()));
    curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, static_cast<long>(limits_.totalTimeout.count()));
    curl_easy_setopt(c, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(limits_.maxBody));
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);  // time-outs without signals: we run on worker threads
    curl_easy_setopt(c, CURLOPT_USERAGENT, agent.c_str());
    curl_easy_setopt(c, CURLOPT_ERRORBUFFER, detail);
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, onBody);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &t);
    curl_easy_setopt(c, CURLOPT_HEADERFUNCTION, onHeader);
    curl_easy_setopt(c, CURLOPT_HEADERDATA, &t);

    const CURLcode code = curl_easy_perform(c);
    if (t.tooLarge || code == CURLE_FILESIZE_EXCEEDED)
        return fail("the response is larger than " + std::to_string(limits_.maxBody) + " bytes");
    if (code != CURLE_OK) return fail(detail[0] ? detail : curl_easy_strerror(code));
    Response response;
    curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &response.status);
    response.body = std::move(t.body);
    return response;
}

}  // namespace vaultry::platform
