// DownloadAgent's request sequencing. A reply is always disconnected before it is scheduled for
// deletion, so nothing it emits later (its completion after an error, in particular) reaches us.
#include "update/downloadagent.h"

#include <QFile>
#include <QFileInfo>
#include <QNetworkRequest>
#include <QtDebug>

namespace ZovaZode {

namespace {

// A manifest is a few kilobytes: anything this large is not one, and must not fill the memory or
// the disk.
QString tooLarge(qint64 maximumSize)
{
    return QStringLiteral("The download is larger than %1 bytes.").arg(maximumSize);
}

} // namespace

DownloadAgent::DownloadAgent(QObject *parent) : QObject(parent) {}

DownloadAgent::~DownloadAgent()
{
    releaseReply();
    releaseFile();
}

void DownloadAgent::download(const Request &request)
{
    download(QList<Request>{request});
}

void DownloadAgent::download(const QList<Request> &requests)
{
    if (isBusy()) {
        qCritical() << "Already active.";
        return;
    }
    releaseReply();
    releaseFile();
    m_requests = requests;
    m_index = -1;
    next();
}

void DownloadAgent::next()
{
    ++m_index;
    if (m_index >= m_requests.size()) {
        abandon();
        emit finished();
        return;
    }
    releaseReply();
    releaseFile();

    const Request &request = m_requests.at(m_index);
    qDebug() << "DownloadAgent: Downloading:";
    qDebug() << "  from " << request.address;
    qDebug() << "  to " << request.destination;

    // Whatever sits under the destination name is replaced, never opened: a link planted there
    // would otherwise redirect our write to its target. Creating the file exclusively makes sure
    // the name still refers to our own new file.
    const QFileInfo existing(request.destination);
    if (existing.exists() || existing.isSymLink())
        QFile::remove(request.destination);
    m_file = new QFile(request.destination);
    if (!m_file->open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
        // Not ours to remove: the name belongs to whatever kept it from being created.
        delete m_file;
        m_file = nullptr;
        abandon();
        emit failed(QStringLiteral("Failed to open destination file."));
        return;
    }
    m_written = 0;

    QNetworkRequest get(request.address);
    get.setRawHeader("Accept-Encoding", "identity");
    get.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    get.setTransferTimeout(TransferTimeoutMs);
    m_reply = m_network.get(get);
    // Qt stops reading the socket while this much waits unread, so a fast server cannot fill
    // memory between two of our reads.
    m_reply->setReadBufferSize(64 * 1024);
    connect(m_reply, &QNetworkReply::metaDataChanged, this, &DownloadAgent::onReplyHeaders);
    connect(m_reply, &QNetworkReply::readyRead, this, &DownloadAgent::onReplyAvailable);
    connect(m_reply, &QNetworkReply::downloadProgress, this, &DownloadAgent::onReplyProgress);
    connect(m_reply, &QNetworkReply::errorOccurred, this, &DownloadAgent::onReplyError);
    connect(m_reply, &QNetworkReply::finished, this, &DownloadAgent::onReplyComplete);
}

void DownloadAgent::onReplyHeaders()
{
    if (!m_reply)
        return;
    const QByteArray encoding = m_reply->rawHeader("Content-Encoding").trimmed().toLower();
    if (!encoding.isEmpty() && encoding != "identity") {
        refuse(QStringLiteral("The server sent the download encoded (%1), which it was not asked to.")
                   .arg(QString::fromLatin1(encoding)));
    } else if (m_reply->header(QNetworkRequest::ContentLengthHeader).toLongLong() > m_maximumSize) {
        refuse(tooLarge(m_maximumSize));
    }
}

void DownloadAgent::onReplyAvailable()
{
    if (!m_reply || !m_file)
        return;
    const QByteArray bytes = m_reply->readAll();
    m_written += bytes.size();
    if (m_written > m_maximumSize) {
        refuse(tooLarge(m_maximumSize));
        return;
    }
    m_file->write(bytes);
}

void DownloadAgent::onReplyProgress(qint64 received, qint64 total)
{
    if (received > m_maximumSize) {
        refuse(tooLarge(m_maximumSize));
        return;
    }
    float fraction = 0.0f;
    if (total > 0)
        fraction = static_cast<float>(static_cast<double>(received) / static_cast<double>(total));
    else if (total == 0)
        fraction = 1.0f;
    emit progress(m_index, fraction);
}

void DownloadAgent::onReplyError(QNetworkReply::NetworkError)
{
    fail(m_reply ? m_reply->errorString() : QString());
}

void DownloadAgent::fail(const QString &reason)
{
    // A partly written file is of no use to anyone.
    if (m_file)
        m_file->remove();
    abandon();
    emit failed(reason);
}

// Ends the running request early: aborting reports an error and a completion of its own, and
// neither may reach us.
void DownloadAgent::refuse(const QString &reason)
{
    m_reply->disconnect(this);
    m_reply->abort();
    fail(reason);
}

void DownloadAgent::onReplyComplete()
{
    releaseFile();
    releaseReply();
    next();
}

void DownloadAgent::releaseReply()
{
    if (!m_reply)
        return;
    m_reply->disconnect(this);
    m_reply->deleteLater();
    m_reply = nullptr;
}

void DownloadAgent::releaseFile()
{
    delete m_file;
    m_file = nullptr;
}

// Drops the reply, the file and the list: the agent is idle.
void DownloadAgent::abandon()
{
    releaseReply();
    releaseFile();
    m_requests.clear();
}

} // namespace ZovaZode
