// LibraryDataModel's drag and drop: what a drag of library items carries, where a drop of the
// card or its songs on a library goes, and files dropped on a folder, moved or copied there.
#include "models/librarydatamodel.h"

#include "domain/filekinds.h"
#include "domain/libraryfolder.h"

#include <QDataStream>
#include <QDebug>
#include <QFileSystemModel>
#include <QMimeData>
#include <QUrl>

namespace ZovaZode {

namespace {

const QString kItemListFormat = FileKinds::libraryItemListMimeType();
const QString kSongPathFormat = FileKinds::songPathMimeType();
const QString kArchivePathFormat = FileKinds::archivePathMimeType();
const QString kCardFormat = FileKinds::cardMimeType();
const QString kCardSongListFormat = FileKinds::cardSongListMimeType();

} // namespace

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
    // A link is never a drop target: what is dropped on it goes into its folder.
    if (m_fileSystemModel->isDir(source) && !isLinkSource(source))
        return m_fileSystemModel->filePath(source);
    const QModelIndex folder = source.parent();
    if (folder.isValid() && m_fileSystemModel->isDir(folder) && !isLinkSource(folder))
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
    if (!data->hasUrls() || (action != Qt::CopyAction && action != Qt::MoveAction))
        return false;
    const QString folder = dropFolder(parent);
    return !folder.isEmpty() && dropFiles(data, action, folder);
}

bool LibraryDataModel::dropFiles(const QMimeData *data, Qt::DropAction action, const QString &folder)
{
    const LibraryFolder library(rootPath());
    QStringList failures;
    for (const QUrl &url : data->urls()) {
        const QString path = url.isLocalFile() ? url.toLocalFile() : url.toString();
        QString error;
        qDebug() << "Library:" << (action == Qt::MoveAction ? "moving" : "copying") << path << "to" << folder;
        if (!(action == Qt::MoveAction ? library.move(path, folder, &error)
                                       : library.copyInto(path, folder, &error)))
            failures << error;
    }
    if (failures.isEmpty())
        return true;
    emit fileOperationFailed(
        (action == Qt::MoveAction ? tr("Could not move every item.") : tr("Could not copy every file.")) +
        QStringLiteral("\n\n") + failures.join(QLatin1Char('\n')));
    return false;
}

} // namespace ZovaZode
