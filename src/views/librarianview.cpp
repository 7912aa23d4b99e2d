// LibrarianView: construction, the command set and its enabling, the card commands, the detail
// dialogs, and the transfer and library commands.
//
// Every message box goes through Notifier and every question for a file or a name through
// Prompter, so that the whole command set can run headless in tests.
#include "views/librarianview.h"

#include "app/configurationmanager.h"
#include "domain/cardrecords.h"
#include "domain/defaultnames.h"
#include "domain/notifier.h"
#include "domain/safetycopies.h"
#include "domain/sdcard.h"
#include "domain/song.h"
#include "models/librarydatamodel.h"
#include "models/songlistmodel.h"
#include "models/sortedlibrarymodel.h"
#include "transfer/songtransferworkerthread.h"
#include "transfer/transferdialog.h"
#include "transfer/transferindicator.h"
#include "views/archivedetailview.h"
#include "views/archiveview.h"
#include "views/cardsongsview.h"
#include "views/libraryview.h"
#include "views/prompter.h"
#include "views/sdcardheaderview.h"
#include "views/sdcarditemdelegate.h"
#include "views/showcentred.h"
#include "views/songdetailview.h"
#include "views/verifydialog.h"

#include <QAction>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QItemSelectionModel>
#include <QLabel>
#include <QMenu>
#include <QScopeGuard>
#include <QShortcut>
#include <QTabWidget>
#include <QTreeView>
#include <QVBoxLayout>

namespace ZovaZode {

namespace {

const char kNotWritable[] = "Card is not open and writable.";

QString instructionsText()
{
    return QStringLiteral("<h3>SD Card Instructions</h3>") +
           QStringLiteral("<ul style=\"margin-right: 10px;\">") +
           QStringLiteral("<li style=\"margin-bottom: 10px;\">") +
           QStringLiteral(
               "Connect the SD card from your MORV+ to your computer using a card reader. Note that "
               "you should only access the MORV+ SD Card using the MORV Manager application. Please "
               "say no to any requests by the operating system to open the card or access the files.") +
           QStringLiteral("</li>") + QStringLiteral("<li>") +
           QStringLiteral("Click the Open Card button above, find the ZOVAZODE drive, and open.  Select the "
                          "ZOVAZODE.DAT file on the card and open the file.") +
           QStringLiteral("</li>") + QStringLiteral("</ul>") +
           QStringLiteral(
               "NOTE:  A new SD card must first be formatted by MORV+ by inserting the card in the "
               "pedal before using it with MORV Manager.");
}

Notifier::Button ask(QWidget *parent, Notifier::Icon icon, const QString &title, const QString &text,
                     Notifier::Buttons buttons)
{
    Notifier::Message message;
    message.icon = icon;
    message.title = title;
    message.text = text;
    message.buttons = buttons;
    message.parent = parent;
    return Notifier::notify(message);
}

void tell(QWidget *parent, Notifier::Icon icon, const QString &title, const QString &text)
{
    ask(parent, icon, title, text, Notifier::Ok);
}

QLabel *centredCaption(const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setAlignment(Qt::AlignCenter);
    return label;
}

// A card in use by another program has a message of its own: it names that program.
QString failureText(const SdCard::Error &error, const QString &generic)
{
    return dynamic_cast<const SdCard::Busy *>(&error) ? QString::fromUtf8(error.what()) : generic;
}

// A symbolic link is removed as a link: following it would empty a folder outside the library.
bool removeLibraryPath(const QString &path)
{
    const QFileInfo info(path);
    if (info.isDir() && !info.isSymLink())
        return QDir(path).removeRecursively();
    return QFile::remove(path);
}

} // namespace

LibrarianView::LibrarianView(QWidget *parent) : QWidget(parent), m_card(std::make_shared<SdCard>())
{
    ConfigurationManager *configuration = ConfigurationManager::instance();

    // The card and its header.
    m_headerView = new SdCardHeaderView(m_card, this);
    connect(m_headerView, &SdCardHeaderView::openCardRequest, this, &LibrarianView::openCard);
    connect(m_headerView, &SdCardHeaderView::cardRestoreRequest, this, &LibrarianView::restoreCard);
    connect(m_headerView->archiveAction(), &QAction::triggered, this, &LibrarianView::archiveCardToLibrary);

    m_songListModel = new SongListModel(m_card, this);
    connect(m_songListModel, &SongListModel::songRestoreRequest, this, &LibrarianView::copySongToCard);

    m_cardSongsView = new CardSongsView(this);
    m_cardSongsView->setModel(m_songListModel);
    m_cardSongsView->setItemDelegate(new SdCardItemDelegate(m_cardSongsView));
    m_cardSongsView->setEditTriggers(QAbstractItemView::SelectedClicked | QAbstractItemView::EditKeyPressed);
    m_cardSongsView->setDragEnabled(true);
    m_cardSongsView->setAcceptDrops(true);
    m_cardSongsView->setDefaultDropAction(Qt::CopyAction);
    m_cardSongsView->setDropIndicatorShown(false);
    connect(m_cardSongsView, &CardSongsView::activated, this, &LibrarianView::showCardSongDetails);
    connect(m_cardSongsView->detailsAction(), &QAction::triggered, this,
            &LibrarianView::showCurrentCardSongDetails);
    connect(m_cardSongsView->copyToLibraryAction(), &QAction::triggered, this,
            &LibrarianView::copySelectedCardSongToLibrary);
    connect(m_cardSongsView->overwriteAction(), &QAction::triggered, this,
            &LibrarianView::overwriteSelectedCardSong);
    connect(m_cardSongsView->clearAction(), &QAction::triggered, this, &LibrarianView::clearSelectedCardSong);
    connect(m_cardSongsView->clearAllAction(), &QAction::triggered, this, &LibrarianView::clearAllCardSongs);
    auto *clearShortcut = new QShortcut(QKeySequence::Delete, m_cardSongsView);
    clearShortcut->setContext(Qt::WidgetWithChildrenShortcut);
    connect(clearShortcut, &QShortcut::activated, this, &LibrarianView::clearSelectedCardSong);

    m_songDetailView = new SongDetailView(this);
    m_songDetailView->setModal(true);
    m_songDetailView->resize(m_songDetailView->sizeHint());
    connect(m_songDetailView->song(), &Song::saved, this, &LibrarianView::onSongModified);

    auto *songsContainer = new QWidget(this);
    auto *songsLayout = new QVBoxLayout(songsContainer);
    songsLayout->setContentsMargins(0, 0, 0, 0);
    songsLayout->addWidget(m_cardSongsView, 3);
    songsLayout->addStretch();
    m_cardSongsView->hide();
    connect(m_card.get(), &SdCard::opened, m_cardSongsView, &QWidget::show);
    connect(m_card.get(), &SdCard::closed, m_cardSongsView, &QWidget::hide);

    QWidget *indicatorColumn = createIndicatorColumn();

    m_instructionsLabel = new QLabel(this);
    m_instructionsLabel->setWordWrap(true);
    m_instructionsLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_instructionsLabel->setMargin(20);
    QFont instructionsFont = m_instructionsLabel->font();
    if (instructionsFont.pointSizeF() > 0)
        instructionsFont.setPointSizeF(instructionsFont.pointSizeF() + 2);
    m_instructionsLabel->setFont(instructionsFont);
    m_instructionsLabel->setTextFormat(Qt::RichText);
    m_instructionsLabel->setText(instructionsText());
    m_instructionsLabel->setVisible(!m_card->isOpen());
    connect(m_card.get(), &SdCard::openStateChanged, m_instructionsLabel,
            [this](bool open) { m_instructionsLabel->setVisible(!open); });

    auto *leftColumn = new QWidget(this);
    auto *leftLayout = new QVBoxLayout(leftColumn);
    leftLayout->setContentsMargins(0, 0, 0, 0);
    leftLayout->addWidget(m_headerView);
    leftLayout->addWidget(m_instructionsLabel);
    leftLayout->addWidget(songsContainer);

    // The card library.
    m_cardLibraryModel = new SortedLibraryModel(this);
    m_cardLibraryModel->libraryModel()->setItemType(LibraryDataModel::CardLibrary);
    if (configuration)
        m_cardLibraryModel->setRootPath(configuration->cardLibraryLocation());
    connect(m_cardLibraryModel->libraryModel(), &LibraryDataModel::cardArchiveRequest, this,
            &LibrarianView::archiveCard);
    m_archiveView = new ArchiveView(m_cardLibraryModel, this);
    connect(m_archiveView->detailsAction(), &QAction::triggered, this,
            &LibrarianView::showCurrentArchiveDetails);
    connect(m_archiveView->transferAction(), &QAction::triggered, this,
            &LibrarianView::restoreCardFromSelectedArchive);
    connect(m_archiveView->deleteAction(), &QAction::triggered, this,
            &LibrarianView::deleteSelectedArchiveItem);

    m_archiveDetailView = new ArchiveDetailView(this);
    m_archiveDetailView->setModal(true);
    m_archiveDetailView->resize(m_archiveDetailView->sizeHint());
    connect(m_archiveDetailView, &ArchiveDetailView::saved, this, &LibrarianView::onArchiveModified);

    // The song library.
    m_songLibraryModel = new SortedLibraryModel(this);
    m_songLibraryModel->libraryModel()->setItemType(LibraryDataModel::SongLibrary);
    if (configuration)
        m_songLibraryModel->setRootPath(configuration->songLibraryLocation());
    connect(m_songLibraryModel->libraryModel(), &LibraryDataModel::songArchiveRequest, this,
            &LibrarianView::archiveSongs);
    m_libraryView = new LibraryView(m_songLibraryModel, this);
    connect(m_libraryView->detailsAction(), &QAction::triggered, this,
            &LibrarianView::showCurrentLibrarySongDetails);
    connect(m_libraryView->transferAction(), &QAction::triggered, this,
            &LibrarianView::overwriteSelectedCardSong);
    connect(m_libraryView->deleteAction(), &QAction::triggered, this,
            &LibrarianView::deleteSelectedLibraryItem);

    // The transfers. The thread is created before the SongTransfer and so destroyed before it.
    m_workerThread = new SongTransferWorkerThread(this);
    m_workerThread->start();
    m_transfer = new SongTransfer(m_workerThread->worker(), this);
    // The dialog hears the outcome first: it ends the transfer and lets input reach other windows
    // again before the follow-up below may show a message box.
    m_transferDialog = new TransferDialog(m_transfer, this);
    m_transferDialog->setModal(true);
    connect(m_transfer, &SongTransfer::finished, this, &LibrarianView::onTransferFinished);
    connect(m_transfer, &SongTransfer::error, this, &LibrarianView::onTransferFailed);

    m_tabs = new QTabWidget(this);
    m_tabs->addTab(m_archiveView, tr("Card Library"));
    m_tabs->addTab(m_libraryView, tr("Song Library"));

    auto *row = new QHBoxLayout;
    row->setSpacing(10);
    row->addWidget(leftColumn, 1);
    row->addWidget(indicatorColumn);
    row->addWidget(m_tabs, 1);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(row);

    createActions();
    createVerifyActions();
    connect(m_archiveView, &ArchiveView::deleteRequest, this, &LibrarianView::deleteSelectedArchiveItem);
    connect(m_libraryView, &LibraryView::deleteRequest, this, &LibrarianView::deleteSelectedLibraryItem);

    connect(m_card.get(), &SdCard::opened, this, &LibrarianView::updateActions);
    connect(m_card.get(), &SdCard::closed, this, &LibrarianView::updateActions);
    connect(m_cardSongsView->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &LibrarianView::updateActions);
    // A reset drops the selection without telling the selection model's listeners.
    connect(m_songListModel, &QAbstractItemModel::modelReset, this, &LibrarianView::updateActions);
    connect(m_tabs, &QTabWidget::currentChanged, this, &LibrarianView::updateActions);
    connect(m_archiveView, &ArchiveView::selectionChanged, this, &LibrarianView::updateActions);
    connect(m_libraryView, &LibraryView::selectionChanged, this, &LibrarianView::updateActions);

    connect(m_card.get(), &SdCard::opened, this, &LibrarianView::updateTransferIndicators);
    connect(m_card.get(), &SdCard::closed, this, &LibrarianView::updateTransferIndicators);
    connect(m_tabs, &QTabWidget::currentChanged, this, &LibrarianView::updateTransferIndicators);

    auto showCardLibrary = [this] { m_tabs->setCurrentWidget(m_archiveView); };
    auto showSongLibrary = [this] { m_tabs->setCurrentWidget(m_libraryView); };
    connect(m_headerView, &SdCardHeaderView::pressed, this, showCardLibrary);
    connect(m_cardLibraryIndicator, &TransferIndicator::pressed, this, showCardLibrary);
    connect(m_cardSongsView, &CardSongsView::pressed, this, showSongLibrary);
    connect(m_songLibraryIndicator, &TransferIndicator::pressed, this, showSongLibrary);

    updateActions();
    updateTransferIndicators();
}

LibrarianView::~LibrarianView()
{
    // Stop the worker before anything it reports to goes away.
    delete m_workerThread;
    m_workerThread = nullptr;
}

QWidget *LibrarianView::createIndicatorColumn()
{
    m_activeArrows = QPixmap(QStringLiteral(":/images/transfer-arrows-black.png"));
    m_inactiveArrows = QPixmap(QStringLiteral(":/images/transfer-arrows-gray.png"));

    // The upper arrow points at the libraries, the lower one back at the card.
    m_cardLibraryIndicator = new TransferIndicator(this);
    m_cardLibraryArrowLabel = new QLabel(m_cardLibraryIndicator);
    m_cardLibraryArrowLabel->setAlignment(Qt::AlignCenter);
    auto *cardLayout = new QVBoxLayout(m_cardLibraryIndicator);
    cardLayout->setContentsMargins(0, 0, 0, 0);
    cardLayout->addWidget(centredCaption(tr("Drag to Archive"), m_cardLibraryIndicator));
    cardLayout->addWidget(m_cardLibraryArrowLabel);
    cardLayout->addWidget(centredCaption(tr("Drag to Restore"), m_cardLibraryIndicator));

    m_songLibraryIndicator = new TransferIndicator(this);
    m_songLibraryArrowLabel = new QLabel(m_songLibraryIndicator);
    m_songLibraryArrowLabel->setAlignment(Qt::AlignCenter);
    auto *songLayout = new QVBoxLayout(m_songLibraryIndicator);
    songLayout->setContentsMargins(0, 0, 0, 0);
    songLayout->addWidget(m_songLibraryArrowLabel);
    songLayout->addWidget(centredCaption(tr("Drag to Copy"), m_songLibraryIndicator));

    auto *column = new QWidget(this);
    auto *layout = new QVBoxLayout(column);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addStretch();
    layout->addSpacing(25);
    layout->addWidget(m_cardLibraryIndicator);
    layout->addStretch();
    layout->addStretch();
    layout->addWidget(m_songLibraryIndicator);
    layout->addStretch();
    return column;
}

void LibrarianView::createActions()
{
    struct Entry
    {
        ActionId id;
        const char *text;
    };
    static const Entry entries[ActionCount] = {
        {OpenCardAction, "Open Card..."},
        {CloseCardAction, "Close Card"},
        {EditCardNameAction, "Edit Card Name..."},
        {ShowCardDetailsAction, "Show Card Details..."},
        {EditCardSongNameAction, "Edit Selected Card Song Name..."},
        {ShowCardSongDetailsAction, "Show Selected Card Song Details..."},
        {ClearCardSongAction, "Clear Selected Card Song"},
        {ClearAllCardSongsAction, "Clear All Card Songs"},
        {ArchiveCardAction, "Archive Card To Library"},
        {RestoreCardAction, "Restore Card From Selected Archive"},
        {EditArchiveNameAction, "Edit Selected Archive Name..."},
        {ShowArchiveDetailsAction, "Show Selected Archive Details..."},
        {DeleteArchiveItemAction, "Delete Selected Archive Item"},
        {CopyCardSongToLibraryAction, "Copy Selected Card Song To Library"},
        {OverwriteCardSongAction, "Overwrite Selected Card Song with Selected Library Song"},
        {EditLibraryItemNameAction, "Edit Selected Library Item Name..."},
        {ShowLibrarySongDetailsAction, "Show Selected Library Song Details..."},
        {DeleteLibraryItemAction, "Delete Selected Library Item"},
    };
    for (const Entry &entry : entries)
        m_actions[entry.id] = new QAction(tr(entry.text), this);

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
    on(DeleteArchiveItemAction, &LibrarianView::deleteSelectedArchiveItem);
    on(CopyCardSongToLibraryAction, &LibrarianView::copySelectedCardSongToLibrary);
    on(OverwriteCardSongAction, &LibrarianView::overwriteSelectedCardSong);
    connect(m_actions[EditLibraryItemNameAction], &QAction::triggered, m_libraryView, &LibraryView::editName);
    on(ShowLibrarySongDetailsAction, &LibrarianView::showCurrentLibrarySongDetails);
    on(DeleteLibraryItemAction, &LibrarianView::deleteSelectedLibraryItem);

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
    m_verifyDialog = new VerifyDialog(this);
    m_verifyCardAction = new QAction(tr("Verify Card..."), this);
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

int LibrarianView::selectedCardSong() const
{
    const QItemSelectionModel *selection = m_cardSongsView->selectionModel();
    if (!selection)
        return -1;
    const QModelIndexList selected = selection->selectedIndexes();
    for (const QModelIndex &index : selected) {
        if (index.isValid() && index.row() < m_songListModel->rowCount())
            return index.row();
    }
    return -1;
}

bool LibrarianView::isCardLibraryPage() const
{
    return m_tabs->currentWidget() == m_archiveView;
}

void LibrarianView::updateActions()
{
    const bool O = m_card->isOpen();
    const bool W = m_card->isWritable();
    const bool S = selectedCardSong() >= 0;
    const bool A = isCardLibraryPage();
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
        !A && S,            // copy selected card song to library
        W && !A && S && LP, // overwrite selected card song with selected library song
        !A && LS,           // edit selected library item name
        !A && LS,           // show selected library song details
        !A && LS,           // delete selected library item
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
}

void LibrarianView::updateTransferIndicators()
{
    const bool open = m_card->isOpen();
    const bool cardLibrary = isCardLibraryPage();
    m_cardLibraryIndicator->setVisible(open);
    m_songLibraryIndicator->setVisible(open);
    m_cardLibraryIndicator->setEnabled(cardLibrary);
    m_songLibraryIndicator->setEnabled(!cardLibrary);
    m_cardLibraryArrowLabel->setPixmap(cardLibrary ? m_activeArrows : m_inactiveArrows);
    m_songLibraryArrowLabel->setPixmap(cardLibrary ? m_inactiveArrows : m_activeArrows);
}

// ---- Card commands -------------------------------------------------------------------------

void LibrarianView::openCard()
{
    ConfigurationManager *configuration = ConfigurationManager::instance();
    QString start = m_card->path();
    if (start.isEmpty() && configuration)
        start = configuration->sdCardLocation();
    if (start.isEmpty())
        start = QDir::rootPath();

    Prompter::FileRequest request;
    request.title = tr("Open Morv+ Card Data");
    request.startPath = start;
    request.nameFilter = tr("Morv+ Card Data (ZOVAZODE.DAT)");
    const QString path = Prompter::current()->openFile(this, request);
    if (path.isEmpty())
        return;

    try {
        if (!m_card->open(path, 1)) {
            if (!m_card->open(path, 0)) {
                tell(this, Notifier::Icon::Critical, tr("Open Morv+ Card"), tr("Failed to open the card."));
                return;
            }
            tell(this, Notifier::Icon::Warning, tr("Open Morv+ Card"),
                 tr("The SD card appears to be write protected.\n\nModifications to the card have been "
                    "disabled."));
        }
    } catch (const SdCard::Error &error) {
        // Opening writes the header of a card that was open before; the new card is not open then.
        qCritical() << "Librarian: Could not open card:" << error.what();
        tell(this, Notifier::Icon::Critical, tr("Open Morv+ Card"), tr("Failed to open the card."));
        return;
    }

    if (configuration)
        configuration->setSdCardLocation(path);

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
}

void LibrarianView::closeCard()
{
    try {
        m_card->close();
    } catch (const SdCard::Error &error) {
        qCritical() << "Librarian: Could not write card header while closing:" << error.what();
        if (dynamic_cast<const SdCard::Busy *>(&error))
            tell(this, Notifier::Icon::Warning, tr("Close Card"), QString::fromUtf8(error.what()));
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
    if (ask(this, Notifier::Icon::Warning, title,
            tr("Are you sure you want to clear song #%1 on card?\n\nWARNING: This operation can not be "
               "undone.")
                .arg(slot + 1),
            Notifier::Yes | Notifier::No) != Notifier::Yes)
        return;
    const QString cardPath = m_card->path();
    protect(slot, QStringLiteral("before clearing"), [this, slot, title, cardPath] {
        if (!m_card->isWritable() || m_card->path() != cardPath)
            return;
        try {
            m_card->clearSong(slot, defaultSongName(slot));
        } catch (const SdCard::Error &error) {
            qCritical() << "Card: Failed to clear song" << slot << ":" << error.what();
            tell(this, Notifier::Icon::Critical, title,
                 failureText(error, tr("Failed to clear song on card.")));
        }
        readCardSongRow(slot);
    });
}

void LibrarianView::clearAllCardSongs()
{
    if (!m_card->isWritable()) {
        qDebug() << kNotWritable;
        return;
    }
    m_card->reloadIfChanged();
    if (ask(this, Notifier::Icon::Warning, QString(),
            tr("Are you sure you want to clear all songs on card?\n\nWARNING: This operation can not be "
               "undone."),
            Notifier::Cancel | Notifier::Ok) != Notifier::Ok)
        return;
    const QString cardPath = m_card->path();
    protect(SongTransfer::Endpoint::WholeCard, QStringLiteral("before clearing all songs"), [this, cardPath] {
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
            tell(this, Notifier::Icon::Warning, QString(), failure);
        m_songListModel->reload();
    });
}

void LibrarianView::readCardSongRow(int row)
{
    try {
        m_songListModel->readEntry(row);
    } catch (const SdCard::Error &error) {
        qCritical() << "Librarian: Could not read card song" << row << ":" << error.what();
    }
}

void LibrarianView::flushCard()
{
    // The worker reads the header from the file; a header that cannot be written leaves it the
    // older name, which is no reason to refuse the transfer.
    try {
        m_card->flush();
    } catch (const SdCard::Error &error) {
        qCritical() << "Librarian: Could not write card header:" << error.what();
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
    showCentred(m_songDetailView);
}

void LibrarianView::showCurrentArchiveDetails()
{
    showArchiveDetails(m_archiveView->selectedIndex());
}

void LibrarianView::showArchiveDetails(const QModelIndex &index)
{
    if (!index.isValid() || !m_cardLibraryModel->isArchive(index))
        return;
    m_archiveDetailView->setPath(m_cardLibraryModel->filePath(index));
    showCentred(m_archiveDetailView);
}

void LibrarianView::showCurrentLibrarySongDetails()
{
    showLibrarySongDetails(m_libraryView->selectedIndex());
}

void LibrarianView::showLibrarySongDetails(const QModelIndex &index)
{
    if (!index.isValid() || !m_songLibraryModel->isSong(index))
        return;
    m_songDetailView->song()->loadFromArchive(m_songLibraryModel->filePath(index), 0, true);
    m_songDetailView->setEditable(true);
    showCentred(m_songDetailView);
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

// ---- Transfers ------------------------------------------------------------------------------

LibrarianView::NameCheck LibrarianView::validateArchiveName(const QString &name, const QString &folder)
{
    NameCheck check;
    if (!isValidCardName(name)) {
        check.message = tr("This archive name is too long.\n\nPlease enter a shorter name:");
        return check;
    }
    if (!hasNoForbiddenCharacters(name)) {
        check.message = tr("This archive name contains characters that are not permitted.\n\nPlease enter a "
                           "different name and avoid punctuation:");
        return check;
    }
    const QString fileName = archiveFileName(name);
    const QString target = QDir(folder).filePath(fileName);
    if (QFileInfo::exists(target) || QFileInfo(target).isSymLink()) {
        check.message =
            tr("A file named \"%1\" already exists in this card library folder.\n\nPlease enter a "
               "different name for the new archive:")
                .arg(fileName);
        return check;
    }
    check.passed = true;
    check.targetPath = target;
    return check;
}

LibrarianView::NameCheck LibrarianView::validateSongName(const QString &name, const QString &folder)
{
    NameCheck check;
    if (!isValidCardName(name)) {
        check.message = tr("This song name is too long.\n\nPlease enter a shorter name:");
        return check;
    }
    if (!hasNoForbiddenCharacters(name)) {
        check.message = tr("This song name contains characters that are not permitted.\n\nPlease enter a "
                           "different name and avoid punctuation:");
        return check;
    }
    const QString fileName = songFileName(name);
    const QString target = QDir(folder).filePath(fileName);
    if (QFileInfo::exists(target) || QFileInfo(target).isSymLink()) {
        check.message =
            tr("A file named \"%1\" already exists in this song library folder.\n\nPlease enter a "
               "different name for the new song:")
                .arg(fileName);
        return check;
    }
    check.passed = true;
    check.targetPath = target;
    return check;
}

bool LibrarianView::promptForName(const QString &title, const QString &folder,
                                  NameCheck (*validate)(const QString &, const QString &), QString *name,
                                  QString *targetPath)
{
    NameCheck check = validate(*name, folder);
    while (!check.passed) {
        QString answer = *name;
        if (!Prompter::current()->text(this, title, check.message, &answer) || answer.isEmpty())
            return false;
        *name = answer;
        check = validate(*name, folder);
    }
    *targetPath = check.targetPath;
    return true;
}

std::shared_ptr<SongTransfer::Request> LibrarianView::submit(const SongTransfer::Endpoint &source,
                                                             const SongTransfer::Endpoint &destination)
{
    auto request = std::make_shared<SongTransfer::Request>();
    request->source = source;
    request->destination = destination;
    request->verify = true;
    m_transfers[request.get()] = request;
    m_transfer->submit(request);
    return request;
}

void LibrarianView::cancelTransfers()
{
    for (const auto &transfer : m_transfers)
        transfer.second->cancelled.store(true);
    // The commands waiting for their safety copy were confirmed before the user chose to stop.
    m_pendingOperations.clear();
}

void LibrarianView::forgetTransfer(SongTransfer::Request *request)
{
    if (m_transfers.erase(request) != 0 && m_transfers.empty())
        emit transfersDone();
}

void LibrarianView::protect(int slot, const QString &what, std::function<void()> operation)
{
    const ConfigurationManager *configuration = ConfigurationManager::instance();
    if (configuration && !configuration->safetyCopiesEnabled()) {
        operation();
        return;
    }
    const QString library = m_cardLibraryModel->rootPath();
    QString error;
    if (!SafetyCopies::ensureFolder(library, &error)) {
        refuseForSafetyCopy(error);
        return;
    }
    flushCard();
    SongTransfer::Endpoint source;
    source.kind = SongTransfer::Endpoint::Card;
    source.path = m_card->path();
    source.song = slot;
    SongTransfer::Endpoint destination;
    destination.kind = SongTransfer::Endpoint::ArchiveFile;
    destination.path = slot == SongTransfer::Endpoint::WholeCard
                           ? SafetyCopies::cardCopyPath(library, m_card->name(), what)
                           : SafetyCopies::songCopyPath(library, m_card->name(), slot,
                                                        m_songListModel->songName(slot), what);
    qDebug() << "Librarian: Making a safety copy:" << destination.path;
    auto copy = submit(source, destination);
    const SongTransfer::Request *key = copy.get();
    m_pendingOperations[key] = PendingOperation{std::move(copy), std::move(operation)};
}

void LibrarianView::onSafetyCopyDone(SongTransfer::Request *request, bool succeeded)
{
    auto pending = m_pendingOperations.find(request);
    if (pending == m_pendingOperations.end())
        return;
    const PendingOperation done = std::move(pending->second);
    m_pendingOperations.erase(pending);
    if (!succeeded) {
        if (request->verification == SongTransfer::Request::Verification::Skipped)
            refuseForSafetyCopy(tr("The safety copy was cancelled while it was checked; it is kept, "
                                   "unchecked, in the Safety Copies folder."));
        else
            refuseForSafetyCopy(request->cancelled.load() ? tr("The safety copy was cancelled.")
                                                          : request->errorText);
        return;
    }
    const ConfigurationManager *configuration = ConfigurationManager::instance();
    const int keep =
        configuration ? configuration->safetyCopyLimit() : ConfigurationManager::DefaultSafetyCopyLimit;
    const int removed = SafetyCopies::prune(m_cardLibraryModel->rootPath(), keep);
    if (removed > 0)
        qDebug() << "Librarian: Removed" << removed << "old safety copies.";
    done.operation();
}

void LibrarianView::refuseForSafetyCopy(const QString &errorText)
{
    qCritical() << "Librarian: Could not make a safety copy:" << errorText;
    tell(this, Notifier::Icon::Critical, tr("Safety Copy"),
         tr("Could not make a safety copy of the card, so nothing was changed.\n\n") + errorText);
}

void LibrarianView::showWarnings(const SongTransfer::Request &request)
{
    if (request.warnings.isEmpty())
        return;
    qWarning() << "Librarian: Transfer warnings:" << request.warnings;
    tell(this, Notifier::Icon::Warning, tr("Copied With Warnings"),
         tr("The copy is complete, but note the following:\n\n") + request.warnings.join(QLatin1Char('\n')));
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
    if (!promptForName(tr("Archive Card"), dir, &LibrarianView::validateArchiveName, &proposal, &target))
        return;
    flushCard();
    qDebug() << "Librarian: About to archive card to:" << target;
    m_cardLibraryModel->setPathHidden(target, true);

    SongTransfer::Endpoint source;
    source.kind = SongTransfer::Endpoint::Card;
    source.path = m_card->path();
    SongTransfer::Endpoint destination;
    destination.kind = SongTransfer::Endpoint::ArchiveFile;
    destination.path = target;
    if (proposal != cardName)
        destination.name = proposal;
    submit(source, destination);
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
    if (!promptForName(tr("Copy Song To Library"), dir, &LibrarianView::validateSongName, &proposal, &target))
        return;
    flushCard();
    qDebug() << "Librarian: About to archive song to:" << target;
    m_songLibraryModel->setPathHidden(target, true);

    SongTransfer::Endpoint source;
    source.kind = SongTransfer::Endpoint::Card;
    source.path = m_card->path();
    source.song = index;
    SongTransfer::Endpoint destination;
    destination.kind = SongTransfer::Endpoint::ArchiveFile;
    destination.path = target;
    if (proposal != songName)
        destination.name = proposal;
    submit(source, destination);
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
    if (ask(this, Notifier::Icon::Warning, tr("Restore Morv+ Card"),
            tr("Are you sure you want to overwrite the entire card with the contents of the "
               "archive?\n\nWARNING: "
               "This operation can not be undone."),
            Notifier::Cancel | Notifier::Ok) != Notifier::Ok)
        return;
    const QString cardPath = m_card->path();
    protect(SongTransfer::Endpoint::WholeCard, QStringLiteral("before restore"), [this, path, cardPath] {
        if (!m_card->isWritable() || m_card->path() != cardPath)
            return;
        flushCard();
        SongTransfer::Endpoint source;
        source.kind = SongTransfer::Endpoint::ArchiveFile;
        source.path = path;
        SongTransfer::Endpoint destination;
        destination.kind = SongTransfer::Endpoint::Card;
        destination.path = cardPath;
        submit(source, destination);
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
    if (overwrites && ask(this, Notifier::Icon::Warning, tr("Copy Song"),
                          tr("You are about to overwrite a non-empty song on card. Are you sure?"),
                          Notifier::Cancel | Notifier::Ok) != Notifier::Ok)
        return;
    const QString cardPath = m_card->path();
    auto copy = [this, index, file, cardPath] {
        if (!m_card->isWritable() || m_card->path() != cardPath)
            return;
        flushCard();
        SongTransfer::Endpoint source;
        source.kind = SongTransfer::Endpoint::ArchiveFile;
        source.path = file;
        source.song = 0;
        SongTransfer::Endpoint destination;
        destination.kind = SongTransfer::Endpoint::Card;
        destination.path = cardPath;
        destination.song = index;
        submit(source, destination);
    };
    // An empty slot holds nothing worth a copy.
    if (overwrites)
        protect(index, QStringLiteral("before overwriting"), copy);
    else
        copy();
}

void LibrarianView::onTransferFinished(SongTransfer::Request *request)
{
    qDebug() << "Librarian: on transfer finished.";
    if (!request)
        return;
    // Kept alive until this report is handled: forgetting it may end the window.
    const std::shared_ptr<SongTransfer::Request> keep =
        m_transfers.count(request) ? m_transfers[request] : nullptr;
    const auto forget = qScopeGuard([this, request] { forgetTransfer(request); });
    showWarnings(*request);
    if (m_pendingOperations.count(request) != 0) {
        // A copy nobody checked is no reason to go on overwriting what it holds.
        onSafetyCopyDone(request, request->verification != SongTransfer::Request::Verification::Skipped);
        return;
    }
    const SongTransfer::Endpoint &source = request->source;
    const SongTransfer::Endpoint &destination = request->destination;
    if (source.kind == SongTransfer::Endpoint::ArchiveFile &&
        destination.kind == SongTransfer::Endpoint::Card) {
        if (destination.song == SongTransfer::Endpoint::WholeCard) {
            qDebug() << "Librarian: updating entire card.";
            m_card->refresh();
        } else {
            qDebug() << "Librarian: updating song " << destination.song;
            readCardSongRow(destination.song);
        }
    } else if (source.kind == SongTransfer::Endpoint::Card &&
               destination.kind == SongTransfer::Endpoint::ArchiveFile) {
        revealArchivedItem(*request, true);
    }
}

void LibrarianView::onTransferFailed(SongTransfer::Request *request)
{
    const std::shared_ptr<SongTransfer::Request> keep =
        m_transfers.count(request) ? m_transfers[request] : nullptr;
    const auto forget = qScopeGuard([this, request] { forgetTransfer(request); });
    if (request && m_pendingOperations.count(request) != 0) {
        onSafetyCopyDone(request, false);
        return;
    }
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

// ---- Library items --------------------------------------------------------------------------

void LibrarianView::verifyFile(const QString &path)
{
    if (path.isEmpty()) {
        qDebug() << "Librarian: Nothing to verify.";
        return;
    }
    m_verifyDialog->verify(path);
}

void LibrarianView::deleteSelectedArchiveItem()
{
    const QModelIndex index = m_archiveView->selectedIndex();
    if (index.isValid())
        deleteLibraryItem(index, m_cardLibraryModel);
}

void LibrarianView::deleteSelectedLibraryItem()
{
    const QModelIndex index = m_libraryView->selectedIndex();
    if (index.isValid())
        deleteLibraryItem(index, m_songLibraryModel);
}

void LibrarianView::deleteLibraryItem(const QModelIndex &index, SortedLibraryModel *model)
{
    if (!index.isValid() || !model)
        return;
    const QModelIndex item = index.sibling(index.row(), 0);
    const QString path = model->filePath(item);
    const QString name = model->data(item, LibraryDataModel::ItemNameRole).toString();
    const QString kind = model->isArchive(item)  ? QStringLiteral("archive")
                         : model->isSong(item)   ? QStringLiteral("song")
                         : model->isFolder(item) ? QStringLiteral("folder")
                                                 : QStringLiteral("file");
    const QString library = model == m_cardLibraryModel ? QStringLiteral("card") : QStringLiteral("song");
    const QString title = tr("Delete Item");
    if (ask(this, Notifier::Icon::Warning, title,
            tr("Are you sure you want to delete %1 \"%2\" from %3 library?\n\nWARNING: This operation can "
               "not be "
               "undone.")
                .arg(kind, name, library),
            Notifier::Yes | Notifier::No) != Notifier::Yes)
        return;
    if (path.isEmpty() || !removeLibraryPath(path)) {
        qCritical() << "Librarian: Failed to delete item:" << path;
        tell(this, Notifier::Icon::Critical, title, tr("Failed to delete item."));
    }
}

} // namespace ZovaZode
