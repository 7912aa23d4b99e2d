// CardSongsView: the card's song slots with their context menu.
#include "views/cardsongsview.h"

#include <QAction>
#include <QItemSelectionModel>

namespace ZovaZode {

CardSongsView::CardSongsView(QWidget *parent)
    : QListView(parent), m_editNameAction(new QAction(tr("Edit Name..."), this)),
      m_detailsAction(new QAction(tr("Details..."), this)),
      m_copyToLibraryAction(new QAction(tr("Copy to Library"), this)),
      m_overwriteAction(new QAction(tr("Overwrite with Selected Library Song"), this)),
      m_clearAction(new QAction(tr("Clear"), this)),
      m_clearAllAction(new QAction(tr("Clear All Songs"), this))
{
    addActions({m_editNameAction, m_detailsAction, m_copyToLibraryAction, m_overwriteAction, m_clearAction,
                m_clearAllAction});
    setContextMenuPolicy(Qt::ActionsContextMenu);
    // The keys the Card menu shows for these; they belong to the list, not the whole window.
    m_editNameAction->setShortcut(QKeySequence(Qt::Key_F2));
    m_clearAction->setShortcut(QKeySequence(Qt::Key_Delete));
    for (QAction *action : {m_editNameAction, m_clearAction})
        action->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    connect(m_editNameAction, &QAction::triggered, this, &CardSongsView::editName);
    updateActions();
}

void CardSongsView::setModel(QAbstractItemModel *model)
{
    QListView::setModel(model);
    if (QItemSelectionModel *selection = selectionModel()) {
        connect(selection, &QItemSelectionModel::selectionChanged, this, &CardSongsView::updateActions);
        connect(selection, &QItemSelectionModel::currentChanged, this, &CardSongsView::updateActions);
    }
    updateActions();
}

void CardSongsView::editName()
{
    const QModelIndex current = currentIndex();
    if (current.isValid())
        edit(current);
}

void CardSongsView::startDrag(Qt::DropActions supportedActions)
{
    emit songDragStarted();
    QListView::startDrag(supportedActions);
}

void CardSongsView::updateActions()
{
    const QItemSelectionModel *selection = selectionModel();
    const bool selected = selection && selection->hasSelection();
    m_detailsAction->setEnabled(selected);
    m_copyToLibraryAction->setEnabled(selected);
}

} // namespace ZovaZode
