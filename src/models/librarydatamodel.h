// One library folder (card archives or song files) as an item model: each file shows the name
// stored inside it instead of its file name (read on a thread of its own: the file name shows
// until the stored name arrives), with an icon for its kind and its size; a file that cannot be
// used (unreadable, incomplete, cut short) is marked damaged, with what is wrong as its tool tip,
// and read again a number of times (it may still be being copied);
// renaming an item rewrites the name inside the file and renames the file after it. The model is
// also the drag source of library items and the drop target of the card, its songs and files.
// A symbolic link is shown as a link and never followed: not read, not expanded, not a drop
// target; every rename, move and copy goes through LibraryFolder, which keeps to the root.
#pragma once

#include "models/libraryitemreader.h"

#include <QHash>
#include <QIcon>
#include <QIdentityProxyModel>
#include <QList>
#include <QString>
#include <QVector>

#include <map>
#include <memory>

class QFileSystemModel;
class QTimer;

namespace ZovaZode {

class LibraryDataModel : public QIdentityProxyModel
{
    Q_OBJECT
    Q_PROPERTY(QString rootPath READ rootPath WRITE setRootPath NOTIFY rootPathChanged)

public:
    // What a file turned out to be when it was read.
    enum ItemType { UnreadableItem = 0, SongItem = 1, ArchiveItem = 2 };
    // What the library lists; any other value lists every file.
    enum LibraryKind { AnyLibrary = 1, CardLibrary = 2, SongLibrary = 3 };
    enum Role { ItemNameRole = Qt::UserRole + 100, ItemDescriptionRole = Qt::UserRole + 101 };
    // The file system model's size column, which says "Damaged" for a file that cannot be used.
    enum Column { NameColumn = 0, InfoColumn = 1 };

    static constexpr int MaxAttempts = 20;
    static constexpr int DefaultRetryInterval = 500;

    struct ItemData
    {
        qint32 type = UnreadableItem;
        QString path;
        QString name;
        QString description;
        // What is wrong with an unreadable file.
        QString problem;
        qint32 attempts = 0;
        // Listed, its stored name not read yet.
        bool pending = false;
        // The file system model's node of the file and the file's name, which finds the item
        // again without building its path (sorting a thousand items asks for each a dozen times).
        const void *node = nullptr;
        QString fileName;
    };

    explicit LibraryDataModel(QObject *parent = nullptr);
    ~LibraryDataModel() override;

    // What the library lists: the model holds every file of its folders, and SortedLibraryModel
    // shows those this says it lists.
    void setItemType(int kind);
    int itemType() const { return m_itemType; }
    bool listsFile(const QString &fileName) const;

    QString rootPath() const;
    void setRootPath(const QString &path);

    using QIdentityProxyModel::index;
    QModelIndex index(const QString &path) const;
    QString filePath(const QModelIndex &index) const;
    QString fileName(const QModelIndex &index) const;

    // The cached entry of a file of the file system model, read now if it has not been read;
    // null for an invalid index or a folder. (QAbstractItemModel already has a virtual itemData.)
    ItemData *sourceItemData(const QModelIndex &sourceIndex) const;
    // Reads the item again and starts a new series of attempts.
    void refreshItem(const QModelIndex &index);

    bool isArchive(const QModelIndex &index) const;
    bool isSong(const QModelIndex &index) const;
    // A folder, not a link to one.
    bool isFolder(const QModelIndex &index) const;
    bool isLink(const QModelIndex &index) const;
    // Listed and sorted with the folders: a folder or a link to one.
    bool sortsWithFolders(const QModelIndex &index) const;

    // Tests shorten the time between two attempts.
    void setRetryInterval(int milliseconds);
    int retryInterval() const;
    int queuedItemCount() const { return m_retryQueue.size(); }
    bool isRetrying() const;

    QFileSystemModel *fileSystemModel() const { return m_fileSystemModel; }

    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role = Qt::EditRole) override;
    QStringList mimeTypes() const override;
    QMimeData *mimeData(const QModelIndexList &indexes) const override;
    bool canDropMimeData(const QMimeData *data, Qt::DropAction action, int row, int column,
                         const QModelIndex &parent) const override;
    bool dropMimeData(const QMimeData *data, Qt::DropAction action, int row, int column,
                      const QModelIndex &parent) override;
    Qt::DropActions supportedDropActions() const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    bool hasChildren(const QModelIndex &parent = QModelIndex()) const override;
    bool canFetchMore(const QModelIndex &parent) const override;
    void fetchMore(const QModelIndex &parent) override;

signals:
    void rootPathChanged(const QString &path);
    void itemTypeChanged();
    void songArchiveRequest(const QString &dir, const QList<int> &songs);
    void cardArchiveRequest(const QString &dir);
    // A rename, move or copy of library files failed; the text says which and why.
    void fileOperationFailed(const QString &text);
    // A new name was refused before anything was written; the text says why, `name` is the name
    // refused for the item `index`.
    void nameRefused(const QString &text, const QModelIndex &index, const QString &name);
    // An item, or a folder, was given a new name: stored in the file and the file renamed to match.
    void renamed(const QString &oldName, const QString &newName);

private:
    // The cached entry as it is, its reading requested from the reader thread if it is new.
    ItemData *listedItemData(const QModelIndex &sourceIndex) const;
    ItemData *cachedItem(const QModelIndex &sourceIndex, bool *created) const;
    void onItemsRead(const QVector<ZovaZode::LibraryItemReader::Result> &results);
    void readItem(ItemData *item) const;
    void applyRead(ItemData *item, const LibraryItemReader::Result &result) const;
    void dequeue(ItemData *item) const;
    void retryItems();
    bool isLinkSource(const QModelIndex &sourceIndex) const;
    bool renameItem(const QString &newName, const QModelIndex &sourceIndex);
    void cacheRenamedItem(const ItemData &item, const QString &newPath, const QString &fileName);
    bool renameFolder(const QString &newName, const QModelIndex &sourceIndex);
    bool dropFiles(const QMimeData *data, Qt::DropAction action, const QString &folder);
    bool saveItem(const ItemData *item);
    void forgetItem(const QString &path);
    QString dropFolder(const QModelIndex &parent) const;
    QString shownName(const ItemData *item) const;
    QVariant infoData(const QModelIndex &sourceIndex, int role) const;

    void onRowsAboutToBeRemoved(const QModelIndex &parent, int first, int last);
    void onRowsRemoved();
    void onModelReset();

    QFileSystemModel *m_fileSystemModel;
    LibraryItemReader *m_reader;
    // The cache and the queue change while the views only read: reading an item is a side
    // effect of looking at it.
    mutable std::map<QString, std::unique_ptr<ItemData>> m_items;
    mutable QHash<const void *, ItemData *> m_itemsByNode;
    mutable QList<ItemData *> m_retryQueue;
    int m_itemType = AnyLibrary;
    QTimer *m_retryTimer;
    QIcon m_archiveIcon;
    QIcon m_songIcon;
    QIcon m_damagedIcon;
    QVector<QString> m_pendingRemovals;
};

} // namespace ZovaZode
