// Archive and restore: songs and whole cards compared byte for byte with archives built
// independently, round trips onto a second card, progress and abort, the song limit,
// read-only refusals, hostile archives, and that a restore writes only its own records.
#include "carddata/carddata.h"
#include "carddata/verify.h"
#include "support/archivebuilder.h"
#include "support/cardimage.h"
#include "support/filesnapshot.h"

#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using namespace ZovaZode::TestSupport;

namespace {

using CardPtr = std::unique_ptr<SdCardHandle, SdCardHandleCloser>;
using ArchivePtr = std::unique_ptr<ArchiveHandle, ArchiveHandleCloser>;

CardPtr openCard(const CardImage &card, int writable)
{
    return CardPtr(mlsdOpenSDCard(QFile::encodeName(card.path()).constData(), writable));
}

ArchivePtr openArchive(const QString &path, int writable, int create = 0)
{
    return ArchivePtr(mlsdOpenArchiveW(path.toStdWString().c_str(), writable, create));
}

QByteArray errorText()
{
    return QByteArray(mlsdGetErrorString());
}

struct SongProgress
{
    QVector<int> done;
    QVector<int> totals;
    int answer = 0;

    static int report(int32_t done, int32_t total, void *context)
    {
        auto *self = static_cast<SongProgress *>(context);
        self->done.append(done);
        self->totals.append(total);
        return self->answer;
    }
    ProgressCallback callback() { return {&SongProgress::report, this}; }
};

struct CardProgress
{
    QVector<int> songs;
    QVector<int> songCounts;

    static int report(int32_t song, int32_t songCount, int32_t, int32_t, void *context)
    {
        auto *self = static_cast<CardProgress *>(context);
        self->songs.append(song);
        self->songCounts.append(songCount);
        return 0;
    }
    CardProgressCallback callback() { return {&CardProgress::report, this}; }
};

// Reports expected for `total` bytes moved in 1024-byte chunks: every full 10 KiB step.
QVector<int> steps(int total)
{
    QVector<int> result;
    for (int done = 10240; done <= total; done += 10240)
        result.append(done);
    return result;
}

// Describes where card song `song` differs from `expected`, or returns an empty text.
QString songDifference(const CardImage &card, int song, const SongRecords &expected)
{
    if (card.read(CardImage::songDataRange(song)) != expected.song)
        return QStringLiteral("UI song data of song %1").arg(song);
    for (int p = 0; p < 5; ++p) {
        if (card.read(CardImage::partDataRange(song, p)) != expected.parts[p])
            return QStringLiteral("UI part data of song %1 part %2").arg(song).arg(p);
        const QByteArray looper = card.read(CardImage::looperRange(song, p));
        if (looperAccepted(expected.loopers[p])) {
            if (looper != expected.loopers[p])
                return QStringLiteral("looper record of song %1 part %2").arg(song).arg(p);
        } else if (signedWord(looper, 0) != 1 || signedWord(looper, 4) != 0 || signedWord(looper, 8) != -1) {
            return QStringLiteral("empty looper record of song %1 part %2").arg(song).arg(p);
        }
        const qint32 chunks = expected.copiedChunks(p);
        if (card.read(CardImage::audioRange(song, p, chunks)) !=
            audio(expected.audioSeeds[p], 0, chunks * 1024))
            return QStringLiteral("audio of song %1 part %2").arg(song).arg(p);
    }
    return {};
}

// A song with one part in use holding a recording of `chunks` chunks (none when 0).
SongRecords onePartSong(int song, qint32 chunks)
{
    SongRecords records = emptySong(song, 3);
    PartFields part;
    records.parts[0] = partData(part);
    records.loopers[0] = looperRecord(chunks > 0 ? recording(chunks, 321) : emptyLooper(321));
    records.audioChunks[0] = chunks;
    return records;
}

enum class Refusal {
    ArchiveSongReadOnlyArchive,
    ArchiveUserPrefsReadOnlyArchive,
    ClearReadOnlyArchive,
    ArchiveCardReadOnlyArchive,
    RestoreSongReadOnlyCard,
    RestoreUserPrefsReadOnlyCard,
    RestoreCardReadOnlyCard,
};

} // namespace

Q_DECLARE_METATYPE(Refusal)

class TestArchiveRestore : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void archiveSongOfEmptyParts();
    void archiveSongByteForByte();
    void progressCadence_data();
    void progressCadence();
    void abortKeepsSongCount();
    void twelveSongLimit();
    void oddCardRecordsAreArchivedWithNotes_data();
    void oddCardRecordsAreArchivedWithNotes();
    void readOnlyRefusals_data();
    void readOnlyRefusals();
    void restoreSong_data();
    void restoreSong();
    void restoreSongOutOfRange();
    void restoreAbort();
    void hostileLooperRecordsRestoreEmpty_data();
    void hostileLooperRecordsRestoreEmpty();
    void hostileArchiveStopsRestore_data();
    void hostileArchiveStopsRestore();
    void archiveUserPrefsCopiesInvalidBlock();
    void wholeCardRoundTrip();
    void restoreOneSongArchiveAsCard();

private:
    QString path(const QString &name) const { return m_dir.filePath(name); }
    QTemporaryDir m_dir{scratchFolderTemplate()};
};

void TestArchiveRestore::initTestCase()
{
    QVERIFY(m_dir.isValid());
}

void TestArchiveRestore::archiveSongOfEmptyParts()
{
    CardImage card(m_dir.path());
    card.create();
    const SongRecords song = emptySong(3, 1);
    card.writeSong(3, song);
    const QString file = path(QStringLiteral("empty.mlsd"));

    SongProgress progress;
    const ProgressCallback callback = progress.callback();
    {
        CardPtr handle = openCard(card, 0);
        QVERIFY2(handle, mlsdGetErrorString());
        ArchivePtr archive = openArchive(file, 1, 1);
        QVERIFY2(archive, mlsdGetErrorString());
        QCOMPARE(mlsdArchiveSong(handle.get(), archive.get(), 3, &callback), 0);
        QCOMPARE(mlsdArchiveSongCount(archive.get()), 1);
        QCOMPARE(mlsdCloseArchive(archive.release()), 0);
    }
    QVERIFY(progress.done.isEmpty());

    const QByteArray bytes = readRange(file, 0, 200000);
    QCOMPARE(bytes.size(), 138032);
    QCOMPARE(bytes.mid(680, 512), QByteArray(512, '\0'));
    QCOMPARE(word(bytes, 532), 1u);
    QCOMPARE(word64(bytes, 536), quint64(1192));
    QCOMPARE(word64(bytes, 544), quint64(138032));
    QCOMPARE(word(bytes, 632), 136840u);
    const QByteArray header = bytes.mid(1192, 136);
    // clang-format off
    const QVector<QPair<int, quint32>> fields{
        {0, 136}, {8, 1024}, {12, 0}, {16, 1160}, {24, 16384}, {28, 81920}, {32, 83080}, {40, 10752},
        {44, 53760}, {48, 136840}, {56, 136840}, {80, 136840}, {108, 0}, {124, 0}, {128, 136840}, {132, 0}};
    // clang-format on
    for (const auto &field : fields)
        QCOMPARE(word(header, field.first), field.second);

    ArchiveBuilder expected;
    expected.addSong(song);
    QCOMPARE(bytes, expected.bytes());
}

void TestArchiveRestore::archiveSongByteForByte()
{
    CardImage card(m_dir.path());
    card.create();
    const SongRecords first = sampleSong(9, 1);
    const SongRecords second = sampleSong(2, 1);
    card.writeSong(9, first);
    card.writeSong(2, second);
    const FileSnapshot before(card.path());
    const QString file = path(QStringLiteral("two.mlsd"));

    SongProgress progress;
    const ProgressCallback callback = progress.callback();
    {
        CardPtr handle = openCard(card, 1);
        QVERIFY2(handle, mlsdGetErrorString());
        ArchivePtr archive = openArchive(file, 1, 1);
        QVERIFY2(archive, mlsdGetErrorString());
        QCOMPARE(mlsdArchiveSong(handle.get(), archive.get(), 9, &callback), 0);
        QCOMPARE(mlsdArchiveSong(handle.get(), archive.get(), 2, nullptr), 0);
        QCOMPARE(mlsdCloseArchive(archive.release()), 0);
    }
    // Parts 0 and 1 are in use with 25 and 40 chunks; part 3's recording is not copied.
    QCOMPARE(progress.done, steps(65 * 1024));
    QCOMPARE(progress.totals, QVector<int>(progress.done.size(), 65 * 1024));

    ArchiveBuilder expected;
    expected.addSong(first);
    expected.addSong(second);
    const QByteArray bytes = readRange(file, 0, 1 << 21);
    QCOMPARE(bytes.size(), expected.bytes().size());
    QCOMPARE(bytes, expected.bytes());
    // Archiving reads the card only, even when it is open for writing.
    QVERIFY(before.changes().isEmpty());
}

void TestArchiveRestore::progressCadence_data()
{
    QTest::addColumn<int>("chunks");
    QTest::addColumn<QVector<int>>("reports");

    // clang-format off
    QTest::newRow("25 chunks") << 25 << QVector<int>{10240, 20480};
    QTest::newRow("10 chunks") << 10 << QVector<int>{10240};
    QTest::newRow("9 chunks")  << 9  << QVector<int>{};
    QTest::newRow("20 chunks") << 20 << QVector<int>{10240, 20480};
    QTest::newRow("none")      << 0  << QVector<int>{};
    // Audio moves in blocks of 1,024 chunks; the reports go on across them.
    QTest::newRow("1030 chunks") << 1030 << steps(1030 * 1024);
    // clang-format on
}

void TestArchiveRestore::progressCadence()
{
    QFETCH(int, chunks);
    QFETCH(QVector<int>, reports);

    CardImage card(m_dir.path());
    card.create();
    const SongRecords song = onePartSong(0, chunks);
    card.writeSong(0, song);
    const QString file = path(QStringLiteral("cadence.mlsd"));
    QFile::remove(file);

    CardPtr handle = openCard(card, 1);
    QVERIFY2(handle, mlsdGetErrorString());
    SongProgress archived;
    const ProgressCallback archiveCallback = archived.callback();
    {
        ArchivePtr archive = openArchive(file, 1, 1);
        QVERIFY(archive);
        QCOMPARE(mlsdArchiveSong(handle.get(), archive.get(), 0, &archiveCallback), 0);
    }
    QCOMPARE(archived.done, reports);
    QCOMPARE(archived.totals, QVector<int>(reports.size(), chunks * 1024));
    QCOMPARE(word(readRange(file, 1192 + 108, 4), 0), quint32(chunks * 1024));

    SongProgress restored;
    const ProgressCallback restoreCallback = restored.callback();
    ArchivePtr archive = openArchive(file, 0);
    QVERIFY(archive);
    QCOMPARE(mlsdRestoreSong(handle.get(), archive.get(), 6, 0, &restoreCallback), 0);
    QCOMPARE(restored.done, reports);
    QCOMPARE(restored.totals, QVector<int>(reports.size(), chunks * 1024));
    handle.reset();
    QCOMPARE(songDifference(card, 6, song), QString());
}

void TestArchiveRestore::abortKeepsSongCount()
{
    CardImage card(m_dir.path());
    card.create();
    const SongRecords song = sampleSong(4, 1);
    card.writeSong(4, song);
    const QString file = path(QStringLiteral("abort.mlsd"));

    SongProgress stop;
    stop.answer = 1;
    const ProgressCallback stopCallback = stop.callback();
    {
        CardPtr handle = openCard(card, 0);
        QVERIFY(handle);
        ArchivePtr archive = openArchive(file, 1, 1);
        QVERIFY(archive);
        QCOMPARE(mlsdArchiveSong(handle.get(), archive.get(), 4, nullptr), 0);
        QCOMPARE(mlsdArchiveSong(handle.get(), archive.get(), 4, &stopCallback), 1);
        QCOMPARE(errorText(), QByteArray("mlsdArchiveSong: Aborted by user."));
        QCOMPARE(stop.done, QVector<int>{10240});
        QCOMPARE(mlsdArchiveSongCount(archive.get()), 1);
        // The next song takes the abandoned song's place.
        QCOMPARE(mlsdArchiveSong(handle.get(), archive.get(), 4, nullptr), 0);
        QCOMPARE(mlsdArchiveSongCount(archive.get()), 2);
    }
    ArchiveBuilder expected;
    expected.addSong(song);
    expected.addSong(song);
    QCOMPARE(readRange(file, 0, 1 << 21), expected.bytes());
}

void TestArchiveRestore::twelveSongLimit()
{
    CardImage card(m_dir.path());
    card.create();
    const SongRecords song = emptySong(0, 1);
    card.writeSong(0, song);
    const QString file = path(QStringLiteral("twelve.mlad"));
    {
        CardPtr handle = openCard(card, 0);
        QVERIFY(handle);
        ArchivePtr archive = openArchive(file, 1, 1);
        QVERIFY(archive);
        for (int i = 0; i < 12; ++i)
            QCOMPARE(mlsdArchiveSong(handle.get(), archive.get(), 0, nullptr), 0);
        QCOMPARE(mlsdArchiveSong(handle.get(), archive.get(), 0, nullptr), 1);
        QCOMPARE(errorText(),
                 QByteArray("mlsdArchiveSong: Maximum songs in archive - cannot add another song"));
        QCOMPARE(mlsdArchiveSongCount(archive.get()), 12);
    }
    ArchiveBuilder expected;
    for (int i = 0; i < 12; ++i)
        expected.addSong(song);
    QCOMPARE(fileSize(file), qint64(1192 + 12 * 136840));
    QCOMPARE(readRange(file, 0, 1 << 21), expected.bytes());

    ArchivePtr archive = openArchive(file, 0);
    QVERIFY(archive);
    QCOMPARE(mlsdArchiveSongCount(archive.get()), 12);
}

void TestArchiveRestore::oddCardRecordsAreArchivedWithNotes_data()
{
    QTest::addColumn<int>("part"); // -1: the song record, -2: the user prefs
    QTest::addColumn<int>("field");
    QTest::addColumn<int>("value");
    QTest::addColumn<QByteArray>("note");
    QTest::addColumn<QByteArray>("refusal"); // what restoring the archive then says
    QTest::addColumn<QString>("problem");    // what verify says of the archive

    // clang-format off
    QTest::newRow("song count 100")  << -1 << 924   << 100
        << QByteArray("song 2: its song data would be refused by a restore (sequence count 100).")
        << QByteArray("mlsdRestoreSong: Song data from archive is invalid")
        << "song 2 UI song data (byte 138,168): sequence count is 100, outside 0 to 99";
    QTest::newRow("part 5 genre 12") << 4  << 15564 << 12
        << QByteArray("song 2, part 5: its part data would be refused by a restore (genre 12).")
        << QByteArray("mlsdRestoreSong: Part data from archive card is invalid")
        << "song 2, part 5 UI part data (byte 204,728): genre is 12, outside 0 to 11";
    QTest::newRow("prefs word 4 12") << -2 << 16    << 12
        << QByteArray("the user prefs would be refused by a restore (word 4 is 12).")
        << QByteArray("mlsdGetUserPrefsFromArchive: userPrefs read from archive are invalid.")
        << "user prefs (byte 680): are not valid user prefs";
    // clang-format on
}

// An archive stores what the card holds; what a restore would refuse is noted, never a reason
// to fail a backup.
void TestArchiveRestore::oddCardRecordsAreArchivedWithNotes()
{
    QFETCH(int, part);
    QFETCH(int, field);
    QFETCH(int, value);
    QFETCH(QByteArray, note);
    QFETCH(QByteArray, refusal);
    QFETCH(QString, problem);

    CardImage card(m_dir.path());
    card.create();
    QByteArray prefs = userPrefs();
    SongRecords odd = emptySong(1, 1);
    putWord(part == -2 ? prefs : part == -1 ? odd.song : odd.parts[part], field, quint32(value));
    card.writeUserPrefs(prefs);
    card.writeSong(1, odd);
    const QString file = path(QStringLiteral("odd.mlad"));
    QFile::remove(file);
    {
        CardPtr handle = openCard(card, 0);
        QVERIFY(handle);
        ArchivePtr archive = openArchive(file, 1, 1);
        QVERIFY(archive);
        QCOMPARE(mlsdArchiveSDCard(handle.get(), archive.get(), nullptr), 0);
        QCOMPARE(archive->notes.size(), size_t(1));
        QCOMPARE(archive->notes[0].song, part == -2 ? -1 : 1);
        QCOMPARE(archive->notes[0].part, part < 0 ? -1 : part);
        QCOMPARE(QByteArray::fromStdString(archive->notes[0].text), note);
        QCOMPARE(mlsdCloseArchive(archive.release()), 0);
    }
    ArchiveBuilder expected;
    const QByteArray header = card.read(CardImage::headerRange());
    expected.setNameField(header.mid(8, 128));
    expected.setDescriptionField(header.mid(136, 384));
    expected.setUserPrefs(prefs);
    SongRecords blank;
    blank.song = QByteArray(1024, '\0');
    blank.parts.fill(QByteArray(16384, '\0'));
    blank.loopers.fill(QByteArray(10752, '\0'));
    for (int s = 0; s < 12; ++s)
        expected.addSong(s == 1 ? odd : blank);
    QVERIFY(readRange(file, 0, 1 << 22) == expected.bytes());

    VerifyReport report;
    QCOMPARE(mlsdVerifyFile(QFile::encodeName(file).constData(), &report), 0);
    QStringList problems;
    for (const VerifyProblem &found : report.problems)
        problems << QString::fromStdString(found.where + ": " + found.what);
    QCOMPARE(problems, QStringList{problem});

    CardImage target(m_dir.path(), QStringLiteral("TARGET.DAT"));
    target.create();
    const FileSnapshot before(target.path());
    {
        CardPtr handle = openCard(target, 1);
        ArchivePtr archive = openArchive(file, 0);
        QVERIFY(handle && archive);
        QCOMPARE(mlsdRestoreSDCard(handle.get(), archive.get(), nullptr), 1);
        QCOMPARE(errorText(), refusal);
    }
    QVERIFY(before.changes().isEmpty());
}

void TestArchiveRestore::readOnlyRefusals_data()
{
    QTest::addColumn<Refusal>("refusal");
    QTest::addColumn<QByteArray>("text"); // empty: only the failure is checked

    // clang-format off
    QTest::newRow("archive song")       << Refusal::ArchiveSongReadOnlyArchive      << QByteArray("mlsdArchiveSong: Archive is not writable.");
    QTest::newRow("archive user prefs") << Refusal::ArchiveUserPrefsReadOnlyArchive << QByteArray("mlsdArchiveUserPrefs: Archive is not writable.");
    QTest::newRow("clear archive")      << Refusal::ClearReadOnlyArchive            << QByteArray("mlsdClearArchive: Archive is not writable.");
    QTest::newRow("archive card")       << Refusal::ArchiveCardReadOnlyArchive      << QByteArray("mlsdClearArchive: Archive is not writable.");
    QTest::newRow("restore song")       << Refusal::RestoreSongReadOnlyCard         << QByteArray("mlsdRestoreSong: SD Card is not writable.");
    QTest::newRow("restore user prefs") << Refusal::RestoreUserPrefsReadOnlyCard    << QByteArray("mlsdRestoreUserPrefs: SD Card is not writable.");
    QTest::newRow("restore card")       << Refusal::RestoreCardReadOnlyCard         << QByteArray();
    // clang-format on
}

void TestArchiveRestore::readOnlyRefusals()
{
    QFETCH(Refusal, refusal);
    QFETCH(QByteArray, text);

    CardImage card(m_dir.path());
    card.create();
    card.writeSong(0, sampleSong(0, 1));
    const QString file = path(QStringLiteral("readonly.mlad"));
    ArchiveBuilder builder;
    builder.setUserPrefs(userPrefs({0, 1, 2, 5}));
    builder.setNameField(QByteArray(128, 'N'));
    builder.addSong(sampleSong(0, 2));
    builder.write(file);
    const FileSnapshot cardBefore(card.path());
    const QByteArray archiveBefore = builder.bytes();

    const bool writableCard = refusal < Refusal::RestoreSongReadOnlyCard;
    {
        CardPtr handle = openCard(card, writableCard ? 1 : 0);
        QVERIFY(handle);
        ArchivePtr archive = openArchive(file, writableCard ? 0 : 1);
        QVERIFY(archive);
        int result = 0;
        switch (refusal) {
        case Refusal::ArchiveSongReadOnlyArchive:
            result = mlsdArchiveSong(handle.get(), archive.get(), 0, nullptr);
            break;
        case Refusal::ArchiveUserPrefsReadOnlyArchive:
            result = mlsdArchiveUserPrefs(handle.get(), archive.get());
            break;
        case Refusal::ClearReadOnlyArchive:
            result = mlsdClearArchive(archive.get());
            break;
        case Refusal::ArchiveCardReadOnlyArchive:
            result = mlsdArchiveSDCard(handle.get(), archive.get(), nullptr);
            break;
        case Refusal::RestoreSongReadOnlyCard:
            result = mlsdRestoreSong(handle.get(), archive.get(), 0, 0, nullptr);
            break;
        case Refusal::RestoreUserPrefsReadOnlyCard:
            result = mlsdRestoreUserPrefs(handle.get(), archive.get());
            break;
        case Refusal::RestoreCardReadOnlyCard:
            result = mlsdRestoreSDCard(handle.get(), archive.get(), nullptr);
            break;
        }
        QVERIFY(result != 0);
        if (!text.isEmpty())
            QCOMPARE(errorText(), text);
        QCOMPARE(mlsdArchiveSongCount(archive.get()), 1);
        QVERIFY(mlsdArchiveHasUserPrefs(archive.get()));
    }
    QCOMPARE(readRange(file, 0, 1 << 21), archiveBefore);
    const QVector<ByteRange> changed = cardBefore.changes();
    QVERIFY2(changed.isEmpty(), qPrintable(describe(changed)));
}

void TestArchiveRestore::restoreSong_data()
{
    QTest::addColumn<int>("archiveSong");
    QTest::addColumn<int>("cardSong");
    QTest::addColumn<quint32>("audioSize"); // stored for parts 0 and 1 of the song; 0: their own

    // clang-format off
    //                                        archiveSong  cardSong  audioSize
    QTest::newRow("first into 0")          << 0         << 0      << 0u;
    QTest::newRow("second into 11")        << 1         << 11     << 0u;
    QTest::newRow("second into 5")         << 1         << 5      << 0u;
    // The totals count what is copied, not what a header claims (they once summed to overflow).
    QTest::newRow("audio sizes 2^31 - 1")  << 1         << 5      << 0x7fffffffu;
    // clang-format on
}

void TestArchiveRestore::restoreSong()
{
    QFETCH(int, archiveSong);
    QFETCH(int, cardSong);
    QFETCH(quint32, audioSize);

    // The card already holds other songs everywhere, so a stray write shows.
    CardImage card(m_dir.path());
    card.create();
    for (int s = 0; s < 12; ++s)
        card.writeSong(s, sampleSong(s, 7));
    const QString file = path(QStringLiteral("restore.mlsd"));
    const SongRecords songs[2] = {sampleSong(0, 8), sampleSong(1, 8)};
    ArchiveBuilder builder;
    builder.addSong(songs[0]);
    builder.addSong(songs[1]);
    if (audioSize != 0) {
        putWord(builder.songHeader(archiveSong), 108, audioSize);
        putWord(builder.songHeader(archiveSong), 112, audioSize);
    }
    builder.write(file);
    const FileSnapshot before(card.path());

    SongProgress progress;
    const ProgressCallback callback = progress.callback();
    {
        CardPtr handle = openCard(card, 1);
        QVERIFY(handle);
        ArchivePtr archive = openArchive(file, 0);
        QVERIFY(archive);
        QCOMPARE(mlsdRestoreSong(handle.get(), archive.get(), cardSong, archiveSong, &callback), 0);
    }
    const SongRecords &restored = songs[archiveSong];
    QCOMPARE(songDifference(card, cardSong, restored), QString());
    QCOMPARE(progress.done, steps(65 * 1024));
    QCOMPARE(progress.totals, QVector<int>(progress.done.size(), 65 * 1024));
    const QVector<ByteRange> changed = before.changesOutside(CardImage::restoreRanges(cardSong, restored));
    QVERIFY2(changed.isEmpty(), qPrintable(describe(changed)));
    // The parts whose audio is not copied keep the card's own audio.
    const SongRecords old = sampleSong(cardSong, 7);
    QCOMPARE(card.read(CardImage::audioRange(cardSong, 3, 12)), audio(old.audioSeeds[3], 0, 12 * 1024));
}

void TestArchiveRestore::restoreSongOutOfRange()
{
    CardImage card(m_dir.path());
    card.create();
    const QString file = path(QStringLiteral("range.mlsd"));
    ArchiveBuilder builder;
    builder.addSong(sampleSong(0, 1));
    builder.write(file);
    const FileSnapshot before(card.path());
    CardPtr handle = openCard(card, 1);
    QVERIFY(handle);
    ArchivePtr archive = openArchive(file, 0);
    QVERIFY(archive);
    for (int song : {1, -1, 12}) {
        QCOMPARE(mlsdRestoreSong(handle.get(), archive.get(), 0, song, nullptr), 1);
        QCOMPARE(errorText(),
                 QByteArray("mlsdRestoreSong: song num out of archive song range - cannot restore song"));
    }
    handle.reset();
    QVERIFY(before.changes().isEmpty());
}

void TestArchiveRestore::restoreAbort()
{
    CardImage card(m_dir.path());
    card.create();
    const QString file = path(QStringLiteral("abort.mlsd"));
    ArchiveBuilder builder;
    const SongRecords song = sampleSong(0, 1);
    builder.addSong(song);
    builder.write(file);
    const FileSnapshot before(card.path());

    SongProgress stop;
    stop.answer = 1;
    const ProgressCallback callback = stop.callback();
    {
        CardPtr handle = openCard(card, 1);
        QVERIFY(handle);
        ArchivePtr archive = openArchive(file, 0);
        QVERIFY(archive);
        QCOMPARE(mlsdRestoreSong(handle.get(), archive.get(), 2, 0, &callback), 1);
        QCOMPARE(errorText(), QByteArray("mlsdRestoreSong: Aborted by user."));
    }
    QCOMPARE(stop.done, QVector<int>{10240});
    // Records and the audio of part 0, moved in one block before its first report; nothing of
    // part 1.
    QVector<ByteRange> allowed = CardImage::clearRanges(2);
    allowed << CardImage::audioRange(2, 0, 25);
    const QVector<ByteRange> changed = before.changesOutside(allowed);
    QVERIFY2(changed.isEmpty(), qPrintable(describe(changed)));
    QCOMPARE(card.read(CardImage::audioRange(2, 0, 10)), audio(song.audioSeeds[0], 0, 10 * 1024));
}

void TestArchiveRestore::hostileLooperRecordsRestoreEmpty_data()
{
    QTest::addColumn<int>("length");
    QTest::addColumn<bool>("rightChecksum");

    // clang-format off
    QTest::newRow("length 41329")          << 41329    << true;
    QTest::newRow("length 2^31 - 1")       << INT_MAX  << true;
    QTest::newRow("length -5")             << -5       << true;
    QTest::newRow("length 0")              << 0        << true;
    QTest::newRow("length 25, bad checksum") << 25     << false;
    // clang-format on
}

void TestArchiveRestore::hostileLooperRecordsRestoreEmpty()
{
    QFETCH(int, length);
    QFETCH(bool, rightChecksum);

    CardImage card(m_dir.path());
    card.create();
    const SongRecords old = sampleSong(1, 5);
    card.writeSong(1, old);
    SongRecords hostile = sampleSong(1, 6);
    LooperFields fields = recording(length, 99);
    if (!rightChecksum) {
        fields.checksumOverride = true;
        fields.checksum = 0x12345678;
    }
    hostile.loopers[0] = looperRecord(fields);
    const QString file = path(QStringLiteral("hostile-looper.mlsd"));
    ArchiveBuilder builder;
    builder.addSong(hostile);
    // The song header offers audio of the recording's claimed size where it is not absurd.
    if (length > 0 && length <= 41329)
        putWord(builder.songHeader(0), 108, quint32(length) * 1024);
    builder.write(file);
    const FileSnapshot before(card.path());

    SongProgress progress;
    const ProgressCallback callback = progress.callback();
    {
        CardPtr handle = openCard(card, 1);
        QVERIFY(handle);
        ArchivePtr archive = openArchive(file, 0);
        QVERIFY(archive);
        QCOMPARE(mlsdRestoreSong(handle.get(), archive.get(), 1, 0, &callback), 0);
        const PartSlot &slot = handle->memoryManager->partTable[1][0];
        QCOMPARE(slot.state, 1);
        QCOMPARE(slot.length, 0);
        QCOMPARE(slot.auxiliary, -1);
    }
    // The first part is empty now and its audio area as it was; the looper part alone is copied.
    QCOMPARE(songDifference(card, 1, hostile), QString());
    QCOMPARE(progress.totals.value(0), 40 * 1024);
    const QVector<ByteRange> changed = before.changesOutside(CardImage::restoreRanges(1, hostile));
    QVERIFY2(changed.isEmpty(), qPrintable(describe(changed)));
    QCOMPARE(card.read(CardImage::audioRange(1, 0, 25)), audio(old.audioSeeds[0], 0, 25 * 1024));
}

void TestArchiveRestore::hostileArchiveStopsRestore_data()
{
    QTest::addColumn<int>("field"); // byte offset in song header 0, or -1
    QTest::addColumn<quint32>("value");
    QTest::addColumn<int>("cut"); // bytes cut from the end of the file
    QTest::addColumn<bool>("wholeCard");
    QTest::addColumn<QByteArray>("text");

    // Song 0 holds audio for part 0 (25 chunks at block offset 136,840) and part 1 (40 chunks
    // at 162,440, the last bytes of the file).
    const QByteArray looperError("mlsdRestoreSong: Error reading looper part data from archive");
    const QByteArray audioError("mlsdRestoreSong: Error reading looper audio from archive");
    // clang-format off
    //                                               field  value            cut  wholeCard  text
    QTest::newRow("song data size 1023")          << 8   << 1023u         << 0 << false << QByteArray("mlsdRestoreSong: Error reading UI song data from Archive");
    QTest::newRow("part data size 16385")         << 24  << 16385u        << 0 << false << QByteArray("mlsdRestoreSong: Error reading UI part data from Archive");
    QTest::newRow("looper size 10751")            << 40  << 10751u        << 0 << false << looperError;
    QTest::newRow("looper size 10753")            << 40  << 10753u        << 0 << false << looperError;
    QTest::newRow("looper size 0")                << 40  << 0u            << 0 << false << looperError;
    QTest::newRow("looper offset past end")       << 32  << 0x40000000u   << 0 << false << looperError;
    QTest::newRow("part 0 audio 1 byte short")    << 108 << 25u * 1024 - 1 << 0 << false << looperError;
    QTest::newRow("part 0 audio size 0")          << 108 << 0u            << 0 << false << looperError;
    QTest::newRow("part 1 audio 1 KiB short")     << 112 << 39u * 1024    << 0 << false << looperError;
    QTest::newRow("part 0 audio offset past end") << 48  << 0x40000000u   << 0 << false << audioError;
    QTest::newRow("part 1 audio a byte too far")  << 56  << 162441u       << 0 << false << audioError;
    QTest::newRow("file cut 1 byte short")        << -1  << 0u            << 1 << false << audioError;
    QTest::newRow("file cut, whole card")         << -1  << 0u            << 1 << true  << audioError;
    // clang-format on
}

// Everything a restore will read, the audio included, is checked before the first write.
void TestArchiveRestore::hostileArchiveStopsRestore()
{
    QFETCH(int, field);
    QFETCH(quint32, value);
    QFETCH(int, cut);
    QFETCH(bool, wholeCard);
    QFETCH(QByteArray, text);

    CardImage card(m_dir.path());
    card.create();
    card.writeSong(4, sampleSong(4, 1));
    const QString file = path(QStringLiteral("hostile.mlsd"));
    ArchiveBuilder builder;
    builder.addSong(sampleSong(0, 2));
    if (field >= 0)
        putWord(builder.songHeader(0), field, value);
    const QByteArray bytes = builder.bytes();
    writeRange(file, 0, bytes.left(bytes.size() - cut));
    QVERIFY(QFile::resize(file, bytes.size() - cut));
    const FileSnapshot before(card.path());
    {
        CardPtr handle = openCard(card, 1);
        QVERIFY(handle);
        ArchivePtr archive = openArchive(file, 0);
        QVERIFY2(archive, mlsdGetErrorString());
        QCOMPARE(wholeCard ? mlsdRestoreSDCard(handle.get(), archive.get(), nullptr)
                           : mlsdRestoreSong(handle.get(), archive.get(), 4, 0, nullptr),
                 1);
        QCOMPARE(errorText(), text);
    }
    const QVector<ByteRange> changed = before.changes();
    QVERIFY2(changed.isEmpty(), qPrintable(describe(changed)));
}

void TestArchiveRestore::archiveUserPrefsCopiesInvalidBlock()
{
    CardImage card(m_dir.path());
    card.create();
    const QByteArray invalid = userPrefs({0, 0, 12, 61});
    card.writeUserPrefs(invalid);
    const QString file = path(QStringLiteral("prefs.mlad"));
    {
        CardPtr handle = openCard(card, 0);
        QVERIFY(handle);
        ArchivePtr archive = openArchive(file, 1, 1);
        QVERIFY(archive);
        QVERIFY(mlsdArchiveUserPrefs(handle.get(), archive.get()) != 0);
        QVERIFY(mlsdArchiveHasUserPrefs(archive.get()));
    }
    QCOMPARE(readRange(file, 680, 600), invalid);
    QCOMPARE(word(readRange(file, 520, 4), 0), 1u);
}

void TestArchiveRestore::wholeCardRoundTrip()
{
    CardImage source(m_dir.path(), QStringLiteral("SOURCE.DAT"));
    source.create("Source card", "The card that is archived", 21);
    const QByteArray prefs = userPrefs({2, 0, 10, 22});
    source.writeUserPrefs(prefs);
    QVector<SongRecords> songs;
    for (int s = 0; s < 12; ++s) {
        songs.append(sampleSong(s, 1));
        source.writeSong(s, songs.last());
    }
    const QString file = path(QStringLiteral("card.mlad"));

    CardProgress archived;
    const CardProgressCallback archiveCallback = archived.callback();
    {
        CardPtr handle = openCard(source, 0);
        QVERIFY(handle);
        ArchivePtr archive = openArchive(file, 1, 1);
        QVERIFY(archive);
        QCOMPARE(mlsdArchiveSDCard(handle.get(), archive.get(), &archiveCallback), 0);
        QCOMPARE(mlsdArchiveSongCount(archive.get()), 12);
        QVERIFY(mlsdArchiveHasUserPrefs(archive.get()));
        QCOMPARE(mlsdCloseArchive(archive.release()), 0);
    }
    QCOMPARE(archived.songCounts, QVector<int>(archived.songs.size(), 12));
    QVector<int> expectedSongs;
    for (int s = 0; s < 12; ++s)
        expectedSongs << QVector<int>(steps(65 * 1024).size(), s);
    QCOMPARE(archived.songs, expectedSongs);

    ArchiveBuilder expected;
    const QByteArray sourceHeader = source.read(CardImage::headerRange());
    expected.setNameField(sourceHeader.mid(8, 128));
    expected.setDescriptionField(sourceHeader.mid(136, 384));
    expected.setUserPrefs(prefs);
    for (const SongRecords &song : songs)
        expected.addSong(song);
    const QByteArray expectedBytes = expected.bytes();
    QCOMPARE(fileSize(file), qint64(expectedBytes.size()));
    QVERIFY(readRange(file, 0, expectedBytes.size()) == expectedBytes);

    // Restore onto a second card that holds other songs, another header and other prefs.
    CardImage target(m_dir.path(), QStringLiteral("TARGET.DAT"));
    target.create("Target card", "The card that is overwritten", 23);
    target.writeUserPrefs(userPrefs({1, 1, 1, 24}));
    for (int s = 0; s < 12; ++s)
        target.writeSong(s, sampleSong(s, 2));
    const QByteArray targetHeader = target.read(CardImage::headerRange());
    const FileSnapshot before(target.path());

    CardProgress restored;
    const CardProgressCallback restoreCallback = restored.callback();
    {
        CardPtr handle = openCard(target, 1);
        QVERIFY(handle);
        ArchivePtr archive = openArchive(file, 0);
        QVERIFY(archive);
        QCOMPARE(mlsdRestoreSDCard(handle.get(), archive.get(), &restoreCallback), 0);
    }
    QCOMPARE(restored.songs, expectedSongs);
    QCOMPARE(restored.songCounts, QVector<int>(restored.songs.size(), 12));

    QByteArray header = targetHeader;
    header.replace(8, 512, sourceHeader.mid(8, 512));
    QCOMPARE(target.read(CardImage::headerRange()), header);
    QCOMPARE(target.read(CardImage::userPrefsRange()), prefs);
    QVector<ByteRange> allowed{CardImage::headerRange(), CardImage::userPrefsRange()};
    for (int s = 0; s < 12; ++s) {
        QCOMPARE(songDifference(target, s, songs[s]), QString());
        allowed << CardImage::restoreRanges(s, songs[s]);
    }
    const QVector<ByteRange> changed = before.changesOutside(allowed);
    QVERIFY2(changed.isEmpty(), qPrintable(describe(changed)));
}

void TestArchiveRestore::restoreOneSongArchiveAsCard()
{
    CardImage card(m_dir.path());
    card.create("Old name", "Old description", 31);
    for (int s = 0; s < 3; ++s)
        card.writeSong(s, sampleSong(s, 3));
    const QByteArray oldHeader = card.read(CardImage::headerRange());

    const QString file = path(QStringLiteral("one.mlsd"));
    ArchiveBuilder builder;
    QByteArray name(128, '\0');
    putText(name, 0, 128, "Song file");
    builder.setNameField(name);
    const SongRecords song = sampleSong(0, 4);
    builder.addSong(song);
    // The block at 680 is read as user prefs whatever the present flag says.
    const QByteArray prefs = userPrefs({1, 0, 3, 32});
    builder.patch(680, prefs);
    builder.write(file);
    const FileSnapshot before(card.path());

    CardProgress progress;
    const CardProgressCallback callback = progress.callback();
    {
        CardPtr handle = openCard(card, 1);
        QVERIFY(handle);
        ArchivePtr archive = openArchive(file, 0);
        QVERIFY(archive);
        QVERIFY(!mlsdArchiveHasUserPrefs(archive.get()));
        QCOMPARE(mlsdRestoreSDCard(handle.get(), archive.get(), &callback), 0);
    }
    QCOMPARE(progress.songCounts, QVector<int>(steps(65 * 1024).size(), 12));
    QCOMPARE(progress.songs, QVector<int>(steps(65 * 1024).size(), 0));

    QByteArray header = oldHeader;
    header.replace(8, 128, name);
    header.replace(136, 384, QByteArray(384, '\0'));
    QCOMPARE(card.read(CardImage::headerRange()), header);
    QCOMPARE(card.read(CardImage::userPrefsRange()), prefs);
    QCOMPARE(songDifference(card, 0, song), QString());
    QCOMPARE(songDifference(card, 1, sampleSong(1, 3)), QString());
    QVector<ByteRange> allowed{CardImage::headerRange(), CardImage::userPrefsRange()};
    allowed << CardImage::restoreRanges(0, song);
    const QVector<ByteRange> changed = before.changesOutside(allowed);
    QVERIFY2(changed.isEmpty(), qPrintable(describe(changed)));
}

QTEST_GUILESS_MAIN(TestArchiveRestore)
#include "tst_archiverestore.moc"
