// Safety copies: their names (forbidden characters, the default card name, the slot counted
// from 1, long names cut to fit, a second copy in the same second), the folder (never through a
// link, nor over a file), pruning by the times in the names, and the settings. New files, which
// safety copies are: the final move of the file written, and the clean-up of abandoned ones. And
// the record of how an archive was made, which follows it wherever the library takes it, and
// through the library's edits of it.
#include "domain/configurationmanager.h"
#include "domain/libraryfolder.h"
#include "domain/newfile.h"
#include "domain/safetycopies.h"
#include "domain/songarchive.h"
#include "domain/sumfile.h"
#include "support/archivebuilder.h"
#include "support/filebytes.h"

#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <stdexcept>
#include <sys/file.h>
#include <unistd.h>

using namespace ZovaZode;

namespace {

const QDateTime kWhen(QDate(2026, 12, 6), QTime(10, 33, 27));

bool touch(const QString &path, int secondsAgo, const QByteArray &content = "x")
{
    QFile file(path);
    // Written out first: a write flushed later would stamp the file with the time of the flush.
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size() && file.flush() &&
           file.setFileTime(QDateTime::currentDateTime().addSecs(-secondsAgo),
                            QFileDevice::FileModificationTime);
}

} // namespace

class TestSafetyCopies : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void names_data();
    void names();
    void folderAndCollisions();
    void prune_data();
    void prune();
    void commitMovesTheFileWritten_data();
    void commitMovesTheFileWritten();
    void abandonedFilesRemoved_data();
    void abandonedFilesRemoved();
    void settings();
    void recordFollowsItsArchive_data();
    void recordFollowsItsArchive();

private:
    QString folder() const { return SafetyCopies::folder(m_library); }
    QTemporaryDir m_dir;
    QString m_library;
};

void TestSafetyCopies::initTestCase()
{
    QCoreApplication::setOrganizationName(QStringLiteral("Selkanor"));
    QCoreApplication::setApplicationName(QStringLiteral("Morv Manager"));
    QSettings().clear();
    m_library = m_dir.filePath(QStringLiteral("Card Library"));
}

void TestSafetyCopies::init()
{
    QDir(m_library).removeRecursively();
}

void TestSafetyCopies::names_data()
{
    QTest::addColumn<QString>("cardName");
    QTest::addColumn<int>("slot"); // -1: a copy of the whole card
    QTest::addColumn<QString>("songName");
    QTest::addColumn<QString>("fileName"); // without " - before clearing - 2026-12-06 10.33.27.ml?d"

    const QString euro = QStringLiteral("\u20ac");
    // The names share 176 bytes: each gets at least half, a short one leaves the rest to the other.
    // clang-format off
    //                                      cardName             slot  songName            fileName
    QTest::newRow("card")              << "A/B: \"C\"?"        << -1 << ""               << "AB C";
    QTest::newRow("first slot")        << "Live Set"           << 0  << "Intro"          << "Live Set - song 01 Intro";
    QTest::newRow("forbidden song")    << ""                   << 4  << "Jam (take 2\u202e)" << "Morv+ Card - song 05 Jam take 2";
    QTest::newRow("128 and 128")       << QString(128, 'C')    << 0  << QString(128, 'S') << QString(QString(88, 'C') + " - song 01 " + QString(88, 'S'));
    QTest::newRow("short song")        << QString(128, 'C')    << 0  << QString(60, 'S')  << QString(QString(116, 'C') + " - song 01 " + QString(60, 'S'));
    QTest::newRow("three-byte chars")  << euro.repeated(42)    << 0  << euro.repeated(42) << QString(euro.repeated(29) + " - song 01 " + euro.repeated(29));
    QTest::newRow("cut before spaces") << QString(QString(87, 'C') + "  x") << 0 << QString(128, 'S') << QString(QString(87, 'C') + " - song 01 " + QString(89, 'S'));
    // clang-format on
}

void TestSafetyCopies::names()
{
    QFETCH(QString, cardName);
    QFETCH(int, slot);
    QFETCH(QString, songName);
    QFETCH(QString, fileName);

    const QString what = QStringLiteral("before <clearing>"); // what is cleaned like a name
    const QString path = slot < 0
                             ? SafetyCopies::cardCopyPath(m_library, cardName, what, kWhen)
                             : SafetyCopies::songCopyPath(m_library, cardName, slot, songName, what, kWhen);
    const QString tail =
        QStringLiteral(" - before clearing - 2026-12-06 10.33.27") + (slot < 0 ? ".mlad" : ".mlsd");
    QCOMPARE(path, m_library + "/Safety Copies/" + fileName + tail);
    // With " (999)" and the temporary suffix of a new file, the name still fits 255 bytes.
    QVERIFY(QFile::encodeName(fileName + tail).size() + 6 + 17 <= 255);
}

// The folder is made when missing, never over a file nor through a link (no copy is written
// there, none removed); the second and third copy of one second get " (2)" and " (3)".
void TestSafetyCopies::folderAndCollisions()
{
    const QString elsewhere = m_dir.filePath(QStringLiteral("elsewhere"));
    QString error;
    QVERIFY(QDir().mkpath(elsewhere) && QDir().mkpath(m_library) && touch(folder(), 0));
    QVERIFY(!SafetyCopies::ensureFolder(m_library, &error));
    QVERIFY2(error.contains(QDir::toNativeSeparators(folder())), qPrintable(error));
    QVERIFY(QFile::remove(folder()) && QFile::link(elsewhere, folder()));
    const QString copy =
        QFileInfo(SafetyCopies::cardCopyPath(m_library, "Set", "before restore", kWhen)).fileName();
    QVERIFY(touch(elsewhere + '/' + copy, 60) && touch(elsewhere + "/x" + copy, 0));
    QVERIFY(!SafetyCopies::ensureFolder(m_library, &error));
    QCOMPARE(error, QDir::toNativeSeparators(folder()) +
                        QStringLiteral(" is a symbolic link; safety copies are not written through links."));
    QCOMPARE(SafetyCopies::prune(m_library, 0, QString()), 0);
    QVERIFY(SafetyCopies::list(m_library).isEmpty());
    QCOMPARE(QDir(elsewhere).entryList(QDir::Files).size(), 2);
    QVERIFY(QFile::remove(folder()) && SafetyCopies::ensureFolder(m_library, &error));
    QVERIFY(SafetyCopies::ensureFolder(m_library, &error));
    const QString base = folder() + "/Set - song 01 A - before restore - 2026-12-06 10.33.27";
    for (const QString &expected : QStringList{base + ".mlsd", base + " (2).mlsd", base + " (3).mlsd"}) {
        const QString path = SafetyCopies::songCopyPath(m_library, "Set", 0, "A", "before restore", kWhen);
        QCOMPARE(path, expected);
        QVERIFY(touch(path, 0));
    }
}

void TestSafetyCopies::prune_data()
{
    QTest::addColumn<QStringList>("copies"); // newest first: seconds past 10.33[ (counter)]
    QTest::addColumn<int>("keep");
    QTest::addColumn<int>("justMade"); // the copy the running command made
    QTest::addColumn<QString>("kept");
    // clang-format off
    //                                 copies                                                    keep justMade kept
    QTest::newRow("counters")       << QStringList{"27 (10)", "27 (9)", "27 (2)", "27"}          << 2 << 0 << "0 1";
    QTest::newRow("times")          << QStringList{"28", "27", "26", "25"}                       << 2 << 0 << "0 1";
    QTest::newRow("made oldest")    << QStringList{"28", "27", "26"}                             << 2 << 2 << "0 2";
    QTest::newRow("song and card")  << QStringList{"29", "song 28", "27", "song 26", "25", "24"} << 5 << 0 << "0 1 2 3 4";
    QTest::newRow("keep none")      << QStringList{"song 28", "27", "26"}                        << 0 << 0 << "0";
    // clang-format on
}

void TestSafetyCopies::prune()
{
    QFETCH(QStringList, copies);
    QFETCH(int, keep);
    QFETCH(int, justMade);
    QFETCH(QString, kept);

    QVERIFY(QDir().mkpath(folder()));
    QStringList names, expected;
    for (int i = 0; i < copies.size(); ++i) {
        const bool song = copies[i].startsWith("song ");
        names << (song ? "Set - song 01 Verse - before clearing - " : "Set - before restore - ") +
                     QString("2026-12-06 10.33.") + copies[i].mid(song ? 5 : 0) + (song ? ".mlsd" : ".mlad");
        // The older the copy, the newer its file, hours ahead: a clock that was once ahead.
        QVERIFY(touch(folder() + '/' + names[i], -3600 * i) && touch(folder() + '/' + names[i] + ".sum", 0));
    }
    for (const QString &index : kept.split(' '))
        expected << names[index.toInt()];
    // Never the user's own files kept here, however old, nor anything that only looks like a copy.
    // clang-format off
    const QStringList others{"notes.txt", "Intro.mlsd", "Set - before restore.mlad",
                             "Set - before restore - 2026-12-06 10.33.27.mlsd", ".Set - before restore - 2026-12-06 10.33.27.mlad",
                             "Set - before restore - 2026-12-06 10.33.27.mlad\n", "Set - before restore - 2026-13-06 10.33.27.mlad",
                             "Set - song 13 - before clearing - 2026-12-06 10.33.27.mlsd"};
    // clang-format on
    for (const QString &other : others)
        QVERIFY(touch(folder() + '/' + other, 100000));
    QVERIFY(QDir(folder()).mkdir(QStringLiteral("kept.mlad")));
    QCOMPARE(SafetyCopies::prune(m_library, keep, folder() + '/' + names[justMade]),
             copies.size() - expected.size());
    QStringList listed; // as the Safety Copies page shows them
    for (const SafetyCopies::Entry &entry : SafetyCopies::list(m_library))
        listed << QFileInfo(entry.path).fileName();
    QCOMPARE(listed, expected);
    // The record of how each copy was made goes with it.
    for (const QString &name : QStringList(expected))
        expected << name + ".sum";
    expected << others << "kept.mlad";
    expected.sort();
    QCOMPARE(QDir(folder()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name),
             expected);
}

void TestSafetyCopies::commitMovesTheFileWritten_data()
{
    QTest::addColumn<QString>("meanwhile"); // what takes the temporary name (#) or the folder (@)
    QTest::addColumn<QString>("error");
    const QString refused = "Will not move the new file into place: ";
    // clang-format off
    QTest::newRow("a link")  << "link"   << refused + "@/# is no longer the file that was written.";
    QTest::newRow("a file")  << "file"   << refused + "@/# is no longer the file that was written.";
    QTest::newRow("folder")  << "folder" << refused + "the folder @ was replaced while the file was written.";
    // clang-format on
}

// Nothing that took the temporary name or the folder's is moved or removed, nor what a link points to.
void TestSafetyCopies::commitMovesTheFileWritten()
{
    QFETCH(QString, meanwhile);
    QFETCH(QString, error);

    const QString dir = m_dir.filePath(meanwhile + "new"), moved = dir + ".moved", victim = dir + ".victim";
    QString thrown, partial;
    QVERIFY(QDir().mkpath(dir) && touch(victim, 0));
    {
        NewFile file(dir + "/New.mlad");
        QVERIFY(file.create(&thrown));
        partial = file.partialPath();
        TestSupport::writeRange(partial, 0, "MLFA");
        QVERIFY(meanwhile == "folder" ? QDir().rename(dir, moved) && QDir().mkpath(dir)
                                      : QFile::rename(partial, moved));
        QVERIFY(meanwhile == "link" ? QFile::link(victim, partial) : touch(partial, 0));
        try {
            file.commit();
        } catch (const std::runtime_error &failure) {
            thrown = QString::fromLocal8Bit(failure.what());
        }
    }
    QCOMPARE(thrown, error.replace('@', dir).replace('#', QFileInfo(partial).fileName()));
    QVERIFY(!QFileInfo::exists(dir + "/New.mlad"));
    QCOMPARE(TestSupport::wholeFile(partial) + TestSupport::wholeFile(victim), QByteArray("xx"));
    QCOMPARE(TestSupport::wholeFile(moved), QByteArray(meanwhile == "folder" ? "" : "MLFA"));
}

void TestSafetyCopies::abandonedFilesRemoved_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("kind"); // how the file is held or linked
    QTest::addColumn<bool>("removed");
    const QByteArray archive("MLFA\0\0\0\0", 8), unclosed = QByteArray(1192, '\0') + "audio";
    // clang-format off
    //                                    name                                  content           kind          removed
    QTest::newRow("empty archive")     << "Gig.mlad.bcdfghjk.partial"        << QByteArray()   << ""          << true;
    QTest::newRow("closed archive")    << "Gig.mlad.xzqrtvwp.partial"        << archive        << ""          << true;
    QTest::newRow("header unwritten")  << "Intro.mlsd.bcdfghjk.partial"      << unclosed       << ""          << true;
    QTest::newRow("demo card")         << "ZOVAZODE.DAT.bcdfghjk.partial"    << QByteArray("MLSD") << ""      << true;
    QTest::newRow("record")            << "Gig.mlad.sum.bcdfghjk.partial"    << QByteArray("morv-archive-sums 1\nmade") << "" << true;
    QTest::newRow("not a record")      << "Gig.mlad.sum.bcdfghjk.partial"    << archive        << ""          << false;
    QTest::newRow("no random part")    << "Gig 2026.mlad.partial"            << archive        << ""          << false;
    QTest::newRow("a user's version")  << "Set list.mlsd.Version2.partial"   << archive        << ""          << false;
    QTest::newRow("older random part") << "Gig.mlad.k3J9xQa2.partial"        << archive        << ""          << false;
    QTest::newRow("9 characters")      << "Gig.mlad.bcdfghjkl.partial"       << archive        << ""          << false;
    QTest::newRow("newline after")     << "Gig.mlad.bcdfghjk.partial\n"      << QByteArray()   << ""          << false;
    QTest::newRow("not an archive")    << "Gig.mlad.bcdfghjk.partial"        << QByteArray("my notes") << ""  << false;
    QTest::newRow("hard-linked")       << "Gig.mlad.bcdfghjk.partial"        << archive        << "hard link" << false;
    QTest::newRow("symbolic link")     << "Gig.mlad.bcdfghjk.partial"        << archive        << "link"      << false;
    QTest::newRow("young")             << "Gig.mlad.bcdfghjk.partial"        << archive        << "young"     << false;
    QTest::newRow("maker running")     << "Gig.mlad.bcdfghjk.partial"        << archive        << "locked"    << false;
    // clang-format on
}

// Only the program's own temporary files, left by a transfer that no longer runs, are removed.
void TestSafetyCopies::abandonedFilesRemoved()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, content);
    QFETCH(QString, kind);
    QFETCH(bool, removed);

    const QString dir = m_dir.filePath(QTest::currentDataTag()), path = dir + '/' + name,
                  outside = dir + ".outside", written = kind == "link" ? outside : path;
    QVERIFY(QDir().mkpath(dir) && touch(written, kind == "young" ? 5 : 3600, content));
    QVERIFY(kind != "link" || QFile::link(outside, path));
    QVERIFY(kind != "hard link" ||
            ::link(QFile::encodeName(path).constData(), QFile::encodeName(outside).constData()) == 0);
    QFile held(path);
    QVERIFY(kind != "locked" || (held.open(QIODevice::ReadOnly) && ::flock(held.handle(), LOCK_EX) == 0));
    QCOMPARE(NewFile::removeAbandoned(dir, 0), removed ? QStringList{path} : QStringList());
    QCOMPARE(QFileInfo::exists(path) || QFileInfo(path).isSymLink(), !removed);
    QCOMPARE(TestSupport::wholeFile(written), removed ? QByteArray() : content);
}

// Enabled by default; a limit that is not a positive number reads as 20.
void TestSafetyCopies::settings()
{
    ConfigurationManager manager;
    QCOMPARE(manager.safetyCopiesEnabled(), true);
    for (const QVariant &stored : {QVariant(), QVariant(0), QVariant(-3), QVariant("lots"), QVariant(5)}) {
        QSettings().setValue(QStringLiteral("safety_copies/limit"), stored);
        QCOMPARE(manager.safetyCopyLimit(), stored == 5 ? 5 : 20);
    }
}

void TestSafetyCopies::recordFollowsItsArchive_data()
{
    QTest::addColumn<QString>("operation"); // on the library's song file "Set.mlsd"
    QTest::addColumn<QStringList>("files"); // the library's files afterwards
    QTest::addColumn<int>("state");         // of the record at the file's new name, -1 for none
    const int unchanged = int(SumFile::State::Unchanged), changed = int(SumFile::State::Changed),
              none = int(SumFile::State::NoRecord);
    const QStringList kept{"Set.mlsd", "Set.mlsd.sum"};
    // clang-format off
    //                                  operation           files                                                                     state
    QTest::newRow("rename")          << "rename"         << QStringList{"New.mlsd", "New.mlsd.sum"}                                     << unchanged;
    QTest::newRow("move")            << "move"           << QStringList{"sub/Set.mlsd", "sub/Set.mlsd.sum"}                             << unchanged;
    QTest::newRow("copy")            << "copy"           << QStringList{"Set.mlsd", "Set.mlsd.sum", "sub/Set.mlsd", "sub/Set.mlsd.sum"} << unchanged;
    QTest::newRow("delete")          << "delete"         << QStringList{}                                                               << -1;
    // A record left at the new name by a file gone would call this one changed.
    QTest::newRow("unrecorded")      << "move bare"      << QStringList{"sub/Set.mlsd"}                                                 << none;
    // An edit in place: the part it changed is hashed again, unless it had changed before.
    QTest::newRow("name the file")   << "name file"      << kept                                                                        << unchanged;
    QTest::newRow("name its song")   << "name song"      << kept                                                                        << unchanged;
    QTest::newRow("name, changed")   << "change, name song" << kept                                                                     << changed;
    // clang-format on
}

void TestSafetyCopies::recordFollowsItsArchive()
{
    QFETCH(QString, operation);
    QFETCH(QStringList, files);
    QFETCH(int, state);
    const QString root = m_dir.filePath(QStringLiteral("Library")) + '/';
    const LibraryFolder library(root);
    QVERIFY(QDir(root).removeRecursively() && QDir().mkpath(root + "sub"));
    const QString from = root + "Set.mlsd";
    const QString to = root + (operation == "rename"                                 ? "New.mlsd"
                               : operation.startsWith("move") || operation == "copy" ? "sub/Set.mlsd"
                                                                                     : "Set.mlsd");
    TestSupport::ArchiveBuilder song;
    song.addSong(TestSupport::sampleSong(0, 1));
    song.write(from);
    carddata::FileSummer summer(SongArchive(from, 0, 0).parts());
    summer.add(reinterpret_cast<const uint8_t *>(song.bytes().constData()), size_t(song.bytes().size()));
    TestSupport::writeRange(SumFile::pathFor(operation == "move bare" ? to : from), 0,
                            SumFile::format(summer.sums(), kWhen));

    if (operation.startsWith("change")) // a byte of the song's part data, in the part the name is in
        TestSupport::writeRange(from, 1192 + 1160 + 100, "X");
    if (operation.endsWith("name song")) {
        SongArchive archive(from, 1, 0);
        SongInfo info = archive.songInfo(0);
        info.name = QStringLiteral("Renamed");
        archive.writeSongInfo(0, info);
        archive.close();
    } else if (operation == "name file") {
        SongArchive archive(from, 1, 0);
        archive.setName(QStringLiteral("Renamed"));
        archive.close();
    } else if (operation == "copy") {
        QVERIFY(library.copyInto(from, root + "sub", nullptr));
    } else if (operation == "delete") {
        QVERIFY(library.remove(from, nullptr));
    } else if (operation == "rename") {
        QVERIFY(library.rename(from, "New.mlsd", nullptr));
    } else if (from != to) {
        QVERIFY(library.move(from, root + "sub", nullptr));
    }
    QStringList present;
    for (QDirIterator it(root, QDir::Files, QDirIterator::Subdirectories); it.hasNext();)
        present << it.next().mid(root.size());
    present.sort();
    QCOMPARE(present, files);
    if (state >= 0)
        QCOMPARE(int(SumFile::check(to, true).state), state);
}

MORV_TEST_MAIN(TestSafetyCopies)
#include "tst_safetycopies.moc"
