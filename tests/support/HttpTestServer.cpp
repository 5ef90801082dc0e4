#include "tests/support/HttpTestServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <fcntl.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <stdexcept>

namespace {

// No single step of a reply may wait longer than this for the client.
constexpr int kIoTimeoutMs = 20000;

const char* ReasonPhrase(int status)
{
    switch (status) {
    case 200: return "OK";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 303: return "See Other";
    case 307: return "Temporary Redirect";
    case 308: return "Permanent Redirect";
    case 404: return "Not Found";
    case 500: return "Internal Server Error";
    default: return "Status";
    }
}

std::string Lower(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

std::string Trim(const std::string& s)
{
    const auto begin = s.find_first_not_of(" \t");
    if (begin == std::string::npos)
        return std::string();
    const auto end = s.find_last_not_of(" \t");
    return s.substr(begin, end - begin + 1);
}

// "%41" -> "A"; anything not a valid escape stays as it is.
std::string PercentDecode(const std::string& s)
{
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size() && std::isxdigit(static_cast<unsigned char>(s[i + 1]))
            && std::isxdigit(static_cast<unsigned char>(s[i + 2]))) {
            out.push_back(static_cast<char>(std::stoi(s.substr(i + 1, 2), nullptr, 16)));
            i += 2;
        } else {
            out.push_back(s[i]);
        }
    }
    return out;
}

std::string Hex(std::size_t n)
{
    char text[32];
    std::snprintf(text, sizeof text, "%zx", n);
    return text;
}

} // namespace

HttpTestServer::HttpTestServer()
{
    m_listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_listenFd < 0)
        throw std::runtime_error("HttpTestServer: socket failed");
    const int one = 1;
    ::setsockopt(m_listenFd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    if (::bind(m_listenFd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0
        || ::listen(m_listenFd, 64) != 0) {
        ::close(m_listenFd);
        throw std::runtime_error("HttpTestServer: cannot listen on 127.0.0.1");
    }
    socklen_t size = sizeof address;
    ::getsockname(m_listenFd, reinterpret_cast<sockaddr*>(&address), &size);
    m_port = ntohs(address.sin_port);
    m_wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    m_acceptThread = std::thread([this] { AcceptLoop(); });
}

HttpTestServer::~HttpTestServer()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    m_stopped.notify_all();
    const std::uint64_t wake = 1;
    [[maybe_unused]] auto written = ::write(m_wakeFd, &wake, sizeof wake);
    m_acceptThread.join();
    // The accept loop has ended, so no connection thread is added any more.
    for (std::thread& t : m_connections)
        t.join();
    ::close(m_listenFd);
    ::close(m_wakeFd);
}

std::string HttpTestServer::Url(const std::string& path) const
{
    return "http://127.0.0.1:" + std::to_string(m_port) + path;
}

std::u16string HttpTestServer::WideUrl(const std::string& path) const
{
    const std::string url = Url(path);
    std::u16string wide;
    for (unsigned char c : url)
        wide.push_back(static_cast<char16_t>(c)); // callers pass ASCII paths
    return wide;
}

void HttpTestServer::Serve(const std::string& path, const std::string& body, int status,
                           const std::string& contentType)
{
    Route route;
    route.kind = Kind::Fixed;
    route.body = body;
    route.status = status;
    route.contentType = contentType;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_routes[path] = route;
}

void HttpTestServer::ServeChunked(const std::string& path, const std::string& body,
                                  std::size_t pieceSize)
{
    Route route;
    route.kind = Kind::Chunked;
    route.body = body;
    route.pieceSize = std::max<std::size_t>(pieceSize, 1);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_routes[path] = route;
}

void HttpTestServer::ServePieces(const std::string& path, const std::string& body,
                                 std::size_t pieceSize, std::chrono::microseconds gap)
{
    Route route;
    route.kind = Kind::Pieces;
    route.body = body;
    route.pieceSize = std::max<std::size_t>(pieceSize, 1);
    route.gap = gap;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_routes[path] = route;
}

void HttpTestServer::CloseMidBody(const std::string& path, const std::string& body,
                                  std::size_t sentBytes, bool chunked)
{
    Route route;
    route.kind = Kind::CloseMidBody;
    route.body = body;
    route.sentBytes = std::min(sentBytes, body.size());
    route.chunked = chunked;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_routes[path] = route;
}

void HttpTestServer::Stall(const std::string& path, const std::string& body, std::size_t sentBytes)
{
    Route route;
    route.kind = Kind::Stall;
    route.body = body;
    route.sentBytes = std::min(sentBytes, body.size());
    std::lock_guard<std::mutex> lock(m_mutex);
    m_routes[path] = route;
}

void HttpTestServer::Redirect(const std::string& path, const std::string& location, int status)
{
    Route route;
    route.kind = Kind::Redirect;
    route.status = status;
    route.location = location;
    route.body = "<html><body>Moved</body></html>";
    std::lock_guard<std::mutex> lock(m_mutex);
    m_routes[path] = route;
}

std::vector<HttpTestServer::Request> HttpTestServer::Requests() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_requests;
}

int HttpTestServer::RequestCount(const std::string& path) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return static_cast<int>(std::count_if(m_requests.begin(), m_requests.end(),
                                          [&](const Request& r) { return r.target == path; }));
}

bool HttpTestServer::Stopping() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_stopping;
}

void HttpTestServer::WaitForStop()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_stopped.wait(lock, [this] { return m_stopping; });
}

void HttpTestServer::AcceptLoop()
{
    for (;;) {
        pollfd fds[2] = {{m_listenFd, POLLIN, 0}, {m_wakeFd, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (fds[1].revents != 0)
            return;
        if ((fds[0].revents & POLLIN) == 0)
            continue;
        const int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        const int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        std::lock_guard<std::mutex> lock(m_mutex);
        m_connections.emplace_back([this, fd] { HandleConnection(fd); });
    }
}

void HttpTestServer::HandleConnection(int fd)
{
    Request request;
    if (ReadRequest(fd, request)) {
        Route route;
        bool found = false;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_requests.push_back(request);
            auto it = m_routes.find(request.target);
            if (it == m_routes.end())
                it = m_routes.find(request.target.substr(0, request.target.find('?')));
            if (it != m_routes.end()) {
                route = it->second;
                found = true;
            }
        }
        if (!found) {
            std::string file;
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                for (const auto& [prefix, dir] : m_fileDirs) {
                    if (request.target.compare(0, prefix.size(), prefix) == 0) {
                        const std::string rel = PercentDecode(request.target.substr(prefix.size()));
                        if (rel.find("..") == std::string::npos)
                            file = dir + "/" + rel;
                    }
                }
            }
            struct stat st {};
            if (!file.empty() && ::stat(file.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
                ReplyFile(fd, request, file);
                ::shutdown(fd, SHUT_WR);
                ::close(fd);
                return;
            }
        }
        if (!found) {
            route.kind = Kind::Fixed;
            route.status = 404;
            route.contentType = "text/html";
            route.body = "<html><body><h1>404 Not Found</h1></body></html>";
        }
        Reply(fd, route);
    }
    ::shutdown(fd, SHUT_WR);
    ::close(fd);
}

bool HttpTestServer::ReadRequest(int fd, Request& request)
{
    std::string data;
    char chunk[4096];
    while (data.find("\r\n\r\n") == std::string::npos) {
        if (data.size() > 64 * 1024)
            return false;
        pollfd fds[2] = {{fd, POLLIN, 0}, {m_wakeFd, POLLIN, 0}};
        if (::poll(fds, 2, kIoTimeoutMs) <= 0 || fds[1].revents != 0)
            return false;
        const ssize_t got = ::recv(fd, chunk, sizeof chunk, 0);
        if (got <= 0)
            return false;
        data.append(chunk, static_cast<std::size_t>(got));
    }
    const std::string head = data.substr(0, data.find("\r\n\r\n"));
    std::size_t lineEnd = head.find("\r\n");
    const std::string requestLine = head.substr(0, lineEnd);
    const auto firstSpace = requestLine.find(' ');
    const auto lastSpace = requestLine.rfind(' ');
    if (firstSpace == std::string::npos || lastSpace <= firstSpace)
        return false;
    request.method = requestLine.substr(0, firstSpace);
    request.target = requestLine.substr(firstSpace + 1, lastSpace - firstSpace - 1);
    while (lineEnd != std::string::npos) {
        const std::size_t start = lineEnd + 2;
        lineEnd = head.find("\r\n", start);
        const std::string line = head.substr(start, lineEnd == std::string::npos ? std::string::npos
                                                                                 : lineEnd - start);
        const auto colon = line.find(':');
        if (colon != std::string::npos)
            request.headers[Lower(Trim(line.substr(0, colon)))] = Trim(line.substr(colon + 1));
    }
    return true;
}

bool HttpTestServer::SendAll(int fd, const std::string& data)
{
    std::size_t sent = 0;
    while (sent < data.size()) {
        pollfd fds[2] = {{fd, POLLOUT, 0}, {m_wakeFd, POLLIN, 0}};
        if (::poll(fds, 2, kIoTimeoutMs) <= 0 || fds[1].revents != 0)
            return false;
        const ssize_t n = ::send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN)
                continue;
            return false;
        }
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

void HttpTestServer::ServeFiles(const std::string& urlPrefix, const std::string& dir)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_fileDirs[urlPrefix] = dir;
}

void HttpTestServer::ReplyFile(int fd, const Request& request, const std::string& path)
{
    const int file = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st {};
    if (file < 0 || ::fstat(file, &st) != 0) {
        if (file >= 0)
            ::close(file);
        SendAll(fd, "HTTP/1.1 500 Internal Server Error\r\nConnection: close\r\nContent-Length: 0\r\n\r\n");
        return;
    }
    const std::uint64_t size = static_cast<std::uint64_t>(st.st_size);
    std::uint64_t first = 0;
    std::uint64_t last = size == 0 ? 0 : size - 1;
    bool partial = false;
    const auto range = request.headers.find("range");
    if (range != request.headers.end() && range->second.rfind("bytes=", 0) == 0) {
        const std::string spec = range->second.substr(6);
        const auto dash = spec.find('-');
        if (dash != std::string::npos && dash > 0 && spec.find(',') == std::string::npos) {
            first = std::stoull(spec.substr(0, dash));
            if (dash + 1 < spec.size())
                last = std::min<std::uint64_t>(std::stoull(spec.substr(dash + 1)), last);
            partial = true;
        }
    }
    if (partial && (first > last || first >= size)) {
        SendAll(fd, "HTTP/1.1 416 Range Not Satisfiable\r\nConnection: close\r\nContent-Range: bytes */"
                        + std::to_string(size) + "\r\nContent-Length: 0\r\n\r\n");
        ::close(file);
        return;
    }
    const std::uint64_t length = size == 0 ? 0 : last - first + 1;
    std::string head = partial ? "HTTP/1.1 206 Partial Content\r\n" : "HTTP/1.1 200 OK\r\n";
    head += "Connection: close\r\nContent-Type: application/octet-stream\r\nAccept-Ranges: bytes\r\n";
    if (partial)
        head += "Content-Range: bytes " + std::to_string(first) + "-" + std::to_string(last) + "/"
                + std::to_string(size) + "\r\n";
    head += "Content-Length: " + std::to_string(length) + "\r\n\r\n";
    if (SendAll(fd, head) && request.method != "HEAD") {
        std::string chunk(1 << 20, '\0');
        for (std::uint64_t at = first; at < first + length;) {
            const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(chunk.size(), first + length - at));
            const ssize_t got = ::pread(file, chunk.data(), want, static_cast<off_t>(at));
            if (got <= 0 || !SendAll(fd, chunk.substr(0, static_cast<std::size_t>(got))))
                break;
            at += static_cast<std::uint64_t>(got);
        }
    }
    ::close(file);
}

void HttpTestServer::Reply(int fd, const Route& route)
{
    const bool chunked = route.kind == Kind::Chunked
                         || (route.kind == Kind::CloseMidBody && route.chunked);
    std::string head = "HTTP/1.1 " + std::to_string(route.status) + " "
                       + ReasonPhrase(route.status) + "\r\n";
    head += "Connection: close\r\n";
    head += "Content-Type: "
            + (route.contentType.empty() ? std::string("application/octet-stream")
                                         : route.contentType)
            + "\r\n";
    if (route.kind == Kind::Redirect)
        head += "Location: " + route.location + "\r\n";
    if (chunked)
        head += "Transfer-Encoding: chunked\r\n";
    else
        head += "Content-Length: " + std::to_string(route.body.size()) + "\r\n";
    head += "\r\n";

    switch (route.kind) {
    case Kind::Fixed:
    case Kind::Redirect:
        SendAll(fd, head + route.body);
        return;
    case Kind::Chunked: {
        if (!SendAll(fd, head))
            return;
        for (std::size_t at = 0; at < route.body.size(); at += route.pieceSize) {
            const std::string piece = route.body.substr(at, route.pieceSize);
            if (!SendAll(fd, Hex(piece.size()) + "\r\n" + piece + "\r\n"))
                return;
        }
        SendAll(fd, "0\r\n\r\n");
        return;
    }
    case Kind::Pieces: {
        if (!SendAll(fd, head))
            return;
        for (std::size_t at = 0; at < route.body.size(); at += route.pieceSize) {
            if (at != 0 && route.gap.count() > 0)
                std::this_thread::sleep_for(route.gap);
            if (!SendAll(fd, route.body.substr(at, route.pieceSize)))
                return;
        }
        return;
    }
    case Kind::CloseMidBody: {
        const std::string part = route.body.substr(0, route.sentBytes);
        if (chunked)
            SendAll(fd, head + (part.empty() ? std::string() : Hex(part.size()) + "\r\n" + part + "\r\n"));
        else
            SendAll(fd, head + part);
        return;
    }
    case Kind::Stall:
        if (route.sentBytes > 0 && !SendAll(fd, head + route.body.substr(0, route.sentBytes)))
            return;
        WaitForStop();
        return;
    }
}
