// LibrarianView: the command set of the Card and Library menus and the Verify commands, and
// which of them the state of the card, its selection and the library pages allow.
#include "views/librarianview.h"

#include "domain/sdcard.h"
#include "models/songlistmodel.h"
#include "transfer/songtransferworkerthread.h"
#include "views/archiveview.h"
#include "views/cardsongsview.h"
#include "views/libraryview.h"
#include "views/safetycopiesview.h"
#include "views/sdcardheaderview.h"
#include "views/verifydialog.h"

#include <QAction>
#include <QItemSelectionModel>
#include <QMenu>
#include <QTreeView>

#include <utility>

namespace ZovaZode {

void LibrarianView::createActions()
{
    struct Entry
    {
        ActionId id;
        const char *text;
    };
    static const Entry entries[ActionCount] = {
        {OpenCardAction, QT_TR_NOOP("&Open Card...")},
        {CloseCardAction, QT_TR_NOOP("&Close Card")},
        {EditCardNameAction, QT_TR_NOOP("Edit Card &Name...")},
        {ShowCardDetailsAction, QT_TR_NOOP("Show Card &Details...")},
        {EditCardSongNameAction, QT_TR_NOOP("&Edit Selected Card Song Name...")},
        {ShowCardSongDetailsAction, QT_TR_NOOP("&Show Selected Card Song Details...")},
        {ClearCardSongAction, QT_TR_NOOP("Clea&r Selected Card Song")},
        {ClearAllCardSongsAction, QT_TR_NOOP("Clear &All Card Songs")},
        {ArchiveCardAction, QT_TR_NOOP("&Archive Card To Library")},
        {RestoreCardAction, QT_TR_NOOP("&Restore Card From Selected Archive")},
        {EditArchiveNameAction, QT_TR_NOOP("&Edit Selected Archive Name...")},
        {ShowArchiveDetailsAction, QT_TR_NOOP("&Show Selected Archive Details...")},
        {DeleteArchiveItemAction, QT_TR_NOOP("&Delete Selected Archive Item")},
        {CopyCardSongToLibraryAction, QT_TR_NOOP("&Copy Selected Card Song To Library")},
        {OverwriteCardSongAction, QT_TR_NOOP("&Overwrite Selected Card Song with Selected Library Song")},
        {EditLibraryItemNameAction, QT_TR_NOOP("Edit Selected &Library Item Name...")},
        {ShowLibrarySongDetailsAction, QT_TR_NOOP("Show Selected Library Song De&tails...")},
        {DeleteLibraryItemAction, QT_TR_NOOP("Delete Selected Library &Item")},
    };
    for (const Entry &entry : entries)
        m_actions[entry.id] = new QAction(tr(entry.text), this);

    // F2 and Delete act on the selection of the page that has the focus, whose list takes them
    // itself; in the menus they only show the key. Ctrl+O and Ctrl+W work anywhere in the window.
    // clang-format off
    const std::pair<ActionId, int> keys[] = {
        {OpenCardAction,            Qt::CTRL | Qt::Key_O},
        {CloseCardAction,           Qt::CTRL | Qt::Key_W},
        {EditCardSongNameAction,    Qt::Key_F2},
        {ClearCardSongAction,       Qt::Key_Delete},
        {EditArchiveNameAction,     Qt::Key_F2},
        {DeleteArchiveItemAction,   Qt::Key_Delete},
        {EditLibraryItemNameAction, Qt::Key_F2},
        {DeleteLibraryItemAction,   Qt::Key_Delete},
    };
    // clang-format on
    for (const auto &[id, key] : keys) {
        m_actions[id]->setShortcut(QKeySequence(key));
        if (!(key & Qt::CTRL))
            m_actions[id]->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    }

    auto on = [this](ActionId id, auto target) { connect(m_actions[id], &QAction::triggered, this, target); };
    on(OpenCardAction, &LibrarianView::openCard);
    on(CloseCardAction, &LibrarianView::closeCard);
    connect(m_actions[EditCardNameAction], &QAction::triggered, m_headerView, &SdCardHeaderView::editName);
    connect(m_actions[ShowCardDetailsAction], &QAction::triggered, m_headerView,
            &SdCardHeaderView::showCardDetails);
    connect(m_actions[EditCardSongNameAction], &QAction::triggered, m_cardSongsView,
            &CardSongsView::editName);
    on(ShowCardSongDetailsAction, &LibrarianView::showCurrentCardSongDetails);
    on(ClearCardSongAction, &LibrarianView::clearSelectedCardSong);
    on(ClearAllCardSongsAction, &LibrarianView::clearAllCardSongs);
    on(ArchiveCardAction, &LibrarianView::archiveCardToLibrary);
    on(RestoreCardAction, &LibrarianView::restoreCardFromSelectedArchive);
    connect(m_actions[EditArchiveNameAction], &QAction::triggered, m_archiveView, &ArchiveView::editName);
    on(ShowArchiveDetailsAction, &LibrarianView::showCurrentArchiveDetails);
    connect(m_actions[DeleteArchiveItemAction], &QAction::triggered, m_archiveView,
            &ArchiveView::deleteSelectedItem);
    on(CopyCardSongToLibraryAction, &LibrarianView::copySelectedCardSongToLibrary);
    on(OverwriteCardSongAction, &LibrarianView::overwriteSelectedCardSong);
    connect(m_actions[EditLibraryItemNameAction], &QAction::triggered, m_libraryView, &LibraryView::editName);
    on(ShowLibrarySongDetailsAction, &LibrarianView::showCurrentLibrarySongDetails);
    connect(m_actions[DeleteLibraryItemAction], &QAction::triggered, m_libraryView,
            &LibraryView::deleteSelectedItem);

    auto separator = [this] {
        auto *action = new QAction(this);
        action->setSeparator(true);
        return action;
    };
    m_cardActionList = {m_actions[0], m_actions[1], m_actions[2], m_actions[3], separator(),
                        m_actions[4], m_actions[5], m_actions[6], m_actions[7]};
    m_libraryActionList = {m_actions[8],  m_actions[9],  m_actions[10], m_actions[11],
                           m_actions[12], separator(),   m_actions[13], m_actions[14],
                           m_actions[15], m_actions[16], m_actions[17]};
}

void LibrarianView::createVerifyActions()
{
    m_verifyDialog = new VerifyDialog(m_workerThread->worker(), this);
    m_verifyCardAction = new QAction(tr("&Verify Card..."), this);
    m_verifyArchiveAction = new QAction(tr("Verify..."), this);
    m_verifyLibrarySongAction = new QAction(tr("Verify..."), this);
    connect(m_verifyCardAction, &QAction::triggered, this, [this] {
        // The check reads the file, so the header shown must be the one on the card.
        m_card->reloadIfChanged();
        flushCard();
        verifyFile(m_card->path());
    });
    connect(m_verifyArchiveAction, &QAction::triggered, this,
            [this] { verifyFile(m_archiveView->selectedArchivePath()); });
    connect(m_verifyLibrarySongAction, &QAction::triggered, this,
            [this] { verifyFile(m_libraryView->selectedSongPath()); });
    m_archiveView->contextMenu()->insertAction(m_archiveView->deleteAction(), m_verifyArchiveAction);
    m_libraryView->contextMenu()->insertAction(m_libraryView->deleteAction(), m_verifyLibrarySongAction);
}

QList<QAction *> LibrarianView::cardActions() const
{
    return m_cardActionList;
}

QList<QAction *> LibrarianView::libraryActions() const
{
    return m_libraryActionList;
}

void LibrarianView::updateActions()
{
    const bool O = m_card->isOpen();
    const bool W = m_card->isWritable();
    const bool S = selectedCardSong() >= 0;
    const bool A = isCardLibraryPage();
    // The song library page; the safety copies page is neither.
    const bool L = m_tabs->currentWidget() == m_libraryView;
    const bool AS = m_archiveView->treeView()->selectionModel()->hasSelection();
    const bool AP = !m_archiveView->selectedArchivePath().isEmpty();
    const bool LS = m_libraryView->treeView()->selectionModel()->hasSelection();
    const bool LP = !m_libraryView->selectedSongPath().isEmpty();

    const std::array<bool, ActionCount> enabled = {
        true,               // open card
        O,                  // close card
        W,                  // edit card name
        O,                  // show card details
        W && S,             // edit selected card song name
        S,                  // show selected card song details
        W && S,             // clear selected card song
        W,                  // clear all card songs
        A && O,             // archive card to library
        W && A && AP,       // restore card from selected archive
        A && AS,            // edit selected archive name
        A && AS,            // show selected archive details
        A && AS,            // delete selected archive item
        L && S,             // copy selected card song to library
        W && L && S && LP,  // overwrite selected card song with selected library song
        L && LS,            // edit selected library item name
        L && LS,            // show selected library song details
        L && LS,            // delete selected library item
    };
    for (int id = 0; id < ActionCount; ++id)
        m_actions[id]->setEnabled(enabled[id]);

    m_archiveView->transferAction()->setEnabled(enabled[RestoreCardAction]);
    m_verifyCardAction->setEnabled(O);
    m_verifyArchiveAction->setEnabled(AP);
    m_verifyLibrarySongAction->setEnabled(LP);
    m_libraryView->transferAction()->setEnabled(enabled[OverwriteCardSongAction]);
    m_cardSongsView->overwriteAction()->setEnabled(enabled[OverwriteCardSongAction]);
    m_cardSongsView->clearAllAction()->setEnabled(W);
    m_cardSongsView->clearAction()->setEnabled(W && S);
    m_cardSongsView->editNameAction()->setEnabled(W && S);
    // The context menus open only on an item, so a selection is all their Delete needs.
    m_archiveView->deleteAction()->setEnabled(AS);
    m_libraryView->deleteAction()->setEnabled(LS);
    const bool copySelected = m_safetyCopiesView->selectedEntry().has_value();
    m_safetyCopiesView->restoreAction()->setEnabled(W && copySelected);
    m_safetyCopiesView->restoreAction()->setToolTip(
        W || !copySelected ? QString() : tr("Open a card for changes to restore a copy onto it."));
    updateUndo();
}

} // namespace ZovaZode
