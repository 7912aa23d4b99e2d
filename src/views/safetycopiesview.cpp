// SafetyCopiesView: the list of safety copies and its three commands.
#include "views/safetycopiesview.h"

#include "domain/filekinds.h"
#include "domain/libraryfolder.h"
#include "domain/notifier.h"
#include "domain/sizetext.h"
#include "views/widgetutils.h"

#include <QAction>
#include <QDataStream>
#include <QDebug>
#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QMimeData>
#include <QShortcut>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>

namespace ZovaZode {

namespace {

constexpr int kEntryRole = Qt::UserRole; // on the first column
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
    : QWidget(parent), m_tree(new CopyTree(this)), m_total(new QLabel(this)),
      m_restoreAction(new QAction(tr("Restore This Copy"), this)),
      m_showInFolderAction(new QAction(tr("Show in Folder"), this)),
      m_deleteAction(new QAction(tr("Delete"), this))
{
    m_tree->setColumnCount(ColumnCount);
    m_tree->setHeaderLabels({tr("When"), tr("What"), tr("Size"), tr("About to Happen"), tr("Card")});
    m_tree->headerItem()->setTextAlignment(SizeColumn, Qt::AlignRight | Qt::AlignVCenter);
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
    layout->addWidget(m_total);
    m_tree->viewport()->installEventFilter(this);

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

QString SafetyCopiesView::whenText(const QDateTime &when, const QDateTime &now)
{
    const QString time = when.toString(QStringLiteral("HH:mm"));
    const qint64 days = when.date().daysTo(now.date());
    if (days == 0)
        return tr("today %1").arg(time);
    if (days == 1)
        return tr("yesterday %1").arg(time);
    // Further back the day is enough (the tool tip has the time): the column stays narrow.
    return when.toString(QStringLiteral("yyyy-MM-dd"));
}

void SafetyCopiesView::setNow(const QDateTime &now)
{
    m_now = now;
    reload();
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
    const QDateTime now = m_now.isValid() ? m_now : QDateTime::currentDateTime();
    qint64 total = 0;
    for (int i = 0; i < m_entries.size(); ++i) {
        const SafetyCopies::Entry &entry = m_entries.at(i);
        const qint64 size = QFileInfo(entry.path).size();
        total += size;
        auto *item = new QTreeWidgetItem(m_tree);
        item->setText(WhenColumn, whenText(entry.when, now));
        item->setToolTip(WhenColumn, entry.when.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
        item->setText(WhatColumn, whatText(entry));
        item->setToolTip(WhatColumn, QFileInfo(entry.path).fileName());
        item->setText(SizeColumn, megabytesText(size));
        item->setTextAlignment(SizeColumn, Qt::AlignRight | Qt::AlignVCenter);
        item->setText(CardColumn, entry.cardName);
        item->setText(OccasionColumn, occasionText(entry));
        item->setData(0, kEntryRole, i);
    }
    fitColumns();
    m_total->setText(
        m_entries.isEmpty() ? tr("No safety copies.")
        : m_entries.size() == 1
            ? tr("1 safety copy, %1.").arg(megabytesText(total))
            : tr("%1 safety copies, %2 in all.").arg(m_entries.size()).arg(megabytesText(total)));
    if (selected)
        selectPath(selected->path);
    emit selectionChanged();
}

// Every column but the card's (most often the same for all) shows whole where the page is wide
// enough; where it is not, the What column gives way (its tool tip names the file), to a quarter.
void SafetyCopiesView::fitColumns()
{
    int needed = 0;
    for (int column = 0; column < ColumnCount; ++column) {
        m_tree->resizeColumnToContents(column);
        needed += column == CardColumn ? 0 : m_tree->columnWidth(column);
    }
    const int room = m_tree->viewport()->width();
    const int what = m_tree->columnWidth(WhatColumn);
    if (needed > room)
        m_tree->setColumnWidth(WhatColumn, qMax(room / 4, what - (needed - room)));
}

bool SafetyCopiesView::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_tree->viewport() && event->type() == QEvent::Resize)
        fitColumns();
    return QWidget::eventFilter(watched, event);
}

std::optional<SafetyCopies::Entry> SafetyCopiesView::selectedEntry() const
{
    const QList<QTreeWidgetItem *> items = m_tree->selectedItems();
    if (items.isEmpty())
        return std::nullopt;
    const int index = items.first()->data(0, kEntryRole).toInt();
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
