// The library data model: what each kind of file shows, the retries of unreadable files,
// renaming inside the file and on disk, the drag bytes, and drops of the card and its songs.
#include "models/librarydatamodel.h"

#include "../domain/recordingnotifier.h"
#include "libraryfixture.h"

#include <QApplication>
#include <QFileSystemModel>
#include <QMimeData>
#include <QStyle>
#include <QtTest>

using namespace ZovaZode;
using namespace ZovaZode::TestSupport;

namespace {

const QString kListFormat = QStringLiteral("application/selkanor.morvmanager.library_item_list");
const QString kSongPathFormat = QStringLiteral("application/selkanor.morvmanager.song_path");
const QString kArchivePathFormat = QStringLiteral("application/selkanor.morvmanager.archive_path");
const QString kCardFormat = QStringLiteral("application/selkanor.morvmanager.card");
const QString kCardSongsFormat = QStringLiteral("application/selkanor.morvmanager.card_song_list");

// A library folder and a model listing it.
struct Library
{
    QTemporaryDir dir;
    LibraryDataModel model;

    explicit Library(int kind = LibraryDataModel::AnyLibrary) { model.setItemType(kind); }

    QString path(const QString &name) const { return dir.filePath(name); }
    QModelIndex root() const { return model.index(dir.path()); }
    QModelIndex item(const QString &name) const { return model.index(path(name)); }

    void open(int rows) { openLibrary(model, dir.path(), rows); }
};

QImage iconImage(const QVariant &decoration)
{
    return decoration.value<QIcon>().pixmap(32, 32).toImage();
}

QByteArray songNumbers(const QList<int> &songs)
{
    QByteArray bytes;
    QDataStream stream(&bytes, QIODevice::WriteOnly);
    for (int song : songs)
        stream << qint32(song);
    return bytes;
}

} // namespace

class TestLibraryDataModel : public QObject
{
    Q_OBJECT

private slots:
    void itemsShowWhatTheyHold_data();
    void itemsShowWhatTheyHold();
    void unreadableFilesAreGivenUpAfterTwentyRetries_data();
    void unreadableFilesAreGivenUpAfterTwentyRetries();
    void fileCompletedWhileRetryingIsShown();
    void removedFilesAreReadAfresh_data();
    void removedFilesAreReadAfresh();
    void resetDropsTheRetryQueue();
    void renaming_data();
    void renaming();
    void renamingUnreadableFileIsRefused();
    void description_data();
    void description();
    void dragBytes_data();
    void dragBytes();
    void drops_data();
    void drops();
};

void TestLibraryDataModel::itemsShowWhatTheyHold_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("content");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QString>("description");
    QTest::addColumn<QString>("icon");
    QTest::addColumn<bool>("editable");
    QTest::addColumn<bool>("draggable");

    // clang-format off
    QTest::newRow("complete archive")     << "x.mlad" << "archive"       << "Live Gig"              << "An archive" << "archive"  << true  << true;
    QTest::newRow("song file")            << "x.mlsd" << "song"          << "Intro"                 << "First"      << "song"     << true  << true;
    QTest::newRow("archive of 3 songs")   << "a.mlad" << "short archive" << "Corrupt File (a.mlad)" << ""           << "critical" << false << false;
    QTest::newRow("archive, no prefs")    << "p.mlad" << "no prefs"      << "Corrupt File (p.mlad)" << ""           << "critical" << false << false;
    QTest::newRow("song file, no song")   << "b.mlsd" << "no song"       << "Corrupt File (b.mlsd)" << ""           << "critical" << false << false;
    QTest::newRow("garbage archive")      << "c.mlad" << "garbage"       << "Corrupt File (c.mlad)" << ""           << "critical" << false << false;
    QTest::newRow("empty song file")      << "d.mlsd" << "empty"         << "Corrupt File (d.mlsd)" << ""           << "critical" << false << false;
    QTest::newRow("song in archive file") << "s.mlad" << "song"          << "Corrupt File (s.mlad)" << ""           << "critical" << false << false;
    // clang-format on
}

void TestLibraryDataModel::itemsShowWhatTheyHold()
{
    QFETCH(QString, file);
    QFETCH(QString, content);
    QFETCH(QString, shown);
    QFETCH(QString, description);
    QFETCH(QString, icon);
    QFETCH(bool, editable);
    QFETCH(bool, draggable);

    Library library;
    const QString path = library.path(file);
    if (content == "archive")
        writeArchive(path, "Live Gig");
    else if (content == "short archive")
        writeArchive(path, "Live Gig", "An archive", 3);
    else if (content == "no prefs")
        writeArchive(path, "Live Gig", "An archive", 12, false);
    else if (content == "song")
        writeSongFile(path, "Intro", "First");
    else if (content == "no song")
        writeSongFile(path, QByteArray());
    else if (content == "garbage")
        writeGarbage(path);
    else
        writeGarbage(path, QByteArray());
    library.open(1);

    const QModelIndex index = library.item(file);
    QVERIFY(index.isValid());
    QCOMPARE(index.data(Qt::DisplayRole).toString(), shown);
    QCOMPARE(index.data(Qt::EditRole).toString(), shown);
    QCOMPARE(index.data(LibraryDataModel::ItemNameRole).toString(), shown);
    QCOMPARE(index.data(LibraryDataModel::ItemDescriptionRole).toString(), description);

    QImage expected;
    if (icon == "archive")
        expected = QIcon(QStringLiteral(":/images/archive_icon")).pixmap(32, 32).toImage();
    else if (icon == "song")
        expected = QIcon(QStringLiteral(":/images/song_icon")).pixmap(32, 32).toImage();
    else
        expected =
            QApplication::style()->standardIcon(QStyle::SP_MessageBoxCritical).pixmap(32, 32).toImage();
    QVERIFY(!expected.isNull());
    QCOMPARE(iconImage(index.data(Qt::DecorationRole)), expected);

    const Qt::ItemFlags flags = library.model.flags(index);
    QCOMPARE(flags.testFlag(Qt::ItemIsEditable), editable);
    QCOMPARE(flags.testFlag(Qt::ItemIsDragEnabled), draggable);
    QVERIFY(!flags.testFlag(Qt::ItemIsDropEnabled));
    QCOMPARE(library.model.isArchive(index), icon == "archive");
    QCOMPARE(library.model.isSong(index), icon == "song");
    QVERIFY(!library.model.isFolder(index));

    // Other columns and folders keep the file system's texts; the name role gives the file name.
    const QModelIndex size = index.sibling(index.row(), 1);
    QCOMPARE(size.data(LibraryDataModel::ItemNameRole).toString(), file);
    QVERIFY(!library.model.flags(size).testFlag(Qt::ItemIsEditable));
}

void TestLibraryDataModel::unreadableFilesAreGivenUpAfterTwentyRetries_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("content");

    // clang-format off
    QTest::newRow("archive of 3 songs") << "a.mlad" << "short archive";
    QTest::newRow("garbage song file")  << "b.mlsd" << "garbage";
    // clang-format on
}

void TestLibraryDataModel::unreadableFilesAreGivenUpAfterTwentyRetries()
{
    QFETCH(QString, file);
    QFETCH(QString, content);

    Library library;
    const QString path = library.path(file);
    if (content == "short archive")
        writeArchive(path, "Gig", "An archive", 3);
    else
        writeGarbage(path);
    library.model.setRetryInterval(1);
    library.open(1);

    LogRecorder log;
    const QModelIndex index = library.item(file);
    QCOMPARE(index.data().toString(), QStringLiteral("Corrupt File (%1)").arg(file));
    QVERIFY(library.model.isRetrying());
    QCOMPARE(library.model.queuedItemCount(), 1);
    QTRY_VERIFY(!library.model.isRetrying());

    const QString quoted = QLatin1Char('"') + path + QLatin1Char('"');
    QCOMPARE(log.count(QStringLiteral("Library: Loading item data:"), quoted), 21);
    QCOMPARE(log.count(QStringLiteral("Library: Enqueuing item to retry reading data.")), 20);
    QCOMPARE(log.count(QStringLiteral("Library: Ran out of attempts to re-read item.")), 1);
    QCOMPARE(library.model.queuedItemCount(), 0);
    QCOMPARE(library.model.sourceItemData(library.model.mapToSource(index))->attempts, 20);
    QCOMPARE(index.data().toString(), QStringLiteral("Corrupt File (%1)").arg(file));

    // A refresh starts a new series of 21 reads.
    library.model.refreshItem(index);
    QVERIFY(library.model.isRetrying());
    QCOMPARE(library.model.sourceItemData(library.model.mapToSource(index))->attempts, 1);
    QTRY_VERIFY(!library.model.isRetrying());
    QCOMPARE(log.count(QStringLiteral("Library: Loading item data:"), quoted), 42);
}

void TestLibraryDataModel::fileCompletedWhileRetryingIsShown()
{
    Library library;
    const QString path = library.path(QStringLiteral("a.mlad"));
    writeGarbage(path);
    library.model.setRetryInterval(20);
    library.open(1);

    const QModelIndex index = library.item(QStringLiteral("a.mlad"));
    QCOMPARE(index.data().toString(), QStringLiteral("Corrupt File (a.mlad)"));
    QVERIFY(library.model.isRetrying());

    QSignalSpy changed(&library.model, &QAbstractItemModel::dataChanged);
    writeArchive(path, "Finished Gig");
    QTRY_COMPARE(index.data().toString(), QStringLiteral("Finished Gig"));
    QVERIFY(!library.model.isRetrying());
    QCOMPARE(library.model.queuedItemCount(), 0);
    QCOMPARE(library.model.sourceItemData(library.model.mapToSource(index))->attempts, 0);
    bool signalled = false;
    for (const QList<QVariant> &arguments : changed)
        signalled |= arguments.at(0).toModelIndex() == index && arguments.at(1).toModelIndex() == index;
    QVERIFY(signalled);
}

void TestLibraryDataModel::removedFilesAreReadAfresh_data()
{
    QTest::addColumn<QString>("removed");
    QTest::addColumn<QString>("file");

    // clang-format off
    QTest::newRow("file")             << "x.mlsd" << "x.mlsd";
    QTest::newRow("folder around it") << "Sets"   << "Sets/x.mlsd";
    // clang-format on
}

void TestLibraryDataModel::removedFilesAreReadAfresh()
{
    QFETCH(QString, removed);
    QFETCH(QString, file);

    Library library(LibraryDataModel::SongLibrary);
    QVERIFY(QDir(library.dir.path()).mkpath(QStringLiteral("Sets")));
    writeSongFile(library.path(file), "Before");
    writeSongFile(library.path(QStringLiteral("keep.mlsd")), "Kept");
    library.open(file.contains('/') ? 2 : 3);
    library.model.fetchMore(library.item(QStringLiteral("Sets")));
    QTRY_COMPARE(library.item(file).data().toString(), QStringLiteral("Before"));

    const QFileInfo gone(library.path(removed));
    if (gone.isDir())
        QVERIFY(QDir(gone.filePath()).removeRecursively());
    else
        QVERIFY(QFile::remove(gone.filePath()));
    QTRY_COMPARE(library.model.rowCount(library.root()), file.contains('/') ? 1 : 2);

    QVERIFY(QDir(library.dir.path()).mkpath(QStringLiteral("Sets")));
    writeSongFile(library.path(file), "After");
    QTRY_COMPARE(library.model.rowCount(library.root()), file.contains('/') ? 2 : 3);
    library.model.fetchMore(library.item(QStringLiteral("Sets")));
    QTRY_COMPARE(library.item(file).data().toString(), QStringLiteral("After"));
    QCOMPARE(library.item(QStringLiteral("keep.mlsd")).data().toString(), QStringLiteral("Kept"));
}

void TestLibraryDataModel::resetDropsTheRetryQueue()
{
    Library library;
    writeGarbage(library.path(QStringLiteral("a.mlad")));
    writeArchive(library.path(QStringLiteral("b.mlad")), "Before");
    library.open(2);
    QCOMPARE(library.item(QStringLiteral("a.mlad")).data().toString(),
             QStringLiteral("Corrupt File (a.mlad)"));
    QCOMPARE(library.item(QStringLiteral("b.mlad")).data().toString(), QStringLiteral("Before"));
    QCOMPARE(library.model.queuedItemCount(), 1);

    // The file system model has no public way to reset; its signals are what the model hears.
    QFileSystemModel *files = library.model.fileSystemModel();
    QVERIFY(QMetaObject::invokeMethod(files, "modelAboutToBeReset", Qt::DirectConnection));
    QVERIFY(QMetaObject::invokeMethod(files, "modelReset", Qt::DirectConnection));
    QCOMPARE(library.model.queuedItemCount(), 0);
    QVERIFY(!library.model.isRetrying());

    writeArchive(library.path(QStringLiteral("b.mlad")), "After");
    QCOMPARE(library.item(QStringLiteral("b.mlad")).data().toString(), QStringLiteral("After"));
}

void TestLibraryDataModel::renaming_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("role");
    QTest::addColumn<QString>("newName");
    QTest::addColumn<bool>("result");
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("fileAfter");
    QTest::addColumn<QString>("nameAfter");

    const int edit = Qt::EditRole;
    const int name = LibraryDataModel::ItemNameRole;
    const QString tooLong = QStringLiteral("The name is too long.\n\nPlease choose a different name.");
    const QString punctuation =
        QStringLiteral("The name contains characters that are not permitted.\n\nPlease avoid punctuation.");
    const QString exists =
        QStringLiteral("A file named %1 already exists in this folder.\n\nPlease choose a different name.");
    const QString a128(128, 'a');
    const QString a129(129, 'a');
    const QString e65 = QString(65, QChar(0xe9)); // 130 bytes in UTF-8

    // clang-format off
    QTest::newRow("song")                 << "x.mlsd"    << edit << "Verse"  << true  << ""                       << "Verse.mlsd"   << "Verse";
    QTest::newRow("song, name role")      << "x.mlsd"    << name << "Verse"  << true  << ""                       << "Verse.mlsd"   << "Verse";
    QTest::newRow("archive")              << "g.mlad"    << edit << "Gig 2"  << true  << ""                       << "Gig 2.mlad"   << "Gig 2";
    QTest::newRow("128 bytes")            << "x.mlsd"    << edit << a128     << true  << ""                       << a128 + ".mlsd" << a128;
    QTest::newRow("129 bytes")            << "x.mlsd"    << edit << a129     << false << tooLong                  << "x.mlsd"       << "Intro";
    QTest::newRow("65 two-byte letters")  << "g.mlad"    << edit << e65      << false << tooLong                  << "g.mlad"       << "Gig";
    QTest::newRow("punctuation")          << "x.mlsd"    << edit << "Verse!" << false << punctuation              << "x.mlsd"       << "Intro";
    QTest::newRow("control character")    << "g.mlad"    << edit << "A\tB"   << false << punctuation              << "g.mlad"       << "Gig";
    QTest::newRow("song file exists")     << "x.mlsd"    << edit << "Taken"  << false << exists.arg("Taken.mlsd") << "x.mlsd"       << "Intro";
    QTest::newRow("archive file exists")  << "g.mlad"    << edit << "Used"   << false << exists.arg("Used.mlad")  << "g.mlad"       << "Gig";
    QTest::newRow("other extension free") << "x.mlsd"    << edit << "Used"   << true  << ""                       << "Used.mlsd"    << "Used";
    QTest::newRow("empty")                << "x.mlsd"    << edit << ""       << false << ""                       << "x.mlsd"       << "Intro";
    QTest::newRow("unchanged")            << "g.mlad"    << edit << "Gig"    << false << ""                       << "g.mlad"       << "Gig";
    QTest::newRow("own file name")        << "Tune.mlsd" << edit << "Tune"   << true  << ""                       << "Tune.mlsd"    << "Tune";
    // clang-format on
}

void TestLibraryDataModel::renaming()
{
    QFETCH(QString, file);
    QFETCH(int, role);
    QFETCH(QString, newName);
    QFETCH(bool, result);
    QFETCH(QString, box);
    QFETCH(QString, fileAfter);
    QFETCH(QString, nameAfter);

    Library library;
    writeSongFile(library.path(QStringLiteral("x.mlsd")), "Intro", "First");
    writeSongFile(library.path(QStringLiteral("Taken.mlsd")), "Another", "Second");
    // A stored name may hold what a file name leaves out.
    writeSongFile(library.path(QStringLiteral("Tune.mlsd")), "Tune?", "Third");
    writeArchive(library.path(QStringLiteral("g.mlad")), "Gig", "Friday");
    writeArchive(library.path(QStringLiteral("Used.mlad")), "Whatever");
    library.open(5);

    const QString description = storedDescription(library.path(file));
    QStringList filesAfter = fileNames(library.dir.path());
    filesAfter.replaceInStrings(QRegularExpression(QLatin1Char('^') + QRegularExpression::escape(file) + '$'),
                                fileAfter);
    filesAfter.sort();

    RecordingNotifier notifier;
    const QModelIndex index = library.item(file);
    QCOMPARE(library.model.setData(index, newName, role), result);

    QCOMPARE(notifier.texts(), box.isEmpty() ? QStringList() : QStringList(box));
    for (const Notifier::Message &message : notifier.messages()) {
        QCOMPARE(message.icon, Notifier::Icon::Information);
        QCOMPARE(message.title, QString());
        QCOMPARE(message.buttons, Notifier::Buttons(Notifier::Ok));
        QCOMPARE(message.parent, nullptr);
    }
    QCOMPARE(fileNames(library.dir.path()), filesAfter);
    QCOMPARE(storedName(library.path(fileAfter)), nameAfter);
    QCOMPARE(storedDescription(library.path(fileAfter)), description);
    QTRY_COMPARE(library.item(fileAfter).data().toString(), nameAfter);
}

void TestLibraryDataModel::renamingUnreadableFileIsRefused()
{
    Library library;
    writeArchive(library.path(QStringLiteral("a.mlad")), "Gig", "Short", 3);
    library.open(1);
    const QByteArray before = readRange(library.path(QStringLiteral("a.mlad")), 0, 1 << 20);

    RecordingNotifier notifier;
    QTest::ignoreMessage(QtCriticalMsg, "Can not change name of item of unknown type.");
    QVERIFY(
        !library.model.setData(library.item(QStringLiteral("a.mlad")), QStringLiteral("New"), Qt::EditRole));
    QVERIFY(notifier.texts().isEmpty());
    QCOMPARE(fileNames(library.dir.path()), QStringList{"a.mlad"});
    QCOMPARE(readRange(library.path(QStringLiteral("a.mlad")), 0, 1 << 20), before);
}

void TestLibraryDataModel::description_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("description");
    QTest::addColumn<bool>("result");
    QTest::addColumn<QString>("stored");

    // clang-format off
    QTest::newRow("song")            << "x.mlsd" << "Played last"     << true  << "Played last";
    QTest::newRow("archive")         << "g.mlad" << "Saturday"        << true  << "Saturday";
    QTest::newRow("384 bytes")       << "g.mlad" << QString(384, 'd') << true  << QString(384, 'd');
    QTest::newRow("385 bytes")       << "x.mlsd" << QString(385, 'd') << false << "First";
    QTest::newRow("unreadable file") << "a.mlad" << "Anything"        << false << "";
    // clang-format on
}

void TestLibraryDataModel::description()
{
    QFETCH(QString, file);
    QFETCH(QString, description);
    QFETCH(bool, result);
    QFETCH(QString, stored);

    Library library;
    writeSongFile(library.path(QStringLiteral("x.mlsd")), "Intro", "First");
    writeArchive(library.path(QStringLiteral("g.mlad")), "Gig", "Friday");
    writeArchive(library.path(QStringLiteral("a.mlad")), "Short", "", 3);
    library.open(3);

    const QModelIndex index = library.item(file);
    const QString name = index.data().toString();
    QCOMPARE(library.model.setData(index, description, LibraryDataModel::ItemDescriptionRole), result);
    QCOMPARE(storedDescription(library.path(file)), stored);
    QCOMPARE(fileNames(library.dir.path()), (QStringList{"a.mlad", "g.mlad", "x.mlsd"}));
    QCOMPARE(index.data().toString(), name);
    if (result)
        QCOMPARE(index.data(LibraryDataModel::ItemDescriptionRole).toString(), stored);
}

void TestLibraryDataModel::dragBytes_data()
{
    QTest::addColumn<QStringList>("dragged"); // "name" or "name@column"
    QTest::addColumn<QStringList>("written"); // "type:name" in order
    QTest::addColumn<QString>("singleFormat");

    // clang-format off
    QTest::newRow("one song")           << QStringList{"x.mlsd"}             << QStringList{"1:x.mlsd"}             << kSongPathFormat;
    QTest::newRow("one archive")        << QStringList{"g.mlad"}             << QStringList{"2:g.mlad"}             << kArchivePathFormat;
    QTest::newRow("two songs")          << QStringList{"x.mlsd", "y.mlsd"}   << QStringList{"1:x.mlsd", "1:y.mlsd"} << "";
    QTest::newRow("archive and song")   << QStringList{"g.mlad", "x.mlsd"}   << QStringList{"2:g.mlad", "1:x.mlsd"} << "";
    QTest::newRow("unreadable")         << QStringList{"bad.mlad"}           << QStringList{"0:bad.mlad"}           << "";
    QTest::newRow("row of two columns") << QStringList{"x.mlsd", "x.mlsd@1"} << QStringList{"1:x.mlsd"}             << kSongPathFormat;
    QTest::newRow("folder and song")    << QStringList{"Sets", "x.mlsd"}     << QStringList{"1:x.mlsd"}             << kSongPathFormat;
    QTest::newRow("folder")             << QStringList{"Sets"}               << QStringList{}                       << "";
    // clang-format on
}

void TestLibraryDataModel::dragBytes()
{
    QFETCH(QStringList, dragged);
    QFETCH(QStringList, written);
    QFETCH(QString, singleFormat);

    Library library;
    writeSongFile(library.path(QStringLiteral("x.mlsd")), "Intro");
    writeSongFile(library.path(QStringLiteral("y.mlsd")), "Outro");
    writeArchive(library.path(QStringLiteral("g.mlad")), "Gig");
    writeGarbage(library.path(QStringLiteral("bad.mlad")));
    QVERIFY(QDir(library.dir.path()).mkdir(QStringLiteral("Sets")));
    library.open(5);

    QModelIndexList indexes;
    for (const QString &entry : dragged) {
        const QStringList parts = entry.split('@');
        const QModelIndex index = library.item(parts.at(0));
        indexes << index.sibling(index.row(), parts.value(1, QStringLiteral("0")).toInt());
    }
    QByteArray expected;
    for (const QString &entry : written)
        expected += itemRecord(entry.section(':', 0, 0).toInt(), library.path(entry.section(':', 1)));

    std::unique_ptr<QMimeData> data(library.model.mimeData(indexes));
    QVERIFY(data);
    QCOMPARE(data->hasFormat(kListFormat), !written.isEmpty());
    QCOMPARE(data->data(kListFormat), expected);
    QCOMPARE(data->hasFormat(kSongPathFormat), singleFormat == kSongPathFormat);
    QCOMPARE(data->hasFormat(kArchivePathFormat), singleFormat == kArchivePathFormat);
    if (!singleFormat.isEmpty())
        QCOMPARE(data->data(singleFormat), expected);
    // The file system model's own file list still goes along for drops outside the program.
    QVERIFY(data->hasUrls());
    QVERIFY(library.model.mimeTypes().endsWith(kListFormat));
}

void TestLibraryDataModel::drops_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("format");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<int>("action");
    QTest::addColumn<QString>("target");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QString>("request"); // "songs", "card" or none
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QList<int>>("songs");

    const int songLibrary = LibraryDataModel::SongLibrary;
    const int cardLibrary = LibraryDataModel::CardLibrary;
    const int anyLibrary = LibraryDataModel::AnyLibrary;
    const int copy = Qt::CopyAction;
    const int ignore = Qt::IgnoreAction;
    const QByteArray twoFive = songNumbers({2, 5});
    const QByteArray cut = songNumbers({2, 3}).left(7);

    // clang-format off
    QTest::newRow("songs on library")        << songLibrary << kCardSongsFormat << twoFive      << copy   << ""            << true  << "songs" << ""     << QList<int>{2, 5};
    QTest::newRow("songs on file row")       << songLibrary << kCardSongsFormat << twoFive      << copy   << "x.mlsd"      << true  << "songs" << ""     << QList<int>{2, 5};
    QTest::newRow("songs on folder")         << songLibrary << kCardSongsFormat << twoFive      << copy   << "Sets"        << true  << "songs" << "Sets" << QList<int>{2, 5};
    QTest::newRow("songs on file in folder") << songLibrary << kCardSongsFormat << twoFive      << copy   << "Sets/s.mlsd" << true  << "songs" << "Sets" << QList<int>{2, 5};
    QTest::newRow("songs on any library")    << anyLibrary  << kCardSongsFormat << twoFive      << copy   << ""            << true  << "songs" << ""     << QList<int>{2, 5};
    QTest::newRow("cut-off song list")       << songLibrary << kCardSongsFormat << cut          << copy   << ""            << true  << "songs" << ""     << QList<int>{2};
    QTest::newRow("songs, ignore action")    << songLibrary << kCardSongsFormat << twoFive      << ignore << ""            << true  << ""      << ""     << QList<int>{};
    QTest::newRow("songs on card library")   << cardLibrary << kCardSongsFormat << twoFive      << copy   << ""            << false << ""      << ""     << QList<int>{};
    QTest::newRow("card on card library")    << cardLibrary << kCardFormat      << QByteArray() << copy   << ""            << true  << "card"  << ""     << QList<int>{};
    QTest::newRow("card on archive row")     << cardLibrary << kCardFormat      << QByteArray() << copy   << "g.mlad"      << true  << "card"  << ""     << QList<int>{};
    QTest::newRow("card on folder")          << cardLibrary << kCardFormat      << QByteArray() << copy   << "Sets"        << true  << "card"  << "Sets" << QList<int>{};
    QTest::newRow("card on song library")    << songLibrary << kCardFormat      << QByteArray() << copy   << ""            << false << ""      << ""     << QList<int>{};
    QTest::newRow("card on any library")     << anyLibrary  << kCardFormat      << QByteArray() << copy   << ""            << false << ""      << ""     << QList<int>{};
    QTest::newRow("unknown format")          << songLibrary << "text/plain"     << QByteArray("x") << copy << ""           << false << ""      << ""     << QList<int>{};
    // clang-format on
}

void TestLibraryDataModel::drops()
{
    QFETCH(int, kind);
    QFETCH(QString, format);
    QFETCH(QByteArray, payload);
    QFETCH(int, action);
    QFETCH(QString, target);
    QFETCH(bool, accepted);
    QFETCH(QString, request);
    QFETCH(QString, folder);
    QFETCH(QList<int>, songs);

    Library library(kind);
    QVERIFY(QDir(library.dir.path()).mkdir(QStringLiteral("Sets")));
    writeSongFile(library.path(QStringLiteral("x.mlsd")), "Intro");
    writeSongFile(library.path(QStringLiteral("Sets/s.mlsd")), "Inner");
    writeArchive(library.path(QStringLiteral("g.mlad")), "Gig");
    library.open(kind == LibraryDataModel::AnyLibrary ? 3 : 2);
    library.model.fetchMore(library.item(QStringLiteral("Sets")));

    const QModelIndex parent = target.isEmpty() ? library.root() : library.item(target);
    QVERIFY(parent.isValid());
    QMimeData data;
    data.setData(format, payload);
    QSignalSpy songRequests(&library.model, &LibraryDataModel::songArchiveRequest);
    QSignalSpy cardRequests(&library.model, &LibraryDataModel::cardArchiveRequest);
    const auto dropAction = Qt::DropAction(action);

    QCOMPARE(library.model.canDropMimeData(&data, dropAction, -1, -1, parent), accepted);
    QCOMPARE(library.model.dropMimeData(&data, dropAction, -1, -1, parent), accepted);

    const QString folderPath = folder.isEmpty() ? library.dir.path() : library.path(folder);
    QCOMPARE(songRequests.count(), request == "songs" ? 1 : 0);
    QCOMPARE(cardRequests.count(), request == "card" ? 1 : 0);
    if (request == "songs") {
        QCOMPARE(songRequests.at(0).at(0).toString(), folderPath);
        QCOMPARE(songRequests.at(0).at(1).value<QList<int>>(), songs);
    } else if (request == "card") {
        QCOMPARE(cardRequests.at(0).at(0).toString(), folderPath);
    }
    QCOMPARE(fileNames(library.dir.path()), (QStringList{"Sets", "g.mlad", "x.mlsd"}));
}

QTEST_MAIN(TestLibraryDataModel)
#include "tst_librarydatamodel.moc"
