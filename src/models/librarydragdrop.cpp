// LibraryDataModel's drag and drop: what a drag of library items carries, and where a drop of
// the card or its songs on a library goes.
#include "models/librarydatamodel.h"

#include "domain/filekinds.h"

#include <QDataStream>
#include <QDebug>
#include <QFileSystemModel>
#include <QMimeData>

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
