// Song: loading from the card and from files, following the card's closing, reading parts,
// and saving with its validation and file-name boxes.
#include "domain/sdcard.h"
#include "domain/song.h"
#include "domain/songarchive.h"
#include "recordingnotifier.h"
#include "support/archivebuilder.h"
#include "support/cardimage.h"
#include "support/filesnapshot.h"

#include <QProcess>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <unistd.h>

#include <memory>

using namespace ZovaZode;
namespace TS = ZovaZode::TestSupport;

Q_DECLARE_METATYPE(ZovaZode::SongSource)

namespace {

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

} // namespace

class TestSong : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void newSongIsEmpty();
    void loadFromCard();
    void loadFromClosedCardChangesNothing();
    void cardClosingClearsSong();
    void cardClosingWhenSongHoldsLastReference();
    void loadFromArchive_data();
    void loadFromArchive();
    void failedLoadStillEmitsLoaded();
    void fileSongNotClearedByCard();
    void parts_data();
    void parts();

    void validation_data();
    void validation();
    void saveToCard();
    void saveToReadOnlyCardFails();
    void saveIntoCardArchiveRefused();
    void saveWithoutSource();
    void saveSongFile_data();
    void saveSongFile();
    void saveSongFileRenameFails();

private:
    QString filePath(const QString &name) const { return QDir(m_dir->path()).filePath(name); }
    QString writeSongFile(const QString &name, int variant);

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<TS::CardImage> m_image;
    std::shared_ptr<SdCard> m_card;
};

void TestSong::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_image = std::make_unique<TS::CardImage>(m_dir->path());
    m_image->create("Song Test Card", "Card for song tests");
    for (int song = 0; song < 3; ++song)
        m_image->writeSong(song, TS::sampleSong(song, 8));
    m_card = std::make_shared<SdCard>();
    QVERIFY(m_card->open(m_image->path(), 1));
}

void TestSong::cleanup()
{
    m_card.reset();
    m_image.reset();
    m_dir.reset();
}

// A song file holding song `variant` of the sample card, under the name it would get.
QString TestSong::writeSongFile(const QString &name, int variant)
{
    TS::ArchiveBuilder builder;
    TS::SongRecords records = TS::sampleSong(1, quint32(variant));
    TS::putText(records.song, 4, 128, name.toUtf8());
    builder.addSong(records);
    const QString path = filePath(songFileName(name));
    builder.write(path);
    return path;
}

void TestSong::newSongIsEmpty()
{
    Song song;
    QCOMPARE(song.source(), SongSource::None);
    QCOMPARE(song.index(), -1);
    QCOMPARE(song.filePath(), QString());
    QCOMPARE(song.name(), QString());
    QCOMPARE(song.songInfo(), SongInfo());
    QVERIFY(song.parts().isEmpty());
}

void TestSong::loadFromCard()
{
    Song song;
    QSignalSpy loaded(&song, &Song::loaded);
    song.loadFromCard(m_card, 2);
    QCOMPARE(loaded.count(), 1);
    QCOMPARE(song.source(), SongSource::Card);
    QCOMPARE(song.index(), 2);
    QCOMPARE(song.filePath(), m_image->path());
    QCOMPARE(song.name(), QStringLiteral("Song 2 of card 8"));
    QCOMPARE(song.songInfo(), m_card->songInfo(2));
    QVERIFY(song.description().startsWith(QStringLiteral("Variant 8")));
}

void TestSong::loadFromClosedCardChangesNothing()
{
    Song song;
    song.loadFromArchive(writeSongFile(QStringLiteral("Kept"), 3), 0, true);
    const auto closed = std::make_shared<SdCard>();
    QSignalSpy loaded(&song, &Song::loaded);
    song.loadFromCard(closed, 0);
    song.loadFromCard(nullptr, 0);
    QCOMPARE(loaded.count(), 0);
    QCOMPARE(song.source(), SongSource::SongFile);
    QCOMPARE(song.name(), QStringLiteral("Kept"));
}

void TestSong::cardClosingClearsSong()
{
    Song song;
    song.loadFromCard(m_card, 1);
    QSignalSpy cleared(&song, &Song::cleared);
    m_card->close();
    QCOMPARE(cleared.count(), 1);
    QCOMPARE(song.source(), SongSource::None);
    QCOMPARE(song.index(), -1);
    QCOMPARE(song.songInfo(), SongInfo());
    QVERIFY(song.parts().isEmpty());

    // The song let go of the card: opening it again does not bring the song back.
    QVERIFY(m_card->open(m_image->path(), 1));
    m_card->close();
    QCOMPARE(cleared.count(), 1);
}

// The card's own closed() signal makes the song drop the last owner of the card.
void TestSong::cardClosingWhenSongHoldsLastReference()
{
    Song song;
    QPointer<SdCard> watch;
    {
        auto card = std::make_shared<SdCard>();
        watch = card.get();
        QVERIFY(card->open(m_image->path(), 0));
        song.loadFromCard(card, 0);
    }
    QVERIFY(watch);
    watch->close();
    QVERIFY(!watch);
    QCOMPARE(song.source(), SongSource::None);
}

void TestSong::loadFromArchive_data()
{
    QTest::addColumn<bool>("isSongFile");
    QTest::addColumn<SongSource>("source");

    // clang-format off
    QTest::newRow("song file")    << true  << SongSource::SongFile;
    QTest::newRow("card archive") << false << SongSource::CardArchive;
    // clang-format on
}

void TestSong::loadFromArchive()
{
    QFETCH(bool, isSongFile);
    QFETCH(SongSource, source);

    TS::ArchiveBuilder builder;
    for (int s = 0; s < 3; ++s)
        builder.addSong(TS::sampleSong(s, 5));
    const QString path = filePath(QStringLiteral("Three.mlad"));
    builder.write(path);

    Song song;
    song.loadFromCard(m_card, 0);
    QSignalSpy loaded(&song, &Song::loaded);
    song.loadFromArchive(path, 2, isSongFile);
    QCOMPARE(loaded.count(), 1);
    QCOMPARE(song.source(), source);
    QCOMPARE(song.index(), 2);
    QCOMPARE(song.filePath(), path);
    QCOMPARE(song.name(), QStringLiteral("Song 2 of card 5"));
}

void TestSong::failedLoadStillEmitsLoaded()
{
    Song song;
    song.loadFromCard(m_card, 1);
    const SongInfo before = song.songInfo();
    QSignalSpy loaded(&song, &Song::loaded);
    QTest::ignoreMessage(QtCriticalMsg, QRegularExpression(QStringLiteral("^Error reading song from file:")));
    song.loadFromArchive(filePath(QStringLiteral("missing.mlsd")), 0, true);
    QCOMPARE(loaded.count(), 1);
    QCOMPARE(song.source(), SongSource::SongFile);
    QCOMPARE(song.songInfo(), before);
}

void TestSong::fileSongNotClearedByCard()
{
    Song song;
    song.loadFromCard(m_card, 1);
    song.loadFromArchive(writeSongFile(QStringLiteral("Solo"), 2), 0, true);
    QSignalSpy cleared(&song, &Song::cleared);
    m_card->close();
    QCOMPARE(cleared.count(), 0);
    QCOMPARE(song.name(), QStringLiteral("Solo"));
}

void TestSong::parts_data()
{
    QTest::addColumn<QString>("from"); // "card", "file", "vanished file", "nothing"
    QTest::addColumn<int>("count");

    // clang-format off
    QTest::newRow("card")          << "card"          << 5;
    QTest::newRow("file")          << "file"          << 5;
    QTest::newRow("vanished file") << "vanished file" << 0;
    QTest::newRow("closed card")   << "closed card"   << 0;
    QTest::newRow("nothing")       << "nothing"       << 0;
    // clang-format on
}

void TestSong::parts()
{
    QFETCH(QString, from);
    QFETCH(int, count);

    Song song;
    if (from == QLatin1String("card")) {
        song.loadFromCard(m_card, 2);
    } else if (from == QLatin1String("closed card")) {
        song.loadFromCard(m_card, 2);
        m_card->close();
    } else if (from != QLatin1String("nothing")) {
        const QString path = writeSongFile(QStringLiteral("Parts"), 8);
        song.loadFromArchive(path, 0, true);
        if (from == QLatin1String("vanished file"))
            QVERIFY(QFile::remove(path));
    }

    const QVector<PartInfo> parts = song.parts();
    QCOMPARE(parts.size(), count);
    for (int part = 0; part < count; ++part) {
        const PartInfo expected = m_card->partInfo(from == QLatin1String("card") ? 2 : 1, part);
        QCOMPARE(parts.at(part).hasData, expected.hasData);
        QCOMPARE(parts.at(part).genre, expected.genre);
        QCOMPARE(parts.at(part).duration, expected.duration);
        QCOMPARE(parts.at(part).isLooper, expected.isLooper);
    }
}

void TestSong::validation_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("description");
    QTest::addColumn<QString>("box"); // empty: saved without a box

    const QString head = QStringLiteral("Please correct the following:\n");
    const QString empty = QStringLiteral("\nThe song name is empty.");
    const QString tooLong = QStringLiteral("\nThe song name is too long.");
    const QString forbidden = QStringLiteral(
        "\nThe song name contains characters that are not permitted. Please avoid punctuation.");
    const QString longDescription = QStringLiteral("\nThe song description is too long.");

    // clang-format off
    QTest::newRow("valid")                 << "Verse"                        << "Fine"                         << QString();
    QTest::newRow("name 128 bytes")        << QString(128, QLatin1Char('n')) << QString()                      << QString();
    QTest::newRow("name 129 bytes")        << QString(129, QLatin1Char('n')) << QString()                      << head + tooLong;
    QTest::newRow("name 43 x 3 bytes")     << QString(43, QChar(0x20ac))     << QString()                      << head + tooLong;
    QTest::newRow("description 384 bytes") << "Verse"                        << QString(384, QLatin1Char('d')) << QString();
    QTest::newRow("description 385 bytes") << "Verse"                        << QString(385, QLatin1Char('d')) << head + longDescription;
    QTest::newRow("empty name, long text") << QString()                      << QString(385, QLatin1Char('d')) << head + empty + longDescription;
    QTest::newRow("punctuation")           << "Verse!"                       << QString()                      << head + forbidden;
    QTest::newRow("tab")                   << "Ver\tse"                      << QString()                      << head + forbidden;
    QTest::newRow("long and punctuated")   << QString(129, QLatin1Char('?')) << QString(400, QLatin1Char('d')) << head + tooLong + forbidden + longDescription;
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
    QSignalSpy saved(&song, &Song::saved);
    song.songInfo().name = name;
    song.songInfo().description = description;

    QCOMPARE(song.save(), box.isEmpty());
    QCOMPARE(saved.count(), box.isEmpty() ? 1 : 0);
    if (box.isEmpty()) {
        QVERIFY(notifier.messages().isEmpty());
        QCOMPARE(m_card->songInfo(0).name, name);
        return;
    }
    QCOMPARE(notifier.messages().size(), 1);
    const Notifier::Message &message = notifier.messages().first();
    QCOMPARE(message.text, box);
    QCOMPARE(message.icon, Notifier::Icon::Information);
    QCOMPARE(message.title, QString());
    QCOMPARE(message.buttons, Notifier::Buttons(Notifier::Ok));
    QCOMPARE(message.parent, nullptr);
    QCOMPARE(TS::describe(before.changes()), QString());
}

void TestSong::saveToCard()
{
    Song song;
    song.loadFromCard(m_card, 1);
    const SongInfo stored = m_card->songInfo(1);
    const TS::FileSnapshot before(m_image->path());
    song.songInfo().name = QStringLiteral("Chorus");
    song.songInfo().description = QStringLiteral("Loud");
    QVERIFY(song.save());

    SongInfo expected = stored;
    expected.name = QStringLiteral("Chorus");
    expected.description = QStringLiteral("Loud");
    QCOMPARE(m_card->songInfo(1), expected);
    QCOMPARE(TS::describe(before.changesOutside({TS::CardImage::songDataRange(1)})), QString());
}

void TestSong::saveToReadOnlyCardFails()
{
    auto readOnly = std::make_shared<SdCard>();
    QVERIFY(readOnly->open(m_image->path(), 0));
    Song song;
    song.loadFromCard(readOnly, 1);
    QSignalSpy saved(&song, &Song::saved);
    song.songInfo().name = QStringLiteral("Chorus");
    QVERIFY(!song.save());
    QCOMPARE(saved.count(), 0);
    QCOMPARE(readOnly->songInfo(1).name, QStringLiteral("Song 1 of card 8"));
}

void TestSong::saveIntoCardArchiveRefused()
{
    RecordingNotifier notifier;
    TS::ArchiveBuilder builder;
    builder.addSong(TS::sampleSong(0, 4));
    const QString path = filePath(QStringLiteral("Card.mlad"));
    builder.write(path);
    const QByteArray before = fileBytes(path);

    Song song;
    song.loadFromArchive(path, 0, false);
    QSignalSpy saved(&song, &Song::saved);
    song.songInfo().name = QString(); // invalid as well: still no box
    QVERIFY(!song.save());
    song.songInfo().name = QStringLiteral("Fine");
    QVERIFY(!song.save());
    QVERIFY(notifier.messages().isEmpty());
    QCOMPARE(saved.count(), 0);
    QCOMPARE(fileBytes(path), before);
}

void TestSong::saveWithoutSource()
{
    RecordingNotifier notifier;
    Song song;
    song.songInfo().name = QStringLiteral("Orphan");
    QVERIFY(!song.save());
    QVERIFY(notifier.messages().isEmpty());
}

void TestSong::saveSongFile_data()
{
    QTest::addColumn<QString>("newName");
    QTest::addColumn<bool>("taken"); // a file of the new name exists already
    QTest::addColumn<bool>("result");
    QTest::addColumn<QString>("finalFile");

    // clang-format off
    QTest::newRow("same name, in place") << "Ballad"       << false << true  << "Ballad.mlsd";
    QTest::newRow("renamed")             << "Power Ballad" << false << true  << "Power Ballad.mlsd";
    QTest::newRow("name taken")          << "Taken"        << true  << false << "Ballad.mlsd";
    // clang-format on
}

void TestSong::saveSongFile()
{
    QFETCH(QString, newName);
    QFETCH(bool, taken);
    QFETCH(bool, result);
    QFETCH(QString, finalFile);

    RecordingNotifier notifier;
    const QString path = writeSongFile(QStringLiteral("Ballad"), 6);
    QString takenPath;
    if (taken)
        takenPath = writeSongFile(newName, 7);
    const QByteArray takenBefore = fileBytes(takenPath);
    const QByteArray before = fileBytes(path);

    Song song;
    song.loadFromArchive(path, 0, true);
    const SongInfo original = song.songInfo();
    QSignalSpy saved(&song, &Song::saved);
    song.songInfo().name = newName;
    song.songInfo().description = QStringLiteral("Slow");
    QCOMPARE(song.save(), result);
    QCOMPARE(saved.count(), result ? 1 : 0);

    const QString finalPath = filePath(finalFile);
    QCOMPARE(song.filePath(), finalPath);
    QCOMPARE(QDir(m_dir->path()).entryList({QStringLiteral("*.mlsd")}, QDir::Files).size(), taken ? 2 : 1);
    if (taken) {
        QCOMPARE(notifier.texts(),
                 QStringList{QStringLiteral("A file named Taken.mlsd already exists in this "
                                            "folder.\n\nPlease choose a different song name.")});
        QCOMPARE(notifier.messages().first().icon, Notifier::Icon::Information);
        QCOMPARE(fileBytes(path), before);
        QCOMPARE(fileBytes(takenPath), takenBefore);
        return;
    }

    QVERIFY(notifier.messages().isEmpty());
    const SongArchive archive(finalPath, 0, 0);
    SongInfo expected = original;
    expected.name = newName;
    expected.description = QStringLiteral("Slow");
    QCOMPARE(archive.songInfo(0), expected);
    // Only the name and description fields of the song record changed.
    QByteArray expectedBytes = before;
    const qint64 record = TS::kFirstSongOffset + TS::kSongHeaderSize;
    TS::putText(expectedBytes, int(record) + 4, 128, newName.toUtf8());
    TS::putText(expectedBytes, int(record) + 132, 384, "Slow");
    QCOMPARE(fileBytes(finalPath), expectedBytes);
}

void TestSong::saveSongFileRenameFails()
{
    const QString path = writeSongFile(QStringLiteral("Stuck"), 6);
    const QString folder = m_dir->path();
    std::function<void()> undo;
    if (geteuid() == 0) {
        // Root renames through permission bits; only the immutable flag stops it.
        if (QStandardPaths::findExecutable(QStringLiteral("chattr")).isEmpty() ||
            QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("+i"), folder}) != 0)
            QSKIP("Running as root and chattr +i is not available here: no way to make a rename fail.");
        undo = [folder] { QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("-i"), folder}); };
    } else {
        QVERIFY(QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
        undo = [folder] {
            QFile::setPermissions(folder,
                                  QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        };
    }
    const auto restore = qScopeGuard(undo);

    Song song;
    song.loadFromArchive(path, 0, true);
    QSignalSpy saved(&song, &Song::saved);
    song.songInfo().name = QStringLiteral("Unstuck");
    QTest::ignoreMessage(QtCriticalMsg, QRegularExpression(QStringLiteral("^Failed to update file name:")));
    QVERIFY(!song.save());
    QCOMPARE(saved.count(), 0);
    QCOMPARE(song.filePath(), path);
    // The new name is already written into the file under its old name.
    const SongArchive archive(path, 0, 0);
    QCOMPARE(archive.songInfo(0).name, QStringLiteral("Unstuck"));
}

QTEST_GUILESS_MAIN(TestSong)
#include "tst_song.moc"
