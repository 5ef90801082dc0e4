#pragma once
// The stand-in web server (demo/server.py --scripted) as a child process on a
// free loopback port, told per path how to answer. Unknown paths get a 404
// page; the destructor ends the process, releasing stalled replies.
//
//   HttpTestServer server;
//   server.Serve("/config.txt", "7|http://...");
//   DownloadUrlToBuffer(server.WideUrl("/config.txt").c_str(), ...);
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

class QProcess;

class HttpTestServer
{
public:
    struct Request {
        std::string method;
        std::string target;                         // as sent, not decoded
        std::map<std::string, std::string> headers; // names in lower case
    };
    using Numbers = std::map<std::string, long long>;

    HttpTestServer();
    ~HttpTestServer();

    std::uint16_t Port() const { return m_port; }
    std::string Url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(m_port) + path; }
    std::u16string WideUrl(const std::string& path) const
    {
        const std::string url = Url(path);
        return std::u16string(url.begin(), url.end());
    }

    // The body with Content-Length, in one go, under any status.
    void Serve(const std::string& path, const std::string& body, int status = 200,
               const std::string& contentType = "application/octet-stream")
    {
        Tell(path, "whole", body, {{"status", status}}, {{"type", contentType}});
    }
    void ServeChunked(const std::string& path, const std::string& body, std::size_t pieceSize = 4096)
    {
        Tell(path, "chunked", body, {{"piece", pieceSize}});
    }
    // Content-Length, written in pieces of pieceSize bytes, gap apart.
    void ServePieces(const std::string& path, const std::string& body, std::size_t pieceSize,
                     std::chrono::microseconds gap = std::chrono::microseconds(300))
    {
        Tell(path, "pieces", body, {{"piece", pieceSize}, {"gap_us", gap.count()}});
    }
    // Announces the whole body, sends its first sentBytes, closes.
    void CloseMidBody(const std::string& path, const std::string& body, std::size_t sentBytes, bool chunked = false)
    {
        Tell(path, "cut", body, {{"sent", sentBytes}, {"chunked", chunked}});
    }
    // Nothing at all, or (sentBytes > 0) the headers and sentBytes of the
    // body; then nothing more until the server ends.
    void Stall(const std::string& path, const std::string& body = std::string(), std::size_t sentBytes = 0)
    {
        Tell(path, "stall", body, {{"sent", sentBytes}});
    }
    void Redirect(const std::string& path, const std::string& location, int status = 302)
    {
        Tell(path, "redirect", "", {{"status", status}}, {{"location", location}});
    }
    // Files under dir at urlPrefix + their relative path, single byte ranges
    // too (as web seeds ask).
    void ServeFiles(const std::string& urlPrefix, const std::string& dir) { Tell("", "", "", {}, {{"files", urlPrefix}, {"dir", dir}}); }

    std::vector<Request> Requests() const;  // every request so far, in order
    int RequestCount(const std::string& path) const;

private:
    // One line of JSON to the server; its one-line answer.
    std::string Tell(const std::string& path, const std::string& kind, const std::string& body,
                     const Numbers& numbers = {}, const std::map<std::string, std::string>& texts = {}) const;

    QProcess* m_process;
    std::uint16_t m_port = 0;
};
