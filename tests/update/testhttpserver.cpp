// Request parsing and canned answers of TestHttpServer. Unknown paths answer 404.
#include "testhttpserver.h"

#include <QHostAddress>
#include <QTcpSocket>

TestHttpServer::TestHttpServer(QObject *parent) : QObject(parent)
{
    connect(&m_server, &QTcpServer::newConnection, this, &TestHttpServer::onNewConnection);
}

bool TestHttpServer::listen()
{
    return m_server.listen(QHostAddress::LocalHost, 0);
}

QUrl TestHttpServer::url(const QString &path) const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(m_server.serverPort()).arg(path));
}

void TestHttpServer::setRoute(const QString &path, const Route &route)
{
    m_routes.insert(path, route);
}

void TestHttpServer::setRoute(const QString &path, int status, const QByteArray &body, bool sendContentLength)
{
    Route route;
    route.status = status;
    route.body = body;
    route.sendContentLength = sendContentLength;
    setRoute(path, route);
}

void TestHttpServer::setHanging(const QString &path)
{
    Route route;
    route.hang = true;
    setRoute(path, route);
}

int TestHttpServer::count(const QString &method) const
{
    int n = 0;
    for (const QString &request : m_requests) {
        if (request.startsWith(method + QLatin1Char(' ')))
            ++n;
    }
    return n;
}

quint16 TestHttpServer::unusedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const quint16 port = probe.serverPort();
    probe.close();
    return port;
}

void TestHttpServer::onNewConnection()
{
    while (QTcpSocket *socket = m_server.nextPendingConnection()) {
        socket->setParent(this);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket]() { onReadyRead(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket]() {
            m_buffers.remove(socket);
            for (int i = m_held.size() - 1; i >= 0; --i) {
                if (m_held.at(i).socket == socket)
                    m_held.removeAt(i);
            }
            socket->deleteLater();
        });
    }
}

void TestHttpServer::onReadyRead(QTcpSocket *socket)
{
    QByteArray &buffer = m_buffers[socket];
    buffer += socket->readAll();
    const int headerEnd = buffer.indexOf("\r\n\r\n");
    if (headerEnd < 0)
        return;
    const QList<QByteArray> requestLine = buffer.left(buffer.indexOf("\r\n")).split(' ');
    buffer.clear();
    if (requestLine.size() < 2) {
        socket->disconnectFromHost();
        return;
    }
    const QString method = QString::fromLatin1(requestLine.at(0));
    const QString path = QString::fromLatin1(requestLine.at(1));
    const QString request = method + QLatin1Char(' ') + path;
    m_requests.append(request);
    emit requestReceived(request);

    Route missing;
    missing.status = 404;
    missing.body = QByteArrayLiteral("not found");
    const Route route = m_routes.value(path, missing);
    if (route.hang)
        return;
    m_held.append(Held{socket, method, route});
    answerHeld();
}

void TestHttpServer::answerHeld()
{
    for (int i = 0; i < m_held.size();) {
        if (m_held.at(i).route.afterRequests > m_requests.size()) {
            ++i;
            continue;
        }
        const Held held = m_held.takeAt(i);
        answer(held.socket, held.method, held.route);
    }
}

void TestHttpServer::answer(QTcpSocket *socket, const QString &method, const Route &route)
{
    QByteArray response = "HTTP/1.1 " + QByteArray::number(route.status) + " Canned\r\n";
    response += "Connection: close\r\n";
    if (route.sendContentLength)
        response += "Content-Length: " + QByteArray::number(route.body.size()) + "\r\n";
    response += "\r\n";
    if (method != QLatin1String("HEAD"))
        response += route.body;
    socket->write(response);
    socket->disconnectFromHost();
}
