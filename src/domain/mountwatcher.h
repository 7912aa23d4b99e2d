// MountWatcher: notices a Morv+ card when its volume is mounted. It looks at the mounted volumes
// on a timer (mount folders differ from one desktop to the next, a list of volumes does not) and
// reports each volume that holds the card data file in its root when it appears and when it goes.
// The list of volumes is a seam, so that tests mount and unmount folders of their own; and
// MORV_MOUNTED_VOLUMES, when set, takes the place of the system's volumes (folders separated as
// in PATH, empty for none), so that no test, and no copy of the program a test starts, ever looks
// at a card mounted on the machine that runs it.
#pragma once

#include <QObject>
#include <QStringList>
#include <QTimer>

#include <functional>

namespace ZovaZode {

class MountWatcher : public QObject
{
    Q_OBJECT

public:
    // The root folders of the mounted volumes.
    using VolumeList = std::function<QStringList()>;

    static constexpr int DefaultInterval = 2000;

    explicit MountWatcher(QObject *parent = nullptr);

    // The system's volumes (QStorageInfo, or MORV_MOUNTED_VOLUMES) unless replaced.
    void setVolumeList(VolumeList volumes);
    void setInterval(int milliseconds) { m_timer.setInterval(milliseconds); }
    // Looks once now (cards already mounted are reported as appearing), then on the timer.
    void start();
    void stop() { m_timer.stop(); }

    // The card data files on the volumes mounted at the last look, in the order they appeared.
    QStringList cardFiles() const { return m_cards; }
    // Looks at the volumes now.
    void poll();

signals:
    void cardAppeared(const QString &cardFile);
    void cardGone(const QString &cardFile);

private:
    VolumeList m_volumes;
    QStringList m_cards;
    QTimer m_timer;
};

} // namespace ZovaZode
