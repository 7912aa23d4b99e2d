// SortedLibraryModel: hiding, ordering and forwarding over a LibraryDataModel.
#include "models/sortedlibrarymodel.h"

#include "models/librarydatamodel.h"

#include <QDebug>

namespace ZovaZode {

namespace {

// The transfer worker writes a new library file under this suffix and renames it when it is
// complete; a half-written file is never an item.
const QString kPartialSuffix = QStringLiteral(".partial");

} // namespace

SortedLibraryModel::SortedLibraryModel(QObject *parent)
    : QSortFilterProxyModel(parent), m_sourceModel(new LibraryDataModel(this))
{
    setSourceModel(m_sourceModel);
    connect(m_sourceModel, &LibraryDataModel::itemTypeChanged, this, &SortedLibraryModel::invalidateFilter);
}

SortedLibraryModel::~SortedLibraryModel() = default;

QString SortedLibraryModel::rootPath() const
{
    return m_sourceModel->rootPath();
}

void SortedLibraryModel::setRootPath(const QString &path)
{
    m_sourceModel->setRootPath(path);
}

QModelIndex SortedLibraryModel::index(const QString &path) const
{
    return mapFromSource(m_sourceModel->index(path));
}

QString SortedLibraryModel::filePath(const QModelIndex &index) const
{
    return m_sourceModel->filePath(mapToSource(index));
}

bool SortedLibraryModel::isArchive(const QModelIndex &index) const
{
    return m_sourceModel->isArchive(mapToSource(index));
}

bool SortedLibraryModel::isSong(const QModelIndex &index) const
{
    return m_sourceModel->isSong(mapToSource(index));
}

bool SortedLibraryModel::isFolder(const QModelIndex &index) const
{
    return m_sourceModel->isFolder(mapToSource(index));
}

bool SortedLibraryModel::isLink(const QModelIndex &index) const
{
    return m_sourceModel->isLink(mapToSource(index));
}

void SortedLibraryModel::refreshItem(const QModelIndex &index)
{
    m_sourceModel->refreshItem(mapToSource(index));
}

void SortedLibraryModel::setPathHidden(const QString &path, bool hidden)
{
    if (hidden) {
        qDebug() << "Library: hiding path:" << path;
        if (!m_hiddenPaths.contains(path)) {
            qDebug() << "Library: path hidden: " << path;
            m_hiddenPaths.append(path);
            invalidateFilter();
        }
    } else {
        qDebug() << "Library: un-hiding path:" << path;
        if (m_hiddenPaths.contains(path)) {
            qDebug() << "Library: path un-hidden: " << path;
            m_hiddenPaths.removeAll(path);
            invalidateFilter();
        }
    }
}

bool SortedLibraryModel::filterAcceptsRow(int sourceRow, const QModelIndex &sourceParent) const
{
    // What lies beyond a link is not the library's, even when the file system model has listed it.
    if (m_sourceModel->isLink(sourceParent))
        return false;
    const QModelIndex source = m_sourceModel->index(sourceRow, 0, sourceParent);
    // Building a row's path costs more than the rest of sorting it: only hiding needs it.
    if (!m_hiddenPaths.isEmpty() && m_hiddenPaths.contains(m_sourceModel->filePath(source))) {
        qDebug() << "Library: requested hidden row:" << m_sourceModel->filePath(source);
        return false;
    }
    if (m_sourceModel->sortsWithFolders(source))
        return true;
    const QString name = m_sourceModel->fileName(source);
    return m_sourceModel->listsFile(name) && !name.endsWith(kPartialSuffix);
}

bool SortedLibraryModel::lessThan(const QModelIndex &left, const QModelIndex &right) const
{
    const bool leftIsFolder = m_sourceModel->sortsWithFolders(left);
    const bool rightIsFolder = m_sourceModel->sortsWithFolders(right);
    if (leftIsFolder != rightIsFolder)
        return leftIsFolder;
    return QSortFilterProxyModel::lessThan(left, right);
}

} // namespace ZovaZode
