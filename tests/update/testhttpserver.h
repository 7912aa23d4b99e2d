// A tiny HTTP/1.1 server on 127.0.0.1 for the update tests. Each path gets a canned answer
// (status, extra header lines and body, with or without Content-Length); every request is
// recorded as "METHOD /path". One response per connection, 20 ms after the request, then the
// server closes it; mostOpen() is the most requests it held unanswered at once. Unknown paths
// get 404.
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
        QByteArray headers;
    };

    TestHttpServer();
    bool listen() { return m_server.listen(QHostAddress::LocalHost, 0); }
    QUrl url(const QString &path) const;
    void setRoute(const QString &path, int status, const QByteArray &body = {}, bool sendContentLength = true,
                  const QByteArray &headers = {})
    {
        m_routes.insert(path, {status, body, sendContentLength, headers});
    }
    QStringList requests() const { return m_requests; }
    int count(const QString &method) const { return m_requests.filter(QRegExp("^" + method + " ")).size(); }
    int mostOpen() const { return m_mostOpen; }

private:
    QTcpServer m_server;
    QHash<QString, Route> m_routes;
    QStringList m_requests;
    int m_open = 0;
    int m_mostOpen = 0;
};
