// A tiny HTTP/1.1 server on 127.0.0.1 for the update tests. Each path gets a canned answer
// (status and body, with or without Content-Length); every request is recorded as
// "METHOD /path". One response per connection, then the server closes it. Unknown paths get 404.
#pragma once

#include <QByteArray>
#include <QHash>
#include <QRegExp>
#include <QStringList>
#include <QTcpServer>
#include <QUrl>

class TestHttpServer : public QObject
{
public:
    struct Route
    {
        int status = 404;
        QByteArray body;
        bool sendContentLength = true;
    };

    TestHttpServer();
    bool listen() { return m_server.listen(QHostAddress::LocalHost, 0); }
    QUrl url(const QString &path) const;
    void setRoute(const QString &path, int status, const QByteArray &body = {}, bool sendContentLength = true)
    {
        m_routes.insert(path, {status, body, sendContentLength});
    }
    QStringList requests() const { return m_requests; }
    int count(const QString &method) const { return m_requests.filter(QRegExp("^" + method + " ")).size(); }


private:
    QTcpServer m_server;
    QHash<QString, Route> m_routes;
    QStringList m_requests;
};
