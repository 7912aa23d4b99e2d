// LibraryPages: the card library, song library and Safety Copies pages, and their commands.
#include "views/librarypages.h"

#include "domain/notifier.h"
#include "domain/settings.h"
#include "domain/song.h"
#include "models/librarydatamodel.h"
#include "models/libraryitemreader.h"
#include "models/sortedlibrarymodel.h"
#include "views/actionregistry.h"
#include "views/archivedetailview.h"
#include "views/libraryfolderview.h"
#include "views/safetycopiesview.h"
#include "views/songdetailview.h"
#include "views/widgetutils.h"

#include <QAction>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QItemSelectionModel>
#include <QMenu>
#include <QTreeView>

namespace ZovaZode {

namespace {

constexpr FileKind Cards = FileKind::CardArchive;
constexpr FileKind Songs = FileKind::SongFile;

} // namespace

LibraryPages::LibraryPages(Settings &settings, ActionRegistry *actions, QWidget *parent)
    : QTabWidget(parent), m_settings(settings), m_cardPage(createPage(Cards, settings.cardLibraryLocation())),
      m_songPage(createPage(Songs, settings.songLibraryLocation())),
      m_safetyCopies(new SafetyCopiesView(this)), m_archiveDetails(new ArchiveDetailView(this)),
      m_songDetails(new SongDetailView(this))
{
    addTab(m_cardPage, tr("Card Library"));
    addTab(m_songPage, tr("Song Library"));
    addTab(m_safetyCopies, tr("Safety Copies"));
    for (QDialog *details :
         {static_cast<QDialog *>(m_archiveDetails), static_cast<QDialog *>(m_songDetails)}) {
        details->setModal(true);
        details->resize(details->sizeHint());
    }
    // A file saved from its details dialog shows what it now holds.
    connect(m_archiveDetails, &ArchiveDetailView::saved, this, [this] {
        revealFile(Cards, m_archiveDetails->path(), true);
        page(Cards)->selectPath(m_archiveDetails->path());
    });
    connect(m_songDetails->song(), &Song::saved, this, [this] {
        revealFile(Songs, m_songDetails->song()->filePath(), true);
        page(Songs)->selectPath(m_songDetails->song()->filePath());
    });

    // The safety copies: the card library's own folder of them, read when the page is shown.
    connect(m_safetyCopies, &SafetyCopiesView::cardRestoreRequest, this, &LibraryPages::cardRestoreRequest);
    connect(m_safetyCopies, &SafetyCopiesView::songRestoreRequest, this, &LibraryPages::songRestoreRequest);
    connect(m_safetyCopies, &SafetyCopiesView::selectionChanged, this, &LibraryPages::selectionChanged);
    connect(m_safetyCopies, &SafetyCopiesView::outcome, this, &LibraryPages::outcome);
    connect(library(Cards)->libraryModel(), &LibraryDataModel::rootPathChanged, m_safetyCopies,
            &SafetyCopiesView::setCardLibrary);
    m_safetyCopies->setCardLibrary(folder(Cards));
    connect(this, &QTabWidget::currentChanged, this, [this] {
        if (currentWidget() == m_safetyCopies)
            m_safetyCopies->reload();
    });
    registerActions(actions);
}

LibraryPages::~LibraryPages() = default;

LibraryFolderView *LibraryPages::createPage(FileKind kind, const QString &folder)
{
    const bool cards = kind == Cards;
    auto *model = new SortedLibraryModel(this);
    model->libraryModel()->setItemType(cards ? LibraryDataModel::CardLibrary : LibraryDataModel::SongLibrary);
    if (!folder.isNull())
        model->setRootPath(folder);
    auto *page = new LibraryFolderView(
        model, cards ? tr("Restore To Card") : tr("Copy to Selected Slot on Card"), this);
    page->treeView()->setAccessibleName(cards ? tr("Card archives") : tr("Song files"));
    connect(page, &LibraryFolderView::deleteRequest, page, &LibraryFolderView::deleteSelectedItem);
    connect(page, &LibraryFolderView::selectionChanged, this, &LibraryPages::selectionChanged);
    connect(page, &LibraryFolderView::outcome, this, &LibraryPages::outcome);
    connect(page->detailsAction(), &QAction::triggered, this,
            [this, kind, page] { showDetails(kind, page->selectedIndex()); });
    connect(page->transferAction(), &QAction::triggered, this, [this, kind] {
        if (kind == Cards)
            emit cardRestoreRequest(selectedFile(kind));
        else
            emit songCopyRequest(selectedFile(kind));
    });
    // The folder chosen on the page is the library's from now on.
    connect(model->libraryModel(), &LibraryDataModel::rootPathChanged, this,
            [this, cards](const QString &path) {
                cards ? m_settings.setCardLibraryLocation(path) : m_settings.setSongLibraryLocation(path);
            });
    if (cards)
        connect(model->libraryModel(), &LibraryDataModel::cardArchiveRequest, this,
                &LibraryPages::cardArchiveRequest);
    else
        connect(model->libraryModel(), &LibraryDataModel::songArchiveRequest, this,
                &LibraryPages::songArchiveRequest);
    return page;
}

void LibraryPages::registerActions(ActionRegistry *actions)
{
    struct Commands
    {
        FileKind kind;
        const char *editName, *details, *remove, *verify, *transfer, *prefix;
    };
    const Commands pages[] = {
        {Cards, "EditArchiveName", "ShowArchiveDetails", "DeleteArchiveItem", "VerifyArchive", "RestoreCard",
         "CardLibrary."},
        {Songs, "EditLibraryItemName", "ShowLibrarySongDetails", "DeleteLibraryItem", "VerifyLibrarySong",
         "OverwriteCardSong", "SongLibrary."},
    };
    for (const Commands &commands : pages) {
        LibraryFolderView *view = page(commands.kind);
        const FileKind kind = commands.kind;
        const auto id = [&commands](const char *name) -> QString {
            return QLatin1String(commands.prefix) + QLatin1String(name);
        };
        connect(actions->action(commands.editName), &QAction::triggered, view, &LibraryFolderView::editName);
        connect(actions->action(commands.details), &QAction::triggered, this,
                [this, kind, view] { showDetails(kind, view->selectedIndex()); });
        connect(actions->action(commands.remove), &QAction::triggered, view,
                &LibraryFolderView::deleteSelectedItem);
        connect(actions->action(commands.verify), &QAction::triggered, this,
                [this, view] { emit verifyRequest(view->selectedAnyFilePath()); });
        view->contextMenu()->insertAction(view->deleteAction(), actions->action(commands.verify));
        // The context menu's own: Edit Name and Details are the page's to enable.
        actions->add(id("EditName"), view->editNameAction());
        actions->add(id("Details"), view->detailsAction());
        actions->add(id("Transfer"), view->transferAction(), actions->rule(commands.transfer));
        // The context menu opens only on an item, so a selection is all its Delete needs.
        actions->add(id("Delete"), view->deleteAction(), [kind](const WindowState &s) {
            return kind == Cards ? s.cardLibraryItem : s.songLibraryItem;
        });
    }
    actions->add(QStringLiteral("SafetyCopies.Restore"), m_safetyCopies->restoreAction(),
                 [](const WindowState &s) { return s.cardWritable && s.copySelected; });
}

SortedLibraryModel *LibraryPages::library(FileKind kind) const
{
    return page(kind)->model();
}

LibraryFolderView *LibraryPages::page(FileKind kind) const
{
    return kind == Cards ? m_cardPage : m_songPage;
}

QString LibraryPages::folder(FileKind kind) const
{
    return library(kind)->rootPath();
}

QString LibraryPages::selectedFile(FileKind kind) const
{
    return page(kind)->selectedFilePath();
}

void LibraryPages::showPage(FileKind kind)
{
    setCurrentWidget(page(kind));
}

void LibraryPages::describe(WindowState *state) const
{
    state->cardLibraryPage = currentWidget() == m_cardPage;
    state->songLibraryPage = currentWidget() == m_songPage;
    state->cardLibraryItem = m_cardPage->treeView()->selectionModel()->hasSelection();
    state->archiveSelected = !selectedFile(Cards).isEmpty();
    state->songLibraryItem = m_songPage->treeView()->selectionModel()->hasSelection();
    state->songFileSelected = !selectedFile(Songs).isEmpty();
    state->cardLibraryFile = !m_cardPage->selectedAnyFilePath().isEmpty();
    state->songLibraryFile = !m_songPage->selectedAnyFilePath().isEmpty();
    state->copySelected = m_safetyCopies->selectedEntry().has_value();
}

void LibraryPages::setCardWritable(bool writable)
{
    const bool copySelected = m_safetyCopies->selectedEntry().has_value();
    m_safetyCopies->restoreAction()->setToolTip(
        writable || !copySelected ? QString() : tr("Open a card for changes to restore a copy onto it."));
}

void LibraryPages::showDetails(FileKind kind, const QModelIndex &index)
{
    const SortedLibraryModel *model = library(kind);
    if (!index.isValid() || !(kind == Cards ? model->isArchive(index) : model->isSong(index)))
        return;
    if (kind == Cards) {
        m_archiveDetails->setPath(model->filePath(index), model->rootPath());
        WidgetUtils::showCentred(m_archiveDetails);
        return;
    }
    m_songDetails->song()->loadFromArchive(model->filePath(index), 0, true, model->rootPath());
    m_songDetails->setEditable(true);
    WidgetUtils::showCentred(m_songDetails);
}

void LibraryPages::showFile(const QString &path)
{
    const QFileInfo file(path);
    const FileKind kind =
        QLatin1Char('.') + file.suffix().toLower() == FileKinds::cardArchiveExtension() ? Cards : Songs;
    if (!file.isFile()) {
        qWarning() << "No such file to show:" << path;
        Notifier::tell(this, Notifier::Icon::Critical, QString(),
                       tr("The file \"%1\" could not be found.").arg(QDir::toNativeSeparators(path)));
        return;
    }
    // What cannot be read is refused with the reason, never shown in a details window whose Save
    // could only fail.
    const LibraryItemReader::Result read = LibraryItemReader::read(file.absoluteFilePath());
    const bool readable =
        read.type == (kind == Cards ? LibraryDataModel::ArchiveItem : LibraryDataModel::SongItem);
    const QString library = QFileInfo(folder(kind)).canonicalFilePath();
    const bool inLibrary =
        !library.isEmpty() && file.canonicalFilePath().startsWith(library + QLatin1Char('/'));
    if (inLibrary) {
        // Listed as damaged there, with the same reason as its tool tip.
        showPage(kind);
        page(kind)->selectPath(file.canonicalFilePath());
    }
    if (!readable) {
        qWarning() << "Library: Cannot show" << path << read.problem;
        Notifier::tell(this, Notifier::Icon::Critical, QString(),
                       tr("The file \"%1\" cannot be opened.").arg(QDir::toNativeSeparators(path)) +
                           QStringLiteral("\n\n") +
                           (read.problem.isEmpty() ? tr("It is neither a card archive nor a song file.")
                                                   : read.problem));
        return;
    }
    if (inLibrary)
        return;
    if (kind == Cards) {
        m_archiveDetails->setPath(file.absoluteFilePath());
        WidgetUtils::showCentred(m_archiveDetails);
    } else {
        m_songDetails->song()->loadFromArchive(file.absoluteFilePath(), 0, true);
        m_songDetails->setEditable(true);
        WidgetUtils::showCentred(m_songDetails);
    }
}

void LibraryPages::hideFile(FileKind kind, const QString &path)
{
    library(kind)->setPathHidden(path, true);
}

void LibraryPages::revealFile(FileKind kind, const QString &path, bool reread)
{
    SortedLibraryModel *model = library(kind);
    if (reread) {
        // Looked up in the data model: the sorting model does not list the path while it is hidden.
        LibraryDataModel *data = model->libraryModel();
        const QModelIndex index = data->index(path);
        if (index.isValid())
            data->refreshItem(index);
        else
            qDebug() << "Library: Not listed, so not read again:" << path;
    }
    model->setPathHidden(path, false);
}

} // namespace ZovaZode
