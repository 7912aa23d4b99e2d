// Song: where it comes from and when it lets go, the name checks with their box, and saving to
// the card and to a song file (renamed into place, refused over another file, a failed rename).
#include "domain/sdcard.h"
#include "domain/song.h"
#include "domain/songarchive.h"
#include "domaintest.h"
#include "recordingnotifier.h"
#include "support/archivebuilder.h"
#include "support/filesnapshot.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using namespace ZovaZode;
namespace TS = ZovaZode::TestSupport;

class TestSong : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void sources();
    void validation_data();
    void validation();
    void saveSongFile_data();
    void saveSongFile();

private:
    QString writeSongFile(const QString &name);

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<TS::CardImage> m_image;
    std::shared_ptr<SdCard> m_card;
};

void TestSong::init()
{
    m_dir = std::make_unique<QTemporaryDir>(TS::scratchFolderTemplate());
    m_image = std::make_unique<TS::CardImage>(m_dir->path());
    m_image->create();
    for (int song = 0; song < 3; ++song)
        m_image->writeSong(song, TS::sampleSong(song, 8));
    m_card = std::make_shared<SdCard>();
    QVERIFY(m_card->open(m_image->path(), 1));
}

QString TestSong::writeSongFile(const QString &name)
{
    TS::ArchiveBuilder builder;
    TS::SongRecords records = TS::sampleSong(1, 6);
    TS::putText(records.song, 4, 128, name.toUtf8());
    builder.addSong(records);
    builder.write(m_dir->filePath(songFileName(name)));
    return m_dir->filePath(songFileName(name));
}

// A card song goes with its card; a file song stays; a closed card or a missing file loads nothing.
void TestSong::sources()
{
    Song song;
    QSignalSpy loaded(&song, &Song::loaded), cleared(&song, &Song::cleared);
    song.loadFromCard(m_card, 2);
    QCOMPARE(song.source(), SongSource::Card);
    QCOMPARE(song.filePath(), m_image->path());
    QCOMPARE(song.songInfo(), m_card->songInfo(2));
    QCOMPARE(song.parts().size(), 5);
    QCOMPARE(song.parts().at(1).genre, m_card->partInfo(2, 1).genre);
    m_card->close();
    QCOMPARE(song.source(), SongSource::None);
    QCOMPARE(song.index(), -1);
    QVERIFY(song.parts().isEmpty());
    QCOMPARE(cleared.count(), 1);
    song.loadFromCard(m_card, 0); // closed: nothing happens
    QVERIFY(m_card->open(m_image->path(), 1));

    const QString path = writeSongFile(QStringLiteral("Solo"));
    song.loadFromArchive(path, 0, true);
    QCOMPARE(song.source(), SongSource::SongFile);
    QCOMPARE(song.name(), QStringLiteral("Solo"));
    m_card->close();
    QCOMPARE(cleared.count(), 1);
    QVERIFY(QFile::remove(path));
    QVERIFY(song.parts().isEmpty());
    QTest::ignoreMessage(QtCriticalMsg, QRegularExpression(QStringLiteral("^Error reading song from file:")));
    song.loadFromArchive(path, 0, false);
    QCOMPARE(song.source(), SongSource::CardArchive);
    QCOMPARE(song.name(), QStringLiteral("Solo"));
    QCOMPARE(loaded.count(), 3); // a failed load still says so, for the views to redraw
}

void TestSong::validation_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("description");
    QTest::addColumn<QString>("box"); // empty: saved without a box

    const QString head = "Please correct the following:\n";
    const QString tooLong = "\nThe song name is too long.";
    const QString forbidden =
        "\nThe song name contains characters that are not permitted. Please avoid punctuation.";
    const QString longText = "\nThe song description is too long.";
    // clang-format off
    //                                         name                 description       box
    QTest::newRow("name 128 bytes")        << QString(128, 'n')  << QString(384, 'd') << QString();
    QTest::newRow("empty name, long text") << QString()          << QString(385, 'd') << QString(head + "\nThe song name is empty." + longText);
    QTest::newRow("long and punctuated")   << QString(129, '?')  << QString(400, 'd') << QString(head + tooLong + forbidden + longText);
    // clang-format on
}

void TestSong::validation()
{
    QFETCH(QString, name);
    QFETCH(QString, description);
    QFETCH(QString, box);

    RecordingNotifier notifier;
    Song song;
    song.loadFromCard(m_card, 0);
    const TS::FileSnapshot before(m_image->path());
    song.songInfo().name = name;
    song.songInfo().description = description;
    QCOMPARE(song.save(), box.isEmpty());
    QCOMPARE(notifier.texts(), box.isEmpty() ? QStringList() : QStringList{box});
    if (box.isEmpty()) {
        QCOMPARE(m_card->songInfo(0), song.songInfo());
        QCOMPARE(TS::describe(before.changesOutside({TS::CardImage::songDataRange(0)})), QString());
        return;
    }
    QCOMPARE(notifier.messages().first().icon, Notifier::Icon::Information);
    QCOMPARE(TS::describe(before.changes()), QString());
}

void TestSong::saveSongFile_data()
{
    QTest::addColumn<QString>("newName");
    QTest::addColumn<QString>("obstacle"); // "taken": a file has the new name; "locked": read-only folder
    QTest::addColumn<QString>("finalFile");

    // clang-format off
    //                                       newName          obstacle  finalFile
    QTest::newRow("same name, in place") << "Ballad"       << ""      << "Ballad.mlsd";
    QTest::newRow("renamed")             << "Power Ballad" << ""      << "Power Ballad.mlsd";
    QTest::newRow("name taken")          << "Taken"        << "taken" << "Ballad.mlsd";
    QTest::newRow("rename fails")        << "Unstuck"      << "locked" << "Ballad.mlsd";
    // clang-format on
}

// Only the name and description fields change; a refused save touches no file.
void TestSong::saveSongFile()
{
    QFETCH(QString, newName);
    QFETCH(QString, obstacle);
    QFETCH(QString, finalFile);

    RecordingNotifier notifier;
    const QString path = writeSongFile(QStringLiteral("Ballad"));
    const QString takenPath = obstacle == "taken" ? writeSongFile(newName) : m_dir->filePath("none");
    const QByteArray before = TS::wholeFile(path);
    const QByteArray takenBefore = TS::readRange(takenPath, 0, 1 << 20);
    Song song;
    song.loadFromArchive(path, 0, true);
    song.songInfo().name = newName;
    song.songInfo().description = QStringLiteral("Slow");
    if (obstacle == "locked") {
        if (!writeProtect(m_dir->path(), true))
            QSKIP("No way to make a rename fail here.");
        QTest::ignoreMessage(QtCriticalMsg, QRegularExpression(QStringLiteral("^Failed to update file name:")));
    }
    QCOMPARE(song.save(), obstacle.isEmpty());
    if (obstacle == "locked")
        QVERIFY(writeProtect(m_dir->path(), false));
    QCOMPARE(song.filePath(), m_dir->filePath(finalFile));
    QCOMPARE(QDir(m_dir->path()).entryList({QStringLiteral("*.mlsd")}).size(), obstacle == "taken" ? 2 : 1);
    QByteArray expected = before;
    if (obstacle != "taken") {
        // Written into the file first, under its old name when the rename fails.
        TS::putText(expected, int(TS::kFirstSongOffset + TS::kSongHeaderSize) + 4, 128, newName.toUtf8());
        TS::putText(expected, int(TS::kFirstSongOffset + TS::kSongHeaderSize) + 132, 384, "Slow");
    }
    QCOMPARE(TS::wholeFile(song.filePath()), expected);
    QCOMPARE(TS::readRange(takenPath, 0, 1 << 20), takenBefore);
    QCOMPARE(notifier.texts(), obstacle == "taken"
                                   ? QStringList{"A file named Taken.mlsd already exists in this "
                                                 "folder.\n\nPlease choose a different song name."}
                                   : QStringList());
}

QTEST_GUILESS_MAIN(TestSong)
#include "tst_song.moc"
