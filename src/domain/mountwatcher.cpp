// MountWatcher: the volumes holding a card, looked at on a timer.
#include "domain/mountwatcher.h"

#include "domain/filekinds.h"

#include <QDir>
#include <QFileInfo>
#include <QStorageInfo>

namespace ZovaZode {

namespace {

QStringList systemVolumes()
{
    const char *const fake = "MORV_MOUNTED_VOLUMES";
    if (qEnvironmentVariableIsSet(fake))
        return qEnvironmentVariable(fake).split(QDir::listSeparator(), Qt::SkipEmptyParts);
    QStringList roots;
    for (const QStorageInfo &volume : QStorageInfo::mountedVolumes()) {
        // The system's own volumes never hold a card and may be slow to look into.
        if (volume.isValid() && volume.isReady() && !volume.isRoot())
            roots << volume.rootPath();
    }
    return roots;
}

} // namespace

MountWatcher::MountWatcher(QObject *parent) : QObject(parent), m_volumes(systemVolumes)
{
    m_timer.setInterval(DefaultInterval);
    connect(&m_timer, &QTimer::timeout, this, &MountWatcher::poll);
}

void MountWatcher::setVolumeList(VolumeList volumes)
{
    m_volumes = std::move(volumes);
}

void MountWatcher::start()
{
    poll();
    m_timer.start();
}

void MountWatcher::poll()
{
    QStringList found;
    for (const QString &root : m_volumes()) {
        const QString file = QDir(root).filePath(FileKinds::cardDataFileName());
        if (QFileInfo(file).isFile())
            found << QDir::cleanPath(file);
    }
    const QStringList before = m_cards;
    QStringList kept;
    for (const QString &file : before) {
        if (found.contains(file))
            kept << file;
    }
    for (const QString &file : found) {
        if (!kept.contains(file))
            kept << file;
    }
    m_cards = kept;
    for (const QString &file : before) {
        if (!m_cards.contains(file))
            emit cardGone(file);
    }
    for (const QString &file : m_cards) {
        if (!before.contains(file))
            emit cardAppeared(file);
    }
}

} // namespace ZovaZode
