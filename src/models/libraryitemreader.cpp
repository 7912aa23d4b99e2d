// LibraryItemReader: one thread, a queue of paths in and batches of results out.
#include "models/libraryitemreader.h"

#include "domain/filekinds.h"
#include "domain/songarchive.h"
#include "models/librarydatamodel.h"

#include <QDebug>
#include <QMetaObject>

#include <algorithm>

namespace ZovaZode {

LibraryItemReader::LibraryItemReader(QObject *parent) : QObject(parent), m_deliveryTimer(new QTimer(this))
{
    qRegisterMetaType<QVector<ZovaZode::LibraryItemReader::Result>>();
    m_deliveryTimer->setSingleShot(true);
    connect(m_deliveryTimer, &QTimer::timeout, this, &LibraryItemReader::deliver);
    m_thread = std::thread([this] { run(); });
}

LibraryItemReader::~LibraryItemReader()
{
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
        m_requests.clear();
    }
    m_wake.notify_one();
    m_thread.join();
}

LibraryItemReader::Result LibraryItemReader::read(const QString &path)
{
    Result result;
    result.path = path;
    result.type = LibraryDataModel::UnreadableItem;
    try {
        if (path.endsWith(FileKinds::cardArchiveExtension())) {
            const SongArchive archive(path, 0, 0);
            if (archive.isCardArchive()) {
                result.name = archive.name();
                result.description = archive.description();
                result.type = LibraryDataModel::ArchiveItem;
            } else {
                qWarning() << "Library: File has archive extension, but is not a complete archive.";
            }
        } else if (path.endsWith(FileKinds::songFileExtension())) {
            const SongArchive archive(path, 0, 0);
            if (archive.songCount() > 0) {
                const SongInfo info = archive.songInfo(0);
                result.name = info.name;
                result.description = info.description;
                result.type = LibraryDataModel::SongItem;
            } else {
                qWarning() << "Library: File has song extension, but does not contain a song.";
            }
        }
    } catch (const std::exception &) {
        qCritical() << "Library: Failed to read file:" << path;
        result.type = LibraryDataModel::UnreadableItem;
        result.name.clear();
        result.description.clear();
    }
    return result;
}

void LibraryItemReader::request(const QString &path)
{
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_requests.push_back(path);
    }
    m_wake.notify_one();
}

void LibraryItemReader::clear()
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_requests.clear();
}

void LibraryItemReader::run()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_stopping || !m_requests.empty(); });
        if (m_stopping)
            return;
        const QString path = m_requests.front();
        m_requests.pop_front();
        lock.unlock();
        Result result = read(path);
        lock.lock();
        // One delivery is queued for everything read until the event loop takes it.
        const bool first = m_results.isEmpty();
        m_results.append(std::move(result));
        if (first && !m_stopping)
            QMetaObject::invokeMethod(this, &LibraryItemReader::scheduleDelivery, Qt::QueuedConnection);
    }
}

void LibraryItemReader::scheduleDelivery()
{
    if (m_deliveryTimer->isActive())
        return;
    const qint64 since = m_sinceDelivery.isValid() ? m_sinceDelivery.elapsed() : kDeliveryInterval;
    m_deliveryTimer->start(int(std::max<qint64>(0, kDeliveryInterval - since)));
}

void LibraryItemReader::deliver()
{
    QVector<Result> results;
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        results.swap(m_results);
    }
    m_sinceDelivery.start();
    if (!results.isEmpty())
        emit itemsRead(results);
}

} // namespace ZovaZode
