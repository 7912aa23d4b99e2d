// SafetyCopiesView: the list of safety copies and its three commands.
#include "views/safetycopiesview.h"

#include "domain/filekinds.h"
#include "domain/libraryfolder.h"
#include "domain/notifier.h"
#include "views/widgetutils.h"

#include <QAction>
#include <QDataStream>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QMimeData>
#include <QShortcut>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>

namespace ZovaZode {

namespace {

constexpr int kEntryRole = Qt::UserRole;
// The item types of the drag formats, as the library models write them.
constexpr qint32 kSongItem = 1;
constexpr qint32 kArchiveItem = 2;

// A copy dragged out carries the format of a library file of its kind, so that the card box
// takes a whole card and a card slot takes a song.
class CopyTree : public QTreeWidget
{
public:
    using QTreeWidget::QTreeWidget;
    const QVector<SafetyCopies::Entry> *entries = nullptr;

protected:
    QStringList mimeTypes() const override
    {
        return {FileKinds::songPathMimeType(), FileKinds::archivePathMimeType(),
                FileKinds::libraryItemListMimeType()};
    }
    QMimeData *mimeData(const QList<QTreeWidgetItem *> items) const override
    {
        if (items.size() != 1 || !entries)
            return nullptr;
        const int index = items.first()->data(0, kEntryRole).toInt();
        if (index < 0 || index >= entries->size())
            return nullptr;
        const SafetyCopies::Entry &entry = entries->at(index);
        QByteArray bytes;
        QDataStream stream(&bytes, QIODevice::WriteOnly);
        stream << (entry.isWholeCard() ? kArchiveItem : kSongItem) << entry.path;
        auto *data = new QMimeData;
        data->setData(entry.isWholeCard() ? FileKinds::archivePathMimeType() : FileKinds::songPathMimeType(),
                      bytes);
        // The card's song list reads the path from the list format, as a library drag carries it.
        data->setData(FileKinds::libraryItemListMimeType(), bytes);
        return data;
    }
};

} // namespace

SafetyCopiesView::SafetyCopiesView(QWidget *parent)
    : QWidget(parent), m_tree(new CopyTree(this)), m_restoreAction(new QAction(tr("Restore This Copy"), this)),
      m_showInFolderAction(new QAction(tr("Show in Folder"), this)),
      m_deleteAction(new QAction(tr("Delete"), this))
{
    m_tree->setColumnCount(ColumnCount);
    m_tree->setHeaderLabels({tr("What"), tr("Card"), tr("About to Happen"), tr("When")});
    m_tree->setRootIsDecorated(false);
    m_tree->setUniformRowHeights(true);
    m_tree->setSelectionMode(QAbstractItemView::SingleSelection);
    m_tree->setDragEnabled(true);
    m_tree->setDragDropMode(QAbstractItemView::DragOnly);
    m_tree->setDefaultDropAction(Qt::CopyAction);
    m_tree->header()->setSectionResizeMode(QHeaderView::Interactive);
    m_tree->header()->setStretchLastSection(true);
    m_tree->setContextMenuPolicy(Qt::ActionsContextMenu);
    m_tree->addAction(m_restoreAction);
    m_tree->addAction(m_showInFolderAction);
    m_tree->addAction(m_deleteAction);
    static_cast<CopyTree *>(m_tree)->entries = &m_entries;

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_tree);

    auto *deleteShortcut = new QShortcut(QKeySequence::Delete, m_tree);
    deleteShortcut->setContext(Qt::WidgetShortcut);
    connect(deleteShortcut, &QShortcut::activated, this, &SafetyCopiesView::deleteSelected);
    connect(m_restoreAction, &QAction::triggered, this, &SafetyCopiesView::restoreSelected);
    connect(m_showInFolderAction, &QAction::triggered, this, &SafetyCopiesView::showSelectedInFolder);
    connect(m_deleteAction, &QAction::triggered, this, &SafetyCopiesView::deleteSelected);
    connect(m_tree, &QTreeWidget::itemSelectionChanged, this, [this] {
        const bool selected = selectedEntry().has_value();
        m_showInFolderAction->setEnabled(selected);
        m_deleteAction->setEnabled(selected);
        emit selectionChanged();
    });
    connect(m_tree, &QTreeWidget::itemActivated, this, [this] {
        if (m_restoreAction->isEnabled())
            restoreSelected();
    });
    m_showInFolderAction->setEnabled(false);
    m_deleteAction->setEnabled(false);
}

QString SafetyCopiesView::whatText(const SafetyCopies::Entry &entry)
{
    if (entry.isWholeCard())
        return tr("Whole card");
    return entry.songName.isEmpty() ? tr("Song %1").arg(entry.slot + 1)
                                    : tr("Song %1: %2").arg(entry.slot + 1).arg(entry.songName);
}

QString SafetyCopiesView::occasionText(const SafetyCopies::Entry &entry)
{
    switch (entry.occasion) {
    case SafetyCopies::Occasion::Restore:
        return tr("Restore");
    case SafetyCopies::Occasion::ClearSong:
        return tr("Clear song %1").arg(entry.slot + 1);
    case SafetyCopies::Occasion::ClearAll:
        return tr("Clear all songs");
    case SafetyCopies::Occasion::CopyOntoSlot:
        return tr("Copy onto slot %1").arg(entry.slot + 1);
    case SafetyCopies::Occasion::Other:
        break;
    }
    return tr("Change");
}

void SafetyCopiesView::setCardLibrary(const QString &cardLibrary)
{
    m_cardLibrary = cardLibrary;
    reload();
}

void SafetyCopiesView::reload()
{
    const std::optional<SafetyCopies::Entry> selected = selectedEntry();
    m_tree->clear();
    m_entries = m_cardLibrary.isEmpty() ? QVector<SafetyCopies::Entry>() : SafetyCopies::list(m_cardLibrary);
    for (int i = 0; i < m_entries.size(); ++i) {
        const SafetyCopies::Entry &entry = m_entries.at(i);
        auto *item = new QTreeWidgetItem(m_tree);
        item->setText(WhatColumn, whatText(entry));
        item->setText(CardColumn, entry.cardName);
        item->setText(OccasionColumn, occasionText(entry));
        item->setText(WhenColumn, entry.when.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
        item->setData(WhatColumn, kEntryRole, i);
        item->setToolTip(WhatColumn, QFileInfo(entry.path).fileName());
    }
    for (int column = 0; column < WhenColumn; ++column)
        m_tree->resizeColumnToContents(column);
    if (selected)
        selectPath(selected->path);
    emit selectionChanged();
}

std::optional<SafetyCopies::Entry> SafetyCopiesView::selectedEntry() const
{
    const QList<QTreeWidgetItem *> items = m_tree->selectedItems();
    if (items.isEmpty())
        return std::nullopt;
    const int index = items.first()->data(WhatColumn, kEntryRole).toInt();
    if (index < 0 || index >= m_entries.size())
        return std::nullopt;
    return m_entries.at(index);
}

bool SafetyCopiesView::selectPath(const QString &path)
{
    for (int i = 0; i < m_entries.size(); ++i) {
        if (m_entries.at(i).path == path) {
            m_tree->setCurrentItem(m_tree->topLevelItem(i));
            return true;
        }
    }
    return false;
}

void SafetyCopiesView::restoreSelected()
{
    const std::optional<SafetyCopies::Entry> entry = selectedEntry();
    if (!entry) {
        qDebug() << "No safety copy selected.";
        return;
    }
    if (entry->isWholeCard())
        emit cardRestoreRequest(entry->path);
    else
        emit songRestoreRequest(entry->slot, entry->path);
}

void SafetyCopiesView::showSelectedInFolder()
{
    const std::optional<SafetyCopies::Entry> entry = selectedEntry();
    const QString folder = entry ? QFileInfo(entry->path).path() : QString();
    if (!entry || WidgetUtils::openUrl(QUrl::fromLocalFile(folder)))
        return;
    // The desktop has nothing to open a folder with: nothing else would say so.
    qWarning() << "Library: Could not show the folder of" << entry->path;
    Notifier::tell(this, Notifier::Icon::Warning, tr("Show in Folder"),
                   tr("No file manager could open the folder %1.").arg(QDir::toNativeSeparators(folder)));
}

void SafetyCopiesView::deleteSelected()
{
    const std::optional<SafetyCopies::Entry> entry = selectedEntry();
    if (!entry)
        return;
    const QString title = tr("Delete Safety Copy");
    if (Notifier::ask(this, Notifier::Icon::Warning, title,
                      tr("Are you sure you want to delete the safety copy \"%1\"?\n\nWARNING: This operation "
                         "can not be undone.")
                          .arg(QFileInfo(entry->path).completeBaseName()),
                      Notifier::Yes | Notifier::No) != Notifier::Yes) {
        emit outcome(CardSession::Outcome::Cancelled, QString());
        return;
    }
    // The copies lie in the card library: the walk from its root refuses a folder swapped for a link.
    QString error;
    if (!LibraryFolder(m_cardLibrary).remove(entry->path, &error)) {
        qCritical() << "Library: Failed to delete safety copy:" << entry->path << error;
        const QString text = tr("Failed to delete item.") + QStringLiteral("\n\n") + error;
        Notifier::tell(this, Notifier::Icon::Critical, title, text);
        emit outcome(CardSession::Outcome::Failed, text);
    } else {
        emit outcome(CardSession::Outcome::Done,
                     tr("Deleted the safety copy \"%1\".").arg(QFileInfo(entry->path).completeBaseName()));
    }
    reload();
}

} // namespace ZovaZode
