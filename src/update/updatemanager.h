// UpdateManager: runs one update discovery at a time. It downloads the update manifest from the
// address its caller gives into a per-user cache file, parses it, asks the server for the size of
// every listed component with one HEAD request each (at most MaximumSizeQueries at once), and
// ends every accepted discovery with exactly one of updateDiscoveryDone() or failure().
// Only https addresses (or http on this computer) are asked anything; a refused manifest sends
// no size query at all. The manifest is read and parsed on a thread of its own, so nothing a
// server sends holds up the window.
#pragma once

#include "update/downloadagent.h"
#include "update/updatemanifestparser.h"

#include <QList>
#include <QNetworkAccessManager>
#include <QObject>
#include <QPair>
#include <QString>

class QNetworkReply;
class QThread;

namespace ZovaZode {

class UpdateManager : public QObject
{
    Q_OBJECT

public:
    enum State { Idle = 0, Busy = 1 };

    static constexpr int MaximumSizeQueries = 4;

    explicit UpdateManager(QObject *parent = nullptr);
    ~UpdateManager() override;

    void discoverUpdates(const QUrl &manifestAddress);

    State state() const { return m_state; }
    QString manifestPath() const { return m_manifestPath; }
    // Why the last discovery failed, in one line for the user.
    QString failureReason() const { return m_failureReason; }

    // Filled after updateDiscoveryDone() until the next discovery starts or one fails.
    const UpdateManifestParser &manifest() const { return m_parser; }
    QList<UpdateManifestParser::Component> components(int productCode) const;

signals:
    void updateDiscoveryDone();
    void failure();

private:
    void onManifestDownloaded();
    void onManifestParsed(const UpdateManifestParser &parsed, bool opened);
    void askSizes();
    void onSizeReply(QNetworkReply *reply, int productCode, int index);
    void fail(const QString &reason);

    QNetworkAccessManager m_network;
    DownloadAgent m_agent;
    UpdateManifestParser m_parser;
    State m_state = Idle;
    QString m_manifestFolder;
    QString m_manifestPath;
    QString m_failureReason;
    QList<QNetworkReply *> m_pending;
    // Components whose size is still to be asked, as (product code, index in its list).
    QList<QPair<int, int>> m_unasked;
    QThread *m_parsing = nullptr;
};

} // namespace ZovaZode
