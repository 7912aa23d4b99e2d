// The discovery sequence: manifest download, parse, then the size queries, a few at a time. The
// manifest lives in the user's own cache folder, not in the shared temporary folder, so no other
// user can plant a file or link under its name.
#include "update/updatemanager.h"

#include <QDir>
#include <QFile>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QStandardPaths>
#include <QThread>
#include <QtDebug>

#include <memory>

namespace ZovaZode {

UpdateManager::UpdateManager(QObject *parent)
    : QObject(parent), m_manifestFolder(QStandardPaths::writableLocation(QStandardPaths::CacheLocation)),
      m_manifestPath(m_manifestFolder + QStringLiteral("/update-manifest.xml"))
{
    connect(&m_agent, &DownloadAgent::failed, this, [this](const QString &reason) { fail(reason); });
    connect(&m_agent, &DownloadAgent::finished, this, [this]() { onManifestDownloaded(); });
}

UpdateManager::~UpdateManager()
{
    // The parser stops at its next tag.
    if (m_parsing) {
        m_parsing->disconnect(this);
        m_parsing->requestInterruption();
        m_parsing->wait();
    }
    // Size replies belong to the network object, which outlives this body; they must not call
    // back into a half-destroyed manager.
    for (QNetworkReply *reply : qAsConst(m_pending))
        reply->disconnect(this);
}

QList<UpdateManifestParser::Component> UpdateManager::components(int productCode) const
{
    return m_parser.components(productCode);
}

void UpdateManager::discoverUpdates(const QUrl &manifestAddress)
{
    if (m_state == Busy) {
        qCritical() << "UpdateManager: Busy.";
        return;
    }
    m_parser.reset();
    m_failureReason.clear();
    m_state = Busy;

    if (!UpdateManifestParser::allowedAddress(manifestAddress)) {
        fail(QStringLiteral("The manifest address \"%1\" is not an https address.")
                 .arg(manifestAddress.toString()));
        return;
    }
    if (!QDir().mkpath(m_manifestFolder)) {
        qCritical() << "UpdateManager: Failed to create path:" << m_manifestFolder;
        fail(QStringLiteral("The folder \"%1\" could not be created.").arg(m_manifestFolder));
        return;
    }
    qDebug() << "UpdateManager: Starting download to:" << m_manifestPath;
    m_agent.download(DownloadAgent::Request{manifestAddress, m_manifestPath});
}

void UpdateManager::onManifestDownloaded()
{
    if (m_state != Busy) {
        qCritical() << "UpdateManager::downloadFinished: unexpected state.";
        return;
    }

    // The thread has a parser and a file of its own; the result reaches us once it has finished.
    struct Parse
    {
        UpdateManifestParser parser;
        bool opened = false;
    };
    const auto parse = std::make_shared<Parse>();
    m_parsing = QThread::create([parse, path = m_manifestPath] {
        QFile file(path);
        parse->opened = file.open(QIODevice::ReadOnly);
        if (parse->opened)
            parse->parser.parse(&file);
    });
    m_parsing->setParent(this);
    connect(m_parsing, &QThread::finished, this,
            [this, parse] { onManifestParsed(parse->parser, parse->opened); });
    m_parsing->start();
}

void UpdateManager::onManifestParsed(const UpdateManifestParser &parsed, bool opened)
{
    m_parsing->deleteLater();
    m_parsing = nullptr;
    if (!opened) {
        qCritical() << "UpdateManager: failed to open manifest file.";
        fail(QStringLiteral("The downloaded manifest could not be read."));
        return;
    }
    qDebug() << "UpdateManager: Manifest file opened.";
    if (!parsed.errorString().isEmpty()) {
        qCritical() << "Failed to parse manifest.";
        fail(parsed.errorString());
        return;
    }
    qDebug() << "UpdateManager: Manifest parsed.";
    m_parser = parsed;

    const UpdateManifestParser::ComponentTable &table = m_parser.componentTable();
    m_unasked.clear();
    for (auto product = table.cbegin(); product != table.cend(); ++product) {
        for (int index = 0; index < product.value().size(); ++index)
            m_unasked.append({product.key(), index});
    }
    askSizes();
}

// Keeps at most MaximumSizeQueries size queries in flight; the discovery is done when the last
// one is answered.
void UpdateManager::askSizes()
{
    while (m_pending.size() < MaximumSizeQueries && !m_unasked.isEmpty()) {
        const QPair<int, int> next = m_unasked.takeFirst();
        const QUrl address = m_parser.componentTable().value(next.first).at(next.second).address;
        qDebug() << "Requesting component size for url:" << address;
        QNetworkRequest head(address);
        head.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
        head.setTransferTimeout(DownloadAgent::TransferTimeoutMs);
        QNetworkReply *reply = m_network.head(head);
        m_pending.append(reply);
        connect(reply, &QNetworkReply::finished, this,
                [this, reply, next]() { onSizeReply(reply, next.first, next.second); });
    }
    if (m_pending.isEmpty()) {
        m_state = Idle;
        emit updateDiscoveryDone();
    }
}

void UpdateManager::onSizeReply(QNetworkReply *reply, int productCode, int index)
{
    if (!reply->isOpen()) {
        qDebug() << "Component size reply aborted:" << reply->url();
        reply->deleteLater();
        return;
    }
    // A reply that is no longer pending belongs to a discovery that has already ended.
    if (!m_pending.contains(reply)) {
        reply->deleteLater();
        return;
    }
    if (reply->error() != QNetworkReply::NoError) {
        qDebug() << "Component size reply ERROR:" << reply->url();
        // Aborting finishes each reply at once, which brings it back here as an aborted one.
        const QList<QNetworkReply *> others = m_pending;
        m_pending.clear();
        for (QNetworkReply *other : others) {
            if (other != reply)
                other->abort();
        }
        reply->deleteLater();
        fail(QStringLiteral("Could not ask for the size of \"%1\": %2")
                 .arg(reply->url().toString(), reply->errorString()));
        return;
    }

    UpdateManifestParser::Component &component = m_parser.componentTable()[productCode][index];
    component.size = reply->header(QNetworkRequest::ContentLengthHeader).toLongLong();
    qDebug() << "Size for component: " << UpdateManifestParser::kindName(component.kind) << "="
             << component.size;
    m_pending.removeOne(reply);
    reply->deleteLater();
    askSizes();
}

// Back to Idle with an empty table, so nothing half-discovered can be read afterwards.
void UpdateManager::fail(const QString &reason)
{
    m_state = Idle;
    m_parser.reset();
    m_unasked.clear();
    m_failureReason = reason;
    qCritical().noquote() << "UpdateManager: Update check failed:" << reason;
    emit failure();
}

} // namespace ZovaZode
