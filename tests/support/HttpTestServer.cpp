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
    delete m_process;
}

std::string HttpTestServer::Tell(const std::string& path, const std::string& kind, const std::string& body,
                                 const Numbers& numbers, const std::map<std::string, std::string>& texts) const
{
    QJsonObject o;
    if (!kind.empty())
        o = {{"path", QString::fromStdString(path)}, {"kind", QString::fromStdString(kind)},
             {"body", QString::fromLatin1(QByteArray::fromStdString(body).toBase64())}};
    for (const auto& [k, v] : numbers) o[QString::fromStdString(k)] = v;
    for (const auto& [k, v] : texts) o[QString::fromStdString(k)] = QString::fromStdString(v);
    m_process->write(QJsonDocument(o).toJson(QJsonDocument::Compact) + "\n");
    return ReadLine(*m_process).toStdString();
}

std::vector<HttpTestServer::Request> HttpTestServer::Requests() const
{
    std::vector<Request> out;
    for (const QJsonValue v : QJsonDocument::fromJson(QByteArray::fromStdString(Tell("", "", "", {}, {{"log", ""}}))).array()) {
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
