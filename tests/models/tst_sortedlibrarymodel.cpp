// The sorting library model: which files a library lists, folders before files ordered by
// their shown names, hidden paths, and the operations it forwards through its own indexes.
#include "models/sortedlibrarymodel.h"

#include "libraryfixture.h"
#include "models/librarydatamodel.h"

#include <QtTest>

using namespace ZovaZode;
using namespace ZovaZode::TestSupport;

namespace {

struct SortedLibrary
{
    QTemporaryDir dir;
    SortedLibraryModel model;

    explicit SortedLibrary(int kind = LibraryDataModel::AnyLibrary)
    {
        model.libraryModel()->setItemType(kind);
        // As the views set it up.
        model.setSortCaseSensitivity(Qt::CaseInsensitive);
        model.sort(0, Qt::AscendingOrder);
    }

    QString path(const QString &name) const { return dir.filePath(name); }
    QModelIndex root() const { return model.index(dir.path()); }
    QModelIndex item(const QString &name) const { return model.index(path(name)); }

    void open(int rows) { openLibrary(model, dir.path(), rows); }

    QStringList shown() const
    {
        QStringList names;
        for (int row = 0; row < model.rowCount(root()); ++row)
            names << model.index(row, 0, root()).data().toString();
        return names;
    }

    QStringList listedFiles() const
    {
        QStringList names;
        for (int row = 0; row < model.rowCount(root()); ++row)
            names << QFileInfo(model.filePath(model.index(row, 0, root()))).fileName();
        names.sort();
        return names;
    }
};

} // namespace

class TestSortedLibraryModel : public QObject
{
    Q_OBJECT

private slots:
    void listedFiles_data();
    void listedFiles();
    void ordering_data();
    void ordering();
    void hiding_data();
    void hiding();
    void forwarding_data();
    void forwarding();
};

void TestSortedLibraryModel::listedFiles_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QStringList>("listed");

    // clang-format off
    QTest::newRow("any library")  << int(LibraryDataModel::AnyLibrary)  << QStringList{"a.mlad", "b.mlsd"};
    QTest::newRow("card library") << int(LibraryDataModel::CardLibrary) << QStringList{"a.mlad"};
    QTest::newRow("song library") << int(LibraryDataModel::SongLibrary) << QStringList{"b.mlsd"};
    QTest::newRow("every file")   << 0                                  << QStringList{"a.mlad", "b.mlsd", "c.txt"};
    // clang-format on
}

void TestSortedLibraryModel::listedFiles()
{
    QFETCH(int, kind);
    QFETCH(QStringList, listed);

    SortedLibrary library(kind);
    writeArchive(library.path(QStringLiteral("a.mlad")), "Gig");
    writeSongFile(library.path(QStringLiteral("b.mlsd")), "Intro");
    writeGarbage(library.path(QStringLiteral("c.txt")));
    // Transfer outputs still being written.
    writeGarbage(library.path(QStringLiteral("d.mlad.partial")));
    writeGarbage(library.path(QStringLiteral("e.mlsd.partial")));
    library.open(listed.size());
    QCOMPARE(library.listedFiles(), listed);
}

void TestSortedLibraryModel::ordering_data()
{
    QTest::addColumn<QStringList>("folders");
    QTest::addColumn<QStringList>("songs"); // "file=stored name"
    QTest::addColumn<QStringList>("shown");

    // clang-format off
    QTest::newRow("folders first")                  << QStringList{"zeta"}                  << QStringList{"a.mlsd=Alpha"}
                                                    << QStringList{"zeta", "Alpha"};
    QTest::newRow("stored names, not file names")   << QStringList{}                        << QStringList{"a.mlsd=Charlie", "b.mlsd=alpha", "c.mlsd=Bravo"}
                                                    << QStringList{"alpha", "Bravo", "Charlie"};
    QTest::newRow("folders without regard to case") << QStringList{"beta", "Alpha", "gamma"} << QStringList{}
                                                    << QStringList{"Alpha", "beta", "gamma"};
    QTest::newRow("mixed")                          << QStringList{"Zed", "abc"}            << QStringList{"z.mlsd=aardvark", "a.mlsd=Zulu", "m.mlsd=mike"}
                                                    << QStringList{"abc", "Zed", "aardvark", "mike", "Zulu"};
    // clang-format on
}

void TestSortedLibraryModel::ordering()
{
    QFETCH(QStringList, folders);
    QFETCH(QStringList, songs);
    QFETCH(QStringList, shown);

    SortedLibrary library(LibraryDataModel::SongLibrary);
    for (const QString &folder : folders)
        QVERIFY(QDir(library.dir.path()).mkdir(folder));
    for (const QString &song : songs)
        writeSongFile(library.path(song.section('=', 0, 0)), song.section('=', 1).toUtf8());
    library.open(shown.size());

    QTRY_COMPARE(library.shown(), shown);
}

void TestSortedLibraryModel::hiding_data()
{
    QTest::addColumn<QStringList>("operations"); // "+file" hides, "-file" un-hides
    QTest::addColumn<QStringList>("hidden");
    QTest::addColumn<QStringList>("listed");

    // clang-format off
    QTest::newRow("nothing hidden")      << QStringList{}                                 << QStringList{}           << QStringList{"a.mlsd", "b.mlsd", "c.mlsd"};
    QTest::newRow("hide one")            << QStringList{"+b.mlsd"}                        << QStringList{"b.mlsd"}   << QStringList{"a.mlsd", "c.mlsd"};
    QTest::newRow("hide twice")          << QStringList{"+b.mlsd", "+b.mlsd"}             << QStringList{"b.mlsd"}   << QStringList{"a.mlsd", "c.mlsd"};
    QTest::newRow("un-hide not hidden")  << QStringList{"-b.mlsd"}                        << QStringList{}           << QStringList{"a.mlsd", "b.mlsd", "c.mlsd"};
    QTest::newRow("hide, un-hide")       << QStringList{"+b.mlsd", "-b.mlsd"}             << QStringList{}           << QStringList{"a.mlsd", "b.mlsd", "c.mlsd"};
    QTest::newRow("hide two, un-hide 1") << QStringList{"+a.mlsd", "+c.mlsd", "-a.mlsd"}  << QStringList{"c.mlsd"}   << QStringList{"a.mlsd", "b.mlsd"};
    QTest::newRow("not yet written")     << QStringList{"+new.mlsd"}                      << QStringList{"new.mlsd"} << QStringList{"a.mlsd", "b.mlsd", "c.mlsd"};
    // clang-format on
}

void TestSortedLibraryModel::hiding()
{
    QFETCH(QStringList, operations);
    QFETCH(QStringList, hidden);
    QFETCH(QStringList, listed);

    SortedLibrary library(LibraryDataModel::SongLibrary);
    writeSongFile(library.path(QStringLiteral("a.mlsd")), "One");
    writeSongFile(library.path(QStringLiteral("b.mlsd")), "Two");
    writeSongFile(library.path(QStringLiteral("c.mlsd")), "Three");
    library.open(3);

    for (const QString &operation : operations)
        library.model.setPathHidden(library.path(operation.mid(1)), operation.startsWith('+'));

    QStringList hiddenPaths;
    for (const QString &name : hidden)
        hiddenPaths << library.path(name);
    QCOMPARE(library.model.hiddenPaths(), hiddenPaths);
    QCOMPARE(library.listedFiles(), listed);

    // A hidden path that appears on disk stays out of the list until it is un-hidden.
    if (hidden.contains(QStringLiteral("new.mlsd"))) {
        writeSongFile(library.path(QStringLiteral("new.mlsd")), "New");
        writeSongFile(library.path(QStringLiteral("d.mlsd")), "Four");
        QTRY_COMPARE(library.model.rowCount(library.root()), 4);
        QCOMPARE(library.listedFiles(), (QStringList{"a.mlsd", "b.mlsd", "c.mlsd", "d.mlsd"}));
        library.model.setPathHidden(library.path(QStringLiteral("new.mlsd")), false);
        QCOMPARE(library.model.rowCount(library.root()), 5);
    }
}

void TestSortedLibraryModel::forwarding_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<bool>("isArchive");
    QTest::addColumn<bool>("isSong");
    QTest::addColumn<bool>("isFolder");

    // clang-format off
    QTest::newRow("archive")    << "z.mlad" << "Archive A"             << true  << false << false;
    QTest::newRow("song")       << "a.mlsd" << "Song Z"                << false << true  << false;
    QTest::newRow("unreadable") << "m.mlsd" << "Corrupt File (m.mlsd)" << false << false << false;
    QTest::newRow("folder")     << "Sets"   << "Sets"                  << false << false << true;
    // clang-format on
}

void TestSortedLibraryModel::forwarding()
{
    QFETCH(QString, file);
    QFETCH(QString, shown);
    QFETCH(bool, isArchive);
    QFETCH(bool, isSong);
    QFETCH(bool, isFolder);

    // File names ordered against the shown names, so that sorted and source rows differ.
    SortedLibrary library;
    writeArchive(library.path(QStringLiteral("z.mlad")), "Archive A");
    writeSongFile(library.path(QStringLiteral("a.mlsd")), "Song Z");
    writeGarbage(library.path(QStringLiteral("m.mlsd")));
    QVERIFY(QDir(library.dir.path()).mkdir(QStringLiteral("Sets")));
    library.open(4);
    QTRY_COMPARE(library.shown(), (QStringList{"Sets", "Archive A", "Corrupt File (m.mlsd)", "Song Z"}));

    QCOMPARE(library.model.rootPath(), library.dir.path());
    const QModelIndex index = library.item(file);
    QVERIFY(index.isValid());
    QCOMPARE(index.model(), &library.model);
    QCOMPARE(index.data().toString(), shown);
    QCOMPARE(library.model.filePath(index), library.path(file));
    QCOMPARE(library.model.isArchive(index), isArchive);
    QCOMPARE(library.model.isSong(index), isSong);
    QCOMPARE(library.model.isFolder(index), isFolder);

    if (isSong) {
        writeSongFile(library.path(file), "Song B");
        library.model.refreshItem(index);
        QCOMPARE(library.item(file).data().toString(), QStringLiteral("Song B"));
    }
}

QTEST_MAIN(TestSortedLibraryModel)
#include "tst_sortedlibrarymodel.moc"
