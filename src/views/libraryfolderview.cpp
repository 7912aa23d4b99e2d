// LibraryFolderView: a library page, its commands and deleting an item.
#include "views/libraryfolderview.h"

#include "domain/libraryfolder.h"
#include "domain/notifier.h"
#include "models/librarydatamodel.h"
#include "models/sortedlibrarymodel.h"
#include "views/elidedlabel.h"
#include "views/prompter.h"
#include "views/widgetutils.h"

#include <QAction>
#include <QDebug>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QShortcut>
#include <QToolButton>
#include <QTreeView>
#include <QVBoxLayout>

namespace ZovaZode {

LibraryFolderView::LibraryFolderView(SortedLibraryModel *model, const QString &transferText, QWidget *parent)
    : QWidget(parent), m_model(model), m_treeView(new QTreeView(this)), m_folderLabel(new ElidedLabel(this)),
      m_editNameAction(new QAction(tr("Edit Name..."), this)),
      m_detailsAction(new QAction(tr("Details..."), this)), m_transferAction(new QAction(transferText, this)),
      m_deleteAction(new QAction(tr("Delete"), this)), m_contextMenu(new QMenu(this))
{
    setUpTree();

    auto showFolder = [this](const QString &path) { m_folderLabel->setFullText(path); };
    showFolder(m_model->rootPath());
    connect(m_model->libraryModel(), &LibraryDataModel::rootPathChanged, this, showFolder);
    connect(m_model->libraryModel(), &LibraryDataModel::fileOperationFailed, this,
            [this](const QString &text) {
                Notifier::tell(this, Notifier::Icon::Critical,
                               isCardLibrary() ? tr("Card Library") : tr("Song Library"), text);
                emit outcome(CardSession::Outcome::Failed, text);
            });
    connect(m_model->libraryModel(), &LibraryDataModel::nameRefused, this,
            [this](const QString &text, const QModelIndex &index, const QString &name) {
                emit outcome(CardSession::Outcome::Failed, text);
                WidgetUtils::refuseName(m_treeView, m_model->mapFromSource(index), name, text);
            });
    connect(m_model->libraryModel(), &LibraryDataModel::renamed, this,
            [this](const QString &oldName, const QString &newName) {
                emit outcome(CardSession::Outcome::Done,
                             tr("Renamed \"%1\" to \"%2\".").arg(oldName, newName));
            });

    layOut();

    auto *deleteShortcut = new QShortcut(QKeySequence::Delete, this);
    deleteShortcut->setContext(Qt::WidgetWithChildrenShortcut);
    connect(deleteShortcut, &QShortcut::activated, this, &LibraryFolderView::deleteRequest);

    connect(m_editNameAction, &QAction::triggered, this, &LibraryFolderView::editName);
    connect(m_deleteAction, &QAction::triggered, this, &LibraryFolderView::deleteSelectedItem);
    m_contextMenu->addAction(m_editNameAction);
    m_contextMenu->addAction(m_detailsAction);
    m_contextMenu->addAction(m_transferAction);
    m_contextMenu->addAction(m_deleteAction);

    connect(m_treeView->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
        emit selectionChanged();
        updateActions();
    });
    // QAction::trigger() does not look at the enabled state; a folder must not open details.
    connect(m_treeView, &QTreeView::activated, this, [this] {
        if (m_detailsAction->isEnabled())
            m_detailsAction->trigger();
    });
    m_treeView->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_treeView, &QTreeView::customContextMenuRequested, this, &LibraryFolderView::showContextMenu);

    updateActions();
}

LibraryFolderView::~LibraryFolderView() = default;

void LibraryFolderView::setUpTree()
{
    m_model->setSortCaseSensitivity(Qt::CaseInsensitive);
    m_model->sort(0, Qt::AscendingOrder);

    m_treeView->setModel(m_model);
    m_treeView->setRootIndex(m_model->index(m_model->rootPath()));
    m_treeView->setDragEnabled(true);
    m_treeView->setAcceptDrops(true);
    m_treeView->setDropIndicatorShown(false);
    m_treeView->setDefaultDropAction(Qt::CopyAction);
    m_treeView->setEditTriggers(QAbstractItemView::SelectedClicked | QAbstractItemView::EditKeyPressed);
    // The name takes the room; the info column (a size, or "Damaged") what it needs.
    m_treeView->header()->setStretchLastSection(false);
    m_treeView->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    m_treeView->header()->setSectionResizeMode(LibraryDataModel::NameColumn, QHeaderView::Stretch);
    // The archive and song pictures stay recognisable, and the rows get room to breathe.
    m_treeView->setIconSize(QSize(24, 24));
    for (int column = LibraryDataModel::InfoColumn + 1; column <= 3; ++column)
        m_treeView->hideColumn(column);
}

// The folder's path with the button that changes it, above the tree.
void LibraryFolderView::layOut()
{
    auto *changeButton = new QToolButton(this);
    changeButton->setText(tr("Change"));
    connect(changeButton, &QToolButton::clicked, this, &LibraryFolderView::changeFolder);

    auto *folderRow = new QHBoxLayout;
    folderRow->setContentsMargins(0, 0, 0, 0);
    folderRow->setSpacing(6);
    folderRow->addWidget(m_folderLabel, 1);
    folderRow->addWidget(changeButton);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(folderRow);
    layout->addWidget(m_treeView, 3);
}

QModelIndex LibraryFolderView::selectedIndex() const
{
    const QModelIndexList selected = m_treeView->selectionModel()->selectedIndexes();
    for (const QModelIndex &index : selected) {
        if (index.column() == 0)
            return index;
    }
    return selected.isEmpty() ? QModelIndex() : selected.first().sibling(selected.first().row(), 0);
}

bool LibraryFolderView::isCardLibrary() const
{
    return m_model->libraryModel()->itemType() == LibraryDataModel::CardLibrary;
}

bool LibraryFolderView::isLibraryFile(const QModelIndex &index) const
{
    return isCardLibrary() ? m_model->isArchive(index) : m_model->isSong(index);
}

QString LibraryFolderView::selectedFilePath() const
{
    if (!m_treeView->selectionModel()->hasSelection())
        return QString();
    const QModelIndex index = selectedIndex();
    return isLibraryFile(index) ? m_model->filePath(index) : QString();
}

QString LibraryFolderView::selectedAnyFilePath() const
{
    const QModelIndex index = selectedIndex();
    if (!m_treeView->selectionModel()->hasSelection() || m_model->isFolder(index) || m_model->isLink(index))
        return QString();
    return m_model->filePath(index);
}

void LibraryFolderView::selectPath(const QString &path)
{
    const QModelIndex index = m_model->index(path);
    if (index.isValid())
        m_treeView->selectionModel()->select(index, QItemSelectionModel::ClearAndSelect);
}

void LibraryFolderView::editName()
{
    const QModelIndex current = m_treeView->currentIndex();
    if (current.isValid())
        m_treeView->edit(current);
}

void LibraryFolderView::changeFolder()
{
    const QString folder = Prompter::current()->folder(this, QString(), m_model->rootPath());
    if (folder.isEmpty())
        return;
    m_model->setRootPath(folder);
    m_treeView->setRootIndex(m_model->index(folder));
    m_treeView->selectionModel()->clearSelection();
    // Edit Name works on the current item, which must not be one of the old folder.
    m_treeView->selectionModel()->clearCurrentIndex();
}

void LibraryFolderView::updateActions()
{
    const QModelIndex index = selectedIndex();
    m_detailsAction->setEnabled(isLibraryFile(index));
    const bool unreadable =
        index.isValid() && !m_model->isFolder(index) && !m_model->isSong(index) && !m_model->isArchive(index);
    m_editNameAction->setEnabled(!unreadable);
}

void LibraryFolderView::showContextMenu(const QPoint &position)
{
    if (m_treeView->indexAt(position).isValid())
        m_contextMenu->popup(m_treeView->viewport()->mapToGlobal(position));
}

void LibraryFolderView::deleteSelectedItem()
{
    const QModelIndex index = selectedIndex();
    if (!index.isValid())
        return;
    const QModelIndex item = index.sibling(index.row(), 0);
    const QString path = m_model->filePath(item);
    const QString name = m_model->data(item, LibraryDataModel::ItemNameRole).toString();
    const QString kind = m_model->isArchive(item)  ? QStringLiteral("archive")
                         : m_model->isSong(item)   ? QStringLiteral("song")
                         : m_model->isFolder(item) ? QStringLiteral("folder")
                         : m_model->isLink(item)   ? QStringLiteral("link")
                                                   : QStringLiteral("file");
    const QString library = isCardLibrary() ? QStringLiteral("card") : QStringLiteral("song");
    const QString title = tr("Delete Item");
    if (Notifier::ask(
            this, Notifier::Icon::Warning, title,
            tr("Are you sure you want to delete %1 \"%2\" from %3 library?\n\nWARNING: This operation "
               "can not be undone.")
                .arg(kind, name, library),
            Notifier::Yes | Notifier::No) != Notifier::Yes) {
        emit outcome(CardSession::Outcome::Cancelled, QString());
        return;
    }
    // Looked at again now: the item, and every folder above it up to the library's root, must
    // still be the library's (a folder listed may have been swapped for a link since).
    QString error;
    if (!LibraryFolder(m_model->rootPath()).remove(path, &error)) {
        qCritical() << "Library: Failed to delete item:" << path << error;
        const QString text = tr("Failed to delete item.") + QStringLiteral("\n\n") + error;
        Notifier::tell(this, Notifier::Icon::Critical, title, text);
        emit outcome(CardSession::Outcome::Failed, text);
        return;
    }
    emit outcome(CardSession::Outcome::Done, tr("Deleted the %1 \"%2\".").arg(kind, name));
}

} // namespace ZovaZode
