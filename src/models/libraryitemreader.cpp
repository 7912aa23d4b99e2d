// LibraryItemReader: one thread, a queue of paths in and batches of results out.
#include "models/libraryitemreader.h"

#include "domain/error.h"
#include "domain/filekinds.h"
#include "domain/sdcard.h"
#include "domain/songarchive.h"
#include "models/librarydatamodel.h"

#include <QDebug>
#include <QLocale>
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
        int type = LibraryDataModel::UnreadableItem;
        // As the library lists them, whatever the case of the extension.
        const bool cardArchive = path.endsWith(FileKinds::cardArchiveExtension(), Qt::CaseInsensitive);
        if (!cardArchive && !path.endsWith(FileKinds::songFileExtension(), Qt::CaseInsensitive))
            return result;
        const SongArchive archive(path, 0, 0);
        if (cardArchive && archive.isCardArchive()) {
            result.name = archive.name();
            result.description = archive.description();
            type = LibraryDataModel::ArchiveItem;
        } else if (cardArchive) {
            qWarning() << "Library: File has archive extension, but is not a complete archive.";
            result.problem = archive.songCount() != SdCard::songCount()
                                 ? tr("The archive holds %1 songs; a card archive holds %2.")
                                       .arg(archive.songCount())
                                       .arg(SdCard::songCount())
                                 : tr("The archive holds no user prefs; a card archive does.");
        } else if (archive.songCount() > 0) {
            const SongInfo info = archive.songInfo(0);
            result.name = info.name;
            result.description = info.description;
            type = LibraryDataModel::SongItem;
        } else {
            qWarning() << "Library: File has song extension, but does not contain a song.";
            result.problem = tr("The file holds no song.");
        }
        // Restoring it would stop part way, with the card half written.
        const qint64 missing = archive.bytesMissing();
        if (type != LibraryDataModel::UnreadableItem && missing > 0) {
            qWarning() << "Library: File is cut short:" << path << missing << "bytes missing";
            QLocale grouped = QLocale::c();
            grouped.setNumberOptions(QLocale::DefaultNumberOptions);
            result.problem = tr("The file is cut short: %1 bytes are missing at its end.")
                                 .arg(grouped.toString(qlonglong(missing)));
            type = LibraryDataModel::UnreadableItem;
        }
        result.type = type;
    } catch (const std::exception &error) {
        qCritical() << "Library: Failed to read file:" << path;
        result.problem = userText(QString::fromUtf8(error.what()));
    }
    if (result.type == LibraryDataModel::UnreadableItem) {
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
