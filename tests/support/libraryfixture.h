// Cards and library folders for the model, view and window tests: sparse card images, card
// archives and song files built byte by byte in a temporary folder, and the librarian view on
// them with a notifier and a prompter that answer from prepared lists.
#pragma once

#include "../domain/recordingnotifier.h"
#include "domain/configurationmanager.h"
#include "domain/sdcard.h"
#include "domain/songarchive.h"
#include "models/songlistmodel.h"
#include "models/sortedlibrarymodel.h"
#include "support/archivebuilder.h"
#include "support/cardimage.h"
#include "support/filebytes.h"
#include "support/records.h"
#include "views/actionregistry.h"
#include "views/cardpanel.h"
#include "views/cardsession.h"
#include "views/cardsongsview.h"
#include "views/librarianview.h"
#include "views/libraryfolderview.h"
#include "views/librarypages.h"
#include "views/prompter.h"
#include "views/transfercontroller.h"

#include <QAction>
#include <QDir>
#include <QMimeData>
#include <QSettings>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTreeView>
#include <QtTest>

#include <memory>

namespace ZovaZode::TestSupport {

// A named song over unused, empty parts: a library file of a few hundred kilobytes.
inline SongRecords namedSong(int song, const QByteArray &name, const QByteArray &description = "A song")
{
    SongRecords records = emptySong(song, 1);
    records.song = songData({name, description});
    return records;
}

// A card archive with user prefs; with 12 songs it is complete. `recorded` songs hold loops.
inline void writeArchive(const QString &path, const QByteArray &name,
                         const QByteArray &description = "An archive", int songs = 12, bool recorded = false)
{
    ArchiveBuilder builder;
    QByteArray fields(128 + 384, '\0');
    putText(fields, 0, 128, name);
    putText(fields, 128, 384, description);
    builder.setNameField(fields.left(128));
    builder.setDescriptionField(fields.mid(128));
    builder.setUserPrefs(userPrefs());
    for (int song = 0; song < songs; ++song) {
        const QByteArray songName = "Song " + QByteArray::number(song + 1);
        builder.addSong(recorded ? sampleSong(song, 1, songName) : namedSong(song, songName));
    }
    builder.write(path);
}

// A song file holding one song (none when `name` is null).
inline void writeSongFile(const QString &path, const QByteArray &name, const QByteArray &description = "A song")
{
    ArchiveBuilder builder;
    if (!name.isNull())
        builder.addSong(namedSong(0, name, description));
    builder.write(path);
}

// What is stored inside a file: the archive's name or description for ".mlad", the first
// song's for ".mlsd".
inline QString storedName(const QString &path, bool description = false)
{
    SongArchive archive(path, 0, 0);
    if (path.endsWith(QLatin1String(".mlsd")))
        return description ? archive.songInfo(0).description : archive.songInfo(0).name;
    return description ? archive.description() : archive.name();
}

class ScriptedPrompter : public Prompter
{
public:
    ScriptedPrompter() { Prompter::install(this); }
    ~ScriptedPrompter() override { Prompter::install(nullptr); }

    QString openFile(QWidget *, const FileRequest &request) override
    {
        fileRequests.append(request);
        return fileAnswer;
    }
    QString folder(QWidget *, const QString &, const QString &) override { return folderAnswer; }
    // A null answer (or none left) is Cancel. Records "title|label|proposal".
    bool text(QWidget *, const QString &title, const QString &label, QString *value) override
    {
        questions << title + QLatin1Char('|') + label + QLatin1Char('|') + *value;
        const QString answer = textAnswers.isEmpty() ? QString() : textAnswers.takeFirst();
        if (answer.isNull())
            return false;
        *value = answer;
        return true;
    }

    QString fileAnswer, folderAnswer;
    QStringList textAnswers, questions;
    QVector<FileRequest> fileRequests;
};

// Settings of their own (in test mode, as every test is), and the one configuration manager the
// view reads.
inline std::unique_ptr<ConfigurationManager> librarianConfiguration(const char *application)
{
    QCoreApplication::setOrganizationName(QStringLiteral("Selkanor"));
    QCoreApplication::setApplicationName(QString::fromLatin1(application));
    QSettings().clear();
    return std::make_unique<ConfigurationManager>();
}

// Drags `data` over `widget` and drops it at `position`, as a drag from another widget does;
// whether the drop was accepted.
inline bool dropOn(QWidget *widget, const QPoint &position, QMimeData *data)
{
    QDragEnterEvent enter(position, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &enter);
    QDragMoveEvent move(position, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &move);
    QDropEvent drop(position, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &drop);
    return drop.isAccepted();
}

// The librarian view on a sparse card and two library folders.
struct Librarian
{
    QTemporaryDir dir{scratchFolderTemplate()};
    QString cardFolder = dir.filePath(QStringLiteral("card"));
    QString cardLibrary = dir.filePath(QStringLiteral("cards"));
    QString songLibrary = dir.filePath(QStringLiteral("songs"));
    CardImage image{cardFolder};
    RecordingNotifier notifier;
    ScriptedPrompter prompter;
    std::unique_ptr<LibrarianView> view;

    explicit Librarian(const QByteArray &cardName = "Gig", bool safetyCopies = false)
    {
        for (const QString &folder : {cardFolder, cardLibrary, songLibrary})
            QDir().mkpath(folder);
        image.create(cardName);
        ConfigurationManager *configuration = ConfigurationManager::instance();
        configuration->setCardLibraryLocation(cardLibrary);
        configuration->setSongLibraryLocation(songLibrary);
        configuration->setSdCardLocation(QString());
        configuration->setSafetyCopiesEnabled(safetyCopies);
        view = std::make_unique<LibrarianView>(*configuration);
        view->resize(900, 800);
    }

    // The parts of the window the tests drive.
    QAction *action(const char *id) const { return view->actions()->action(QString::fromLatin1(id)); }
    const std::shared_ptr<SdCard> &card() const { return view->session()->card(); }
    SongListModel *songs() const { return view->session()->songs(); }
    LibraryPages *pages() const { return view->libraryPages(); }
    TransferController *transfers() const { return view->transfers(); }

    // Through "Open Card...", as the user does.
    void openCard()
    {
        prompter.fileAnswer = image.path();
        action("OpenCard")->trigger();
    }

    SortedLibraryModel *library(bool cards) const
    {
        return pages()->library(cards ? FileKind::CardArchive : FileKind::SongFile);
    }
    LibraryFolderView *page(bool cards) const
    {
        return pages()->page(cards ? FileKind::CardArchive : FileKind::SongFile);
    }
    // The item of a file or folder once the library lists it.
    QModelIndex item(bool cards, const QString &path) const
    {
        const QModelIndex index = library(cards)->index(path);
        return index.isValid() && library(cards)->filePath(index) == path ? index : QModelIndex();
    }
    // Shows the page and selects the item once the library lists it.
    bool select(bool cards, const QString &path)
    {
        pages()->setCurrentIndex(cards ? 0 : 1);
        if (!QTest::qWaitFor([&] { return item(cards, path).isValid(); }))
            return false;
        page(cards)->selectPath(path);
        return true;
    }
    void selectCardSong(int row) const
    {
        view->cardPanel()->songsView()->selectionModel()->select(songs()->index(row, 0),
                                                                 QItemSelectionModel::ClearAndSelect);
    }
    // Each box as "<icon> <title>: <text>", the icon as I, W, C, Q or - for none.
    QStringList boxes() const
    {
        QStringList result;
        for (const Notifier::Message &message : notifier.messages())
            result << QLatin1Char("-IWCQ"[int(message.icon)]) + QLatin1Char(' ') + message.title + ": " +
                          message.text;
        return result;
    }
};

} // namespace ZovaZode::TestSupport
