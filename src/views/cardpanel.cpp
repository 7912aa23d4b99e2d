// CardPanel: the card column, and the commands on the open card that move no song.
#include "views/cardpanel.h"

#include "domain/defaultnames.h"
#include "domain/notifier.h"
#include "domain/sdcard.h"
#include "domain/song.h"
#include "models/songlistmodel.h"
#include "views/actionregistry.h"
#include "views/cardinstructions.h"
#include "views/cardsession.h"
#include "views/cardsongsview.h"
#include "views/sdcardheaderview.h"
#include "views/sdcarditemdelegate.h"
#include "views/songdetailview.h"
#include "views/transfercontroller.h"
#include "views/widgetutils.h"

#include <QAction>
#include <QDebug>
#include <QItemSelectionModel>
#include <QScrollArea>
#include <QScrollBar>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace ZovaZode {

namespace {

using Outcome = CardSession::Outcome;

// A card in use by another program has a message of its own: it names that program.
QString failureText(const SdCard::Error &error, const QString &generic)
{
    const QString why = QString::fromUtf8(error.what());
    return dynamic_cast<const SdCard::Busy *>(&error) ? why : generic + QStringLiteral("\n\n") + why;
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

CardPanel::CardPanel(CardSession *session, TransferController *transfers, ActionRegistry *actions,
                     QWidget *parent)
    : QWidget(parent), m_session(session), m_transfers(transfers), m_card(session->card()),
      m_header(new SdCardHeaderView(m_card, this)), m_instructions(new CardInstructions(this)),
      m_songsView(new CardSongsView(this)), m_songDetails(new SongDetailView(this))
{
    setUpSongsView();
    buildLayout();
    connectSongs();
    connectHeader();
    registerActions(actions);
}

CardPanel::~CardPanel() = default;

void CardPanel::setUpSongsView()
{
    m_songsView->setModel(m_session->songs());
    m_songsView->setItemDelegate(new SdCardItemDelegate(m_songsView));
    m_songsView->setAccessibleName(tr("Card songs"));
    m_songsView->setEditTriggers(QAbstractItemView::SelectedClicked | QAbstractItemView::EditKeyPressed);
    m_songsView->setDragEnabled(true);
    m_songsView->setAcceptDrops(true);
    m_songsView->setDefaultDropAction(Qt::CopyAction);
    m_songsView->setDropIndicatorShown(false);
    m_songDetails->setModal(true);
    m_songDetails->resize(m_songDetails->sizeHint());
}

void CardPanel::buildLayout()
{
    // The songs and, while no card is open, the instructions in their place: they share its room,
    // so opening a card never makes the window grow by itself.
    auto *songsContainer = new QWidget(this);
    auto *songsLayout = new QVBoxLayout(songsContainer);
    songsLayout->setContentsMargins(0, 0, 0, 0);
    songsLayout->addWidget(m_songsView, 3);
    songsLayout->addStretch();
    // A font larger than ours scrolls the instructions rather than cut them off.
    auto *instructions = new QScrollArea(this);
    instructions->setFrameShape(QFrame::NoFrame);
    instructions->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    instructions->setWidgetResizable(true);
    instructions->setWidget(m_instructions);
    // As narrow as the text can wrap, never narrower: the column keeps its width when a card opens.
    instructions->setMinimumWidth(m_instructions->minimumSizeHint().width() +
                                  instructions->verticalScrollBar()->sizeHint().width());
    instructions->viewport()->setAutoFillBackground(false);
    m_instructions->setAutoFillBackground(false);
    auto *stack = new QStackedWidget(this);
    stack->addWidget(instructions);
    stack->addWidget(songsContainer);
    const auto follow = [this, stack, songsContainer, instructions](bool open) {
        stack->setCurrentWidget(open ? songsContainer : static_cast<QWidget *>(instructions));
        m_instructions->updateDemoButton();
    };
    follow(m_card->isOpen());
    connect(m_card.get(), &SdCard::openStateChanged, stack, follow);
    connect(m_instructions, &CardInstructions::demoCardRequest, m_session, &CardSession::openDemoCard);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_header);
    layout->addWidget(stack, 1);
}

void CardPanel::connectSongs()
{
    SongListModel *songs = m_session->songs();
    connect(m_songsView, &CardSongsView::activated, this, &CardPanel::showSongDetails);
    connect(m_songDetails->song(), &Song::saved, this, &CardPanel::onSongSaved);
    connect(songs, &SongListModel::songRestoreRequest, m_transfers, &TransferController::copySongToCard);
    connect(songs, &SongListModel::nameRefused, this,
            [this](const QString &text, const QModelIndex &index, const QString &name) {
                m_session->report(Outcome::Failed, text);
                WidgetUtils::refuseName(m_songsView, index, name, text);
            });
    connect(songs, &SongListModel::songSaved, this, [this](int row, const QString &error) {
        if (error.isEmpty())
            m_session->report(
                Outcome::Done,
                tr("Renamed song %1 to \"%2\".").arg(row + 1).arg(m_session->songs()->songName(row)));
        else
            m_session->report(Outcome::Failed, tr("Could not rename song %1: %2").arg(row + 1).arg(error));
    });
    connect(m_songsView->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &CardPanel::selectionChanged);
    // A reset drops the selection without telling the selection model's listeners.
    connect(songs, &QAbstractItemModel::modelReset, this, &CardPanel::selectionChanged);
}

void CardPanel::connectHeader()
{
    connect(m_header, &SdCardHeaderView::openCardRequest, m_session, &CardSession::openCard);
    connect(m_header, &SdCardHeaderView::closeCardRequest, this, &CardPanel::closeCard);
    connect(m_header, &SdCardHeaderView::headerEdited, this, &CardPanel::writeHeader);
    connect(m_header, &SdCardHeaderView::cardRestoreRequest, m_transfers, &TransferController::restoreCard);
}

void CardPanel::registerActions(ActionRegistry *actions)
{
    const auto on = [actions, this](const char *id, auto slot) {
        connect(actions->action(QString::fromLatin1(id)), &QAction::triggered, this, slot);
    };
    on("CloseCard", &CardPanel::closeCard);
    on("EditCardName", [this] { m_header->editName(); });
    on("ShowCardDetails", [this] { m_header->showCardDetails(); });
    on("EditCardSongName", [this] { m_songsView->editName(); });
    on("ShowCardSongDetails", [this] { showSongDetails(m_session->songs()->index(selectedSong(), 0)); });
    on("ClearCardSong", &CardPanel::clearSelectedSong);
    on("ClearAllCardSongs", &CardPanel::clearAllSongs);
    on("VerifyCard", [this] {
        // The check reads the file, so the header shown must be the one on the card.
        m_card->reloadIfChanged();
        m_session->flushCard();
        m_transfers->verify(m_card->path());
    });

    // The context menus' commands: the same as the menus', some under a shorter name.
    using S = WindowState;
    const auto both = [actions](const char *id, QAction *action, const char *menuId) {
        actions->add(QString::fromLatin1(id), action, actions->rule(QString::fromLatin1(menuId)));
        connect(action, &QAction::triggered, actions->action(QString::fromLatin1(menuId)), &QAction::trigger);
    };
    actions->add(QStringLiteral("CardSongs.EditName"), m_songsView->editNameAction(),
                 [](const S &s) { return s.cardWritable && s.songSelected; });
    actions->add(QStringLiteral("CardSongs.Details"), m_songsView->detailsAction());
    actions->add(QStringLiteral("CardSongs.CopyToLibrary"), m_songsView->copyToLibraryAction());
    connect(m_songsView->detailsAction(), &QAction::triggered,
            actions->action(QStringLiteral("ShowCardSongDetails")), &QAction::trigger);
    connect(m_songsView->copyToLibraryAction(), &QAction::triggered,
            actions->action(QStringLiteral("CopyCardSongToLibrary")), &QAction::trigger);
    both("CardSongs.Overwrite", m_songsView->overwriteAction(), "OverwriteCardSong");
    both("CardSongs.Clear", m_songsView->clearAction(), "ClearCardSong");
    both("CardSongs.ClearAll", m_songsView->clearAllAction(), "ClearAllCardSongs");
    actions->add(QStringLiteral("CardHeader.EditName"), m_header->editNameAction());
    actions->add(QStringLiteral("CardHeader.Details"), m_header->detailsAction());
    actions->add(QStringLiteral("CardHeader.Archive"), m_header->archiveAction());
    connect(m_header->archiveAction(), &QAction::triggered, actions->action(QStringLiteral("ArchiveCard")),
            &QAction::trigger);
}

int CardPanel::selectedSong() const
{
    const QItemSelectionModel *selection = m_songsView->selectionModel();
    if (!selection)
        return -1;
    const QModelIndexList selected = selection->selectedIndexes();
    for (const QModelIndex &index : selected) {
        if (index.isValid() && index.row() < m_session->songs()->rowCount())
            return index.row();
    }
    return -1;
}

void CardPanel::closeCard()
{
    try {
        m_card->close();
    } catch (const SdCard::Error &error) {
        // A card pulled out a moment ago fails the header's write; the card stays open.
        qCritical() << "Librarian: Could not write card header while closing:" << error.what();
        if (dynamic_cast<const SdCard::Busy *>(&error))
            Notifier::tell(this, Notifier::Icon::Warning, tr("Close Card"), QString::fromUtf8(error.what()));
        m_session->report(Outcome::Failed,
                          tr("Could not close the card: %1").arg(QString::fromUtf8(error.what())));
        return;
    }
    m_session->report(Outcome::Done, tr("Closed the card."));
}

void CardPanel::writeHeader(const QString &done)
{
    // Written at once, as a song's name is, not when the card is closed: a window ended by a
    // logout never closes its card.
    const QString name = m_card->name();
    const QString description = m_card->description();
    try {
        m_card->flush();
    } catch (const SdCard::Error &error) {
        qCritical() << "Card: Could not write the card's header:" << error.what();
        const QString why =
            tr("Could not write the card's name and description: %1").arg(QString::fromUtf8(error.what()));
        Notifier::tell(this, Notifier::Icon::Critical, tr("Morv+ Card"), why);
        m_session->report(Outcome::Failed, why);
        return;
    }
    // Another program wrote the header meanwhile: the card keeps its header, as the box said.
    if (m_card->name() != name || m_card->description() != description)
        m_session->report(Outcome::Failed,
                          tr("The card was changed by another program; your change was not written."));
    else
        m_session->report(Outcome::Done, done);
}

void CardPanel::clearSelectedSong()
{
    const int slot = selectedSong();
    if (!m_card->isWritable() || slot < 0) {
        qDebug() << "Card: Nothing to clear: no card open for changes, or no song selected.";
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
    const bool empty = m_session->songs()->isEmptySong(slot);
    const CardCommands::Target target =
        m_transfers->safetyTarget(slot, SafetyCopies::Occasion::ClearSong, tr("Clear Song %1").arg(slot + 1));
    if (Notifier::ask(this, Notifier::Icon::Warning, title,
                      tr("Are you sure you want to clear song #%1 on card?").arg(slot + 1) +
                          m_transfers->undoLine(empty ? CardCommands::Target() : target),
                      Notifier::Yes | Notifier::No) != Notifier::Yes) {
        m_session->report(Outcome::Cancelled);
        return;
    }
    const QString cardPath = m_card->path();
    auto clear = [this, slot, title, cardPath] {
        if (!m_card->isWritable() || m_card->path() != cardPath)
            return;
        QString failure;
        try {
            m_card->clearSong(slot, defaultSongName(slot));
        } catch (const SdCard::Error &error) {
            qCritical() << "Card: Failed to clear song" << slot << ":" << error.what();
            failure = failureText(error, tr("Failed to clear song on card."));
            Notifier::tell(this, Notifier::Icon::Critical, title, failure);
        }
        m_session->songs()->readEntry(slot);
        m_session->updateSummary();
        m_session->report(failure.isEmpty() ? Outcome::Done : Outcome::Failed,
                          failure.isEmpty() ? tr("Cleared song %1.").arg(slot + 1) : failure);
    };
    if (empty)
        clear();
    else
        m_transfers->protect(target, clear);
}

void CardPanel::clearAllSongs()
{
    if (!m_card->isWritable()) {
        qDebug() << "Card: Nothing to clear: no card open for changes.";
        return;
    }
    m_card->reloadIfChanged();
    bool empty = true;
    QList<int> songs;
    for (int song = 0; song < SdCard::songCount(); ++song) {
        empty = empty && m_session->songs()->isEmptySong(song);
        songs << song;
    }
    const QString refused = unclearable(*m_card, songs);
    if (!refused.isEmpty()) {
        Notifier::tell(this, Notifier::Icon::Critical, QString(),
                       tr("Failed to clear the songs on card.") + QStringLiteral("\n\n") + refused);
        return;
    }
    const CardCommands::Target target = m_transfers->safetyTarget(
        SongTransfer::Endpoint::WholeCard, SafetyCopies::Occasion::ClearAll, tr("Clear All Card Songs"));
    if (Notifier::ask(this, Notifier::Icon::Warning, QString(),
                      tr("Are you sure you want to clear all songs on card?") +
                          m_transfers->undoLine(empty ? CardCommands::Target() : target),
                      Notifier::Cancel | Notifier::Ok) != Notifier::Ok) {
        m_session->report(Outcome::Cancelled);
        return;
    }
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
        m_session->songs()->reload();
        m_session->updateSummary();
        m_session->report(failure.isEmpty() ? Outcome::Done : Outcome::Failed,
                          failure.isEmpty() ? tr("Cleared all songs.") : failure);
    };
    // One lock for all twelve songs, with or without a copy.
    m_transfers->protect(target, clearAll, !empty);
}

void CardPanel::showSongDetails(const QModelIndex &index)
{
    if (!m_card->isOpen() || !index.isValid())
        return;
    m_card->reloadIfChanged();
    m_songDetails->song()->loadFromCard(m_card, index.row());
    m_songDetails->setEditable(m_card->isWritable());
    WidgetUtils::showCentred(m_songDetails);
}

void CardPanel::onSongSaved()
{
    m_session->songs()->readEntry(m_songDetails->song()->index());
}

} // namespace ZovaZode
