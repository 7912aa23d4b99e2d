// LibrarianView: the layout of the window's pieces and the wiring between them.
//
// Every message box goes through Notifier and every question for a file or a name through
// Prompter, so that the whole window can run headless in tests.
#include "views/librarianview.h"

#include "domain/sdcard.h"
#include "views/actionregistry.h"
#include "views/cardpanel.h"
#include "views/cardsession.h"
#include "views/cardsongsview.h"
#include "views/librarypages.h"
#include "views/safetycopiesview.h"
#include "views/sdcardheaderview.h"
#include "views/transferarrows.h"
#include "views/transfercontroller.h"
#include "views/transferindicator.h"

#include <QAction>
#include <QHBoxLayout>

namespace ZovaZode {

LibrarianView::LibrarianView(Settings &settings, QWidget *parent)
    : QWidget(parent), m_actions(new ActionRegistry(this)),
      m_session(new CardSession(settings, m_actions, this)),
      m_transfers(new TransferController(m_session, settings, m_actions, this)),
      m_cardPanel(new CardPanel(m_session, m_transfers, m_actions, this)),
      m_libraryPages(new LibraryPages(settings, m_actions, this))
{
    auto *layout = new QHBoxLayout(this);
    layout->setSpacing(10);
    layout->addWidget(m_cardPanel, 1);
    layout->addWidget(m_transfers->arrows());
    layout->addWidget(m_libraryPages, 1);
    wireRequests();
    wireEnabling();
}

LibrarianView::~LibrarianView()
{
    // The worker stops before anything it reports to goes away.
    m_transfers->stopWorker();
}

// The commands that move songs between the card and the libraries: from the menus, the context
// menus and drops, to the transfer controller, with the selection they name.
void LibrarianView::wireRequests()
{
    TransferController *transfers = m_transfers;
    LibraryPages *pages = m_libraryPages;
    CardPanel *card = m_cardPanel;
    const auto on = [this](const char *id, auto slot) {
        connect(m_actions->action(QString::fromLatin1(id)), &QAction::triggered, this, slot);
    };
    on("ArchiveCard", [=] { transfers->archiveCard(pages->folder(FileKind::CardArchive)); });
    on("CopyCardSongToLibrary",
       [=] { transfers->archiveSong(pages->folder(FileKind::SongFile), card->selectedSong()); });
    on("RestoreCard", [=] { transfers->restoreCard(pages->selectedFile(FileKind::CardArchive)); });
    on("OverwriteCardSong",
       [=] { transfers->copySongToCard(card->selectedSong(), pages->selectedFile(FileKind::SongFile)); });
    connect(pages, &LibraryPages::cardArchiveRequest, transfers, &TransferController::archiveCard);
    connect(pages, &LibraryPages::songArchiveRequest, transfers, &TransferController::archiveSongs);
    connect(pages, &LibraryPages::cardRestoreRequest, transfers, &TransferController::restoreCard);
    connect(pages, &LibraryPages::songRestoreRequest, transfers, &TransferController::copySongToCard);
    connect(pages, &LibraryPages::songCopyRequest, this,
            [=](const QString &file) { transfers->copySongToCard(card->selectedSong(), file); });
    connect(pages, &LibraryPages::verifyRequest, transfers, &TransferController::verify);
    connect(pages, &LibraryPages::outcome, m_session, &CardSession::report);
    connect(transfers, &TransferController::libraryFileStarted, pages, &LibraryPages::hideFile);
    connect(transfers, &TransferController::libraryFileEnded, pages, &LibraryPages::revealFile);
    connect(transfers, &TransferController::safetyCopyMade, pages->safetyCopies(), &SafetyCopiesView::reload);

    // Pressing the card or an arrow brings the library it goes to to the front.
    const auto show = [pages](FileKind kind) { return [pages, kind] { pages->showPage(kind); }; };
    connect(card->header(), &SdCardHeaderView::pressed, pages, show(FileKind::CardArchive));
    connect(transfers->arrows()->cardLibraryIndicator(), &TransferIndicator::pressed, pages,
            show(FileKind::CardArchive));
    connect(card->songsView(), &CardSongsView::pressed, pages, show(FileKind::SongFile));
    connect(transfers->arrows()->songLibraryIndicator(), &TransferIndicator::pressed, pages,
            show(FileKind::SongFile));
}

void LibrarianView::wireEnabling()
{
    const std::shared_ptr<SdCard> &card = m_session->card();
    connect(card.get(), &SdCard::openStateChanged, this, &LibrarianView::updateActions);
    connect(m_cardPanel, &CardPanel::selectionChanged, this, &LibrarianView::updateActions);
    connect(m_libraryPages, &LibraryPages::selectionChanged, this, &LibrarianView::updateActions);
    connect(m_libraryPages, &QTabWidget::currentChanged, this, &LibrarianView::updateActions);
    updateActions();
}

WindowState LibrarianView::state() const
{
    WindowState state;
    state.cardOpen = m_session->card()->isOpen();
    state.cardWritable = m_session->card()->isWritable();
    state.songSelected = m_cardPanel->selectedSong() >= 0;
    m_libraryPages->describe(&state);
    return state;
}

void LibrarianView::updateActions()
{
    const WindowState now = state();
    m_actions->update(now);
    m_libraryPages->setCardWritable(now.cardWritable);
    m_transfers->arrows()->setState(now.cardOpen, now.cardLibraryPage, now.songLibraryPage);
    // At every click: the card's records are read when the Edit menu opens, not here.
    m_transfers->updateUndoWithoutReading();
}

} // namespace ZovaZode
