// DownloadAgent: fetches a list of address/file pairs one after the other with plain GET requests,
// streaming each reply straight into its file, and reports finished(), failed(reason) at the first
// problem, and progress per request. It takes a new list only when the previous one is done.
// Everything from the network is hostile: a reply larger than the limit (1 MiB unless set
// otherwise) fails as soon as its header announces it or its bytes pass it, counted as they
// arrive and as they reach the file; the agent asks for the bytes as they are stored
// ("Accept-Encoding: identity") and refuses an encoded reply, so nothing is ever inflated on the
// way. A failed request leaves no file behind.
#pragma once

#include <QList>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QObject>
#include <QString>
#include <QUrl>

class QFile;

namespace ZovaZode {

class DownloadAgent : public QObject
{
    Q_OBJECT

public:
    struct Request
    {
        QUrl address;
        QString destination;
    };

    explicit DownloadAgent(QObject *parent = nullptr);
    ~DownloadAgent() override;

    void download(const Request &request);
    void download(const QList<Request> &requests);

    bool isBusy() const { return !m_requests.isEmpty(); }

    static constexpr qint64 DefaultMaximumSize = 1024 * 1024;
    // A server that sends nothing for this long is given up on.
    static constexpr int TransferTimeoutMs = 30000;
    void setMaximumSize(qint64 bytes) { m_maximumSize = bytes; }

signals:
    void finished();
    void failed(QString reason);
    void progress(int request, float fraction);

private slots:
    void onReplyHeaders();
    void onReplyAvailable();
    void onReplyProgress(qint64 received, qint64 total);
    void onReplyError(QNetworkReply::NetworkError code);
    void onReplyComplete();

private:
    void next();
    void releaseReply();
    void releaseFile();
    void abandon();
    void fail(const QString &reason);
    void refuse(const QString &reason);

    QList<Request> m_requests;
    int m_index = -1;
    QNetworkAccessManager m_network;
    QNetworkReply *m_reply = nullptr;
    QFile *m_file = nullptr;
    qint64 m_written = 0;
    qint64 m_maximumSize = DefaultMaximumSize;
};

} // namespace ZovaZode
