// The window's central widget: the open card, the card's song list, the two library folders,
// every view of the window, the detail dialogs and the command set that ties them together.
// Every user command, from a menu, a context menu, a key, a button or a drop, ends in one of its
// operations; what a command copies, what it protects with a safety copy first and what follows
// its outcome is the business of CardCommands, which the view drives.
//
// The class is split over four files: librarianview.cpp (construction and wiring),
// librarianactions.cpp (the command set and its enabling), librariancommands.cpp (the card
// commands, details and Verify), librariantransfers.cpp (the transfer commands and what
// follows their outcome) and librariansession.cpp (Undo, recent cards, cards that appear on a
// mounted volume, the status bar's summary).
#pragma once

#include "domain/filekinds.h"
#include "domain/safetycopies.h"
#include "transfer/cardcommands.h"

#include <QList>
#include <QModelIndex>
#include <QPixmap>
#include <QString>
#include <QWidget>

#include <array>
#include <functional>
#include <memory>

class QAction;
class QLabel;
class QMenu;
class QTabWidget;

namespace ZovaZode {

class ArchiveDetailView;
class ArchiveView;
class CardSongsView;
class LibraryView;
class MountWatcher;
class SafetyCopiesView;
class SdCard;
class SdCardHeaderView;
class SongDetailView;
class SongListModel;
class SongTransferWorkerThread;
class SortedLibraryModel;
class TransferDialog;
class TransferIndicator;
class VerifyDialog;

class LibrarianView : public QWidget
{
    Q_OBJECT

public:
    // The command set, in the order of the Card and Library menus.
    enum ActionId {
        OpenCardAction,
        CloseCardAction,
        EditCardNameAction,
        ShowCardDetailsAction,
        EditCardSongNameAction,
        ShowCardSongDetailsAction,
        ClearCardSongAction,
        ClearAllCardSongsAction,
        ArchiveCardAction,
        RestoreCardAction,
        EditArchiveNameAction,
        ShowArchiveDetailsAction,
        DeleteArchiveItemAction,
        CopyCardSongToLibraryAction,
        OverwriteCardSongAction,
        EditLibraryItemNameAction,
        ShowLibrarySongDetailsAction,
        DeleteLibraryItemAction,
        ActionCount
    };

    explicit LibrarianView(QWidget *parent = nullptr);
    ~LibrarianView() override;

    // Actions 0 to 3, a separator, 4 to 7: the window's Card menu.
    QList<QAction *> cardActions() const;
    // Actions 8 to 12, a separator, 13 to 17: the window's Library menu.
    QList<QAction *> libraryActions() const;

    // The parts of the view, for the window (screenshots) and the tests that drive it.
    QAction *action(ActionId id) const { return m_actions[id]; }
    const std::shared_ptr<SdCard> &card() const { return m_card; }
    QLabel *instructionsLabel() const { return m_instructionsLabel; }
    SongListModel *songListModel() const { return m_songListModel; }
    SortedLibraryModel *cardLibraryModel() const { return m_cardLibraryModel; }
    SortedLibraryModel *songLibraryModel() const { return m_songLibraryModel; }
    SdCardHeaderView *headerView() const { return m_headerView; }
    CardSongsView *cardSongsView() const { return m_cardSongsView; }
    SongDetailView *songDetailView() const { return m_songDetailView; }
    ArchiveDetailView *archiveDetailView() const { return m_archiveDetailView; }
    SongTransfer *songTransfer() const { return m_transfer; }
    TransferDialog *transferDialog() const { return m_transferDialog; }
    LibraryView *libraryView() const { return m_libraryView; }
    ArchiveView *archiveView() const { return m_archiveView; }
    QTabWidget *tabs() const { return m_tabs; }
    TransferIndicator *cardLibraryIndicator() const { return m_cardLibraryIndicator; }
    TransferIndicator *songLibraryIndicator() const { return m_songLibraryIndicator; }
    QLabel *cardLibraryArrowLabel() const { return m_cardLibraryArrowLabel; }
    QLabel *songLibraryArrowLabel() const { return m_songLibraryArrowLabel; }
    // "Verify Card..." for the Card menu, and the "Verify..." of the two library pages' menus.
    QAction *verifyCardAction() const { return m_verifyCardAction; }
    QAction *verifyArchiveAction() const { return m_verifyArchiveAction; }
    QAction *verifyLibrarySongAction() const { return m_verifyLibrarySongAction; }
    VerifyDialog *verifyDialog() const { return m_verifyDialog; }
    SafetyCopiesView *safetyCopiesView() const { return m_safetyCopiesView; }
    // Edit > Undo: the last protected command of this session, put back from its safety copy.
    QAction *undoAction() const { return m_undoAction; }
    // Card > Recent Cards.
    QMenu *recentCardsMenu() const { return m_recentCardsMenu; }
    // Opens the card that appeared while another was open; hidden when there is none.
    QAction *openOfferedCardAction() const { return m_openOfferedCardAction; }
    MountWatcher *mountWatcher() const { return m_mountWatcher; }
    // The open card's summary for the status bar; empty with no card open.
    QString cardSummary() const;
    // Opens the card data file at `path` (for writing when it can); false when it failed, after
    // telling the user.
    bool openCardFile(const QString &path);

    // The selected card slot, or -1.
    int selectedCardSong() const;

    // Whether a transfer has been submitted and not yet finished.
    bool hasTransfers() const { return m_commands->hasTransfers(); }
    // Asks every submitted transfer to stop and drops the commands waiting for a safety copy;
    // transfersDone() follows once the worker has let go of them all.
    void cancelTransfers();

    // Brings the Undo command's text, state and tool tip up to date (the card may have changed
    // on disk since the last look).
    void updateUndo();

signals:
    void transfersDone();
    // A message for the status bar: what happened last.
    void statusMessage(const QString &text);
    // The open card's summary changed.
    void cardSummaryChanged(const QString &summary);

private slots:
    void showCurrentCardSongDetails();
    void showCardSongDetails(const QModelIndex &index);
    void showCurrentArchiveDetails();
    void showArchiveDetails(const QModelIndex &index);
    void showCurrentLibrarySongDetails();
    void showLibrarySongDetails(const QModelIndex &index);
    void onSongModified();
    void onArchiveModified();

protected:
    // A new palette (a theme switched while the program runs) redraws the transfer arrows.
    void changeEvent(QEvent *event) override;

private:
    void createActions();
    QWidget *createIndicatorColumn();
    void createVerifyActions();
    void createSessionActions();
    void updateRecentCards();
    void onCardAppeared(const QString &cardFile);
    void undoLastCommand();
    void updateSummary();

    void openCard();
    void closeCard();
    void clearSelectedCardSong();
    void clearAllCardSongs();

    void archiveCardToLibrary();
    void archiveCard(const QString &dir);
    void copySelectedCardSongToLibrary();
    void archiveSong(const QString &dir, int index);
    void archiveSongs(const QString &dir, const QList<int> &songs);
    void restoreCardFromSelectedArchive();
    void restoreCard(const QString &path);
    void overwriteSelectedCardSong();
    void copySongToCard(int index, const QString &file);
    void verifyFile(const QString &path);
    void updateActions();
    void updateTransferIndicators();
    void onTransferFinished(SongTransfer::Request *request);
    void onTransferFailed(SongTransfer::Request *request);

    // Asks for another name while the name of a new file of `kind` in `folder` fails its check;
    // false when the user gave up. On success `name` holds the accepted name and `targetPath`
    // the file it makes.
    bool promptForName(const QString &title, const QString &folder, FileKind kind, QString *name,
                       QString *targetPath);
    void flushCard();
    void readCardSongRow(int row);
    // What a safety copy before `occasion` holds: the whole card when `slot` is WholeCard, else
    // that card song; `what` names the operation for Undo.
    CardCommands::Target safetyTarget(int slot, SafetyCopies::Occasion occasion, const QString &what);
    // The line a warning box adds when a safety copy of `target` will be made; empty when none.
    QString safetyCopyLine(const CardCommands::Target &target) const;
    // Runs `operation` once a safety copy of `target` is in the card library's "Safety Copies"
    // folder.
    void protect(const CardCommands::Target &target, std::function<void()> operation);
    void refuseForSafetyCopy(CardCommands::Refusal refusal, const QString &detail);
    // One warning box with what a finished request noted about the records it copied.
    void showWarnings(const SongTransfer::Request &request);
    // A finished or failed request that wrote a library file: read the item again and show it.
    void revealArchivedItem(const SongTransfer::Request &request, bool reread);
    bool isCardLibraryPage() const;

    std::shared_ptr<SdCard> m_card;
    QLabel *m_instructionsLabel = nullptr;
    SongListModel *m_songListModel = nullptr;
    SortedLibraryModel *m_cardLibraryModel = nullptr;
    SortedLibraryModel *m_songLibraryModel = nullptr;
    SdCardHeaderView *m_headerView = nullptr;
    CardSongsView *m_cardSongsView = nullptr;
    SongDetailView *m_songDetailView = nullptr;
    ArchiveDetailView *m_archiveDetailView = nullptr;
    SongTransfer *m_transfer = nullptr;
    CardCommands *m_commands = nullptr;
    SongTransferWorkerThread *m_workerThread = nullptr;
    TransferDialog *m_transferDialog = nullptr;
    LibraryView *m_libraryView = nullptr;
    ArchiveView *m_archiveView = nullptr;
    QTabWidget *m_tabs = nullptr;
    std::array<QAction *, ActionCount> m_actions{};
    QList<QAction *> m_cardActionList;
    QList<QAction *> m_libraryActionList;
    QLabel *m_cardLibraryArrowLabel = nullptr;
    QLabel *m_songLibraryArrowLabel = nullptr;
    TransferIndicator *m_cardLibraryIndicator = nullptr;
    TransferIndicator *m_songLibraryIndicator = nullptr;
    QAction *m_verifyCardAction = nullptr;
    QAction *m_verifyArchiveAction = nullptr;
    QAction *m_verifyLibrarySongAction = nullptr;
    VerifyDialog *m_verifyDialog = nullptr;
    SafetyCopiesView *m_safetyCopiesView = nullptr;
    QAction *m_undoAction = nullptr;
    QMenu *m_recentCardsMenu = nullptr;
    QAction *m_openOfferedCardAction = nullptr;
    QString m_offeredCard;
    MountWatcher *m_mountWatcher = nullptr;
};

} // namespace ZovaZode
