// TransferController: the transfers between the card and the libraries, and the glue to
// CardCommands that every command changing the card goes through. It owns the worker thread, the
// SongTransfer and the CardCommands on it, the transfer and Verify dialogs and the arrows between
// the card and the libraries. It runs the four transfer commands (archive the card or a song into
// a library, restore the card from an archive, copy a song onto a slot), each asked first and,
// where it overwrites card data, protected by a safety copy; it words every outcome for the
// session's status bar and in boxes; and it keeps Edit > Undo.
#pragma once

#include "domain/filekinds.h"
#include "domain/safetycopies.h"
#include "transfer/cardcommands.h"

#include <QHash>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class QAction;
class QWidget;

namespace ZovaZode {

class ActionRegistry;
class CardSession;
class Settings;
class SongTransferWorkerThread;
class TransferArrows;
class TransferDialog;
class VerifyDialog;

class TransferController : public QObject
{
    Q_OBJECT

public:
    // Registers Undo in `actions`; the dialogs and boxes open over `window`.
    TransferController(CardSession *session, Settings &settings, ActionRegistry *actions, QWidget *window);
    ~TransferController() override;

    SongTransfer *songTransfer() const { return m_transfer; }
    TransferDialog *transferDialog() const { return m_transferDialog; }
    TransferArrows *arrows() const { return m_arrows; }

    // The transfer commands: the card, or its slot `slot`, into the library folder `dir`; the
    // archive `path` onto the card; the song file `file` onto slot `slot`.
    void archiveCard(const QString &dir);
    void archiveSong(const QString &dir, int slot);
    // A drop of card songs on a library folder: the first of them.
    void archiveSongs(const QString &dir, const QList<int> &songs);
    void restoreCard(const QString &path);
    void copySongToCard(int slot, const QString &file);
    // Checks a card, archive or song file on the worker and shows what it found.
    void verify(const QString &path);

    // What a safety copy before `occasion` holds: the whole card when `slot` is WholeCard, else
    // that slot; `what` names the command for Undo.
    CardCommands::Target safetyTarget(int slot, SafetyCopies::Occasion occasion, const QString &what) const;
    // The last line of a question before a command that overwrites card data: when a safety copy
    // of `target` will be made, that Edit > Undo can put things back; else that it cannot.
    QString undoLine(const CardCommands::Target &target) const;
    // Runs `operation` under the card's lock once a safety copy of `target` is in the Safety
    // Copies folder (at once when the settings, or `copy`, make none).
    void protect(const CardCommands::Target &target, std::function<void()> operation, bool copy = true);

    // Whether a transfer has been submitted and not yet finished.
    bool hasTransfers() const { return m_commands->hasTransfers(); }
    // Asks every submitted transfer to stop and drops the commands waiting for a safety copy;
    // transfersDone() follows once the worker has let go of them all.
    void cancelTransfers() { m_commands->cancelTransfers(); }
    // Brings Undo's text, state and tool tip up to date, reading the card's records for what
    // changed on disk since: for the Edit menu as it opens, where the user reads them.
    void updateUndo() { checkUndo(CardCommands::UndoCheck::ReadingCard); }
    // The same from what is known without reading the card, for every selection change.
    void updateUndoWithoutReading() { checkUndo(CardCommands::UndoCheck::WithoutReading); }
    // Stops the worker; nothing it reports to may go before.
    void stopWorker();

signals:
    void transfersDone();
    // A library file is written under `path`: hidden from its library until it is complete, then
    // shown (read again when `written`).
    void libraryFileStarted(ZovaZode::FileKind kind, const QString &path);
    void libraryFileEnded(ZovaZode::FileKind kind, const QString &path, bool written);
    void safetyCopyMade();

private:
    CardCommands::SafetyPolicy safetyPolicy() const;
    bool promptForName(const QString &title, const QString &folder, FileKind kind, QString *name,
                       QString *targetPath);
    void submitToLibrary(int slot, const QString &target, const QString &storedName);
    // Checks the archive a restore or a song copy reads (CardCommands::checkArchive) and runs `next`
    // once it is sound; one that changed since it was made asks first, a damaged one is refused.
    void checkThen(const SongTransfer::Endpoint &archive, const SongTransfer::Endpoint &destination,
                   std::function<void()> next);
    // How a restore or a song copy writes the card, as the settings say.
    CardCommands::Options writeOptions() const;
    void checkUndo(CardCommands::UndoCheck check);
    void undoLastCommand();
    QString undoBlockText(CardCommands::UndoBlock block, const QString &detail) const;
    void refuseForSafetyCopy(CardCommands::Refusal refusal, const QString &detail);
    void showWarnings(const SongTransfer::Request &request);
    void onFinished(SongTransfer::Request *request);
    void onFailed(SongTransfer::Request *request);
    void askForChangedArchive(const SongTransfer::Request &request);
    QString cancelledText(const SongTransfer::Request &request, bool undoing) const;
    QWidget *window() const;

    CardSession *m_session;
    Settings &m_settings;
    std::shared_ptr<SdCard> m_card;
    SongTransferWorkerThread *m_workerThread;
    SongTransfer *m_transfer;
    TransferDialog *m_transferDialog;
    CardCommands *m_commands;
    VerifyDialog *m_verifyDialog;
    TransferArrows *m_arrows;
    QAction *m_undo;
    // What follows each archive check still running: the safety copy and the restore.
    QHash<const SongTransfer::Request *, std::function<void()>> m_afterCheck;
    // The request that puts a safety copy back, while it runs, and what it undoes.
    const SongTransfer::Request *m_undoing = nullptr;
    CardCommands::Undo m_undone;
};

} // namespace ZovaZode
