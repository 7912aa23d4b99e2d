// DownloadAgent: fetches a list of address/file pairs one after the other with plain GET requests,
// streaming each reply straight into its file, and reports finished(), failed(reason) at the first
// problem, and progress per request. It takes a new list only when the previous one is done.
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

signals:
    void finished();
    void failed(QString reason);
    void progress(int request, float fraction);

private slots:
    void onReplyAvailable();
    void onReplyProgress(qint64 received, qint64 total);
    void onReplyError(QNetworkReply::NetworkError code);
    void onReplyComplete();

private:
    void next();
    void releaseReply();
    void releaseFile();
    void abandon();

    QList<Request> m_requests;
    int m_index = -1;
    QNetworkAccessManager m_network;
    QNetworkReply *m_reply = nullptr;
    QFile *m_file = nullptr;
};

} // namespace ZovaZode
