#include "app/util/DownloadUrlToBuffer.h"

#include <curl/curl.h>

#include <QString>

#include <atomic>
#include <cstring>
#include <string>

namespace {

constexpr const char* kUserAgent = "Corvane";
// WinINet follows a bounded chain of redirects; a loop then fails.
constexpr long kMaxRedirects = 10;

std::atomic<long> g_connectTimeoutMs{15000};
std::atomic<long> g_stallTimeoutSeconds{30};
std::atomic<long> g_totalTimeoutSeconds{180};

void InitCurlOnce()
{
    // A function-local static is initialised exactly once, even with threads.
    static const bool initialised = [] {
        return curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    }();
    (void)initialised;
}

std::uint32_t MillisecondsSince(std::chrono::steady_clock::time_point start)
{
    const auto spent = std::chrono::steady_clock::now() - start;
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(spent).count();
    return static_cast<std::uint32_t>(ms);
}

// UTF-16 to UTF-8, with every byte outside printable ASCII percent-encoded
// (blanks, control characters, non-ASCII), as a browser would send it. The
// host part stays as UTF-8 so an international domain name still resolves.
std::string ToRequestUrl(const char16_t* url)
{
    const QByteArray utf8 = QString::fromUtf16(url).toUtf8();
    const char* hex = "0123456789ABCDEF";

    // The authority ends at the first '/', '?' or '#' after "scheme://".
    qsizetype authorityEnd = 0;
    const qsizetype schemeEnd = utf8.indexOf("://");
    if (schemeEnd >= 0) {
        authorityEnd = schemeEnd + 3;
        while (authorityEnd < utf8.size()) {
            const char c = utf8[authorityEnd];
            if (c == '/' || c == '?' || c == '#')
                break;
            ++authorityEnd;
        }
    }

    std::string out;
    out.reserve(static_cast<std::size_t>(utf8.size()) * 3);
    for (qsizetype i = 0; i < utf8.size(); ++i) {
        const auto byte = static_cast<unsigned char>(utf8[i]);
        const bool inAuthority = i < authorityEnd;
        if ((byte > 0x20 && byte < 0x7F) || (inAuthority && byte >= 0x80)) {
            out.push_back(static_cast<char>(byte));
        } else {
            out.push_back('%');
            out.push_back(hex[byte >> 4]);
            out.push_back(hex[byte & 0x0F]);
        }
    }
    return out;
}

// Receives the body straight into the caller's buffer. The limit is tested
// before each piece is stored: a piece that would bring the total to the
// buffer size stops the transfer. It also notes when the last byte came in.
struct Sink {
    char* buffer = nullptr;
    std::uint32_t total = 0;
    bool overLimit = false;
    std::chrono::steady_clock::time_point lastByte;
    std::chrono::steady_clock::duration stallLimit{};
};

size_t WriteBody(char* data, size_t size, size_t count, void* user)
{
    auto* sink = static_cast<Sink*>(user);
    const size_t bytes = size * count;
    sink->lastByte = std::chrono::steady_clock::now();
    if (bytes >= kDownloadBufferSize || sink->total + bytes >= kDownloadBufferSize) {
        sink->overLimit = true;
        return 0; // anything but `bytes` aborts the transfer
    }
    std::memcpy(sink->buffer + sink->total, data, bytes);
    sink->total += static_cast<std::uint32_t>(bytes);
    return bytes;
}

size_t NoteHeader(char*, size_t size, size_t count, void* user)
{
    static_cast<Sink*>(user)->lastByte = std::chrono::steady_clock::now();
    return size * count;
}

// Called about once a second even while nothing arrives: ends the transfer
// once no byte (header or body) has come in for the stall time-out. curl's
// own low-speed check averages over several seconds and would fire late
// after a burst of data; it stays set as a backstop.
int WatchForStall(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    const auto* sink = static_cast<const Sink*>(user);
    return std::chrono::steady_clock::now() - sink->lastByte >= sink->stallLimit ? 1 : 0;
}

} // namespace

DownloadTimeouts SetDownloadTimeoutsForTesting(const DownloadTimeouts& timeouts)
{
    DownloadTimeouts previous;
    previous.connect = std::chrono::milliseconds(
        g_connectTimeoutMs.exchange(static_cast<long>(timeouts.connect.count())));
    previous.stall = std::chrono::seconds(
        g_stallTimeoutSeconds.exchange(static_cast<long>(timeouts.stall.count())));
    previous.total = std::chrono::seconds(
        g_totalTimeoutSeconds.exchange(static_cast<long>(timeouts.total.count())));
    return previous;
}

int DownloadUrlToBuffer(const char16_t* url, char* buffer, std::uint32_t* length,
                        std::uint32_t* elapsedMs)
{
    if (url == nullptr || url[0] == u'\0' || buffer == nullptr)
        return 0;
    if (elapsedMs != nullptr)
        *elapsedMs = 0;
    const auto start = std::chrono::steady_clock::now();

    InitCurlOnce();
    CURL* curl = curl_easy_init();
    if (curl == nullptr)
        return 0;

    const std::string requestUrl = ToRequestUrl(url);
    curl_slist* headers = nullptr;
    // Always from the server, never from a cache on the way.
    headers = curl_slist_append(headers, "Cache-Control: no-cache");
    headers = curl_slist_append(headers, "Pragma: no-cache");

    Sink sink;
    sink.buffer = buffer;
    sink.lastByte = start;
    const long stallSeconds = g_stallTimeoutSeconds.load();
    sink.stallLimit = std::chrono::seconds(stallSeconds);

    curl_easy_setopt(curl, CURLOPT_URL, requestUrl.c_str());
    curl_easy_setopt(curl, CURLOPT_USERAGENT, kUserAgent);
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
    // A direct connection: proxy environment variables are ignored.
    curl_easy_setopt(curl, CURLOPT_PROXY, "");
    curl_easy_setopt(curl, CURLOPT_NOPROXY, "*");
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, kMaxRedirects);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, g_connectTimeoutMs.load());
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, stallSeconds);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, g_totalTimeoutSeconds.load());
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, &WatchForStall);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &sink);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, &NoteHeader);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &sink);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &WriteBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &sink);

    const CURLcode code = curl_easy_perform(curl);
    curl_easy_cleanup(curl);
    curl_slist_free_all(headers);

    if (sink.overLimit)
        return 0; // length not written, no NUL, elapsed stays 0
    if (code != CURLE_OK) {
        if (elapsedMs != nullptr)
            *elapsedMs = MillisecondsSince(start);
        return 0;
    }

    if (length != nullptr)
        *length = sink.total;
    buffer[sink.total] = '\0';
    if (sink.total == 0)
        return 0;
    if (elapsedMs != nullptr)
        *elapsedMs = MillisecondsSince(start);
    return 1;
}
