// LibraryDataModel: the naming, retrying and renaming layer over a folder (its drag and drop is in
// librarydragdrop.cpp).
#include "models/librarydatamodel.h"
#include "domain/filekinds.h"

#include "domain/cardrecords.h"
#include "domain/libraryfilenames.h"
#include "domain/libraryfolder.h"
#include "domain/namecheck.h"
#include "domain/safetycopies.h"
#include "domain/sizetext.h"
#include "domain/song.h"
#include "domain/songarchive.h"

#include <QApplication>
#include <QDataStream>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QMimeData>
#include <QSet>
#include <QStyle>
#include <QTimer>

namespace ZovaZode {

namespace {

const QString kArchiveExtension = FileKinds::cardArchiveExtension();
const QString kSongExtension = FileKinds::songFileExtension();

} // namespace

LibraryDataModel::LibraryDataModel(QObject *parent)
    : QIdentityProxyModel(parent), m_fileSystemModel(new QFileSystemModel(this)),
      m_reader(new LibraryItemReader(this)), m_retryTimer(new QTimer(this)),
      m_archiveIcon(QStringLiteral(":/images/archive_icon")),
      m_songIcon(QStringLiteral(":/images/song_icon")), m_damagedIcon(QStringLiteral(":/images/damaged_icon"))
{
    qRegisterMetaType<QList<int>>("QList<int>");

    m_fileSystemModel->setFilter(QDir::Files | QDir::AllDirs | QDir::NoDotAndDotDot);
    m_fileSystemModel->setNameFilterDisables(false);
    // Files are renamed, moved and copied by LibraryFolder alone, never by the file system model.
    m_fileSystemModel->setReadOnly(true);
    m_retryTimer->setInterval(DefaultRetryInterval);
    setItemType(AnyLibrary);

    connect(m_fileSystemModel, &QFileSystemModel::rowsAboutToBeRemoved, this,
            &LibraryDataModel::onRowsAboutToBeRemoved);
    connect(m_fileSystemModel, &QFileSystemModel::rowsRemoved, this, &LibraryDataModel::onRowsRemoved);
    connect(m_fileSystemModel, &QFileSystemModel::modelReset, this, &LibraryDataModel::onModelReset);
    connect(m_fileSystemModel, &QFileSystemModel::rootPathChanged, this, &LibraryDataModel::rootPathChanged);
    connect(m_retryTimer, &QTimer::timeout, this, &LibraryDataModel::retryItems);
    connect(m_reader, &LibraryItemReader::itemsRead, this, &LibraryDataModel::onItemsRead);

    setSourceModel(m_fileSystemModel);
}

LibraryDataModel::~LibraryDataModel() = default;

void LibraryDataModel::setItemType(int kind)
{
    m_itemType = kind;
    emit itemTypeChanged();
}

bool LibraryDataModel::listsFile(const QString &fileName) const
{
    // The file system model's own name filters compile a pattern for every file each time it
    // sorts a folder, which froze the window for a thousand files; the sorting model filters.
    const bool archive = fileName.endsWith(kArchiveExtension, Qt::CaseInsensitive);
    const bool song = fileName.endsWith(kSongExtension, Qt::CaseInsensitive);
    switch (m_itemType) {
    case AnyLibrary:
        return archive || song;
    case CardLibrary:
        return archive;
    case SongLibrary:
        return song;
    default:
        return true;
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

QString LibraryDataModel::fileName(const QModelIndex &index) const
{
    return m_fileSystemModel->fileName(mapToSource(index));
}

LibraryDataModel::ItemData *LibraryDataModel::cachedItem(const QModelIndex &sourceIndex, bool *created) const
{
    *created = false;
    // The file system model calls the invalid index (its root above the drives) a folder.
    if (!sourceIndex.isValid() || m_fileSystemModel->isDir(sourceIndex) || isLinkSource(sourceIndex))
        return nullptr;
    // A node freed without a row removal and reused for another file must not find this item.
    const QString fileName = m_fileSystemModel->fileName(sourceIndex);
    const auto byNode = m_itemsByNode.constFind(sourceIndex.internalPointer());
    if (byNode != m_itemsByNode.constEnd() && (*byNode)->fileName == fileName)
        return *byNode;
    const QString path = m_fileSystemModel->filePath(sourceIndex);
    auto found = m_items.find(path);
    if (found == m_items.end()) {
        auto item = std::make_unique<ItemData>();
        item->path = path;
        found = m_items.emplace(path, std::move(item)).first;
        *created = true;
    }
    ItemData *item = found->second.get();
    if (item->node)
        m_itemsByNode.remove(item->node);
    item->node = sourceIndex.internalPointer();
    item->fileName = fileName;
    m_itemsByNode.insert(item->node, item);
    return item;
}

LibraryDataModel::ItemData *LibraryDataModel::sourceItemData(const QModelIndex &sourceIndex) const
{
    bool created = false;
    ItemData *item = cachedItem(sourceIndex, &created);
    // A listed item's reading may still be queued; its result is then ignored.
    if (item && (created || item->pending))
        readItem(item);
    return item;
}

LibraryDataModel::ItemData *LibraryDataModel::listedItemData(const QModelIndex &sourceIndex) const
{
    bool created = false;
    ItemData *item = cachedItem(sourceIndex, &created);
    if (created) {
        item->pending = true;
        m_reader->request(item->path);
    }
    return item;
}

void LibraryDataModel::onItemsRead(const QVector<LibraryItemReader::Result> &results)
{
    // One change per folder over all its rows: finding one file's row costs a search of its
    // folder, and the sorting model re-sorts a range in one go.
    QSet<QString> folders;
    for (const LibraryItemReader::Result &result : results) {
        auto found = m_items.find(result.path);
        if (found == m_items.end() || !found->second->pending)
            continue;
        applyRead(found->second.get(), result);
        folders.insert(QFileInfo(result.path).path());
    }
    for (const QString &folder : qAsConst(folders)) {
        const QModelIndex parent = m_fileSystemModel->index(folder);
        const int rows = m_fileSystemModel->rowCount(parent);
        if (parent.isValid() && rows > 0)
            emit dataChanged(mapFromSource(m_fileSystemModel->index(0, 0, parent)),
                             mapFromSource(m_fileSystemModel->index(rows - 1, 0, parent)));
    }
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
    return source.isValid() && m_fileSystemModel->isDir(source) && !isLinkSource(source);
}

bool LibraryDataModel::isLink(const QModelIndex &index) const
{
    return isLinkSource(mapToSource(index));
}

bool LibraryDataModel::isLinkSource(const QModelIndex &sourceIndex) const
{
    // What the file system model learnt when it listed the item; LibraryFolder looks again when
    // it acts.
    return sourceIndex.isValid() && m_fileSystemModel->fileInfo(sourceIndex).isSymLink();
}

bool LibraryDataModel::sortsWithFolders(const QModelIndex &index) const
{
    const QModelIndex source = mapToSource(index);
    return source.isValid() && m_fileSystemModel->isDir(source);
}

bool LibraryDataModel::hasChildren(const QModelIndex &parent) const
{
    return !isLinkSource(mapToSource(parent)) && QIdentityProxyModel::hasChildren(parent);
}

bool LibraryDataModel::canFetchMore(const QModelIndex &parent) const
{
    return !isLinkSource(mapToSource(parent)) && QIdentityProxyModel::canFetchMore(parent);
}

void LibraryDataModel::fetchMore(const QModelIndex &parent)
{
    if (!isLinkSource(mapToSource(parent)))
        QIdentityProxyModel::fetchMore(parent);
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
    applyRead(item, LibraryItemReader::read(item->path));
}

void LibraryDataModel::applyRead(ItemData *item, const LibraryItemReader::Result &result) const
{
    item->pending = false;
    item->type = result.type;
    item->name = result.name;
    item->description = result.description;
    item->problem = result.problem;

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
    const bool link = isLinkSource(source);
    if (index.column() == InfoColumn)
        return link || m_fileSystemModel->isDir(source) ? QVariant() : infoData(source, role);
    if (link || m_fileSystemModel->isDir(source) || index.column() != 0) {
        if (role == ItemNameRole)
            return m_fileSystemModel->fileName(source.siblingAtColumn(0));
        if (link && role == Qt::DecorationRole && index.column() == 0)
            return QApplication::style()->standardIcon(
                m_fileSystemModel->isDir(source) ? QStyle::SP_DirLinkIcon : QStyle::SP_FileLinkIcon);
        return QIdentityProxyModel::data(index, role);
    }

    const ItemData *item = listedItemData(source);
    if (!item)
        return QIdentityProxyModel::data(index, role);
    if (item->pending) {
        // Listing and sorting go by what shows; the rest of a file is read when it is asked for.
        if (role == Qt::DisplayRole)
            return QFileInfo(item->path).completeBaseName();
        if (role == Qt::DecorationRole)
            return item->path.endsWith(kArchiveExtension, Qt::CaseInsensitive) ? m_archiveIcon : m_songIcon;
        if (role == Qt::EditRole || role == ItemNameRole || role == ItemDescriptionRole)
            item = sourceItemData(source);
    }
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
        return m_damagedIcon;
    case Qt::ToolTipRole:
        return item->type == UnreadableItem ? item->problem : QVariant();
    case ItemDescriptionRole:
        return item->description;
    default:
        return QIdentityProxyModel::data(index, role);
    }
}

QVariant LibraryDataModel::infoData(const QModelIndex &sourceIndex, int role) const
{
    const ItemData *item = listedItemData(sourceIndex);
    if (!item)
        return QIdentityProxyModel::data(mapFromSource(sourceIndex), role);
    const bool damaged = !item->pending && item->type == UnreadableItem;
    switch (role) {
    case Qt::DisplayRole:
        return damaged ? tr("Damaged") : megabytesText(m_fileSystemModel->size(sourceIndex));
    case Qt::ToolTipRole:
        return damaged ? item->problem : QVariant();
    case Qt::TextAlignmentRole:
        return QVariant(Qt::AlignRight | Qt::AlignVCenter);
    default:
        return QVariant();
    }
}

QVariant LibraryDataModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && section == InfoColumn && role == Qt::DisplayRole)
        return tr("Info");
    return QIdentityProxyModel::headerData(section, orientation, role);
}

bool LibraryDataModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    if (!index.isValid())
        return false;
    const QModelIndex source = mapToSource(index);
    if (isLinkSource(source) || index.column() != 0)
        return false;
    if (m_fileSystemModel->isDir(source))
        return role == Qt::EditRole && renameFolder(value.toString(), source);

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
    return false;
}

bool LibraryDataModel::renameFolder(const QString &newName, const QModelIndex &sourceIndex)
{
    if (newName.isEmpty() || newName == m_fileSystemModel->fileName(sourceIndex))
        return false;
    const QString oldName = m_fileSystemModel->fileName(sourceIndex);
    QString error;
    if (!LibraryFolder(rootPath()).rename(m_fileSystemModel->filePath(sourceIndex), newName, &error)) {
        emit fileOperationFailed(tr("Could not rename the folder.") + QStringLiteral("\n\n") + error);
        return false;
    }
    emit renamed(oldName, newName);
    return true;
}

bool LibraryDataModel::renameItem(const QString &newName, const QModelIndex &sourceIndex)
{
    ItemData *item = sourceItemData(sourceIndex);
    if (!item || newName == item->name || newName.isEmpty())
        return false;
    const QString refusal = renameRefusal(newName);
    if (!refusal.isEmpty()) {
        emit nameRefused(refusal, mapFromSource(sourceIndex), newName);
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
        emit nameRefused(QStringLiteral("A file named %1 already exists in this folder.\n\n"
                                        "Please choose a different name.")
                             .arg(fileName),
                         mapFromSource(sourceIndex), newName);
        return false;
    }

    const QString oldName = item->name;
    item->name = newName;
    if (!saveItem(item)) {
        // The file is unchanged, so it keeps its file name too.
        item->name = oldName;
        return false;
    }
    if (!renameFile) {
        emit renamed(oldName, newName);
        return true;
    }
    qDebug() << "Library: renaming file:" << fileName;
    QString error;
    if (!LibraryFolder(rootPath()).rename(oldPath, fileName, &error)) {
        emit fileOperationFailed(tr("The new name is stored in the file, but the file keeps its file name.") +
                                 QStringLiteral("\n\n") + error);
        return true;
    }
    cacheRenamedItem(*item, current.path() + QLatin1Char('/') + fileName, fileName);
    emit renamed(oldName, newName);
    return true;
}

// The file system model lists the file under its new name once it notices; the name stored
// in it is known already, and the old row shows it until it goes.
void LibraryDataModel::cacheRenamedItem(const ItemData &item, const QString &newPath, const QString &fileName)
{
    forgetItem(newPath);
    auto renamed = std::make_unique<ItemData>(item);
    renamed->path = newPath;
    renamed->node = nullptr;
    renamed->fileName = fileName;
    m_items.emplace(newPath, std::move(renamed));
}

bool LibraryDataModel::saveItem(const ItemData *item)
{
    // Written by its path, the file must still be the library's own, not a link put in its place.
    QString error;
    if (!LibraryFolder(rootPath()).isPlainFile(item->path, &error)) {
        emit fileOperationFailed(tr("Could not save the item.") + QStringLiteral("\n\n") + error);
        return false;
    }
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
    if (m_itemsByNode.value(found->second->node) == found->second.get())
        m_itemsByNode.remove(found->second->node);
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
    m_reader->clear();
    m_itemsByNode.clear();
    m_items.clear();
    qDebug() << "Library: All items removed.";
}

Qt::ItemFlags LibraryDataModel::flags(const QModelIndex &index) const
{
    Qt::ItemFlags result = QIdentityProxyModel::flags(index);
    if (!index.isValid())
        return result;
    const QModelIndex source = mapToSource(index);
    if (isLinkSource(source))
        return (result & ~(Qt::ItemIsEditable | Qt::ItemIsDragEnabled | Qt::ItemIsDropEnabled)) |
               Qt::ItemNeverHasChildren;
    if (m_fileSystemModel->isDir(source))
        return result | Qt::ItemIsDropEnabled | (index.column() == 0 ? Qt::ItemIsEditable : Qt::NoItemFlags);
    // An item not read yet is taken for what its name says until it is read.
    const ItemData *item = listedItemData(source);
    if (!item || (!item->pending && item->type == UnreadableItem))
        return result & ~(Qt::ItemIsEditable | Qt::ItemIsDragEnabled);
    result |= Qt::ItemIsDragEnabled;
    if (index.column() == 0)
        result |= Qt::ItemIsEditable;
    return result;
}

} // namespace ZovaZode
