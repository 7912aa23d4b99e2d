// The library models on a temporary folder: what each kind of file shows and allows (a link
// shows as a link), the retries of unreadable files, renaming inside the file and on disk, the
// order of the sorted view, the drag bytes, which drops become archive requests, and the walls:
// renames, moves and copies that would reach outside the library are refused.
#include "models/librarydatamodel.h"

#include "support/libraryfixture.h"

#include <QDirIterator>
#include <QFileSystemModel>
#include <QMutex>
#include <QRegularExpression>

using namespace ZovaZode;
using namespace ZovaZode::TestSupport;

namespace {

const QString kMime = QStringLiteral("application/selkanor.morvmanager.");

// The log lines of every thread, the reader's too, from the installing of collect() on.
QStringList g_logged;
QMutex g_logMutex;
void collect(QtMsgType, const QMessageLogContext &, const QString &text)
{
    QMutexLocker lock(&g_logMutex);
    g_logged << text;
}
QStringList logged(const QString &pattern)
{
    QMutexLocker lock(&g_logMutex);
    return g_logged.filter(QRegularExpression(pattern));
}

// One library item record of the drag formats, laid out by hand: type, then the path as a
// byte count and UTF-16 code units, all big-endian.
QByteArray itemRecord(qint32 type, const QString &path)
{
    QByteArray bytes;
    auto put32 = [&bytes](quint32 value) {
        for (int shift = 24; shift >= 0; shift -= 8)
            bytes.append(char((value >> shift) & 0xff));
    };
    put32(quint32(type));
    put32(quint32(path.size() * 2));
    for (const QChar c : path)
        bytes.append(char(c.unicode() >> 8)).append(char(c.unicode() & 0xff));
    return bytes;
}

// Sets the root path and waits until the file system model, which gathers in its own thread,
// has listed the folder.
template<typename Model> void openLibrary(Model &model, LibraryDataModel *library, const QString &folder, int rows)
{
    QSignalSpy loaded(library->fileSystemModel(), &QFileSystemModel::directoryLoaded);
    model.setRootPath(folder);
    QTRY_VERIFY(loaded.count() > 0);
    QTRY_COMPARE(model.rowCount(model.index(folder)), rows);
}

// A library folder holding "x.mlsd" (song "Intro"), "g.mlad" (archive "Gig"), "bad.mlad" (not
// an archive), the folder "Sets", and the links "Latest.mlad" to "g.mlad" and "Shared" to a
// folder outside holding another "x.mlsd" and "Deep"; and a model listing it.
struct Library
{
    QTemporaryDir dir, outside;
    LibraryDataModel model;

    explicit Library(int kind = LibraryDataModel::AnyLibrary)
    {
        model.setItemType(kind);
        writeSongFile(path("x.mlsd"), "Intro", "First");
        writeArchive(path("g.mlad"), "Gig", "Friday");
        writeRange(path("bad.mlad"), 0, "not an archive");
        QDir(dir.path()).mkdir("Sets");
        writeSongFile(outside.filePath("x.mlsd"), "Outside");
        QDir(outside.path()).mkdir("Deep");
        QFile::link("g.mlad", path("Latest.mlad"));
        QFile::link(outside.path(), path("Shared"));
        // The model holds every file; the sorting model shows the library's kind.
        openLibrary(model, &model, dir.path(), 6);
    }
    QString path(const QString &name) const { return dir.filePath(name); }
    QModelIndex item(const QString &name) const
    {
        return model.index(name.isEmpty() || name == "." ? dir.path() : path(name));
    }
    // Every entry of the library and of the folder outside, links not followed.
    QStringList contents() const
    {
        QStringList entries;
        for (const auto &[folder, shown] : {std::pair(dir.path(), "lib"), std::pair(outside.path(), "out")}) {
            QDirIterator it(folder, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System,
                            QDirIterator::Subdirectories);
            while (it.hasNext())
                entries << shown + it.next().mid(folder.size());
        }
        entries.sort();
        return entries;
    }
};

} // namespace

class TestLibraryDataModel : public QObject
{
    Q_OBJECT

private slots:
    void items_data();
    void items();
    void unreadableFilesAreRetried();
    void renaming_data();
    void renaming();
    void sortedByStoredNames();
    void dragBytes_data();
    void dragBytes();
    void drops_data();
    void drops();
    void walls_data();
    void walls();
};

void TestLibraryDataModel::items_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("content"); // written over the file first, if any
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QString>("kind"); // "archive", "song" or "" (neither: nothing to edit or drag)
    QTest::addColumn<QString>("info"); // the info column, and the tool tip of a damaged file
    const QString damaged = QStringLiteral("Damaged|");
    // clang-format off
    //                                      file        content       shown                        kind         info
    QTest::newRow("archive")             << "g.mlad" << ""         << "Gig"                     << "archive" << "1.6 MB|";
    QTest::newRow("song file")           << "x.mlsd" << ""         << "Intro"                   << "song"    << "0.1 MB|";
    QTest::newRow("archive of 3 songs")  << "g.mlad" << "3 songs"  << "Corrupt File (g.mlad)"   << ""        << damaged + "The archive holds 3 songs; a card archive holds 12.";
    QTest::newRow("garbage")             << "bad.mlad" << ""       << "Corrupt File (bad.mlad)" << ""        << damaged + "Could not open archive file: Error reading archive header.";
    QTest::newRow("song file, no song")  << "x.mlsd" << "no song"  << "Corrupt File (x.mlsd)"   << ""        << damaged + "The file holds no song.";
    // Its headers read well; its last recording runs past the end of the file.
    QTest::newRow("song file, cut short") << "x.mlsd" << "cut"     << "Corrupt File (x.mlsd)"   << ""        << damaged + "The file is cut short: 1,000 bytes are missing at its end.";
    QTest::newRow("link to an archive")  << "Latest.mlad" << ""    << "Latest.mlad"             << ""        << "|";
    QTest::newRow("link to a folder")    << "Shared" << ""         << "Shared"                  << ""        << "|";
    // clang-format on
}

void TestLibraryDataModel::items()
{
    QFETCH(QString, file);
    QFETCH(QString, content);
    QFETCH(QString, shown);
    QFETCH(QString, kind);
    QFETCH(QString, info);

    Library library;
    if (!content.isEmpty()) {
        if (content == "no song") {
            writeSongFile(library.path(file), QByteArray());
        } else if (content == "cut") {
            ArchiveBuilder builder;
            builder.addSong(sampleSong(0, 1, "Intro"));
            QVERIFY(QFile::remove(library.path(file)));
            writeRange(library.path(file), 0, builder.bytes().chopped(1000));
        } else {
            writeArchive(library.path(file), "Gig", "", 3);
        }
        library.model.refreshItem(library.item(file));
    }
    const QModelIndex index = library.item(file);
    QTRY_COMPARE(index.data().toString(), shown);
    QCOMPARE(index.data(LibraryDataModel::ItemNameRole).toString(), shown);
    QCOMPARE(index.siblingAtColumn(LibraryDataModel::InfoColumn).data().toString() + '|' +
                 index.data(Qt::ToolTipRole).toString(),
             info);
    const auto picture = [](const QIcon &icon) { return icon.pixmap(16).toImage(); };
    QCOMPARE(picture(index.data(Qt::DecorationRole).value<QIcon>()) ==
                 picture(QIcon(":/images/damaged_icon")),
             info.startsWith("Damaged|"));
    QCOMPARE(library.model.isArchive(index), kind == "archive");
    QCOMPARE(library.model.isSong(index), kind == "song");
    QCOMPARE(library.model.flags(index).testFlag(Qt::ItemIsEditable), !kind.isEmpty());
    QCOMPARE(library.model.flags(index).testFlag(Qt::ItemIsDragEnabled), !kind.isEmpty());
    QVERIFY(!library.model.flags(index.sibling(index.row(), 1)).testFlag(Qt::ItemIsEditable));
    // Nothing to open or to drop into: a link is not followed.
    QVERIFY(!library.model.hasChildren(index) && !library.model.flags(index).testFlag(Qt::ItemIsDropEnabled));
}

// A file still being written reads as corrupt: it is read again 20 times, then given up until
// refreshed; a file completed meanwhile shows at once.
void TestLibraryDataModel::unreadableFilesAreRetried()
{
    Library library;
    library.model.setRetryInterval(1);
    g_logged.clear();
    const auto uninstall = qScopeGuard([previous = qInstallMessageHandler(collect)] { qInstallMessageHandler(previous); });
    library.model.refreshItem(library.item("bad.mlad"));
    QVERIFY(library.model.isRetrying());
    QTRY_VERIFY(!library.model.isRetrying());
    QCOMPARE(logged("^Library: Loading item data:.*bad\\.mlad").size(), 21);
    QCOMPARE(logged("^Library: Ran out of attempts to re-read item\\.").size(), 1);
    QCOMPARE(library.item("bad.mlad").data().toString(), QString("Corrupt File (bad.mlad)"));

    library.model.setRetryInterval(20);
    library.model.refreshItem(library.item("bad.mlad"));
    writeArchive(library.path("bad.mlad"), "Finished Gig");
    QTRY_COMPARE(library.item("bad.mlad").data().toString(), QString("Finished Gig"));
    QVERIFY(!library.model.isRetrying());
}

void TestLibraryDataModel::renaming_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("newName");
    QTest::addColumn<QString>("box");       // the refusal reported, if any
    QTest::addColumn<QString>("fileAfter"); // the file's name afterwards; the stored name follows it
    const QString exists =
        "A file named %1 already exists in this folder.\n\nPlease choose a different name.";
    // clang-format off
    //                                 file          newName        box                                                                                       fileAfter
    QTest::newRow("song")           << "x.mlsd"   << "Verse"     << ""                                                                                     << "Verse.mlsd";
    QTest::newRow("archive")        << "g.mlad"   << "Gig 2"     << ""                                                                                     << "Gig 2.mlad";
    QTest::newRow("punctuation")    << "g.mlad"   << "Gig!"      << "The name contains characters that are not permitted.\n\nPlease avoid punctuation." << "g.mlad";
    QTest::newRow("file exists")    << "x.mlsd"   << "Intro2"    << exists.arg("Intro2.mlsd")                                                          << "x.mlsd";
    QTest::newRow("unchanged")      << "g.mlad"   << "Gig"       << ""                                                                                     << "g.mlad";
    QTest::newRow("unreadable")     << "bad.mlad" << "New"       << ""                                                                                     << "bad.mlad";
    // clang-format on
}

void TestLibraryDataModel::renaming()
{
    QFETCH(QString, file);
    QFETCH(QString, newName);
    QFETCH(QString, box);
    QFETCH(QString, fileAfter);

    Library library;
    writeSongFile(library.path("Intro2.mlsd"), "Taken");
    const QString description = file == "bad.mlad" ? "" : storedName(library.path(file), true);
    if (file == "bad.mlad")
        QTest::ignoreMessage(QtCriticalMsg, "Can not change name of item of unknown type.");
    QSignalSpy refusals(&library.model, &LibraryDataModel::nameRefused);
    QCOMPARE(library.model.setData(library.item(file), newName, Qt::EditRole), fileAfter != file);
    QCOMPARE(refusals.count() ? refusals.first().first().toString() : QString(), box);
    QVERIFY(QFile::exists(library.path(fileAfter)));
    QCOMPARE(QFile::exists(library.path(file)), fileAfter == file);
    if (file == "bad.mlad")
        return;
    QCOMPARE(storedName(library.path(fileAfter)),
             fileAfter == file ? library.item(file).data().toString() : newName);
    QCOMPARE(storedName(library.path(fileAfter), true), description);
}

// Folders first, then files by the names stored in them rather than their file names, neither
// temporary files nor the records beside archives listed; each name that arrives is reported as a
// change of its row, the folder's last row too (a view repaints only the rows reported).
void TestLibraryDataModel::sortedByStoredNames()
{
    QTemporaryDir dir;
    QDir(dir.path()).mkdir("zeta");
    writeSongFile(dir.filePath("a.mlsd"), "Charlie");
    writeSongFile(dir.filePath("b.mlsd"), "alpha");
    writeSongFile(dir.filePath("c.mlsd"), "Bravo");
    writeArchive(dir.filePath("0.mlad"), "Delta");
    writeSongFile(dir.filePath("0.mlsd.partial"), "Echo");
    writeRange(dir.filePath("c.mlsd.sum"), 0, "morv-archive-sums 1\n"); // how c.mlsd was made
    SortedLibraryModel model;
    model.libraryModel()->setItemType(LibraryDataModel::SongLibrary);
    model.setSortCaseSensitivity(Qt::CaseInsensitive);
    model.sort(0, Qt::AscendingOrder);
    QStringList reported;
    connect(model.libraryModel(), &QAbstractItemModel::dataChanged,
            [&](const QModelIndex &from, const QModelIndex &to) {
                for (int row = from.row(); row <= to.row(); ++row)
                    reported << from.siblingAtRow(row).data().toString();
            });
    g_logged.clear();
    const auto uninstall = qScopeGuard([previous = qInstallMessageHandler(collect)] { qInstallMessageHandler(previous); });
    openLibrary(model, model.libraryModel(), dir.path(), 4);
    const auto shown = [&] {
        QStringList names;
        for (int row = 0; row < 4; ++row)
            names << model.index(row, 0, model.index(dir.path())).data().toString();
        return names;
    };
    QTRY_COMPARE(shown(), QStringList({"zeta", "alpha", "Bravo", "Charlie"}));
    for (const char *name : {"alpha", "Bravo", "Charlie"})
        QVERIFY2(reported.contains(name), name);
    // The names came from the reader thread: nothing was read while sorting.
    QVERIFY(logged("^Library: Loading item data:").isEmpty());
}

void TestLibraryDataModel::dragBytes_data()
{
    QTest::addColumn<QStringList>("dragged"); // "name" or "name@column"
    QTest::addColumn<QStringList>("written"); // "type:name" in order
    QTest::addColumn<QString>("single");      // the format of a single song or archive
    // clang-format off
    //                                     dragged                                written                                single
    QTest::newRow("one song")           << QStringList{"x.mlsd"}             << QStringList{"1:x.mlsd"}             << "song_path";
    QTest::newRow("one archive")        << QStringList{"g.mlad"}             << QStringList{"2:g.mlad"}             << "archive_path";
    QTest::newRow("archive and song")   << QStringList{"g.mlad", "x.mlsd"}   << QStringList{"2:g.mlad", "1:x.mlsd"} << "";
    QTest::newRow("unreadable")         << QStringList{"bad.mlad"}           << QStringList{"0:bad.mlad"}           << "";
    QTest::newRow("row of two columns") << QStringList{"x.mlsd", "x.mlsd@1"} << QStringList{"1:x.mlsd"}             << "song_path";
    QTest::newRow("folder")             << QStringList{"Sets"}               << QStringList{}                       << "";
    // clang-format on
}

void TestLibraryDataModel::dragBytes()
{
    QFETCH(QStringList, dragged);
    QFETCH(QStringList, written);
    QFETCH(QString, single);

    Library library;
    QModelIndexList indexes;
    for (const QString &entry : dragged) {
        const QModelIndex index = library.item(entry.section('@', 0, 0));
        indexes << index.sibling(index.row(), entry.section('@', 1).toInt());
    }
    QByteArray expected;
    for (const QString &entry : written)
        expected += itemRecord(entry.section(':', 0, 0).toInt(), library.path(entry.section(':', 1)));

    std::unique_ptr<QMimeData> data(library.model.mimeData(indexes));
    QCOMPARE(data->data(kMime + "library_item_list"), expected);
    QCOMPARE(data->hasFormat(kMime + "song_path"), single == "song_path");
    QCOMPARE(data->hasFormat(kMime + "archive_path"), single == "archive_path");
    QVERIFY(single.isEmpty() || data->data(kMime + single) == expected);
    QVERIFY(data->hasUrls());
}

void TestLibraryDataModel::drops_data()
{
    QTest::addColumn<int>("kind"); // of library
    QTest::addColumn<QString>("format");
    QTest::addColumn<QString>("target");  // the item dropped on, empty for the folder itself
    QTest::addColumn<QString>("request"); // "songs into <folder>", "card into <folder>", or none
    const int songs = LibraryDataModel::SongLibrary, cards = LibraryDataModel::CardLibrary,
              any = LibraryDataModel::AnyLibrary;
    // clang-format off
    //                                     kind      format              target      request
    QTest::newRow("songs on library")   << songs << "card_song_list" << ""       << "songs into ";
    QTest::newRow("songs on file row")  << songs << "card_song_list" << "x.mlsd" << "songs into ";
    QTest::newRow("songs on folder")    << any   << "card_song_list" << "Sets"   << "songs into Sets";
    QTest::newRow("songs on card lib.") << cards << "card_song_list" << ""       << "";
    QTest::newRow("card on archive row")<< cards << "card"           << "g.mlad" << "card into ";
    QTest::newRow("card on folder")     << cards << "card"           << "Sets"   << "card into Sets";
    QTest::newRow("card on a link")     << cards << "card"           << "Shared" << "card into ";
    QTest::newRow("unknown format")     << any   << "text"           << ""       << "";
    // clang-format on
}

void TestLibraryDataModel::drops()
{
    QFETCH(int, kind);
    QFETCH(QString, format);
    QFETCH(QString, target);
    QFETCH(QString, request);

    Library library(kind);
    QMimeData data;
    data.setData(kMime + format, QByteArray("\0\0\0\2\0\0\0\5", 8));
    QSignalSpy songRequests(&library.model, &LibraryDataModel::songArchiveRequest);
    QSignalSpy cardRequests(&library.model, &LibraryDataModel::cardArchiveRequest);
    QCOMPARE(library.model.canDropMimeData(&data, Qt::CopyAction, -1, -1, library.item(target)),
             !request.isEmpty());
    QCOMPARE(library.model.dropMimeData(&data, Qt::CopyAction, -1, -1, library.item(target)),
             !request.isEmpty());

    QSignalSpy &made = format == "card" ? cardRequests : songRequests;
    QCOMPARE(songRequests.count() + cardRequests.count(), request.isEmpty() ? 0 : 1);
    if (request.isEmpty())
        return;
    const QString folder = request.section(" into ", 1);
    QCOMPARE(made.at(0).at(0).toString(), folder.isEmpty() ? library.dir.path() : library.path(folder));
    if (format != "card")
        QCOMPARE(made.at(0).at(1).value<QList<int>>(), QList<int>({2, 5}));
}

void TestLibraryDataModel::walls_data()
{
    QTest::addColumn<QString>("act"); // "rename <item> <name>", "move|copy <item> <folder>"; OUT/ is outside
    QTest::addColumn<QString>("error");       // the failure reported, <lib> and <out> for the two folders
    QTest::addColumn<QStringList>("changes"); // in contents(): "+entry" or "-entry"
    const QString move = "Could not move every item.\n\n", copy = "Could not copy every file.\n\n";
    // clang-format off
    //                                  act                        error                                                                       changes
    QTest::newRow("rename folder")   << "rename Sets Gigs"      << ""                                                                       << QStringList{"-lib/Sets", "+lib/Gigs"};
    QTest::newRow("rename upwards")  << "rename Sets ../Gigs"   << "Could not rename the folder.\n\n\"../Gigs\" cannot be the name of an item in a folder." << QStringList{};
    QTest::newRow("move in")         << "move x.mlsd Sets"      << ""                                                                       << QStringList{"-lib/x.mlsd", "+lib/Sets/x.mlsd"};
    QTest::newRow("move behind link")<< "move x.mlsd Shared/Deep" << move + "\"Shared\" is a symbolic link, which the library does not follow." << QStringList{};
    QTest::newRow("move from out")   << "move OUT/x.mlsd ."     << move + "\"<out>/x.mlsd\" is not inside the library folder \"<lib>\"." << QStringList{};
    QTest::newRow("copy from out")   << "copy OUT/x.mlsd Sets"  << ""                                                                       << QStringList{"+lib/Sets/x.mlsd"};
    QTest::newRow("copy onto a file")<< "copy OUT/x.mlsd ."     << copy + "\"x.mlsd\": File exists."                                     << QStringList{};
    QTest::newRow("copy onto itself")<< "copy x.mlsd ."         << ""                                                                       << QStringList{};
    // clang-format on
}

// Renames go through the model's edit, moves and copies through drops of files on a folder.
void TestLibraryDataModel::walls()
{
    QFETCH(QString, act);
    QFETCH(QString, error);
    QFETCH(QStringList, changes);

    Library library;
    const QStringList before = library.contents();
    const QStringList words = act.split(' ');
    const QString item = QString(words.at(1)).replace("OUT/", library.outside.path() + '/');
    QSignalSpy failures(&library.model, &LibraryDataModel::fileOperationFailed);
    if (words.at(0) == "rename") {
        QCOMPARE(library.model.setData(library.item(item), words.at(2)), error.isEmpty());
    } else {
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(QFileInfo(item).isAbsolute() ? item : library.path(item))});
        const Qt::DropAction action = words.at(0) == "move" ? Qt::MoveAction : Qt::CopyAction;
        QCOMPARE(library.model.dropMimeData(&data, action, -1, -1, library.item(words.at(2))),
                 error.isEmpty());
    }
    QCOMPARE(failures.value(0).value(0).toString(),
             QString(error).replace("<out>", library.outside.path()).replace("<lib>", library.dir.path()));
    QStringList expected = before;
    for (const QString &change : changes)
        change.startsWith('+') ? void(expected << change.mid(1)) : void(expected.removeAll(change.mid(1)));
    expected.sort();
    QCOMPARE(library.contents(), expected);
    if (act == "copy OUT/x.mlsd Sets")
        QCOMPARE(wholeFile(library.path("Sets/x.mlsd")), wholeFile(library.outside.filePath("x.mlsd")));
}

MORV_TEST_MAIN(TestLibraryDataModel)
#include "tst_librarydatamodel.moc"
