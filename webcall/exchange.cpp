#include "webcall/exchange.h"

#include "platform/profile/profile.h"
#include "platform/text/trim.h"
#include "webcall/webcall.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <curl/curl.h>
#include <mutex>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

namespace webcall {

namespace {

using Clock = std::chrono::steady_clock;

struct Response {
    bool received = false; // a whole HTTP response arrived
    long status = 0;
    std::string body;
    std::string etag;
    bool tooLarge = false;
};

struct Request {
    std::string path;                    // below /vardel/
    const std::string* upload = nullptr; // PUT this body
    std::string condition;               // an If-Match or If-None-Match header line
};

class Session {
public:
    Session(const Call& call, const std::string& extraCaFile, const Limits& limits)
        : m_call(call), m_extraCaFile(extraCaFile), m_limits(limits),
          m_deadline(Clock::now() + std::chrono::milliseconds(limits.totalMs)) {}

    Response perform(const Request& request) const;

private:
    std::string url(const std::string& path) const;

    const Call& m_call;
    const std::string& m_extraCaFile;
    Limits m_limits;
    Clock::time_point m_deadline;
};

size_t onBody(char* data, size_t size, size_t count, void* user) {
    auto* response = static_cast<Response*>(user);
    const size_t n = size * count;
    if (response->body.size() + n >= kMaxListSize) {
        response->tooLarge = true;
        return 0; // ends the transfer
    }
    response->body.append(data, n);
    return n;
}

std::string trimmed(std::string_view s) {
    return std::string(text::trim(s));
}

size_t onHeader(char* data, size_t size, size_t count, void* user) {
    auto* response = static_cast<Response*>(user);
    const size_t n = size * count;
    const std::string_view line(data, n);
    if (line.starts_with("HTTP/"))
        response->etag.clear(); // a new response (after 100 Continue or a 401)
    else if (n > 5 && strncasecmp(data, "ETag:", 5) == 0)
        response->etag = trimmed(line.substr(5));
    return n;
}

struct UploadCursor {
    const std::string* body;
    size_t offset = 0;
};

size_t onUpload(char* buffer, size_t size, size_t count, void* user) {
    auto* cursor = static_cast<UploadCursor*>(user);
    const size_t n = std::min(size * count, cursor->body->size() - cursor->offset);
    cursor->body->copy(buffer, n, cursor->offset);
    cursor->offset += n;
    return n;
}

int seekUpload(void* user, curl_off_t offset, int origin) {
    auto* cursor = static_cast<UploadCursor*>(user);
    if (origin != SEEK_SET || offset < 0 || static_cast<size_t>(offset) > cursor->body->size())
        return CURL_SEEKFUNC_FAIL;
    cursor->offset = static_cast<size_t>(offset);
    return CURL_SEEKFUNC_OK;
}

void initialiseCurl() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

bool fileExists(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string Session::url(const std::string& path) const {
    // The HTTP default port stands for the HTTPS default when HTTPS is asked.
    const int port = m_call.useSsl && m_call.port == 80 ? 443 : m_call.port;
    std::string host = m_call.serverName;
    if (host.find(':') != std::string::npos && !host.starts_with('['))
        host = "[" + host + "]";
    return std::string(m_call.useSsl ? "https://" : "http://") + host + ":" + std::to_string(port) +
           "/vardel/" + path;
}

Response Session::perform(const Request& request) const {
    Response response;
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(m_deadline - Clock::now()).count();
    if (left <= 0)
        return response;
    CURL* curl = curl_easy_init();
    if (!curl)
        return response;
    const std::string target = url(request.path);
    curl_easy_setopt(curl, CURLOPT_URL, target.c_str());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, std::min<long>(m_limits.connectMs, left));
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(left));
    curl_easy_setopt(curl, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_BASIC));
    curl_easy_setopt(curl, CURLOPT_USERNAME, m_call.userName.c_str());
    curl_easy_setopt(curl, CURLOPT_PASSWORD, m_call.password.c_str());
    curl_easy_setopt(curl, CURLOPT_USERAGENT, "vardel-webcall");
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
    if (fileExists(m_extraCaFile)) {
        // CAINFO replaces the built-in bundle; the system's CAs stay through the path.
        curl_easy_setopt(curl, CURLOPT_CAINFO, m_extraCaFile.c_str());
        const curl_version_info_data* info = curl_version_info(CURLVERSION_NOW);
        const char* systemPath = info && info->capath ? info->capath : "/etc/ssl/certs";
        curl_easy_setopt(curl, CURLOPT_CAPATH, systemPath);
    }
    curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(kMaxListSize - 1));
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, onBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &response);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, onHeader);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &response);
    UploadCursor cursor{request.upload};
    curl_slist* headers = nullptr;
    if (!request.condition.empty())
        headers = curl_slist_append(headers, request.condition.c_str());
    if (request.upload) {
        curl_easy_setopt(curl, CURLOPT_UPLOAD, 1L);
        curl_easy_setopt(curl, CURLOPT_READFUNCTION, onUpload);
        curl_easy_setopt(curl, CURLOPT_READDATA, &cursor);
        curl_easy_setopt(curl, CURLOPT_SEEKFUNCTION, seekUpload);
        curl_easy_setopt(curl, CURLOPT_SEEKDATA, &cursor);
        curl_easy_setopt(curl, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(request.upload->size()));
    }
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    const CURLcode code = curl_easy_perform(curl);
    if (code == CURLE_FILESIZE_EXCEEDED)
        response.tooLarge = true;
    if (code == CURLE_OK) {
        response.received = true;
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &response.status);
    }
    curl_slist_free_all(headers);
    curl_easy_cleanup(curl);
    return response;
}

// The whole file, or false when it is missing, unreadable or too large.
bool readList(const std::string& path, std::string& content) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f)
        return false;
    content.clear();
    char buffer[65536];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0 && content.size() < kMaxListSize)
        content.append(buffer, n);
    const bool ok = !std::ferror(f) && content.size() < kMaxListSize;
    std::fclose(f);
    return ok;
}

bool keepEtag(const std::string& iniPath, const std::string& etag) {
    if (etag.empty())
        return ::unlink(etagPath(iniPath).c_str()) == 0 || errno == ENOENT;
    return static_cast<bool>(profile::writeFileAtomically(etagPath(iniPath), etag + "\n"));
}

std::string keptEtag(const std::string& iniPath) {
    std::string etag;
    if (!readList(etagPath(iniPath), etag))
        return {};
    return trimmed(etag);
}

std::string hostName() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0)
        return {};
    return name;
}

std::string escaped(const std::string& text) {
    char* e = curl_easy_escape(nullptr, text.c_str(), static_cast<int>(text.size()));
    std::string result = e ? e : "";
    curl_free(e);
    return result;
}

int probe(const Session& session) {
    const Response read = session.perform({"read.txt", nullptr, {}});
    if (!read.received)
        return WEBCALL_FAILED;
    if (read.status == 401)
        return WEBCALL_DENIED;
    if (read.status != 200)
        return WEBCALL_FAILED;
    const Response write = session.perform({"write.txt", nullptr, {}});
    if (!write.received)
        return WEBCALL_FAILED;
    if (write.status == 200)
        return WEBCALL_FULL_ACCESS;
    return write.status == 401 || write.status == 403 ? WEBCALL_READ_ACCESS : WEBCALL_FAILED;
}

int notice(const Session& session, const char* event) {
    const Response r = session.perform(
        {std::string("notice.txt?event=") + event + "&console=" + escaped(hostName()), nullptr, {}});
    if (!r.received)
        return WEBCALL_FAILED;
    if (r.status == 401)
        return WEBCALL_DENIED;
    return r.status / 100 == 2 ? WEBCALL_DONE : WEBCALL_FAILED;
}

int fetch(const Session& session, const std::string& transferPath, const std::string& iniPath) {
    const Response r = session.perform({"rlaweb.ini", nullptr, {}});
    if (!r.received || r.tooLarge)
        return WEBCALL_FAILED;
    if (r.status == 401)
        return WEBCALL_DENIED;
    if (r.status != 200 || !isServerList(r.body))
        return WEBCALL_FAILED;
    // The ETag goes first: a stale one beside a newer list would only make
    // the next write-back fail, never overwrite.
    if (!keepEtag(iniPath, {}))
        return WEBCALL_FAILED;
    for (const std::string* path : {&transferPath, &iniPath}) {
        if (const profile::WriteResult saved = profile::writeFileAtomically(*path, r.body); !saved) {
            std::fprintf(stderr, "vardel: the fetched server list was not kept: %s\n",
                         saved.reason().c_str());
            return WEBCALL_FAILED;
        }
    }
    keepEtag(iniPath, r.etag);
    return WEBCALL_DONE;
}

int writeBack(const Session& session, const std::string& iniPath, const std::string& transferPath) {
    std::string list;
    if (!readList(iniPath, list))
        return WEBCALL_FAILED;
    const std::string etag = keptEtag(iniPath);
    const Response r =
        session.perform({"rlaweb.ini", &list, etag.empty() ? "If-None-Match: *" : "If-Match: " + etag});
    if (!r.received)
        return WEBCALL_FAILED;
    profile::writeFileAtomically(transferPath, r.body);
    if (r.status == 401)
        return WEBCALL_DENIED;
    if (r.status == 412) {
        // Without an ETag the upload asked for a server holding no list: it
        // holds one that this console never fetched, and nothing changed.
        if (etag.empty())
            return WEBCALL_NOT_FETCHED;
        // Another console wrote its list since this one fetched: the server's
        // stays, this one is kept aside.
        profile::writeFileAtomically(rejectedPath(iniPath), list);
        return WEBCALL_CHANGED;
    }
    if (r.status / 100 != 2)
        return WEBCALL_FAILED;
    keepEtag(iniPath, r.etag);
    return WEBCALL_DONE;
}

} // namespace

std::string etagPath(const std::string& iniPath) {
    return iniPath + ".etag";
}

std::string rejectedPath(const std::string& iniPath) {
    return iniPath + ".rejected";
}

int transaction(const Call& call, const std::string& extraCaFile, const Limits& limits) {
    if (call.serverName.empty() || call.port <= 0 || call.port > 65535)
        return WEBCALL_FAILED;
    initialiseCurl();
    const Session session(call, extraCaFile, limits);
    switch (call.mode) {
    case WEBCALL_PROBE:
        return probe(session);
    case WEBCALL_START_NOTICE:
        return notice(session, "start");
    case WEBCALL_END_NOTICE:
        return notice(session, "end");
    case WEBCALL_FETCH:
        return fetch(session, call.firstText, call.secondText);
    case WEBCALL_WRITE_BACK:
        return writeBack(session, call.firstText, call.secondText);
    default:
        return WEBCALL_FAILED;
    }
}

} // namespace webcall
