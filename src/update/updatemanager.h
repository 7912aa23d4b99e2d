// UpdateManager: runs one update discovery at a time. It downloads the update manifest from the
// configured address into a per-user cache file, parses it, asks the server for the size of every
// listed component with one HEAD request each, and ends every accepted discovery with exactly one
// of updateDiscoveryDone() or failure().
#pragma once

#include "update/downloadagent.h"
#include "update/updatemanifestparser.h"

#include <QList>
#include <QNetworkAccessManager>
#include <QObject>
#include <QString>

class QNetworkReply;

namespace ZovaZode {

class UpdateManager : public QObject
{
    Q_OBJECT

public:
    enum State { Idle = 0, Busy = 1 };

    explicit UpdateManager(QObject *parent = nullptr);
    ~UpdateManager() override;

    void discoverUpdates();

    State state() const { return m_state; }
    QString manifestPath() const { return m_manifestPath; }

    // Filled after updateDiscoveryDone() until the next discovery starts or one fails.
    const UpdateManifestParser &manifest() const { return m_parser; }
    QList<UpdateManifestParser::Component> components(int productCode) const;

signals:
    void updateDiscoveryDone();
    void failure();

private:
    void onDownloadFailed();
    void onManifestDownloaded();
    void querySizes();
    void onSizeReply(QNetworkReply *reply, int productCode, int index);
    void fail();

    QNetworkAccessManager m_network;
    DownloadAgent m_agent;
    UpdateManifestParser m_parser;
    State m_state = Idle;
    QString m_manifestFolder;
    QString m_manifestPath;
    QList<QNetworkReply *> m_pending;
};

} // namespace ZovaZode
