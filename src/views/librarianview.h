// The window's central widget and the controller of the whole program: it owns the open card,
// the card's song list, the two library folders, every view of the window, the detail dialogs
// and the transfer machinery. Every user command, from a menu, a context menu, a key, a button
// or a drop, ends in one of its operations; long ones go to the transfer worker as requests.
#pragma once

#include "transfer/songtransfer.h"

#include <QList>
#include <QModelIndex>
#include <QPixmap>
#include <QString>
#include <QWidget>

#include <array>
#include <functional>
#include <map>
#include <memory>

class QAction;
class QLabel;
class QTabWidget;

namespace ZovaZode {

class ArchiveDetailView;
class ArchiveView;
class CardSongsView;
class LibraryView;
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

    // The selected card slot, or -1.
    int selectedCardSong() const;

    // Whether a transfer has been submitted and not yet finished.
    bool hasTransfers() const { return !m_transfers.empty(); }
    // Asks every submitted transfer to stop and drops the commands waiting for a safety copy;
    // transfersDone() follows once the worker has let go of them all.
    void cancelTransfers();

signals:
    void transfersDone();

private slots:
    void showCurrentCardSongDetails();
    void showCardSongDetails(const QModelIndex &index);
    void showCurrentArchiveDetails();
    void showArchiveDetails(const QModelIndex &index);
    void showCurrentLibrarySongDetails();
    void showLibrarySongDetails(const QModelIndex &index);
    void onSongModified();
    void onArchiveModified();

private:
    // The outcome of checking a proposed archive or song name against a library folder.
    struct NameCheck
    {
        bool passed = false;
        QString message;
        QString targetPath;
    };

    void createActions();
    QWidget *createIndicatorColumn();
    void createVerifyActions();

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
    void deleteSelectedArchiveItem();
    void deleteSelectedLibraryItem();
    void deleteLibraryItem(const QModelIndex &index, SortedLibraryModel *model);
    void updateActions();
    void updateTransferIndicators();
    void onTransferFinished(SongTransfer::Request *request);
    void onTransferFailed(SongTransfer::Request *request);
    void forgetTransfer(SongTransfer::Request *request);

    static NameCheck validateArchiveName(const QString &name, const QString &folder);
    static NameCheck validateSongName(const QString &name, const QString &folder);
    // Asks for another name while the check fails; false when the user gave up. On success
    // `name` holds the accepted name and `targetPath` the file it makes.
    bool promptForName(const QString &title, const QString &folder,
                       NameCheck (*validate)(const QString &, const QString &), QString *name,
                       QString *targetPath);
    void flushCard();
    void readCardSongRow(int row);
    std::shared_ptr<SongTransfer::Request> submit(const SongTransfer::Endpoint &source,
                                                  const SongTransfer::Endpoint &destination);
    // Runs `operation` once a safety copy of what it overwrites is in the card library's "Safety
    // Copies" folder: of the whole card when `slot` is WholeCard, else of that card song. With
    // safety copies turned off it runs at once; when the copy fails it never runs.
    void protect(int slot, const QString &what, std::function<void()> operation);
    void onSafetyCopyDone(SongTransfer::Request *request, bool succeeded);
    void refuseForSafetyCopy(const QString &errorText);
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
    SongTransferWorkerThread *m_workerThread = nullptr;
    TransferDialog *m_transferDialog = nullptr;
    LibraryView *m_libraryView = nullptr;
    ArchiveView *m_archiveView = nullptr;
    QTabWidget *m_tabs = nullptr;
    std::array<QAction *, ActionCount> m_actions{};
    QList<QAction *> m_cardActionList;
    QList<QAction *> m_libraryActionList;
    QPixmap m_activeArrows;
    QPixmap m_inactiveArrows;
    QLabel *m_cardLibraryArrowLabel = nullptr;
    QLabel *m_songLibraryArrowLabel = nullptr;
    TransferIndicator *m_cardLibraryIndicator = nullptr;
    TransferIndicator *m_songLibraryIndicator = nullptr;
    QAction *m_verifyCardAction = nullptr;
    QAction *m_verifyArchiveAction = nullptr;
    QAction *m_verifyLibrarySongAction = nullptr;
    VerifyDialog *m_verifyDialog = nullptr;
    // The operations waiting for their safety copy, by the copy's request.
    struct PendingOperation
    {
        std::shared_ptr<SongTransfer::Request> copy;
        std::function<void()> operation;
    };
    std::map<const SongTransfer::Request *, PendingOperation> m_pendingOperations;
    // Every request submitted and not yet finished or failed.
    std::map<const SongTransfer::Request *, std::shared_ptr<SongTransfer::Request>> m_transfers;
};

} // namespace ZovaZode
