// LibrarianView: the transfer commands (archive the card or a song to a library, restore the card
// or copy a song onto it), each confirmed and, where it overwrites card data, protected by a
// safety copy, and what follows the outcome of each transfer.
#include "views/librarianview.h"

#include "domain/configurationmanager.h"
#include "domain/defaultnames.h"
#include "domain/namecheck.h"
#include "domain/notifier.h"
#include "domain/sdcard.h"
#include "models/librarydatamodel.h"
#include "models/songlistmodel.h"
#include "models/sortedlibrarymodel.h"
#include "views/archiveview.h"
#include "views/libraryview.h"
#include "views/prompter.h"

#include <QDebug>
#include <QFileInfo>

namespace ZovaZode {

namespace {

const char kNotWritable[] = "Card is not open and writable.";

CardCommands::SafetyPolicy safetyPolicy(const QString &library)
{
    const ConfigurationManager *configuration = ConfigurationManager::instance();
    CardCommands::SafetyPolicy policy;
    policy.enabled = !configuration || configuration->safetyCopiesEnabled();
    policy.library = library;
    policy.limit = [] {
        const ConfigurationManager *configuration = ConfigurationManager::instance();
        return configuration ? configuration->safetyCopyLimit() : SafetyCopies::DefaultLimit;
    };
    return policy;
}

} // namespace

bool LibrarianView::promptForName(const QString &title, const QString &folder, FileKind kind, QString *name,
                                  QString *targetPath)
{
    NewFileName check = checkNewFileName(kind, *name, folder);
    while (!check.passed) {
        QString answer = *name;
        if (!Prompter::current()->text(this, title, check.message, &answer) || answer.isEmpty())
            return false;
        *name = answer;
        check = checkNewFileName(kind, *name, folder);
    }
    *targetPath = check.targetPath;
    return true;
}

void LibrarianView::archiveCardToLibrary()
{
    archiveCard(m_cardLibraryModel->rootPath());
}

void LibrarianView::archiveCard(const QString &dir)
{
    if (!m_card->isOpen()) {
        qDebug() << "No card open.";
        return;
    }
    m_card->reloadIfChanged();
    const QString cardName = m_card->name();
    QString proposal = cardName.isEmpty() ? defaultCardName() : cardName;
    QString target;
    if (!promptForName(tr("Archive Card"), dir, FileKind::CardArchive, &proposal, &target))
        return;
    flushCard();
    qDebug() << "Librarian: About to archive card to:" << target;
    m_cardLibraryModel->setPathHidden(target, true);
    m_commands->submit(SongTransfer::Endpoint::card(m_card->path()),
                       SongTransfer::Endpoint::archive(target, SongTransfer::Endpoint::WholeCard,
                                                       proposal != cardName ? proposal : QString()));
}

void LibrarianView::copySelectedCardSongToLibrary()
{
    if (!m_card->isOpen()) {
        qDebug() << "Can not archive selected song: No card open.";
        return;
    }
    const int slot = selectedCardSong();
    if (slot < 0) {
        qDebug() << "No song selected.";
        return;
    }
    archiveSong(m_songLibraryModel->rootPath(), slot);
}

void LibrarianView::archiveSong(const QString &dir, int index)
{
    if (!m_card->isOpen()) {
        qDebug() << "Can not archive song: No card open.";
        return;
    }
    if (index < 0 || index >= m_songListModel->rowCount()) {
        qCritical() << "Can not archive song: invalid index:" << index;
        return;
    }
    m_card->reloadIfChanged();
    const QString songName = m_songListModel->songName(index);
    QString proposal = songName.isEmpty() ? defaultSongName(index) : songName;
    QString target;
    if (!promptForName(tr("Copy Song To Library"), dir, FileKind::SongFile, &proposal, &target))
        return;
    flushCard();
    qDebug() << "Librarian: About to archive song to:" << target;
    m_songLibraryModel->setPathHidden(target, true);
    m_commands->submit(SongTransfer::Endpoint::card(m_card->path(), index),
                       SongTransfer::Endpoint::archive(target, SongTransfer::Endpoint::WholeCard,
                                                       proposal != songName ? proposal : QString()));
}

void LibrarianView::archiveSongs(const QString &dir, const QList<int> &songs)
{
    if (!m_card->isOpen()) {
        qDebug() << "Can not archive songs: no card open.";
        return;
    }
    if (songs.isEmpty()) {
        qCritical() << "Can not archive songs: song list empty.";
        return;
    }
    if (songs.size() > 1)
        qWarning() << "Only archiving the first song in the list.";
    archiveSong(dir, songs.first());
}

void LibrarianView::restoreCardFromSelectedArchive()
{
    const QString path = m_archiveView->selectedArchivePath();
    if (path.isEmpty()) {
        qDebug() << "No archive file selected.";
        return;
    }
    restoreCard(path);
}

void LibrarianView::restoreCard(const QString &path)
{
    if (!m_card->isWritable()) {
        qDebug() << kNotWritable;
        return;
    }
    m_card->reloadIfChanged();
    const CardCommands::Target target =
        safetyTarget(SongTransfer::Endpoint::WholeCard, SafetyCopies::Occasion::Restore, tr("Restore Card"));
    if (Notifier::ask(this, Notifier::Icon::Warning, tr("Restore Morv+ Card"),
                      tr("Are you sure you want to overwrite the entire card with the contents of the "
                         "archive?\n\nWARNING: "
                         "This operation can not be undone.") +
                          safetyCopyLine(target),
                      Notifier::Cancel | Notifier::Ok) != Notifier::Ok)
        return;
    const QString cardPath = m_card->path();
    protect(target, [this, path, cardPath] {
        if (!m_card->isWritable() || m_card->path() != cardPath)
            return;
        flushCard();
        m_commands->submit(SongTransfer::Endpoint::archive(path), SongTransfer::Endpoint::card(cardPath));
    });
}

void LibrarianView::overwriteSelectedCardSong()
{
    const QString file = m_libraryView->selectedSongPath();
    if (file.isEmpty()) {
        qDebug() << "No song selected in library.";
        return;
    }
    const int slot = selectedCardSong();
    if (slot < 0) {
        qDebug() << "No song selected on card.";
        return;
    }
    copySongToCard(slot, file);
}

void LibrarianView::copySongToCard(int index, const QString &file)
{
    if (!m_card->isWritable()) {
        qDebug() << kNotWritable;
        return;
    }
    // A drop below the last row names no slot.
    if (index < 0 || index >= SdCard::songCount()) {
        qCritical() << "Can not copy song to card: invalid slot:" << index;
        return;
    }
    m_card->reloadIfChanged();
    const bool overwrites = !m_songListModel->isEmptySong(index);
    const CardCommands::Target target = safetyTarget(index, SafetyCopies::Occasion::CopyOntoSlot,
                                                     tr("Copy Song onto Slot %1").arg(index + 1));
    if (overwrites && Notifier::ask(this, Notifier::Icon::Warning, tr("Copy Song"),
                                    tr("You are about to overwrite a non-empty song on card. Are you sure?") +
                                        safetyCopyLine(target),
                                    Notifier::Cancel | Notifier::Ok) != Notifier::Ok)
        return;
    const QString cardPath = m_card->path();
    auto copy = [this, index, file, cardPath] {
        if (!m_card->isWritable() || m_card->path() != cardPath)
            return;
        flushCard();
        m_commands->submit(SongTransfer::Endpoint::archive(file, 0),
                           SongTransfer::Endpoint::card(cardPath, index));
    };
    // An empty slot holds nothing worth a copy.
    if (overwrites)
        protect(target, copy);
    else
        copy();
}

CardCommands::Target LibrarianView::safetyTarget(int slot, SafetyCopies::Occasion occasion,
                                                 const QString &what)
{
    CardCommands::Target target;
    target.cardPath = m_card->path();
    target.cardName = m_card->name();
    target.slot = slot;
    if (slot != SongTransfer::Endpoint::WholeCard)
        target.songName = m_songListModel->songName(slot);
    target.occasion = SafetyCopies::occasionText(occasion);
    target.what = what;
    target.beforeCopy = [this](CardCommands::Target &copied) {
        flushCard();
        copied.cardName = m_card->name();
        if (copied.slot != SongTransfer::Endpoint::WholeCard)
            copied.songName = m_songListModel->songName(copied.slot);
    };
    const CardCommands::SafetyPolicy policy = safetyPolicy(m_cardLibraryModel->rootPath());
    if (policy.enabled)
        target.copyPath = CardCommands::copyPathFor(policy, target);
    return target;
}

QString LibrarianView::safetyCopyLine(const CardCommands::Target &target) const
{
    if (target.copyPath.isEmpty())
        return QString();
    return tr("\n\nA safety copy is made first: \"%1\" in the Safety Copies folder.")
        .arg(QFileInfo(target.copyPath).completeBaseName());
}

void LibrarianView::protect(const CardCommands::Target &target, std::function<void()> operation)
{
    m_commands->protect(safetyPolicy(m_cardLibraryModel->rootPath()), target,
                        std::move(operation));
}

// ---- Outcomes -------------------------------------------------------------------------------

void LibrarianView::refuseForSafetyCopy(CardCommands::Refusal refusal, const QString &detail)
{
    QString reason = detail;
    if (refusal == CardCommands::Refusal::Unchecked)
        reason = tr("The safety copy was cancelled while it was checked; it is kept, unchecked, in the "
                    "Safety Copies folder.");
    else if (refusal == CardCommands::Refusal::Cancelled)
        reason = tr("The safety copy was cancelled.");
    qCritical() << "Librarian: Could not make a safety copy:" << reason;
    Notifier::tell(this, Notifier::Icon::Critical, tr("Safety Copy"),
                   tr("Could not make a safety copy of the card, so nothing was changed.\n\n") + reason);
}

void LibrarianView::showWarnings(const SongTransfer::Request &request)
{
    if (request.warnings.isEmpty())
        return;
    qWarning() << "Librarian: Transfer warnings:" << request.warnings;
    Notifier::tell(this, Notifier::Icon::Warning, tr("Copied With Warnings"),
                   tr("The copy is complete, but note the following:\n\n") +
                       request.warnings.join(QLatin1Char('\n')));
}

void LibrarianView::onTransferFinished(SongTransfer::Request *request)
{
    qDebug() << "Librarian: on transfer finished.";
    const SongTransfer::Endpoint &source = request->source;
    const SongTransfer::Endpoint &destination = request->destination;
    if (source.kind == SongTransfer::Endpoint::ArchiveFile &&
        destination.kind == SongTransfer::Endpoint::Card) {
        const QString file = QFileInfo(source.path).completeBaseName();
        if (destination.song == SongTransfer::Endpoint::WholeCard) {
            qDebug() << "Librarian: updating entire card.";
            m_card->refresh();
            emit statusMessage(tr("Restored the card from \"%1\".").arg(file));
        } else {
            qDebug() << "Librarian: updating song " << destination.song;
            readCardSongRow(destination.song);
            emit statusMessage(tr("Copied \"%1\" onto slot %2.").arg(file).arg(destination.song + 1));
        }
        updateSummary();
    } else if (source.kind == SongTransfer::Endpoint::Card &&
               destination.kind == SongTransfer::Endpoint::ArchiveFile) {
        revealArchivedItem(*request, true);
        emit statusMessage(tr("Saved \"%1\".").arg(QFileInfo(destination.path).completeBaseName()));
    }
}

void LibrarianView::onTransferFailed(SongTransfer::Request *request)
{
    if (request)
        emit statusMessage(request->cancelled.load() ? tr("Cancelled.") : tr("Failed: %1").arg(request->errorText));
    // The worker removed its half-written file, so nothing stale can appear under the name.
    if (request && request->source.kind == SongTransfer::Endpoint::Card &&
        request->destination.kind == SongTransfer::Endpoint::ArchiveFile)
        revealArchivedItem(*request, false);
}

void LibrarianView::revealArchivedItem(const SongTransfer::Request &request, bool reread)
{
    const QString &path = request.destination.path;
    const bool wholeCard = request.source.song == SongTransfer::Endpoint::WholeCard;
    SortedLibraryModel *model = wholeCard ? m_cardLibraryModel : m_songLibraryModel;
    if (reread) {
        qDebug() << (wholeCard ? "Librarian: updating card library item:"
                               : "Librarian: updating song library item:")
                 << path;
        // Looked up in the data model: the sorting model does not list the path while it is hidden.
        LibraryDataModel *library = model->libraryModel();
        const QModelIndex index = library->index(path);
        if (index.isValid())
            library->refreshItem(index);
        else
            qCritical() << (wholeCard ? "Librarian: Could not get index of card just archived."
                                      : "Librarian: Could not get index of song just archived.");
    }
    model->setPathHidden(path, false);
}

} // namespace ZovaZode
