// TransferController: the worker and its dialogs, the transfer commands, the safety-copy glue,
// every transfer's outcome, and Undo.
#include "views/transfercontroller.h"

#include "domain/defaultnames.h"
#include "domain/namecheck.h"
#include "domain/notifier.h"
#include "domain/sdcard.h"
#include "domain/settings.h"
#include "models/songlistmodel.h"
#include "transfer/songtransferworkerthread.h"
#include "views/actionregistry.h"
#include "views/cardsession.h"
#include "views/prompter.h"
#include "views/transferarrows.h"
#include "views/transferdialog.h"
#include "views/verifydialog.h"

#include <QAction>
#include <QDebug>
#include <QFileInfo>
#include <QLabel>
#include <QWidget>

namespace ZovaZode {

namespace {

using Endpoint = SongTransfer::Endpoint;
using Outcome = CardSession::Outcome;

const char kNotWritable[] = "Card is not open and writable.";

} // namespace

TransferController::TransferController(CardSession *session, Settings &settings, ActionRegistry *actions,
                                       QWidget *window)
    : QObject(window), m_session(session), m_settings(settings), m_card(session->card()),
      // Made before the SongTransfer, and so destroyed before it.
      m_workerThread(new SongTransferWorkerThread(this))
{
    m_workerThread->start();
    m_transfer = new SongTransfer(m_workerThread->worker(), this);
    // The dialog hears the outcome first: it ends the transfer and lets input reach other windows
    // again before the follow-up below may show a message box. It is not modal to Qt: its own
    // filter keeps input away from the window, and under a modal dialog Qt would drop the
    // window's close button, where the close question must still come.
    m_transferDialog = new TransferDialog(m_transfer, window);
    m_commands = new CardCommands(m_transfer, this);
    connect(m_commands, &CardCommands::warned, this,
            [this](SongTransfer::Request *request) { showWarnings(*request); });
    connect(m_commands, &CardCommands::finished, this, &TransferController::onFinished);
    connect(m_commands, &CardCommands::failed, this, &TransferController::onFailed);
    connect(m_commands, &CardCommands::safetyCopyRefused, this, &TransferController::refuseForSafetyCopy);
    connect(m_commands, &CardCommands::safetyCopyMade, this, &TransferController::safetyCopyMade);
    connect(m_commands, &CardCommands::transfersDone, this, &TransferController::transfersDone);
    m_verifyDialog = new VerifyDialog(m_workerThread->worker(), window);
    connect(m_verifyDialog, &VerifyDialog::checked, this, [this] {
        m_session->report(Outcome::Done, tr("%1: %2").arg(QFileInfo(m_verifyDialog->path()).fileName(),
                                                          m_verifyDialog->summaryLabel()->text()));
    });
    m_arrows = new TransferArrows(window);

    m_undo = actions->add(QStringLiteral("Undo"), new QAction(tr("&Undo"), this));
    m_undo->setShortcut(QKeySequence::Undo);
    connect(m_undo, &QAction::triggered, this, &TransferController::undoLastCommand);
    // An operation's records were read as it ended, and a card opened or read again is read by the
    // Edit menu as it opens.
    connect(m_commands, &CardCommands::undoChanged, this, &TransferController::updateUndoWithoutReading);
    connect(m_card.get(), &SdCard::openStateChanged, this, &TransferController::updateUndoWithoutReading);
    m_session->setBusy([this] { return hasTransfers(); });
    updateUndoWithoutReading();
}

TransferController::~TransferController()
{
    stopWorker();
}

void TransferController::stopWorker()
{
    delete m_workerThread;
    m_workerThread = nullptr;
}

QWidget *TransferController::window() const
{
    return static_cast<QWidget *>(parent());
}

bool TransferController::promptForName(const QString &title, const QString &folder, FileKind kind,
                                       QString *name, QString *targetPath)
{
    NewFileName check = checkNewFileName(kind, *name, folder);
    while (!check.passed) {
        QString answer = *name;
        if (!Prompter::current()->text(window(), title, check.message, &answer) || answer.isEmpty())
            return false;
        *name = answer;
        check = checkNewFileName(kind, *name, folder);
    }
    *targetPath = check.targetPath;
    return true;
}

void TransferController::archiveCard(const QString &dir)
{
    if (!m_card->isOpen()) {
        qDebug() << "No card open.";
        return;
    }
    m_card->reloadIfChanged();
    const QString cardName = m_card->name();
    QString proposal = cardName.isEmpty() ? defaultCardName() : cardName;
    QString target;
    if (!promptForName(tr("Archive Card"), dir, FileKind::CardArchive, &proposal, &target)) {
        m_session->report(Outcome::Cancelled);
        return;
    }
    submitToLibrary(Endpoint::WholeCard, target, proposal != cardName ? proposal : QString());
}

void TransferController::archiveSong(const QString &dir, int slot)
{
    if (!m_card->isOpen() || slot < 0) {
        qDebug() << "Can not archive song: no card open, or no song selected.";
        return;
    }
    if (slot >= m_session->songs()->rowCount()) {
        qCritical() << "Can not archive song: invalid index:" << slot;
        return;
    }
    m_card->reloadIfChanged();
    const QString songName = m_session->songs()->songName(slot);
    QString proposal = songName.isEmpty() ? defaultSongName(slot) : songName;
    QString target;
    if (!promptForName(tr("Copy Song To Library"), dir, FileKind::SongFile, &proposal, &target)) {
        m_session->report(Outcome::Cancelled);
        return;
    }
    submitToLibrary(slot, target, proposal != songName ? proposal : QString());
}

// Copies the card, or its slot `slot`, to the new library file `target`, which stores the name
// `storedName` when it is not empty.
void TransferController::submitToLibrary(int slot, const QString &target, const QString &storedName)
{
    m_session->flushCard();
    qDebug() << "Librarian: About to archive to:" << target;
    emit libraryFileStarted(slot == Endpoint::WholeCard ? FileKind::CardArchive : FileKind::SongFile, target);
    m_commands->submit(Endpoint::card(m_card->path(), slot),
                       Endpoint::archive(target, Endpoint::WholeCard, storedName));
}

void TransferController::archiveSongs(const QString &dir, const QList<int> &songs)
{
    if (songs.isEmpty()) {
        qCritical() << "Can not archive songs: song list empty.";
        return;
    }
    if (songs.size() > 1)
        qWarning() << "Only archiving the first song in the list.";
    archiveSong(dir, songs.first());
}

void TransferController::restoreCard(const QString &path)
{
    if (!m_card->isWritable() || path.isEmpty()) {
        qDebug() << kNotWritable << "Or no archive selected.";
        return;
    }
    m_card->reloadIfChanged();
    const CardCommands::Target target =
        safetyTarget(Endpoint::WholeCard, SafetyCopies::Occasion::Restore, tr("Restore Card"));
    if (Notifier::ask(window(), Notifier::Icon::Warning, tr("Restore Morv+ Card"),
                      tr("Are you sure you want to overwrite the entire card with the contents of the "
                         "archive?") +
                          undoLine(target),
                      Notifier::Cancel | Notifier::Ok) != Notifier::Ok) {
        m_session->report(Outcome::Cancelled);
        return;
    }
    const QString cardPath = m_card->path();
    checkThen(Endpoint::archive(path), Endpoint::card(cardPath), [this, target, path, cardPath] {
        protect(target, [this, path, cardPath] {
            if (!m_card->isWritable() || m_card->path() != cardPath)
                return;
            m_session->flushCard();
            m_commands->submit(Endpoint::archive(path), Endpoint::card(cardPath), writeOptions());
        });
    });
}

void TransferController::copySongToCard(int slot, const QString &file)
{
    if (!m_card->isWritable() || file.isEmpty()) {
        qDebug() << kNotWritable << "Or no song file selected.";
        return;
    }
    // A drop below the last row names no slot.
    if (slot < 0 || slot >= SdCard::songCount()) {
        qCritical() << "Can not copy song to card: invalid slot:" << slot;
        return;
    }
    m_card->reloadIfChanged();
    const bool overwrites = !m_session->songs()->isEmptySong(slot);
    const CardCommands::Target target =
        safetyTarget(slot, SafetyCopies::Occasion::CopyOntoSlot, tr("Copy Song onto Slot %1").arg(slot + 1));
    if (overwrites &&
        Notifier::ask(window(), Notifier::Icon::Warning, tr("Copy Song"),
                      tr("You are about to overwrite song %1 on the card, \"%2\", with \"%3\". "
                         "Are you sure?")
                              .arg(slot + 1)
                              .arg(m_session->songs()->songName(slot), QFileInfo(file).completeBaseName()) +
                          undoLine(target),
                      Notifier::Cancel | Notifier::Ok) != Notifier::Ok) {
        m_session->report(Outcome::Cancelled);
        return;
    }
    const QString cardPath = m_card->path();
    auto copy = [this, slot, file, cardPath] {
        if (!m_card->isWritable() || m_card->path() != cardPath)
            return;
        m_session->flushCard();
        m_commands->submit(Endpoint::archive(file, 0), Endpoint::card(cardPath, slot), writeOptions());
    };
    // An empty slot holds nothing worth a copy.
    checkThen(Endpoint::archive(file, 0), Endpoint::card(cardPath, slot), [this, overwrites, target, copy] {
        if (overwrites)
            protect(target, copy);
        else
            copy();
    });
}

void TransferController::checkThen(const Endpoint &archive, const Endpoint &destination,
                                   std::function<void()> next)
{
    m_afterCheck[m_commands->checkArchive(archive, destination).get()] = std::move(next);
}

CardCommands::Options TransferController::writeOptions() const
{
    CardCommands::Options options;
    options.writeAll = m_settings.writesEveryByte();
    return options;
}

void TransferController::verify(const QString &path)
{
    if (path.isEmpty()) {
        qDebug() << "Librarian: Nothing to verify.";
        return;
    }
    m_verifyDialog->verify(path);
}

CardCommands::SafetyPolicy TransferController::safetyPolicy() const
{
    CardCommands::SafetyPolicy policy;
    policy.enabled = m_settings.safetyCopiesEnabled();
    policy.library = m_settings.cardLibraryLocation();
    Settings *settings = &m_settings;
    policy.limit = [settings] { return settings->safetyCopyLimit(); };
    return policy;
}

CardCommands::Target TransferController::safetyTarget(int slot, SafetyCopies::Occasion occasion,
                                                      const QString &what) const
{
    CardCommands::Target target;
    target.cardPath = m_card->path();
    target.cardName = m_card->name();
    target.slot = slot;
    if (slot != Endpoint::WholeCard)
        target.songName = m_session->songs()->songName(slot);
    target.occasion = SafetyCopies::occasionText(occasion);
    target.what = what;
    target.beforeCopy = [this](CardCommands::Target &copied) {
        m_session->flushCard();
        copied.cardName = m_card->name();
        if (copied.slot != Endpoint::WholeCard)
            copied.songName = m_session->songs()->songName(copied.slot);
    };
    const CardCommands::SafetyPolicy policy = safetyPolicy();
    if (policy.enabled)
        target.copyPath = CardCommands::copyPathFor(policy, target);
    return target;
}

QString TransferController::undoLine(const CardCommands::Target &target) const
{
    if (target.copyPath.isEmpty())
        return tr("\n\nWARNING: This operation can not be undone.");
    return tr("\n\nEdit > Undo can put things back: a safety copy is made first, \"%1\" in the Safety "
              "Copies folder.")
        .arg(QFileInfo(target.copyPath).completeBaseName());
}

void TransferController::protect(const CardCommands::Target &target, std::function<void()> operation,
                                 bool copy)
{
    CardCommands::SafetyPolicy policy = safetyPolicy();
    policy.enabled = policy.enabled && copy;
    m_commands->protect(policy, target, std::move(operation));
}

// ---- Outcomes -------------------------------------------------------------------------------

void TransferController::refuseForSafetyCopy(CardCommands::Refusal refusal, const QString &detail)
{
    QString reason = detail;
    if (refusal == CardCommands::Refusal::Unchecked)
        reason = tr("The safety copy was cancelled while it was checked; it is kept, unchecked, in the "
                    "Safety Copies folder.");
    else if (refusal == CardCommands::Refusal::Cancelled)
        reason = tr("The safety copy was cancelled.");
    qCritical() << "Librarian: Could not make a safety copy:" << reason;
    const QString text = tr("Could not make a safety copy of the card, so nothing was changed.\n\n") + reason;
    Notifier::tell(window(), Notifier::Icon::Critical, tr("Safety Copy"), text);
    m_session->report(refusal == CardCommands::Refusal::Failed || refusal == CardCommands::Refusal::NoFolder
                          ? Outcome::Failed
                          : Outcome::Cancelled,
                      text);
}

void TransferController::showWarnings(const SongTransfer::Request &request)
{
    if (request.warnings.isEmpty())
        return;
    qWarning() << "Librarian: Transfer warnings:" << request.warnings;
    Notifier::tell(window(), Notifier::Icon::Warning, tr("Copied With Warnings"),
                   tr("The copy is complete, but note the following:\n\n") +
                       request.warnings.join(QLatin1Char('\n')));
}

void TransferController::onFinished(SongTransfer::Request *request)
{
    const Endpoint &source = request->source;
    const Endpoint &destination = request->destination;
    if (request->kind == SongTransfer::Request::Kind::CheckArchive) {
        // The archive is sound: now its safety copy, then the restore.
        const std::function<void()> next = m_afterCheck.take(request);
        if (next)
            next();
    } else if (request == m_undoing) {
        m_undoing = nullptr;
        if (destination.song == Endpoint::WholeCard)
            m_card->refresh();
        else
            m_session->songs()->readEntry(destination.song);
        m_session->report(Outcome::Done, tr("Undid \"%1\".").arg(m_undone.what));
        m_session->updateSummary();
    } else if (source.kind == Endpoint::ArchiveFile && destination.kind == Endpoint::Card) {
        if (destination.song == Endpoint::WholeCard)
            m_card->refresh();
        else
            m_session->songs()->readEntry(destination.song);
        m_session->report(Outcome::Done, SongTransfer::outcomeText(
                                             *request, QStringLiteral("\"%1\"").arg(
                                                           QFileInfo(source.path).completeBaseName())));
        m_session->updateSummary();
    } else if (source.kind == Endpoint::Card && destination.kind == Endpoint::ArchiveFile) {
        emit libraryFileEnded(source.song == Endpoint::WholeCard ? FileKind::CardArchive : FileKind::SongFile,
                              destination.path, true);
        const QString file = QFileInfo(destination.path).completeBaseName();
        m_session->report(Outcome::Done,
                          source.song == Endpoint::WholeCard
                              ? tr("Archived the card to \"%1\".").arg(file)
                              : tr("Copied song %1 to \"%2\".").arg(source.song + 1).arg(file));
    }
}

void TransferController::onFailed(SongTransfer::Request *request)
{
    if (!request)
        return;
    if (request->kind == SongTransfer::Request::Kind::CheckArchive && request->archiveChanged &&
        !request->cancelled.load()) {
        askForChangedArchive(*request);
        return;
    }
    m_afterCheck.remove(request);
    const bool undoing = request == m_undoing;
    if (undoing)
        m_undoing = nullptr;
    if (request->cancelled.load()) {
        const QString text = cancelledText(*request, undoing);
        m_session->report(Outcome::Cancelled, text);
        // The progress window says what the card holds now, not only that it was cancelled.
        if (!text.isEmpty())
            m_transferDialog->statusLabel()->setText(text);
    } else if (undoing) {
        m_session->report(Outcome::Failed,
                          tr("Could not undo \"%1\": %2").arg(m_undone.what, request->errorText));
    } else {
        m_session->report(Outcome::Failed, tr("Failed: %1").arg(request->errorText));
    }
    // The worker removed its half-written file, so nothing stale can appear under the name.
    if (request->source.kind == Endpoint::Card && request->destination.kind == Endpoint::ArchiveFile)
        emit libraryFileEnded(request->source.song == Endpoint::WholeCard ? FileKind::CardArchive
                                                                          : FileKind::SongFile,
                              request->destination.path, false);
}

// The archive reads, but not as it was made; nothing was copied or written yet, and the user may
// still want it.
void TransferController::askForChangedArchive(const SongTransfer::Request &request)
{
    const std::function<void()> next = m_afterCheck.take(&request);
    const bool wholeCard = request.destination.song == Endpoint::WholeCard;
    if (Notifier::ask(window(), Notifier::Icon::Warning, wholeCard ? tr("Restore Morv+ Card") : tr("Copy Song"),
                      request.errorText + (wholeCard ? tr("\n\nRestore it all the same?")
                                                     : tr("\n\nCopy it all the same?")),
                      Notifier::Cancel | Notifier::Ok) != Notifier::Ok) {
        m_session->report(Outcome::Cancelled);
        return;
    }
    if (next)
        next();
}

// What a cancelled transfer left on the card, and how to mend it; empty (only "Cancelled.") for
// one that does not write the card.
QString TransferController::cancelledText(const SongTransfer::Request &request, bool undoing) const
{
    const Endpoint &destination = request.destination;
    if (destination.kind != Endpoint::Card)
        return QString();
    if (!request.wroteCard)
        return tr("Cancelled before anything was written to the card.");
    if (undoing)
        return tr("Cancelled. The card is partly put back; restore the safety copy \"%1\" from the Safety "
                  "Copies page to finish.")
            .arg(QFileInfo(m_undone.copyPath).completeBaseName());
    // A protected command that stopped half-way is undone by its safety copy like one that ended;
    // its records were read under its lock as it stopped, a moment ago.
    const bool undoable =
        m_commands->undoBlock(destination.path, nullptr, CardCommands::UndoCheck::WithoutReading) ==
        CardCommands::UndoBlock::None;
    if (destination.song == Endpoint::WholeCard)
        return undoable
                   ? tr("Cancelled. The card is partly restored; Edit > Undo puts it back as it was.")
                   : tr("Cancelled. The card is partly restored; restore it again to get a complete card.");
    return (undoable
                ? tr("Cancelled. Song %1 on the card is partly copied; Edit > Undo puts it back as it was.")
                : tr("Cancelled. Song %1 on the card is partly copied; copy it again, or clear it."))
        .arg(destination.song + 1);
}

// ---- Undo -----------------------------------------------------------------------------------

// Why Undo cannot run, for its tool tip and its refusal.
QString TransferController::undoBlockText(CardCommands::UndoBlock block, const QString &detail) const
{
    switch (block) {
    case CardCommands::UndoBlock::None:
        break;
    case CardCommands::UndoBlock::NothingDone:
        return !m_card->isWritable() ? tr("No card is open for changes.")
               : !m_settings.safetyCopiesEnabled()
                   ? tr("Safety copies are turned off in the settings, so there is no copy to undo with.")
                   : tr("Nothing has been changed on this card in this session.");
    case CardCommands::UndoBlock::OtherCard:
        return tr("The last change was made to another card.");
    case CardCommands::UndoBlock::CardChanged:
        return tr("The card has changed since (%1), so its safety copy would undo more than the last change.")
            .arg(detail);
    case CardCommands::UndoBlock::CopyMissing:
        return tr("The safety copy is no longer in the Safety Copies folder.");
    case CardCommands::UndoBlock::CardBusy:
        return detail;
    }
    return QString();
}

void TransferController::checkUndo(CardCommands::UndoCheck check)
{
    const CardCommands::Undo &last = m_commands->lastUndo();
    // The card's records are read only when an undo could run: not while a transfer writes it.
    QString detail;
    const CardCommands::UndoBlock block = m_card->isWritable() && !hasTransfers()
                                              ? m_commands->undoBlock(m_card->path(), &detail, check)
                                              : CardCommands::UndoBlock::NothingDone;
    const bool can = block == CardCommands::UndoBlock::None && !hasTransfers();
    m_undo->setEnabled(can);
    m_undo->setText(can ? tr("&Undo \"%1\"").arg(last.what) : tr("&Undo"));
    m_undo->setToolTip(can ? tr("Put back the safety copy made before \"%1\".").arg(last.what)
                           : undoBlockText(block, detail));
}

void TransferController::undoLastCommand()
{
    // Its shortcut comes without the menu, after a selection change that did not read the card.
    updateUndo();
    if (!m_undo->isEnabled()) {
        Notifier::tell(window(), Notifier::Icon::Warning, tr("Undo"), m_undo->toolTip());
        m_session->report(Outcome::Failed, m_undo->toolTip());
        return;
    }
    const CardCommands::Undo last = m_commands->lastUndo();
    if (Notifier::ask(window(), Notifier::Icon::Warning, tr("Undo"),
                      tr("Undo \"%1\"?\n\nThe card gets back what the safety copy \"%2\" holds.")
                          .arg(last.what, QFileInfo(last.copyPath).completeBaseName()),
                      Notifier::Cancel | Notifier::Ok) != Notifier::Ok) {
        m_session->report(Outcome::Cancelled);
        return;
    }
    m_session->flushCard();
    // Judged again under the card's lock, which the undo keeps until the copy is back: the card
    // may have changed while the question was open.
    CardCommands::UndoBlock block = CardCommands::UndoBlock::None;
    QString detail;
    if (const auto request = m_commands->undo(m_card->path(), &block, &detail)) {
        m_undoing = request.get();
        m_undone = last;
        m_session->report(Outcome::Done, tr("Undoing \"%1\"...").arg(last.what));
        return;
    }
    const QString why = undoBlockText(block, detail);
    Notifier::tell(window(), Notifier::Icon::Warning, tr("Undo"), why);
    m_session->report(Outcome::Failed, why);
    updateUndo();
}

} // namespace ZovaZode
