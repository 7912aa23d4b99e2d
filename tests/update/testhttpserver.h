// TestHttpServer: a tiny HTTP/1.1 server on 127.0.0.1 for the update tests. Each path gets a
// canned answer (status, body, with or without Content-Length, or no answer at all); every
// request is recorded as "METHOD /path". One response per connection, then the server closes it.
#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QStringList>
#include <QTcpServer>
#include <QUrl>

class QTcpSocket;

class TestHttpServer : public QObject
{
    Q_OBJECT

public:
    struct Route
    {
        int status = 200;
        QByteArray body;
        bool sendContentLength = true;
        // Keeps the connection open without ever answering, so the client's request stays pending.
        bool hang = false;
        // Holds the answer back until the server has seen this many requests in all, so a test can
        // make sure its other requests are in flight first.
        int afterRequests = 0;
    };

    explicit TestHttpServer(QObject *parent = nullptr);

    bool listen();
    QUrl url(const QString &path) const;

    void setRoute(const QString &path, const Route &route);
    void setRoute(const QString &path, int status, const QByteArray &body = QByteArray(),
                  bool sendContentLength = true);
    void setHanging(const QString &path);

    QStringList requests() const { return m_requests; }
    int count(const QString &method) const;

    // A port on 127.0.0.1 on which nobody listens at the moment of the call.
    static quint16 unusedPort();

signals:
    void requestReceived(const QString &request);

private:
    void onNewConnection();
    void onReadyRead(QTcpSocket *socket);
    void answer(QTcpSocket *socket, const QString &method, const Route &route);
    void answerHeld();

    struct Held
    {
        QTcpSocket *socket;
        QString method;
        Route route;
    };

    QTcpServer m_server;
    QHash<QString, Route> m_routes;
    QStringList m_requests;
    QHash<QTcpSocket *, QByteArray> m_buffers;
    QList<Held> m_held;
};
