// A library folder as the views show it: folders (and links to folders) before files, items
// ordered by their shown names, nothing beyond a link, and paths hidden while the transfer worker
// writes them. It owns its LibraryDataModel and forwards the library operations to it, mapping
// indexes through itself.
#pragma once

#include <QSortFilterProxyModel>
#include <QString>
#include <QStringList>

namespace ZovaZode {

class LibraryDataModel;

class SortedLibraryModel : public QSortFilterProxyModel
{
public:
    explicit SortedLibraryModel(QObject *parent = nullptr);
    ~SortedLibraryModel() override;

    LibraryDataModel *libraryModel() const { return m_sourceModel; }

    QString rootPath() const;
    void setRootPath(const QString &path);

    using QSortFilterProxyModel::index;
    QModelIndex index(const QString &path) const;
    QString filePath(const QModelIndex &index) const;

    bool isArchive(const QModelIndex &index) const;
    bool isSong(const QModelIndex &index) const;
    bool isFolder(const QModelIndex &index) const;
    bool isLink(const QModelIndex &index) const;
    void refreshItem(const QModelIndex &index);

    void setPathHidden(const QString &path, bool hidden);
    QStringList hiddenPaths() const { return m_hiddenPaths; }

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex &sourceParent) const override;
    bool lessThan(const QModelIndex &left, const QModelIndex &right) const override;

private:
    LibraryDataModel *m_sourceModel;
    QStringList m_hiddenPaths;
};

} // namespace ZovaZode
