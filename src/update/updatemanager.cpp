// The discovery sequence: manifest download, parse, then the size queries in parallel. The
// manifest lives in the user's own cache folder, not in the shared temporary folder, so no other
// user can plant a file or link under its name.
#include "update/updatemanager.h"

#include "domain/configurationmanager.h"

#include <QDir>
#include <QFile>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QStandardPaths>
#include <QXmlSimpleReader>
#include <QtDebug>

namespace ZovaZode {

UpdateManager::UpdateManager(QObject *parent)
    : QObject(parent), m_manifestFolder(QStandardPaths::writableLocation(QStandardPaths::CacheLocation)),
      m_manifestPath(m_manifestFolder + QStringLiteral("/update-manifest.xml"))
{
    connect(&m_agent, &DownloadAgent::failed, this, [this]() { onDownloadFailed(); });
    connect(&m_agent, &DownloadAgent::finished, this, [this]() { onManifestDownloaded(); });
}

UpdateManager::~UpdateManager()
{
    // Size replies belong to the network object, which outlives this body; they must not call
    // back into a half-destroyed manager.
    for (QNetworkReply *reply : qAsConst(m_pending))
        reply->disconnect(this);
}

QList<UpdateManifestParser::Component> UpdateManager::components(int productCode) const
{
    return m_parser.components(productCode);
}

void UpdateManager::discoverUpdates()
{
    if (m_state == Busy) {
        qCritical() << "UpdateManager: Busy.";
        return;
    }
    m_parser.reset();
    m_state = Busy;

    if (!QDir().mkpath(m_manifestFolder)) {
        qCritical() << "UpdateManager: Failed to create path:" << m_manifestFolder;
        fail();
        return;
    }

    const ConfigurationManager *configuration = ConfigurationManager::instance();
    const QUrl address =
        configuration ? configuration->manifestUrl() : ConfigurationManager::defaultManifestUrl();
    qDebug() << "UpdateManager: Starting download to:" << m_manifestPath;
    m_agent.download(DownloadAgent::Request{address, m_manifestPath});
}

void UpdateManager::onDownloadFailed()
{
    fail();
}

void UpdateManager::onManifestDownloaded()
{
    if (m_state != Busy) {
        qCritical() << "UpdateManager::downloadFinished: unexpected state.";
        return;
    }

    QFile file(m_manifestPath);
    if (!file.open(QIODevice::ReadOnly)) {
        qCritical() << "UpdateManager: failed to open manifest file.";
        fail();
        return;
    }
    qDebug() << "UpdateManager: Manifest file opened.";
    QT_WARNING_PUSH
    QT_WARNING_DISABLE_DEPRECATED
    bool parsed = false;
    {
        QXmlInputSource source(&file);
        QXmlSimpleReader reader;
        reader.setContentHandler(&m_parser);
        parsed = reader.parse(&source);
    }
    QT_WARNING_POP
    file.close();
    if (!parsed) {
        qCritical() << "Failed to parse manifest.";
        fail();
        return;
    }
    qDebug() << "UpdateManager: Manifest parsed.";

    if (m_parser.componentTable().isEmpty()) {
        m_state = Idle;
        emit updateDiscoveryDone();
        return;
    }
    querySizes();
}

void UpdateManager::querySizes()
{
    const UpdateManifestParser::ComponentTable &table = m_parser.componentTable();
    for (auto product = table.cbegin(); product != table.cend(); ++product) {
        for (int index = 0; index < product.value().size(); ++index) {
            const QUrl address = product.value().at(index).address;
            qDebug() << "Requesting component size for url:" << address;
            QNetworkReply *reply = m_network.head(QNetworkRequest(address));
            m_pending.append(reply);
            const int productCode = product.key();
            connect(reply, &QNetworkReply::finished, this,
                    [this, reply, productCode, index]() { onSizeReply(reply, productCode, index); });
        }
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
        fail();
        return;
    }

    UpdateManifestParser::Component &component = m_parser.componentTable()[productCode][index];
    component.size = reply->header(QNetworkRequest::ContentLengthHeader).toLongLong();
    qDebug() << "Size for component: " << UpdateManifestParser::kindName(component.kind) << "="
             << component.size;
    m_pending.removeOne(reply);
    reply->deleteLater();
    if (m_pending.isEmpty()) {
        emit updateDiscoveryDone();
        m_state = Idle;
    }
}

// Back to Idle with an empty table, so nothing half-discovered can be read afterwards.
void UpdateManager::fail()
{
    m_state = Idle;
    m_parser.reset();
    emit failure();
}

} // namespace ZovaZode
