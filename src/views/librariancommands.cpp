// LibrarianView: the card commands (open, close, clear a song or all, each clear protected by a
// safety copy), the detail dialogs and the Verify command.
#include "views/librarianview.h"

#include "domain/cardlock.h"
#include "domain/configurationmanager.h"
#include "domain/defaultnames.h"
#include "domain/mountwatcher.h"
#include "domain/notifier.h"
#include "domain/sdcard.h"
#include "domain/song.h"
#include "models/songlistmodel.h"
#include "models/sortedlibrarymodel.h"
#include "views/archivedetailview.h"
#include "views/archiveview.h"
#include "views/libraryview.h"
#include "views/prompter.h"
#include "views/songdetailview.h"
#include "views/verifydialog.h"
#include "views/widgetutils.h"

#include <QDebug>
#include <QDir>

namespace ZovaZode {

namespace {

const char kNotWritable[] = "Card is not open and writable.";

// A card in use by another program has a message of its own: it names that program.
QString failureText(const SdCard::Error &error, const QString &generic)
{
    return dynamic_cast<const SdCard::Busy *>(&error) ? QString::fromUtf8(error.what()) : generic;
}

// Why none of `songs` can be cleared, or empty when one can: a clear the card's own records
// would refuse is refused before its safety copy is made.
QString unclearable(const SdCard &card, const QList<int> &songs)
{
    QString why;
    for (int song : songs) {
        try {
            card.checkClearable(song);
            return QString();
        } catch (const SdCard::Error &error) {
            qCritical() << "Card: Song" << song << "cannot be cleared:" << error.what();
            why = QString::fromUtf8(error.what());
        }
    }
    return why;
}

} // namespace

void LibrarianView::openCard()
{
    ConfigurationManager *configuration = ConfigurationManager::instance();
    // A card in the reader is the one the user is most likely after.
    QString start = m_mountWatcher->cardFiles().value(0);
    if (start.isEmpty())
        start = m_card->path();
    if (start.isEmpty() && configuration)
        start = configuration->sdCardLocation();
    if (start.isEmpty())
        start = QDir::rootPath();

    Prompter::FileRequest request;
    request.title = tr("Open Morv+ Card Data");
    request.startPath = start;
    request.nameFilter = tr("Morv+ Card Data (ZOVAZODE.DAT)");
    const QString path = Prompter::current()->openFile(this, request);
    if (!path.isEmpty())
        openCardFile(path);
}

bool LibrarianView::openCardFile(const QString &path)
{
    try {
        if (!m_card->open(path, 1)) {
            if (!m_card->open(path, 0)) {
                Notifier::tell(this, Notifier::Icon::Critical, tr("Open Morv+ Card"),
                               tr("Failed to open the card."));
                return false;
            }
            Notifier::tell(
                this, Notifier::Icon::Warning, tr("Open Morv+ Card"),
                tr("The SD card appears to be write protected.\n\nModifications to the card have been "
                   "disabled."));
        } else if (!CardLock::canLock(path)) {
            // Two programs writing one card at once would mix their songs; only the user knows
            // whether another one could.
            const bool allowed =
                Notifier::ask(this, Notifier::Icon::Warning, tr("Open Morv+ Card"),
                              tr("The card cannot be locked where it is stored, so another program could "
                                 "change it at the same time as this one.\n\nAllow changes to the card "
                                 "without the lock?"),
                              Notifier::Yes | Notifier::No) == Notifier::Yes;
            CardLock::setWritingWithoutLock(allowed);
            if (!allowed && !m_card->open(path, 0)) {
                Notifier::tell(this, Notifier::Icon::Critical, tr("Open Morv+ Card"),
                               tr("Failed to open the card."));
                return false;
            }
        }
    } catch (const SdCard::Error &error) {
        // Opening writes the header of a card that was open before; the new card is not open then.
        qCritical() << "Librarian: Could not open card:" << error.what();
        Notifier::tell(this, Notifier::Icon::Critical, tr("Open Morv+ Card"), tr("Failed to open the card."));
        return false;
    }

    ConfigurationManager *configuration = ConfigurationManager::instance();
    if (configuration) {
        configuration->setSdCardLocation(path);
        configuration->addRecentCard(path);
    }
    updateRecentCards();

    for (int song = 0; song < SdCard::songCount(); ++song) {
        try {
            SongInfo info = m_card->songInfo(song);
            if (info.name.isEmpty()) {
                qDebug() << "Writing default name to card song: " << song;
                info.name = defaultSongName(song);
                m_card->setSongInfo(song, info);
            }
        } catch (const SdCard::Error &error) {
            qCritical() << "Error ensuring song" << song << "on card has a name:" << error.what();
        }
    }
    if (m_card->name().isEmpty()) {
        qDebug() << "Writing default card name";
        m_card->setName(defaultCardName());
    }
    m_songListModel->reload();
    updateSummary();
    return true;
}

void LibrarianView::closeCard()
{
    try {
        m_card->close();
    } catch (const SdCard::Error &error) {
        qCritical() << "Librarian: Could not write card header while closing:" << error.what();
        if (dynamic_cast<const SdCard::Busy *>(&error))
            Notifier::tell(this, Notifier::Icon::Warning, tr("Close Card"), QString::fromUtf8(error.what()));
    }
}

void LibrarianView::clearSelectedCardSong()
{
    if (!m_card->isWritable()) {
        qDebug() << kNotWritable;
        return;
    }
    const int slot = selectedCardSong();
    if (slot < 0) {
        qDebug() << "No song selected.";
        return;
    }
    m_card->reloadIfChanged();
    const QString title = tr("Clear Song on Card");
    const QString refused = unclearable(*m_card, {slot});
    if (!refused.isEmpty()) {
        Notifier::tell(this, Notifier::Icon::Critical, title,
                       tr("Failed to clear song on card.") + QStringLiteral("\n\n") + refused);
        return;
    }
    // An empty slot holds nothing worth a copy, and a copy would push a useful one out.
    const bool empty = m_songListModel->isEmptySong(slot);
    const CardCommands::Target target =
        safetyTarget(slot, SafetyCopies::Occasion::ClearSong, tr("Clear Song %1").arg(slot + 1));
    if (Notifier::ask(
            this, Notifier::Icon::Warning, title,
            tr("Are you sure you want to clear song #%1 on card?\n\nWARNING: This operation can not be "
               "undone.")
                    .arg(slot + 1) +
                (empty ? QString() : safetyCopyLine(target)),
            Notifier::Yes | Notifier::No) != Notifier::Yes)
        return;
    const QString cardPath = m_card->path();
    auto clear = [this, slot, title, cardPath] {
        if (!m_card->isWritable() || m_card->path() != cardPath)
            return;
        try {
            m_card->clearSong(slot, defaultSongName(slot));
        } catch (const SdCard::Error &error) {
            qCritical() << "Card: Failed to clear song" << slot << ":" << error.what();
            Notifier::tell(this, Notifier::Icon::Critical, title,
                           failureText(error, tr("Failed to clear song on card.")));
        }
        readCardSongRow(slot);
        updateSummary();
        emit statusMessage(tr("Cleared song %1.").arg(slot + 1));
    };
    if (empty)
        clear();
    else
        protect(target, clear);
}

void LibrarianView::clearAllCardSongs()
{
    if (!m_card->isWritable()) {
        qDebug() << kNotWritable;
        return;
    }
    m_card->reloadIfChanged();
    bool empty = true;
    QList<int> songs;
    for (int song = 0; song < SdCard::songCount(); ++song) {
        empty = empty && m_songListModel->isEmptySong(song);
        songs << song;
    }
    const QString refused = unclearable(*m_card, songs);
    if (!refused.isEmpty()) {
        Notifier::tell(this, Notifier::Icon::Critical, QString(),
                       tr("Failed to clear the songs on card.") + QStringLiteral("\n\n") + refused);
        return;
    }
    const CardCommands::Target target = safetyTarget(SongTransfer::Endpoint::WholeCard,
                                                     SafetyCopies::Occasion::ClearAll, tr("Clear All Card Songs"));
    if (Notifier::ask(
            this, Notifier::Icon::Warning, QString(),
            tr("Are you sure you want to clear all songs on card?\n\nWARNING: This operation can not be "
               "undone.") +
                (empty ? QString() : safetyCopyLine(target)),
            Notifier::Cancel | Notifier::Ok) != Notifier::Ok)
        return;
    const QString cardPath = m_card->path();
    auto clearAll = [this, cardPath] {
        if (!m_card->isWritable() || m_card->path() != cardPath)
            return;
        QString failure;
        for (int song = 0; song < SdCard::songCount(); ++song) {
            try {
                m_card->clearSong(song, defaultSongName(song));
            } catch (const SdCard::Error &error) {
                qCritical() << "Card: Failed to clear song" << song << ":" << error.what();
                failure = failureText(error, tr("Failed to clear some of the songs on card."));
                // Another program has the card: the other songs would wait for it in turn.
                if (dynamic_cast<const SdCard::Busy *>(&error))
                    break;
            }
        }
        if (!failure.isEmpty())
            Notifier::tell(this, Notifier::Icon::Warning, QString(), failure);
        m_songListModel->reload();
        updateSummary();
        emit statusMessage(failure.isEmpty() ? tr("Cleared all songs.") : failure);
    };
    // One lock for all twelve songs, with or without a copy.
    if (empty) {
        CardCommands::SafetyPolicy noCopy;
        noCopy.enabled = false;
        m_commands->protect(noCopy, target, clearAll);
    } else {
        protect(target, clearAll);
    }
}

// ---- Details --------------------------------------------------------------------------------

void LibrarianView::showCurrentCardSongDetails()
{
    const int slot = selectedCardSong();
    if (slot >= 0)
        showCardSongDetails(m_songListModel->index(slot, 0));
}

void LibrarianView::showCardSongDetails(const QModelIndex &index)
{
    if (!m_card->isOpen() || !index.isValid())
        return;
    const int row = index.row();
    m_card->reloadIfChanged();
    m_songDetailView->song()->loadFromCard(m_card, row);
    m_songDetailView->setEditable(m_card->isWritable());
    WidgetUtils::showCentred(m_songDetailView);
}

void LibrarianView::showCurrentArchiveDetails()
{
    showArchiveDetails(m_archiveView->selectedIndex());
}

void LibrarianView::showArchiveDetails(const QModelIndex &index)
{
    if (!index.isValid() || !m_cardLibraryModel->isArchive(index))
        return;
    m_archiveDetailView->setPath(m_cardLibraryModel->filePath(index), m_cardLibraryModel->rootPath());
    WidgetUtils::showCentred(m_archiveDetailView);
}

void LibrarianView::showCurrentLibrarySongDetails()
{
    showLibrarySongDetails(m_libraryView->selectedIndex());
}

void LibrarianView::showLibrarySongDetails(const QModelIndex &index)
{
    if (!index.isValid() || !m_songLibraryModel->isSong(index))
        return;
    m_songDetailView->song()->loadFromArchive(m_songLibraryModel->filePath(index), 0, true,
                                              m_songLibraryModel->rootPath());
    m_songDetailView->setEditable(true);
    WidgetUtils::showCentred(m_songDetailView);
}

void LibrarianView::onSongModified()
{
    const Song *song = m_songDetailView->song();
    if (song->source() == SongSource::Card) {
        readCardSongRow(song->index());
    } else if (song->source() == SongSource::SongFile) {
        const QString path = song->filePath();
        m_songLibraryModel->refreshItem(m_songLibraryModel->index(path));
        m_libraryView->selectPath(path);
    }
}

void LibrarianView::onArchiveModified()
{
    const QString path = m_archiveDetailView->path();
    m_cardLibraryModel->refreshItem(m_cardLibraryModel->index(path));
    m_archiveView->selectPath(path);
}

void LibrarianView::verifyFile(const QString &path)
{
    if (path.isEmpty()) {
        qDebug() << "Librarian: Nothing to verify.";
        return;
    }
    m_verifyDialog->verify(path);
}

} // namespace ZovaZode
