// LibrarianView: construction and wiring of the views, the models and the transfer machinery.
//
// Every message box goes through Notifier and every question for a file or a name through
// Prompter, so that the whole command set can run headless in tests.
#include "views/librarianview.h"

#include "domain/configurationmanager.h"
#include "domain/notifier.h"
#include "domain/sdcard.h"
#include "domain/song.h"
#include "models/librarydatamodel.h"
#include "models/songlistmodel.h"
#include "models/sortedlibrarymodel.h"
#include "transfer/songtransferworkerthread.h"
#include "views/archivedetailview.h"
#include "views/archiveview.h"
#include "views/cardsongsview.h"
#include "views/libraryview.h"
#include "views/safetycopiesview.h"
#include "views/sdcardheaderview.h"
#include "views/sdcarditemdelegate.h"
#include "views/songdetailview.h"
#include "views/transferdialog.h"
#include "views/transferindicator.h"
#include "views/widgetutils.h"

#include <QAction>
#include <QDebug>
#include <QHBoxLayout>
#include <QItemSelectionModel>
#include <QLabel>
#include <QTabWidget>
#include <QTreeView>
#include <QVBoxLayout>

namespace ZovaZode {

namespace {

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

// The transfer arrows' logical size; they are drawn with as many pixels as the screen needs.
constexpr int kArrowSize = 64;

// A library folder's model; without a configuration it lists no folder.
SortedLibraryModel *libraryModel(LibraryDataModel::LibraryKind kind, const QString &folder, QObject *parent)
{
    auto *model = new SortedLibraryModel(parent);
    model->libraryModel()->setItemType(kind);
    if (!folder.isNull())
        model->setRootPath(folder);
    return model;
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
    connect(m_songListModel, &SongListModel::nameRefused, this,
            [](const QString &text) { Notifier::inform(nullptr, text); });

    m_cardSongsView = new CardSongsView(this);
    m_cardSongsView->setModel(m_songListModel);
    m_cardSongsView->setItemDelegate(new SdCardItemDelegate(m_cardSongsView));
    m_cardSongsView->setAccessibleName(tr("Card songs"));
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
    m_cardLibraryModel = libraryModel(LibraryDataModel::CardLibrary,
                                      configuration ? configuration->cardLibraryLocation() : QString(), this);
    connect(m_cardLibraryModel->libraryModel(), &LibraryDataModel::cardArchiveRequest, this,
            &LibrarianView::archiveCard);
    m_archiveView = new ArchiveView(m_cardLibraryModel, this);
    m_archiveView->treeView()->setAccessibleName(tr("Card archives"));
    connect(m_archiveView->detailsAction(), &QAction::triggered, this,
            &LibrarianView::showCurrentArchiveDetails);
    connect(m_archiveView->transferAction(), &QAction::triggered, this,
            &LibrarianView::restoreCardFromSelectedArchive);

    m_archiveDetailView = new ArchiveDetailView(this);
    m_archiveDetailView->setModal(true);
    m_archiveDetailView->resize(m_archiveDetailView->sizeHint());
    connect(m_archiveDetailView, &ArchiveDetailView::saved, this, &LibrarianView::onArchiveModified);

    // The song library.
    m_songLibraryModel = libraryModel(LibraryDataModel::SongLibrary,
                                      configuration ? configuration->songLibraryLocation() : QString(), this);
    connect(m_songLibraryModel->libraryModel(), &LibraryDataModel::songArchiveRequest, this,
            &LibrarianView::archiveSongs);
    m_libraryView = new LibraryView(m_songLibraryModel, this);
    m_libraryView->treeView()->setAccessibleName(tr("Song files"));
    connect(m_libraryView->detailsAction(), &QAction::triggered, this,
            &LibrarianView::showCurrentLibrarySongDetails);
    connect(m_libraryView->transferAction(), &QAction::triggered, this,
            &LibrarianView::overwriteSelectedCardSong);

    // The transfers. The thread is created before the SongTransfer and so destroyed before it.
    m_workerThread = new SongTransferWorkerThread(this);
    m_workerThread->start();
    m_transfer = new SongTransfer(m_workerThread->worker(), this);
    // The dialog hears the outcome first: it ends the transfer and lets input reach other windows
    // again before the follow-up below may show a message box.
    m_transferDialog = new TransferDialog(m_transfer, this);
    m_transferDialog->setModal(true);
    m_commands = new CardCommands(m_transfer, this);
    connect(m_commands, &CardCommands::warned, this,
            [this](SongTransfer::Request *request) { showWarnings(*request); });
    connect(m_commands, &CardCommands::finished, this, &LibrarianView::onTransferFinished);
    connect(m_commands, &CardCommands::failed, this, &LibrarianView::onTransferFailed);
    connect(m_commands, &CardCommands::safetyCopyRefused, this, &LibrarianView::refuseForSafetyCopy);
    connect(m_commands, &CardCommands::transfersDone, this, &LibrarianView::transfersDone);

    // The safety copies: the card library's own folder of them, read when the page is shown.
    m_safetyCopiesView = new SafetyCopiesView(this);
    connect(m_safetyCopiesView, &SafetyCopiesView::cardRestoreRequest, this, &LibrarianView::restoreCard);
    connect(m_safetyCopiesView, &SafetyCopiesView::songRestoreRequest, this, &LibrarianView::copySongToCard);
    connect(m_cardLibraryModel->libraryModel(), &LibraryDataModel::rootPathChanged, m_safetyCopiesView,
            &SafetyCopiesView::setCardLibrary);
    connect(m_commands, &CardCommands::safetyCopyMade, m_safetyCopiesView, &SafetyCopiesView::reload);
    m_safetyCopiesView->setCardLibrary(m_cardLibraryModel->rootPath());

    m_tabs = new QTabWidget(this);
    m_tabs->addTab(m_archiveView, tr("Card Library"));
    m_tabs->addTab(m_libraryView, tr("Song Library"));
    m_tabs->addTab(m_safetyCopiesView, tr("Safety Copies"));
    connect(m_tabs, &QTabWidget::currentChanged, this, [this] {
        if (m_tabs->currentWidget() == m_safetyCopiesView)
            m_safetyCopiesView->reload();
    });

    auto *row = new QHBoxLayout;
    row->setSpacing(10);
    row->addWidget(leftColumn, 1);
    row->addWidget(indicatorColumn);
    row->addWidget(m_tabs, 1);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(row);

    createSessionActions();
    createActions();
    createVerifyActions();
    connect(m_archiveView, &ArchiveView::deleteRequest, m_archiveView, &ArchiveView::deleteSelectedItem);
    connect(m_libraryView, &LibraryView::deleteRequest, m_libraryView, &LibraryView::deleteSelectedItem);

    connect(m_card.get(), &SdCard::opened, this, &LibrarianView::updateActions);
    connect(m_card.get(), &SdCard::closed, this, &LibrarianView::updateActions);
    connect(m_cardSongsView->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &LibrarianView::updateActions);
    // A reset drops the selection without telling the selection model's listeners.
    connect(m_songListModel, &QAbstractItemModel::modelReset, this, &LibrarianView::updateActions);
    connect(m_tabs, &QTabWidget::currentChanged, this, &LibrarianView::updateActions);
    connect(m_archiveView, &ArchiveView::selectionChanged, this, &LibrarianView::updateActions);
    connect(m_libraryView, &LibraryView::selectionChanged, this, &LibrarianView::updateActions);
    connect(m_safetyCopiesView, &SafetyCopiesView::selectionChanged, this, &LibrarianView::updateActions);

    connect(m_card.get(), &SdCard::opened, this, &LibrarianView::updateTransferIndicators);
    connect(m_card.get(), &SdCard::closed, this, &LibrarianView::updateTransferIndicators);
    connect(m_tabs, &QTabWidget::currentChanged, this, &LibrarianView::updateTransferIndicators);

    auto showCardLibrary = [this] { m_tabs->setCurrentWidget(m_archiveView); };
    auto showSongLibrary = [this] { m_tabs->setCurrentWidget(m_libraryView); };
    connect(m_headerView, &SdCardHeaderView::pressed, this, showCardLibrary);
    connect(m_cardLibraryIndicator, &TransferIndicator::pressed, this, showCardLibrary);
    connect(m_cardSongsView, &CardSongsView::pressed, this, showSongLibrary);
    connect(m_songLibraryIndicator, &TransferIndicator::pressed, this, showSongLibrary);

    // What shows only with a card open keeps its room without one, so that opening a card never
    // makes the window grow by itself.
    for (QWidget *widget : {static_cast<QWidget *>(m_cardSongsView), static_cast<QWidget *>(m_cardLibraryIndicator),
                            static_cast<QWidget *>(m_songLibraryIndicator)}) {
        QSizePolicy policy = widget->sizePolicy();
        policy.setRetainSizeWhenHidden(true);
        widget->setSizePolicy(policy);
    }

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
    // The upper arrow points at the libraries, the lower one back at the card.
    m_cardLibraryIndicator = new TransferIndicator(this);
    m_cardLibraryArrowLabel = new QLabel(m_cardLibraryIndicator);
    m_cardLibraryArrowLabel->setAlignment(Qt::AlignCenter);
    m_cardLibraryIndicator->setAccessibleName(tr("Card library transfers"));
    auto *cardLayout = new QVBoxLayout(m_cardLibraryIndicator);
    cardLayout->setContentsMargins(0, 0, 0, 0);
    cardLayout->addWidget(WidgetUtils::centredCaption(tr("Drag to Archive"), m_cardLibraryIndicator));
    cardLayout->addWidget(m_cardLibraryArrowLabel);
    cardLayout->addWidget(WidgetUtils::centredCaption(tr("Drag to Restore"), m_cardLibraryIndicator));

    m_songLibraryIndicator = new TransferIndicator(this);
    m_songLibraryArrowLabel = new QLabel(m_songLibraryIndicator);
    m_songLibraryArrowLabel->setAlignment(Qt::AlignCenter);
    m_songLibraryIndicator->setAccessibleName(tr("Song library transfers"));
    auto *songLayout = new QVBoxLayout(m_songLibraryIndicator);
    songLayout->setContentsMargins(0, 0, 0, 0);
    songLayout->addWidget(m_songLibraryArrowLabel);
    songLayout->addWidget(WidgetUtils::centredCaption(tr("Drag to Copy"), m_songLibraryIndicator));

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

void LibrarianView::updateTransferIndicators()
{
    const bool open = m_card->isOpen();
    const bool cardLibrary = isCardLibraryPage();
    const bool songLibrary = m_tabs->currentWidget() == m_libraryView;
    m_cardLibraryIndicator->setVisible(open);
    m_songLibraryIndicator->setVisible(open);
    m_cardLibraryIndicator->setEnabled(cardLibrary);
    m_songLibraryIndicator->setEnabled(songLibrary);
    // Drawn in the palette's text colour, so that a dark theme shows them as well as a light one.
    const QString arrows = QStringLiteral(":/pictures/transfer-arrows.svg");
    const QSize size(kArrowSize, kArrowSize);
    const QPixmap active =
        WidgetUtils::picture(arrows, size, palette().color(QPalette::Active, QPalette::WindowText));
    const QPixmap inactive =
        WidgetUtils::picture(arrows, size, palette().color(QPalette::Disabled, QPalette::WindowText));
    m_cardLibraryArrowLabel->setPixmap(cardLibrary ? active : inactive);
    m_songLibraryArrowLabel->setPixmap(songLibrary ? active : inactive);
}

void LibrarianView::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange && m_cardLibraryArrowLabel)
        updateTransferIndicators();
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

void LibrarianView::cancelTransfers()
{
    m_commands->cancelTransfers();
}

} // namespace ZovaZode
