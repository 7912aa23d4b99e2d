// ArchiveDetailView: reading and editing a card archive's name and description.
#include "views/archivedetailview.h"

#include "domain/cardrecords.h"
#include "domain/libraryfilenames.h"
#include "domain/libraryfolder.h"
#include "domain/namecheck.h"
#include "domain/notifier.h"
#include "domain/sizetext.h"
#include "domain/song.h"
#include "domain/songarchive.h"
#include "models/songlistmodel.h"
#include "views/sdcarditemdelegate.h"
#include "views/songdetailview.h"
#include "views/widgetutils.h"

#include <QAction>
#include <QDateTime>
#include <QDebug>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QLocale>
#include <QMenu>
#include <QPlainTextEdit>
#include <QStringList>
#include <QVBoxLayout>

namespace ZovaZode {

namespace {

QDateTime creationTime(const QFileInfo &file)
{
    // Not every file system keeps a birth time; the status change time is the closest then.
    const QDateTime born = file.birthTime();
    return born.isValid() ? born : file.metadataChangeTime();
}

} // namespace

ArchiveDetailView::ArchiveDetailView(QWidget *parent)
    : QDialog(parent), m_locationLabel(new QLabel(this)), m_dateLabel(new QLabel(this)),
      m_sizeLabel(new QLabel(this)), m_nameEdit(new QLineEdit(this)),
      m_descriptionEdit(new QPlainTextEdit(this)), m_songList(new QListWidget(this)),
      m_songDetailView(new SongDetailView(this)), m_detailsAction(new QAction(tr("Details..."), this)),
      m_contextMenu(new QMenu(this)),
      m_buttons(new QDialogButtonBox(QDialogButtonBox::Save | QDialogButtonBox::Cancel, this))
{
    setWindowTitle(tr("Morv+ Card Archive"));
    m_locationLabel->setMinimumWidth(100);
    m_locationLabel->setWordWrap(true);
    m_locationLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_dateLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);

    m_songList->setItemDelegate(new SdCardItemDelegate(m_songList));
    QPalette palette = m_songList->palette();
    palette.setColor(QPalette::All, QPalette::Base, QColor(245, 245, 245));
    m_songList->setPalette(palette);
    m_songList->setContextMenuPolicy(Qt::CustomContextMenu);
    m_contextMenu->addAction(m_detailsAction);

    m_songDetailView->setEditable(false);
    m_songDetailView->setModal(true);
    m_songDetailView->resize(m_songDetailView->sizeHint());

    auto *location = new QVBoxLayout;
    location->addWidget(WidgetUtils::boldLabel(tr("Location:"), this));
    location->addWidget(m_locationLabel);

    auto *fields = new QVBoxLayout;
    fields->addWidget(WidgetUtils::boldLabel(tr("Date of Creation:"), this));
    fields->addWidget(m_dateLabel);
    fields->addWidget(WidgetUtils::boldLabel(tr("Size:"), this));
    fields->addWidget(m_sizeLabel);
    fields->addWidget(WidgetUtils::boldLabel(tr("Name:"), this));
    fields->addWidget(m_nameEdit);
    fields->addWidget(WidgetUtils::boldLabel(tr("Description:"), this));
    fields->addWidget(m_descriptionEdit);

    auto *row = new QHBoxLayout;
    row->addLayout(fields, 1);
    row->addWidget(m_songList, 1);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(location);
    layout->addLayout(row, 1);
    layout->addWidget(m_buttons);

    connect(m_songList, &QListWidget::activated, this,
            [this](const QModelIndex &index) { showSongDetails(index.row()); });
    connect(m_detailsAction, &QAction::triggered, this, [this] {
        if (m_songList->currentItem())
            showSongDetails(m_songList->currentRow());
    });
    connect(m_songList, &QListWidget::customContextMenuRequested, this, &ArchiveDetailView::showContextMenu);
    connect(m_buttons, &QDialogButtonBox::accepted, this, &ArchiveDetailView::save);
    connect(m_buttons, &QDialogButtonBox::rejected, this, &ArchiveDetailView::reject);

    refresh();
}

ArchiveDetailView::~ArchiveDetailView() = default;

QSize ArchiveDetailView::sizeHint() const
{
    return QSize(700, 520);
}

void ArchiveDetailView::setPath(const QString &path, const QString &library)
{
    m_path = path;
    m_library = library;
    refresh();
}

void ArchiveDetailView::refresh()
{
    m_nameEdit->clearFocus();
    m_locationLabel->clear();
    m_dateLabel->clear();
    m_sizeLabel->clear();
    m_nameEdit->clear();
    m_descriptionEdit->clear();
    m_songList->clear();
    if (m_path.isEmpty())
        return;

    m_locationLabel->setText(m_path);
    m_dateLabel->setText(QLocale().toString(creationTime(QFileInfo(m_path)), QLocale::ShortFormat));
    m_sizeLabel->setText(megabytesText(QFileInfo(m_path).size()));
    try {
        const SongArchive archive(m_path, 0, 0);
        m_nameEdit->setText(archive.name());
        m_descriptionEdit->setPlainText(archive.description());
        for (int song = 0; song < archive.songCount(); ++song) {
            const SongInfo info = archive.songInfo(song);
            QVariantList states;
            for (int part = 0; part < SongArchive::partCount(); ++part)
                states << partState(archive.partInfo(song, part));
            auto *item = new QListWidgetItem;
            item->setFlags(Qt::ItemIsEnabled);
            item->setData(SongListModel::NameRole, info.name);
            item->setData(SongListModel::PartsRole, states);
            m_songList->addItem(item);
        }
    } catch (const std::exception &error) {
        qCritical() << "Failed reading archive:" << error.what();
    }
}

void ArchiveDetailView::save()
{
    if (m_path.isEmpty())
        return;

    const QString name = m_nameEdit->text();
    const QString description = m_descriptionEdit->toPlainText();
    const QStringList problems = detailProblems(QStringLiteral("archive"), name, description);
    if (!problems.isEmpty()) {
        Notifier::inform(this, correctionText(problems));
        return;
    }

    const QFileInfo current(m_path);
    // An archive opened on its own is kept to its own folder.
    const LibraryFolder library(m_library.isEmpty() ? current.path() : m_library);
    QString reason;
    if (!library.isPlainFile(m_path, &reason)) {
        tellNotSaved(reason);
        return;
    }
    const QString fileName = archiveFileName(name);
    const bool renaming = fileName != current.fileName();
    if (renaming && current.dir().exists(fileName)) {
        Notifier::inform(this, tr("A file named %1 already exists in this folder.\n\n"
                                  "Please choose a different archive name.")
                                   .arg(fileName));
        return;
    }
    if (!writeDetails(name, description))
        return;
    if (renaming)
        renameFile(library, fileName);
    emit saved();
    accept();
}

bool ArchiveDetailView::writeDetails(const QString &name, const QString &description)
{
    try {
        SongArchive archive(m_path, 1, 0);
        archive.setName(name);
        archive.setDescription(description);
        archive.close();
        return true;
    } catch (const std::exception &error) {
        qCritical().nospace() << "Failed to save archive: " << error.what();
        tellNotSaved(QString::fromUtf8(error.what()));
        return false;
    }
}

void ArchiveDetailView::renameFile(const LibraryFolder &library, const QString &fileName)
{
    const QString target = QFileInfo(m_path).dir().filePath(fileName);
    qDebug() << "Archive: Updating file name:" << target;
    QString reason;
    // Never replaces a file that appeared meanwhile.
    if (library.rename(m_path, fileName, &reason)) {
        m_path = target;
        return;
    }
    qCritical() << "Failed to update file name:" << target << reason;
    Notifier::tell(this, Notifier::Icon::Critical, windowTitle(),
                   tr("The new name is stored in the archive, but the file keeps its file name.") +
                       QStringLiteral("\n\n") + reason);
}

void ArchiveDetailView::tellNotSaved(const QString &reason)
{
    Notifier::tell(this, Notifier::Icon::Critical, windowTitle(),
                   tr("Could not save the archive.") + QStringLiteral("\n\n") + reason);
}

void ArchiveDetailView::showSongDetails(int row)
{
    if (m_path.isEmpty() || row < 0)
        return;
    m_songDetailView->song()->loadFromArchive(m_path, row, false);
    WidgetUtils::showCentred(m_songDetailView);
}

void ArchiveDetailView::showContextMenu(const QPoint &position)
{
    QListWidgetItem *item = m_songList->itemAt(position);
    if (!item)
        return;
    // Songs are not selectable, so a right-click does not always move the current item.
    m_songList->setCurrentItem(item, QItemSelectionModel::NoUpdate);
    m_contextMenu->popup(m_songList->viewport()->mapToGlobal(position));
}

} // namespace ZovaZode
