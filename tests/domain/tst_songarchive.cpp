// SongArchive and Song on built archive files and sparse card images: each archive operation's own
// checks and the library errors it passes on; a card archive there and back; the card-archive
// rule; a Song's sources and its save, to the card or a song file, with the name checks' box.
// The bytes of archives and restores are the card data library's.
#include "domain/libraryfilenames.h"
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
#include <stdexcept>

using namespace ZovaZode;
namespace TS = ZovaZode::TestSupport;
using Card = TS::CardImage;

class TestSongArchive : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void errors_data();
    void errors();
    void cardArchiveThereAndBack();
    void cardArchiveRule_data();
    void cardArchiveRule();
    void songSources();
    void saveSong_data();
    void saveSong();

private:
    QString filePath(const QString &name) const { return m_dir->filePath(name); }
    QString writeSongFile(const QString &name);

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<Card> m_image;
    std::shared_ptr<SdCard> m_card;
};

void TestSongArchive::init()
{
    m_dir = std::make_unique<QTemporaryDir>(TS::scratchFolderTemplate());
    m_image = std::make_unique<Card>(m_dir->path());
    m_image->create("Archive Test Card", "Card for archive tests");
    for (int song = 0; song < 4; ++song)
        m_image->writeSong(song, TS::sampleSong(song, 4));
    m_card = std::make_shared<SdCard>();
    QVERIFY(m_card->open(m_image->path(), 1));
}

void TestSongArchive::errors_data()
{
    QTest::addColumn<int>("writable");    // the archive (one song; missing for "open")
    QTest::addColumn<QString>("card");    // "open", "closed", "none" or "read-only"
    QTest::addColumn<QString>("operation");
    QTest::addColumn<int>("song");
    QTest::addColumn<QString>("message");

    const QString open = "Could not open archive file: mlsdOpenArchiveW: Error opening file.";
    // clang-format off
    //                                 writable card    operation        song message
    QTest::newRow("missing")        << 0 << "open"  << "open"        << 0  << open;
    QTest::newRow("songInfo 1")     << 0 << "open"  << "songInfo"    << 1  << "Could not get song info: mlsdGetUISongDataFromArchive: song num out of archive song range - cannot get UI Song Data";
    QTest::newRow("part 5")         << 0 << "open"  << "partInfo"    << 0  << "Could not get part info: mlsdGetUIPartDataFromArchive: iPart is out of range - cannot send part data";
    QTest::newRow("write read-only")<< 0 << "open"  << "writeInfo"   << 0  << "Could not write song info: mlsdSendUISongDataToArchive: Error writing UI song data to archive";
    QTest::newRow("closed card")    << 1 << "closed"<< "archiveSong" << 0  << "Card is not open.";
    QTest::newRow("no card")        << 1 << "none"  << "restoreSong" << 0  << "Card is not open.";
    QTest::newRow("archive closed") << 1 << "closed"<< "archiveCard" << 0  << "Can not archive card: card not open.";
    QTest::newRow("restore closed") << 1 << "closed"<< "restoreCard" << 0  << "Can not restore card: card not open.";
    QTest::newRow("read-only card") << 0 << "read-only" << "restoreSong" << 0 << "Failed to restore song: mlsdRestoreSong: SD Card is not writable.";
    // The library trusts card song numbers; a wrong one would write into another song's records.
    QTest::newRow("archive 12")     << 1 << "open"  << "archiveSong" << 12 << "Failed to archive song: Card song number out of range.";
    // A closed archive's handle is gone (every operation asks for it the same way). A failed close is
    // the fault injection's.
    QTest::newRow("after close")    << 1 << "open"  << "close twice" << 0  << "Archive is closed.";
    QTest::newRow("restore to 12")  << 1 << "open"  << "restoreTo"   << 12 << "Failed to restore song: Card song number out of range.";
    // clang-format on
}

void TestSongArchive::errors()
{
    QFETCH(int, writable);
    QFETCH(QString, card);
    QFETCH(QString, operation);
    QFETCH(int, song);
    QFETCH(QString, message);

    const QString path = filePath("Broken.mlad");
    TS::ArchiveBuilder builder;
    builder.addSong(TS::sampleSong(0, 5));
    if (operation != "open")
        builder.write(path);
    std::shared_ptr<SdCard> target = m_card;
    if (card == "closed")
        m_card->close();
    else if (card == "none")
        target.reset();
    else if (card == "read-only")
        QVERIFY((target = std::make_shared<SdCard>())->open(m_image->path(), 0));
    const QByteArray before = TS::wholeFile(path);
    const TS::FileSnapshot cardBefore(m_image->path());

    const QMap<QString, std::function<void(SongArchive &)>> operations{
        {"open", [](SongArchive &) {}},
        {"songInfo", [&](SongArchive &archive) { archive.songInfo(song); }},
        {"partInfo", [&](SongArchive &archive) { archive.partInfo(song, song == 0 ? 5 : 0); }},
        {"writeInfo", [&](SongArchive &archive) { archive.writeSongInfo(song, SongInfo()); }},
        {"archiveSong", [&](SongArchive &archive) { archive.archiveSong(target, song); }},
        {"restoreSong", [&](SongArchive &archive) { archive.restoreSong(song, target, 5); }},
        {"restoreTo", [&](SongArchive &archive) { archive.restoreSong(0, target, song); }},
        {"archiveCard", [&](SongArchive &archive) { archive.archiveCard(target.get(), {}); }},
        {"restoreCard", [&](SongArchive &archive) { archive.restoreCard(target.get(), {}); }},
        {"close twice", [](SongArchive &archive) {
             archive.close();
             archive.close();
         }}};
    QCOMPARE(errorOf([&] {
                 SongArchive archive(path, writable > 0, writable / 2);
                 operations.value(operation)(archive);
                 if (operation != "open" && operation != "close twice")
                     QCOMPARE(archive.songCount(), 1);
             }),
             message);
    QCOMPARE(TS::wholeFile(path), before);
    QCOMPARE(TS::describe(cardBefore.changes()), QString());
}

// The card reloads what was restored; songs 4 to 11 hold no audio and report no progress. A stop
// asked for, or an exception from the callable, ends a transfer.
void TestSongArchive::cardArchiveThereAndBack()
{
    const QString path = filePath(QStringLiteral("Card.mlad"));
    QVector<int> songs;
    {
        SongArchive archive(path, 1, 1);
        archive.archiveCard(m_card.get(), [&](int song, int count, int, int) {
            songs << (count == 12 ? song : -1);
            return false;
        });
        archive.setName(QStringLiteral("Renamed card"));
        archive.setDescription(QStringLiteral("Described"));
    }
    QCOMPARE(QVector<int>({songs.first(), songs.last()}), QVector<int>({0, 3}));
    Card other(m_dir->path(), QStringLiteral("OTHER.DAT"));
    other.create("Other card", "Other description", 9);
    SdCard target;
    QVERIFY(target.open(other.path(), 1));
    SongArchive archive(path, 0, 0);
    archive.restoreCard(&target, {});
    QCOMPARE(QStringList({target.name(), target.description()}), QStringList({"Renamed card", "Described"}));
    QCOMPARE(target.songInfo(3), m_card->songInfo(3));
    QCOMPARE(errorOf([&] { archive.restoreCard(&target, [](int, int, int, int) { return true; }); }),
             QStringLiteral("Failed to restore card: mlsdRestoreSong: Aborted by user."));
    // An exception from the callable passes through the library to the caller.
    QVERIFY_EXCEPTION_THROWN(archive.restoreCard(&target, [](int, int, int, int) -> bool { throw std::runtime_error("x"); }),
                             std::runtime_error);
}

void TestSongArchive::cardArchiveRule_data()
{
    QTest::addColumn<int>("songs");
    QTest::addColumn<bool>("prefs");
    QTest::addColumn<bool>("cardArchive");

    // clang-format off
    //                                         songs prefs  cardArchive
    QTest::newRow("12 songs with prefs")    << 12 << true  << true;
    QTest::newRow("12 songs without prefs") << 12 << false << false;
    QTest::newRow("11 songs with prefs")    << 11 << true  << false;
    // clang-format on
}

void TestSongArchive::cardArchiveRule()
{
    QFETCH(int, songs);
    QFETCH(bool, prefs);
    QFETCH(bool, cardArchive);

    TS::ArchiveBuilder builder;
    for (int song = 0; song < songs; ++song)
        builder.addSong(TS::emptySong(song, 2));
    if (prefs)
        builder.setUserPrefs(TS::userPrefs());
    builder.write(filePath(QStringLiteral("Built.mlad")));
    const SongArchive archive(filePath(QStringLiteral("Built.mlad")), 0, 0);
    QCOMPARE(archive.songCount(), songs);
    QCOMPARE(archive.isCardArchive(), cardArchive);
}

QString TestSongArchive::writeSongFile(const QString &name)
{
    TS::ArchiveBuilder builder;
    TS::SongRecords records = TS::sampleSong(1, 6);
    TS::putText(records.song, 4, 128, name.toUtf8());
    builder.addSong(records);
    builder.write(m_dir->filePath(songFileName(name)));
    return m_dir->filePath(songFileName(name));
}

// A card song goes with its card; a file song stays; a closed card or a missing file loads nothing.
void TestSongArchive::songSources()
{
    Song song;
    QSignalSpy loaded(&song, &Song::loaded), cleared(&song, &Song::cleared);
    song.loadFromCard(m_card, 2);
    QCOMPARE(song.source(), SongSource::Card);
    QCOMPARE(song.songInfo(), m_card->songInfo(2));
    m_card->close();
    QCOMPARE(song.source(), SongSource::None);
    QCOMPARE(song.index(), -1);
    QVERIFY(song.parts().isEmpty());
    QCOMPARE(cleared.count(), 1);
    song.loadFromCard(m_card, 0); // closed: nothing happens
    QVERIFY(m_card->open(m_image->path(), 1));

    // A song file's song stays when the card goes; a failed load still says so, for the views.
    const QString path = writeSongFile(QStringLiteral("Solo"));
    song.loadFromArchive(path, 0, true);
    m_card->close();
    QCOMPARE(QVector<int>({int(song.source()), cleared.count()}), QVector<int>({int(SongSource::SongFile), 1}));
    QVERIFY(QFile::remove(path));
    QTest::ignoreMessage(QtCriticalMsg, QRegularExpression(QStringLiteral("^Error reading song from file:")));
    song.loadFromArchive(path, 0, false);
    QCOMPARE(loaded.count(), 3);
}

void TestSongArchive::saveSong_data()
{
    QTest::addColumn<QString>("source"); // "card": card song 1; "file": the song file Ballad.mlsd
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("description");
    QTest::addColumn<QString>("obstacle"); // "taken": a file has the new name; "locked": read-only folder
    QTest::addColumn<QString>("box");      // empty: saved without a box

    const QString head = "Please correct the following:\n";
    const QString tooLong = "\nThe song name is too long.";
    const QString forbidden =
        "\nThe song name contains characters that are not permitted. Please avoid punctuation.";
    const QString longText = "\nThe song description is too long.";
    const QString taken = "A file named Taken.mlsd already exists in this folder.\n\nPlease choose a different song name.";
    // clang-format off
    //                                   source   name                description        obstacle    box
    QTest::newRow("card, 128 bytes")  << "card" << QString(128, 'n') << QString(384, 'd') << ""       << QString();
    QTest::newRow("card, empty name") << "card" << QString()         << QString(385, 'd') << ""       << QString(head + "\nThe song name is empty." + longText);
    QTest::newRow("card, long, ?")    << "card" << QString(129, '?') << QString(400, 'd') << ""       << QString(head + tooLong + forbidden + longText);
    QTest::newRow("file, in place")   << "file" << "Ballad"          << "Slow"            << ""       << QString();
    QTest::newRow("file, renamed")    << "file" << "Power Ballad"    << "Slow"            << ""       << QString();
    QTest::newRow("file, name taken") << "file" << "Taken"           << "Slow"            << "taken"  << taken;
    QTest::newRow("file, rename fails") << "file" << "Unstuck"       << "Slow"            << "locked" << QString();
    // clang-format on
}

// Only the name and description fields change, on the card or in the song file (written first,
// then renamed into place, under its old name when the rename fails); a refused save touches no
// file and says why.
void TestSongArchive::saveSong()
{
    QFETCH(QString, source);
    QFETCH(QString, name);
    QFETCH(QString, description);
    QFETCH(QString, obstacle);
    QFETCH(QString, box);

    RecordingNotifier notifier;
    const QString path = writeSongFile(QStringLiteral("Ballad"));
    const QString takenPath = obstacle == "taken" ? writeSongFile(name) : m_dir->filePath("none");
    const QByteArray before = TS::wholeFile(path), takenBefore = TS::readRange(takenPath, 0, 1 << 20);
    const TS::FileSnapshot card(m_image->path());
    Song song;
    if (source == "card")
        song.loadFromCard(m_card, 0);
    else
        song.loadFromArchive(path, 0, true);
    song.songInfo().name = name;
    song.songInfo().description = description;
    if (obstacle == "locked") {
        if (!writeProtect(m_dir->path(), true))
            QSKIP("No way to make a rename fail here.");
        QTest::ignoreMessage(QtCriticalMsg, QRegularExpression(QStringLiteral("^Failed to update file name:")));
    }
    QCOMPARE(song.save(), box.isEmpty() && obstacle.isEmpty());
    if (obstacle == "locked")
        QVERIFY(writeProtect(m_dir->path(), false));
    QCOMPARE(notifier.texts(), box.isEmpty() ? QStringList() : QStringList{box});
    QVERIFY(box.isEmpty() || notifier.messages().first().icon == Notifier::Icon::Information);

    const bool onCard = source == "card" && box.isEmpty();
    QCOMPARE(TS::describe(card.changesOutside(onCard ? QVector<TS::ByteRange>{TS::CardImage::songDataRange(0)}
                                                     : QVector<TS::ByteRange>{})),
             QString());
    QVERIFY(!onCard || m_card->songInfo(0) == song.songInfo());
    QCOMPARE(song.filePath(), source == "card" ? m_image->path()
                              : obstacle.isEmpty() ? m_dir->filePath(songFileName(name))
                                                   : path);
    QCOMPARE(QDir(m_dir->path()).entryList({QStringLiteral("*.mlsd")}).size(), obstacle == "taken" ? 2 : 1);
    QByteArray expected = before;
    if (source == "file" && obstacle != "taken") {
        TS::putText(expected, int(TS::kFirstSongOffset + TS::kSongHeaderSize) + 4, 128, name.toUtf8());
        TS::putText(expected, int(TS::kFirstSongOffset + TS::kSongHeaderSize) + 132, 384, description.toUtf8());
    }
    QCOMPARE(TS::wholeFile(source == "card" ? path : song.filePath()), expected);
    QCOMPARE(TS::readRange(takenPath, 0, 1 << 20), takenBefore);
}

MORV_TEST_MAIN(TestSongArchive)
#include "tst_songarchive.moc"
