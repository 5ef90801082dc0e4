#include "tests/support/HttpTestServer.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <stdexcept>

namespace {
QByteArray ReadLine(QProcess& p)
{
    while (!p.canReadLine())
        if (!p.waitForReadyRead(10000))
            throw std::runtime_error("demo/server.py does not answer");
    return p.readLine().trimmed();
}

QProcess* Start()
{
    auto* p = new QProcess;
    p->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p->start("python3", {CORVANE_SOURCE_DIR "/demo/server.py", "--port", "0", "--scripted"});
    return p;
}

// The next server starts while a test uses this one: Python takes a while to
// start. The last one ends when its stdin closes with this process.
QProcess* g_spare = nullptr;
} // namespace

HttpTestServer::HttpTestServer() : m_process(g_spare ? g_spare : Start())
{
    g_spare = Start();
    m_port = static_cast<std::uint16_t>(ReadLine(*m_process).toUInt());
}

HttpTestServer::~HttpTestServer()
{
    m_process->kill();
    m_process->waitForFinished();
}

std::string HttpTestServer::Url(const std::string& path) const
{
    return "http://127.0.0.1:" + std::to_string(m_port) + path;
}

std::u16string HttpTestServer::WideUrl(const std::string& path) const
{
    const std::string url = Url(path);
    return std::u16string(url.begin(), url.end());
}

std::string HttpTestServer::Tell(const std::string& kind, const std::string& path, const std::string& body,
                                 const std::map<std::string, long long>& numbers,
                                 const std::map<std::string, std::string>& texts) const
{
    QJsonObject o{{QString::fromStdString(kind), QString::fromStdString(path)}};
    if (kind == "path") o["body"] = QString::fromLatin1(QByteArray::fromStdString(body).toBase64());
    for (const auto& [k, v] : numbers) o[QString::fromStdString(k)] = v;
    for (const auto& [k, v] : texts) o[QString::fromStdString(k)] = QString::fromStdString(v);
    m_process->write(QJsonDocument(o).toJson(QJsonDocument::Compact) + "\n");
    return ReadLine(*m_process).toStdString();
}

void HttpTestServer::Serve(const std::string& path, const std::string& body, int status, const std::string& contentType)
{
    Tell("path", path, body, {{"status", status}}, {{"kind", "whole"}, {"type", contentType}});
}

void HttpTestServer::ServeChunked(const std::string& path, const std::string& body, std::size_t pieceSize)
{
    Tell("path", path, body, {{"piece", pieceSize}}, {{"kind", "chunked"}});
}

void HttpTestServer::ServePieces(const std::string& path, const std::string& body, std::size_t pieceSize,
                                 std::chrono::microseconds gap)
{
    Tell("path", path, body, {{"piece", pieceSize}, {"gap_us", gap.count()}}, {{"kind", "pieces"}});
}

void HttpTestServer::CloseMidBody(const std::string& path, const std::string& body, std::size_t sentBytes, bool chunked)
{
    Tell("path", path, body, {{"sent", sentBytes}, {"chunked", chunked}}, {{"kind", "cut"}});
}

void HttpTestServer::Stall(const std::string& path, const std::string& body, std::size_t sentBytes)
{
    Tell("path", path, body, {{"sent", sentBytes}}, {{"kind", "stall"}});
}

void HttpTestServer::Redirect(const std::string& path, const std::string& location, int status)
{
    Tell("path", path, "", {{"status", status}}, {{"kind", "redirect"}, {"location", location}});
}

void HttpTestServer::ServeFiles(const std::string& urlPrefix, const std::string& dir)
{
    Tell("files", urlPrefix, "", {}, {{"dir", dir}});
}

std::vector<HttpTestServer::Request> HttpTestServer::Requests() const
{
    std::vector<Request> out;
    for (const QJsonValue& v : QJsonDocument::fromJson(QByteArray::fromStdString(Tell("log", "", ""))).array()) {
        Request r{v["method"].toString().toStdString(), v["target"].toString().toStdString(), {}};
        const QJsonObject headers = v["headers"].toObject();
        for (auto h = headers.begin(); h != headers.end(); ++h)
            r.headers[h.key().toStdString()] = h.value().toString().toStdString();
        out.push_back(std::move(r));
    }
    return out;
}

int HttpTestServer::RequestCount(const std::string& path) const
{
    int n = 0;
    for (const Request& r : Requests())
        n += r.target.substr(0, r.target.find('?')) == path;
    return n;
}
