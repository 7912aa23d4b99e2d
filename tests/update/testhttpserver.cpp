// Request parsing and canned answers of TestHttpServer.
#include "testhttpserver.h"

#include <QRegExp>
#include <QTcpSocket>
#include <QTimer>

TestHttpServer::TestHttpServer()
{
    connect(&m_server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *socket = m_server.nextPendingConnection()) {
            socket->setParent(this);
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
                // The request so far waits in a property of its socket until its header is complete.
                const QByteArray buffer = socket->property("request").toByteArray() + socket->readAll();
                socket->setProperty("request", buffer);
                if (!buffer.contains("\r\n\r\n"))
                    return;
                const QList<QByteArray> line = buffer.left(buffer.indexOf("\r\n")).split(' ');
                const QString method = QString::fromLatin1(line.value(0)),
                              path = QString::fromLatin1(line.value(1));
                m_requests << method + ' ' + path;
                const Route route = m_routes.value(path, {404, "not found", true, {}});
                QByteArray response = "HTTP/1.1 " + QByteArray::number(route.status) +
                                      " Canned\r\nConnection: close\r\n" + route.headers;
                if (route.sendContentLength)
                    response += "Content-Length: " + QByteArray::number(route.body.size()) + "\r\n";
                response += "\r\n" + (method == "HEAD" ? QByteArray() : route.body);
                m_mostOpen = qMax(m_mostOpen, ++m_open);
                QTimer::singleShot(20, socket, [this, socket, response] {
                    --m_open;
                    socket->write(response);
                    socket->disconnectFromHost();
                });
            });
        }
    });
}

QUrl TestHttpServer::url(const QString &path) const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(m_server.serverPort()).arg(path));
}
