// LibraryDataModel: the naming, retrying, renaming and drag-and-drop layer over a folder.
#include "models/librarydatamodel.h"
#include "domain/filekinds.h"

#include "domain/cardrecords.h"
#include "domain/namecheck.h"
#include "domain/notifier.h"
#include "domain/safetycopies.h"
#include "domain/song.h"
#include "domain/songarchive.h"

#include <QApplication>
#include <QDataStream>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QMimeData>
#include <QStyle>
#include <QTimer>

namespace ZovaZode {

namespace {

const QString kItemListFormat = FileKinds::libraryItemListMimeType();
const QString kSongPathFormat = FileKinds::songPathMimeType();
const QString kArchivePathFormat = FileKinds::archivePathMimeType();
const QString kCardFormat = FileKinds::cardMimeType();
const QString kCardSongListFormat = FileKinds::cardSongListMimeType();

const QString kArchiveExtension = FileKinds::cardArchiveExtension();
const QString kSongExtension = FileKinds::songFileExtension();

} // namespace

LibraryDataModel::LibraryDataModel(QObject *parent)
    : QIdentityProxyModel(parent), m_fileSystemModel(new QFileSystemModel(this)),
      m_retryTimer(new QTimer(this)), m_archiveIcon(QStringLiteral(":/images/archive_icon")),
      m_songIcon(QStringLiteral(":/images/song_icon"))
{
    qRegisterMetaType<QList<int>>("QList<int>");

    m_fileSystemModel->setFilter(QDir::Files | QDir::AllDirs | QDir::NoDotAndDotDot);
    m_fileSystemModel->setNameFilterDisables(false);
    m_fileSystemModel->setReadOnly(false);
    m_retryTimer->setInterval(DefaultRetryInterval);
    setItemType(AnyLibrary);

    connect(m_fileSystemModel, &QFileSystemModel::rowsAboutToBeRemoved, this,
            &LibraryDataModel::onRowsAboutToBeRemoved);
    connect(m_fileSystemModel, &QFileSystemModel::rowsRemoved, this, &LibraryDataModel::onRowsRemoved);
    connect(m_fileSystemModel, &QFileSystemModel::modelReset, this, &LibraryDataModel::onModelReset);
    connect(m_fileSystemModel, &QFileSystemModel::rootPathChanged, this, &LibraryDataModel::rootPathChanged);
    connect(m_retryTimer, &QTimer::timeout, this, &LibraryDataModel::retryItems);

    setSourceModel(m_fileSystemModel);
}

LibraryDataModel::~LibraryDataModel() = default;

void LibraryDataModel::setItemType(int kind)
{
    m_itemType = kind;
    const QString archives = QStringLiteral("*") + kArchiveExtension;
    const QString songs = QStringLiteral("*") + kSongExtension;
    switch (kind) {
    case AnyLibrary:
        m_fileSystemModel->setNameFilters({archives, songs});
        break;
    case CardLibrary:
        m_fileSystemModel->setNameFilters({archives});
        break;
    case SongLibrary:
        m_fileSystemModel->setNameFilters({songs});
        break;
    default:
        m_fileSystemModel->setNameFilters({});
        break;
    }
}

QString LibraryDataModel::rootPath() const
{
    return m_fileSystemModel->rootPath();
}

void LibraryDataModel::setRootPath(const QString &path)
{
    m_fileSystemModel->setRootPath(path);
}

QModelIndex LibraryDataModel::index(const QString &path) const
{
    return mapFromSource(m_fileSystemModel->index(path, 0));
}

QString LibraryDataModel::filePath(const QModelIndex &index) const
{
    return m_fileSystemModel->filePath(mapToSource(index));
}

LibraryDataModel::ItemData *LibraryDataModel::sourceItemData(const QModelIndex &sourceIndex) const
{
    // The file system model calls the invalid index (its root above the drives) a folder.
    if (!sourceIndex.isValid() || m_fileSystemModel->isDir(sourceIndex))
        return nullptr;
    const QString path = m_fileSystemModel->filePath(sourceIndex);
    auto found = m_items.find(path);
    if (found != m_items.end())
        return found->second.get();
    auto item = std::make_unique<ItemData>();
    item->path = path;
    ItemData *result = item.get();
    m_items.emplace(path, std::move(item));
    readItem(result);
    return result;
}

void LibraryDataModel::refreshItem(const QModelIndex &index)
{
    const QModelIndex source = mapToSource(index);
    if (!source.isValid() || m_fileSystemModel->isDir(source))
        return;
    auto found = m_items.find(m_fileSystemModel->filePath(source));
    if (found == m_items.end()) {
        // Reading it for the first time is the fresh start.
        sourceItemData(source);
    } else {
        found->second->attempts = 0;
        readItem(found->second.get());
    }
    const QModelIndex first = index.sibling(index.row(), 0);
    emit dataChanged(first, first);
}

bool LibraryDataModel::isArchive(const QModelIndex &index) const
{
    const ItemData *item = sourceItemData(mapToSource(index));
    return item && item->type == ArchiveItem;
}

bool LibraryDataModel::isSong(const QModelIndex &index) const
{
    const ItemData *item = sourceItemData(mapToSource(index));
    return item && item->type == SongItem;
}

bool LibraryDataModel::isFolder(const QModelIndex &index) const
{
    const QModelIndex source = mapToSource(index);
    return source.isValid() && m_fileSystemModel->isDir(source);
}

void LibraryDataModel::setRetryInterval(int milliseconds)
{
    m_retryTimer->setInterval(milliseconds);
}

int LibraryDataModel::retryInterval() const
{
    return m_retryTimer->interval();
}

bool LibraryDataModel::isRetrying() const
{
    return m_retryTimer->isActive();
}

void LibraryDataModel::readItem(ItemData *item) const
{
    qDebug() << "Library: Loading item data:" << item->path;
    item->type = UnreadableItem;
    item->name.clear();
    item->description.clear();

    try {
        if (item->path.endsWith(kArchiveExtension)) {
            SongArchive archive(item->path, 0, 0);
            if (archive.isCardArchive()) {
                item->name = archive.name();
                item->description = archive.description();
                item->type = ArchiveItem;
            } else {
                qWarning() << "Library: File has archive extension, but is not a complete archive.";
            }
        } else if (item->path.endsWith(kSongExtension)) {
            SongArchive archive(item->path, 0, 0);
            if (archive.songCount() > 0) {
                const SongInfo info = archive.songInfo(0);
                item->name = info.name;
                item->description = info.description;
                item->type = SongItem;
            } else {
                qWarning() << "Library: File has song extension, but does not contain a song.";
            }
        }
    } catch (const std::exception &) {
        qCritical() << "Library: Failed to read file:" << item->path;
        item->type = UnreadableItem;
        item->name.clear();
        item->description.clear();
    }

    if (item->type != UnreadableItem) {
        item->attempts = 0;
        dequeue(item);
    } else if (item->attempts < MaxAttempts) {
        qWarning() << "Library: Enqueuing item to retry reading data.";
        ++item->attempts;
        if (!m_retryQueue.contains(item))
            m_retryQueue.append(item);
        if (!m_retryTimer->isActive())
            m_retryTimer->start();
    } else {
        qWarning() << "Library: Ran out of attempts to re-read item.";
        dequeue(item);
    }
}

void LibraryDataModel::dequeue(ItemData *item) const
{
    m_retryQueue.removeAll(item);
    if (m_retryQueue.isEmpty())
        m_retryTimer->stop();
}

void LibraryDataModel::retryItems()
{
    try {
        qDebug() << "Library: Retrying to read items...";
        const QList<ItemData *> queue = m_retryQueue;
        for (ItemData *item : queue) {
            // A slot connected to dataChanged may have changed the queue meanwhile.
            if (!m_retryQueue.contains(item))
                continue;
            qDebug() << "Library: Retrying to read item:" << item->path;
            readItem(item);
            if (item->type == UnreadableItem)
                continue;
            const QModelIndex index = mapFromSource(m_fileSystemModel->index(item->path, 0));
            if (!index.isValid()) {
                qCritical() << "Library: Could not get index for item path:" << item->path;
            } else {
                qDebug() << "Library: Item data read successfully.";
                emit dataChanged(index, index);
            }
        }
    } catch (const std::exception &error) {
        qCritical() << "Library: Retrying failed:" << error.what();
    }
}

QString LibraryDataModel::shownName(const ItemData *item) const
{
    if (item->type == UnreadableItem)
        return QStringLiteral("Corrupt File (%1)").arg(QFileInfo(item->path).fileName());
    return item->name;
}

QVariant LibraryDataModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid())
        return QVariant();
    const QModelIndex source = mapToSource(index);
    if (m_fileSystemModel->isDir(source) || index.column() != 0) {
        if (role == ItemNameRole)
            return m_fileSystemModel->fileName(source.siblingAtColumn(0));
        return QIdentityProxyModel::data(index, role);
    }

    const ItemData *item = sourceItemData(source);
    if (!item)
        return QIdentityProxyModel::data(index, role);
    switch (role) {
    case Qt::DisplayRole:
        // Safety copies of one card all store its name; what they were made before tells them apart.
        if (item->type != UnreadableItem &&
            QFileInfo(item->path).path() == SafetyCopies::folder(rootPath())) {
            if (const std::optional<SafetyCopies::Entry> copy = SafetyCopies::parse(item->path))
                return QStringLiteral("%1 (%2, %3)")
                    .arg(item->name, SafetyCopies::occasionText(copy->occasion),
                         copy->when.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
        }
        return shownName(item);
    case Qt::EditRole:
    case ItemNameRole:
        return shownName(item);
    case Qt::DecorationRole:
        if (item->type == ArchiveItem)
            return m_archiveIcon;
        if (item->type == SongItem)
            return m_songIcon;
        return QApplication::style()->standardIcon(QStyle::SP_MessageBoxCritical);
    case ItemDescriptionRole:
        return item->description;
    default:
        return QIdentityProxyModel::data(index, role);
    }
}

bool LibraryDataModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    if (!index.isValid())
        return false;
    const QModelIndex source = mapToSource(index);
    if (m_fileSystemModel->isDir(source) || index.column() != 0)
        return QIdentityProxyModel::setData(index, value, role);

    if (role == Qt::EditRole || role == ItemNameRole) {
        if (!renameItem(value.toString(), source))
            return false;
        emit dataChanged(index, index);
        return true;
    }
    if (role == ItemDescriptionRole) {
        ItemData *item = sourceItemData(source);
        // An unknown file is not written to, and a description that does not fit would be cut.
        if (!item || item->type == UnreadableItem || !isValidCardDescription(value.toString()))
            return false;
        item->description = value.toString();
        saveItem(item);
        emit dataChanged(index, index);
        return true;
    }
    return QIdentityProxyModel::setData(index, value, role);
}

bool LibraryDataModel::renameItem(const QString &newName, const QModelIndex &sourceIndex)
{
    ItemData *item = sourceItemData(sourceIndex);
    if (!item || newName == item->name || newName.isEmpty())
        return false;
    const QString refusal = renameRefusal(newName);
    if (!refusal.isEmpty()) {
        Notifier::inform(nullptr, refusal);
        return false;
    }

    QString fileName;
    if (item->type == SongItem) {
        fileName = songFileName(newName);
    } else if (item->type == ArchiveItem) {
        fileName = archiveFileName(newName);
    } else {
        qCritical() << "Can not change name of item of unknown type.";
        return false;
    }

    // A stored name may hold characters that file names leave out; the file then keeps its name.
    const QString oldPath = item->path;
    const QFileInfo current(oldPath);
    const bool renameFile = fileName != current.fileName();
    if (renameFile && current.dir().exists(fileName)) {
        Notifier::inform(nullptr, QStringLiteral("A file named %1 already exists in this folder.\n\n"
                                                 "Please choose a different name.")
                                      .arg(fileName));
        return false;
    }

    const QString oldName = item->name;
    item->name = newName;
    if (!saveItem(item)) {
        // The file is unchanged, so it keeps its file name too.
        item->name = oldName;
        return false;
    }
    forgetItem(oldPath);
    if (renameFile) {
        qDebug() << "Library: renaming file:" << fileName;
        m_fileSystemModel->setData(sourceIndex, fileName, Qt::EditRole);
    }
    return true;
}

bool LibraryDataModel::saveItem(const ItemData *item) const
{
    try {
        SongArchive archive(item->path, 1, 0);
        if (item->type == SongItem) {
            SongInfo info = archive.songInfo(0);
            info.name = item->name;
            info.description = item->description;
            archive.writeSongInfo(0, info);
        } else {
            archive.setName(item->name);
            archive.setDescription(item->description);
        }
        archive.close();
        return true;
    } catch (const std::exception &error) {
        qCritical() << "Error saving item" << item->path;
        qCritical() << "...Reason:" << error.what();
        return false;
    }
}

void LibraryDataModel::forgetItem(const QString &path)
{
    auto found = m_items.find(path);
    if (found == m_items.end())
        return;
    dequeue(found->second.get());
    m_items.erase(found);
    qDebug() << "Library: Removed item: " << path;
}

void LibraryDataModel::onRowsAboutToBeRemoved(const QModelIndex &parent, int first, int last)
{
    m_pendingRemovals.clear();
    for (int row = first; row <= last; ++row)
        m_pendingRemovals.append(m_fileSystemModel->filePath(m_fileSystemModel->index(row, 0, parent)));
}

void LibraryDataModel::onRowsRemoved()
{
    for (const QString &path : qAsConst(m_pendingRemovals)) {
        forgetItem(path);
        // Files below a removed folder go with it; a new file at the same path must be read afresh.
        const QString folder = path + QLatin1Char('/');
        std::vector<QString> below;
        for (auto it = m_items.lower_bound(folder); it != m_items.end() && it->first.startsWith(folder); ++it)
            below.push_back(it->first);
        for (const QString &file : below)
            forgetItem(file);
    }
    m_pendingRemovals.clear();
}

void LibraryDataModel::onModelReset()
{
    m_retryQueue.clear();
    m_retryTimer->stop();
    m_items.clear();
    qDebug() << "Library: All items removed.";
}

Qt::ItemFlags LibraryDataModel::flags(const QModelIndex &index) const
{
    Qt::ItemFlags result = QIdentityProxyModel::flags(index);
    if (!index.isValid())
        return result;
    const QModelIndex source = mapToSource(index);
    if (m_fileSystemModel->isDir(source))
        return result | Qt::ItemIsDropEnabled;
    const ItemData *item = sourceItemData(source);
    if (!item || item->type == UnreadableItem)
        return result & ~(Qt::ItemIsEditable | Qt::ItemIsDragEnabled);
    result |= Qt::ItemIsDragEnabled;
    if (index.column() == 0)
        result |= Qt::ItemIsEditable;
    return result;
}

Qt::DropActions LibraryDataModel::supportedDropActions() const
{
    return Qt::CopyAction | Qt::MoveAction;
}

QStringList LibraryDataModel::mimeTypes() const
{
    return QIdentityProxyModel::mimeTypes() << kItemListFormat;
}

QMimeData *LibraryDataModel::mimeData(const QModelIndexList &indexes) const
{
    QMimeData *data = QIdentityProxyModel::mimeData(indexes);
    if (!data)
        data = new QMimeData;

    QByteArray bytes;
    QDataStream stream(&bytes, QIODevice::WriteOnly);
    int written = 0;
    const ItemData *last = nullptr;
    for (const QModelIndex &index : indexes) {
        if (!index.isValid() || index.column() != 0)
            continue;
        const ItemData *item = sourceItemData(mapToSource(index));
        if (!item)
            continue;
        stream << qint32(item->type) << item->path;
        last = item;
        ++written;
    }
    if (written == 0)
        return data;
    if (written == 1) {
        if (last->type == SongItem)
            data->setData(kSongPathFormat, bytes);
        else if (last->type == ArchiveItem)
            data->setData(kArchivePathFormat, bytes);
    }
    data->setData(kItemListFormat, bytes);
    return data;
}

bool LibraryDataModel::canDropMimeData(const QMimeData *data, Qt::DropAction action, int row, int column,
                                       const QModelIndex &parent) const
{
    if (!data)
        return false;
    if (m_itemType == CardLibrary && data->hasFormat(kCardFormat))
        return true;
    if (m_itemType != CardLibrary && data->hasFormat(kCardSongListFormat))
        return true;
    return QIdentityProxyModel::canDropMimeData(data, action, row, column, parent);
}

QString LibraryDataModel::dropFolder(const QModelIndex &parent) const
{
    const QModelIndex source = mapToSource(parent);
    if (!source.isValid())
        return QString();
    if (m_fileSystemModel->isDir(source))
        return m_fileSystemModel->filePath(source);
    const QModelIndex folder = source.parent();
    if (folder.isValid() && m_fileSystemModel->isDir(folder))
        return m_fileSystemModel->filePath(folder);
    return QString();
}

bool LibraryDataModel::dropMimeData(const QMimeData *data, Qt::DropAction action, int row, int column,
                                    const QModelIndex &parent)
{
    qDebug() << "Library: Mime data dropped.";
    if (!canDropMimeData(data, action, row, column, parent))
        return false;
    if (action == Qt::IgnoreAction)
        return true;

    if (m_itemType != CardLibrary && data->hasFormat(kCardSongListFormat)) {
        const QString folder = dropFolder(parent);
        if (folder.isEmpty())
            return false;
        const QByteArray bytes = data->data(kCardSongListFormat);
        QDataStream stream(bytes);
        QList<int> songs;
        while (!stream.atEnd()) {
            qint32 song = 0;
            stream >> song;
            if (stream.status() != QDataStream::Ok)
                break;
            songs.append(song);
        }
        qDebug() << "Library: requesting song archive action.";
        emit songArchiveRequest(folder, songs);
        return true;
    }
    if (m_itemType == CardLibrary && data->hasFormat(kCardFormat)) {
        const QString folder = dropFolder(parent);
        if (folder.isEmpty())
            return false;
        qDebug() << "Library: requesting card archive action.";
        emit cardArchiveRequest(folder);
        return true;
    }
    qDebug() << "Library: Propagating the drop...";
    return QIdentityProxyModel::dropMimeData(data, action, row, column, parent);
}

} // namespace ZovaZode
