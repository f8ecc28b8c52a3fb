#pragma once

#include "httptestserver.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QMutex>
#include <QSemaphore>
#include <QString>

#include <atomic>

namespace corvane::test {

// A Pocket service on 127.0.0.1: answers the OAuth and v3 methods the way
// Pocket does, with the tokens below, and refuses what Pocket would refuse
// (wrong content type, no X-Accept, a bad key or token). Replies can be
// replaced per path, and "add" can be held until released.
class FakePocket
{
public:
    static inline const QString kConsumerKey = QStringLiteral("12345-0123456789abcdef01234567");
    static inline const QString kRequestToken = QStringLiteral("dcba4321-dcba-4321-dcba-4321dc");
    static inline const QString kAccessToken = QStringLiteral("5678defg-5678-defg-5678-defg56");

    FakePocket()
    {
        m_server.setHandler([this](const HttpTestServer::Request &request) { return answer(request); });
    }

    HttpTestServer &server() { return m_server; }
    QString baseUrl() const { return m_server.url(QString()).toString(); }

    // The JSON bodies received for a path, in order.
    QList<QJsonObject> bodies(const QString &path) const
    {
        QList<QJsonObject> list;
        for (const HttpTestServer::Request &request : m_server.requests())
            if (request.path == path)
                list.append(QJsonDocument::fromJson(request.body).object());
        return list;
    }
    int count(const QString &path) const { return m_server.requestCount(path); }

    // A body to answer a path with instead of the usual one; empty restores that.
    void setReply(const QString &path, const QByteArray &body)
    {
        QMutexLocker lock(&m_mutex);
        if (body.isEmpty())
            m_replies.remove(path);
        else
            m_replies.insert(path, body);
    }
    void setList(const QByteArray &listJson) { setReply(QStringLiteral("/v3/get"), "{\"status\":1,\"list\":" + listJson + "}"); }

    // "add" waits for release() while held.
    void holdAdds() { m_holding = true; }
    void release(int adds = 1)
    {
        m_holding = false;
        m_gate.release(adds);
    }

private:
    std::optional<HttpTestServer::Response> answer(const HttpTestServer::Request &request)
    {
        HttpTestServer::Response refused;
        refused.status = 400;
        const QJsonObject body = QJsonDocument::fromJson(request.body).object();
        if (request.method != "POST" || request.header("X-Accept") != "application/json"
            || !request.header("Content-Type").startsWith("application/json")
            || body.value(QStringLiteral("consumer_key")).toString() != kConsumerKey) {
            refused.headers = {{"X-Error", "Invalid request"}};
            return refused;
        }
        const bool oauth = request.path.startsWith(QStringLiteral("/v3/oauth/"));
        if (!oauth && body.value(QStringLiteral("access_token")).toString() != kAccessToken) {
            refused.status = 401;
            return refused;
        }
        if (request.path == u"/v3/add" && m_holding)
            m_gate.acquire();

        HttpTestServer::Response ok;
        ok.headers = {{"Content-Type", "application/json"}};
        QMutexLocker lock(&m_mutex);
        if (m_replies.contains(request.path)) {
            ok.body = m_replies.value(request.path);
            return ok;
        }
        if (request.path == u"/v3/oauth/request")
            ok.body = "{\"code\":\"" + kRequestToken.toUtf8() + "\",\"state\":null}";
        else if (request.path == u"/v3/oauth/authorize")
            ok.body = body.value(QStringLiteral("code")).toString() == kRequestToken
                          ? "{\"access_token\":\"" + kAccessToken.toUtf8() + "\",\"username\":\"reader\"}"
                          : QByteArray();
        else if (request.path == u"/v3/add")
            ok.body = "{\"item\":{\"item_id\":\"" + QByteArray::number(++m_nextId) + "\"},\"status\":1}";
        else if (request.path == u"/v3/send")
            ok.body = "{\"action_results\":[true],\"status\":1}";
        else if (request.path == u"/v3/get")
            ok.body = "{\"status\":1,\"list\":[]}";
        else
            return std::nullopt;
        return ok;
    }

    HttpTestServer m_server;
    mutable QMutex m_mutex;
    QHash<QString, QByteArray> m_replies;
    std::atomic<bool> m_holding{false};
    QSemaphore m_gate;
    int m_nextId = 1000;
};

} // namespace corvane::test
