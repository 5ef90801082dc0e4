#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// A small HTTP/1.1 server on 127.0.0.1 (ephemeral port) for tests. Each path
// is given a behaviour: a fixed body (content-length or chunked), a body sent
// in many small pieces, a connection closed mid-body, a stall, a redirect.
// Unknown paths get a 404 page. Every connection carries one request and is
// closed after the reply. The destructor stops it, releasing stalled replies.
//
//   HttpTestServer server;
//   server.Serve("/config.txt", "7|http://...");
//   DownloadUrlToBuffer(server.WideUrl("/config.txt").c_str(), ...);
class HttpTestServer
{
public:
    struct Request {
        std::string method;
        std::string target;                         // as sent, not decoded
        std::map<std::string, std::string> headers; // names in lower case
    };

    HttpTestServer();
    ~HttpTestServer();
    HttpTestServer(const HttpTestServer&) = delete;
    HttpTestServer& operator=(const HttpTestServer&) = delete;

    std::uint16_t Port() const { return m_port; }
    // "http://127.0.0.1:<port>" + path
    std::string Url(const std::string& path) const;
    std::u16string WideUrl(const std::string& path) const;

    // A reply with Content-Length, sent in one go. Any status; the body is
    // sent as given (an error page for 404, say).
    void Serve(const std::string& path, const std::string& body, int status = 200,
               const std::string& contentType = "application/octet-stream");
    // A chunked reply, one chunk per pieceSize bytes.
    void ServeChunked(const std::string& path, const std::string& body,
                      std::size_t pieceSize = 4096);
    // A Content-Length reply written in pieces of pieceSize bytes with a pause
    // between them, so the client sees many small reads.
    void ServePieces(const std::string& path, const std::string& body, std::size_t pieceSize,
                     std::chrono::microseconds gap = std::chrono::microseconds(300));
    // Announces the whole body (Content-Length, or chunked without the final
    // chunk), sends its first sentBytes, then closes the connection.
    void CloseMidBody(const std::string& path, const std::string& body, std::size_t sentBytes,
                      bool chunked = false);
    // Reads the request and then sends nothing more until the server stops.
    // With sentBytes > 0 it first sends the headers (announcing the whole
    // body) and that many body bytes, then stalls.
    void Stall(const std::string& path, const std::string& body = std::string(),
               std::size_t sentBytes = 0);
    // A redirect to location (absolute or relative), with a small body of its own.
    void Redirect(const std::string& path, const std::string& location, int status = 302);

    // Files under dir, served at urlPrefix + their relative path (the path
    // percent-decoded; no "..") with GET and HEAD, honouring a single
    // "Range: bytes=first-last" request (206 with Content-Range), as web
    // seeds need. Read from disk as they are sent, so large files are fine.
    void ServeFiles(const std::string& urlPrefix, const std::string& dir);

    // Every request received so far, in order.
    std::vector<Request> Requests() const;
    int RequestCount(const std::string& path) const;

private:
    enum class Kind { Fixed, Chunked, Pieces, CloseMidBody, Stall, Redirect };
    struct Route {
        Kind kind = Kind::Fixed;
        std::string body;
        int status = 200;
        std::string contentType;
        std::size_t pieceSize = 0;
        std::size_t sentBytes = 0;
        bool chunked = false;
        std::chrono::microseconds gap{0};
        std::string location;
    };

    void AcceptLoop();
    void HandleConnection(int fd);
    bool ReadRequest(int fd, Request& request);
    void Reply(int fd, const Route& route);
    bool SendAll(int fd, const std::string& data);
    void WaitForStop();
    void ReplyFile(int fd, const Request& request, const std::string& path);
    bool Stopping() const;

    int m_listenFd = -1;
    int m_wakeFd = -1; // eventfd: becomes readable when the server stops
    std::uint16_t m_port = 0;
    std::thread m_acceptThread;

    mutable std::mutex m_mutex;
    std::condition_variable m_stopped;
    bool m_stopping = false;
    std::map<std::string, Route> m_routes;
    std::map<std::string, std::string> m_fileDirs;  // URL prefix -> folder
    std::vector<Request> m_requests;
    std::vector<std::thread> m_connections;
};
