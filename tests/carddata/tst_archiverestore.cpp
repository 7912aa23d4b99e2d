// Archive and restore: a whole card compared byte for byte with the archive built from the
// layout, a song file restored as a card, the progress cadence, odd card records archived with
// notes, and untrusted looper records restored as empty parts.
#include "carddata/verify.h"
#include "handles.h"
#include "support/archivebuilder.h"
#include "support/filesnapshot.h"

#include <QTemporaryDir>
#include <QtTest>

#include <climits>

using namespace ZovaZode::TestSupport;

namespace {

// Every report of a song or a card operation, as (song, song count, bytes done, total).
struct Progress
{
    QVector<QVector<int>> reports;

    static int report(void *self, QVector<int> values)
    {
        static_cast<Progress *>(self)->reports << values;
        return 0;
    }
    ProgressCallback song()
    {
        return {[](int32_t done, int32_t total, void *self) { return report(self, {-1, -1, done, total}); }, this};
    }
    CardProgressCallback card()
    {
        return {[](int32_t song, int32_t count, int32_t done, int32_t total, void *self) {
                    return report(self, {song, count, done, total});
                },
                this};
    }
    QVector<int> column(int i) const
    {
        QVector<int> values;
        for (const QVector<int> &report : reports)
            values << report[i];
        return values;
    }
};

// The reports for `total` bytes of audio: one at every full 10 KiB.
QVector<int> steps(int total)
{
    QVector<int> result;
    for (int done = 10240; done <= total; done += 10240)
        result << done;
    return result;
}

// Where card song `song` differs from `expected` (a looper record the card may not trust must be
// an empty part there), or an empty text.
QString songDifference(const CardImage &card, int song, const SongRecords &expected)
{
    if (card.read(CardImage::songDataRange(song)) != expected.song)
        return QStringLiteral("song data of song %1").arg(song);
    for (int p = 0; p < 5; ++p) {
        const QByteArray looper = card.read(CardImage::looperRange(song, p));
        const QVector<int> words{signedWord(looper, 0), signedWord(looper, 4), signedWord(looper, 8)};
        const qint32 chunks = expected.copiedChunks(p);
        if (card.read(CardImage::partDataRange(song, p)) != expected.parts[p] ||
            (looperAccepted(expected.loopers[p]) ? looper != expected.loopers[p]
                                                 : words != QVector<int>{1, 0, -1}) ||
            card.read(CardImage::audioRange(song, p, chunks)) !=
                audio(expected.audioSeeds[p], 0, chunks * 1024))
            return QStringLiteral("part %2 of song %1").arg(song).arg(p);
    }
    return {};
}

// A song with one part in use holding a recording of `chunks` chunks (none when 0).
SongRecords onePartSong(int song, qint32 chunks)
{
    SongRecords records = emptySong(song, 3);
    records.parts[0] = partData(PartFields());
    records.loopers[0] = looperRecord(chunks > 0 ? recording(chunks, 321) : emptyLooper(321));
    records.audioChunks[0] = chunks;
    return records;
}

} // namespace

class TestArchiveRestore : public QObject
{
    Q_OBJECT

private slots:
    void progressCadence_data();
    void progressCadence();
    void oddRecordsAreArchivedWithNotes_data();
    void oddRecordsAreArchivedWithNotes();
    void untrustedLooperRecordsRestoreEmpty_data();
    void untrustedLooperRecordsRestoreEmpty();
    void wholeCardArchived();
    void songFileRestoredAsCard();

private:
    QString path(const QString &name) const { return m_dir.filePath(name); }
    QTemporaryDir m_dir{scratchFolderTemplate()};
};

void TestArchiveRestore::progressCadence_data()
{
    QTest::addColumn<int>("chunks");
    QTest::addColumn<QVector<int>>("reports");

    // clang-format off
    QTest::newRow("10 chunks")   << 10   << QVector<int>{10240};
    QTest::newRow("9 chunks")    << 9    << QVector<int>{};
    // Audio moves in blocks of 1,024 chunks; the reports go on across them.
    QTest::newRow("1030 chunks") << 1030 << steps(1030 * 1024);
    // clang-format on
}

// A report at every full 10 KiB of audio, not at the end, archiving and restoring alike.
void TestArchiveRestore::progressCadence()
{
    QFETCH(int, chunks);
    QFETCH(QVector<int>, reports);

    CardImage card(m_dir.path());
    card.create();
    const SongRecords song = onePartSong(0, chunks);
    card.writeSong(0, song);
    const QString file = path(QStringLiteral("cadence.mlsd"));
    CardPtr handle = openCard(card.path(), 1);
    Progress archived, restored;
    const ProgressCallback archiveCallback = archived.song(), restoreCallback = restored.song();
    ArchivePtr archive = openArchive(file, 1, 1);
    QCOMPARE(mlsdArchiveSong(handle.get(), archive.get(), 0, &archiveCallback), 0);
    QCOMPARE(mlsdCloseArchive(archive.release()), 0);
    // The totals count what is copied, not what a header claims (they once summed to overflow).
    writeRange(file, 1192 + 112, QByteArray("\xff\xff\xff\x7f", 4));
    archive = openArchive(file, 0);
    QCOMPARE(mlsdRestoreSong(handle.get(), archive.get(), 6, 0, &restoreCallback), 0);
    handle.reset();
    for (const Progress *progress : {&archived, &restored}) {
        QCOMPARE(progress->column(2), reports);
        QCOMPARE(progress->column(3), QVector<int>(reports.size(), chunks * 1024));
    }
    QCOMPARE(songDifference(card, 6, song), QString());
}

void TestArchiveRestore::oddRecordsAreArchivedWithNotes_data()
{
    QTest::addColumn<int>("part"); // -1: the song record, -2: the user prefs
    QTest::addColumn<int>("field");
    QTest::addColumn<int>("value");
    QTest::addColumn<QString>("note");
    QTest::addColumn<QString>("problem"); // what verify says of the archive

    // clang-format off
    QTest::newRow("song count 100")  << -1 << 924   << 100
        << "song 2: its song data would be refused by a restore (sequence count 100)."
        << "song 2 UI song data (byte 138,168): sequence count is 100, outside 0 to 99";
    QTest::newRow("part 5 genre 12") << 4  << 15564 << 12
        << "song 2, part 5: its part data would be refused by a restore (genre 12)."
        << "song 2, part 5 UI part data (byte 204,728): genre is 12, outside 0 to 11";
    QTest::newRow("prefs word 4 12") << -2 << 16    << 12
        << "the user prefs would be refused by a restore (word 4 is 12)."
        << "user prefs (byte 680): are not valid user prefs";
    // clang-format on
}

// An archive stores what the card holds: what a restore would refuse (its refusals have rows of
// their own with the errors) is noted, never a reason to fail a backup, and verify names it.
void TestArchiveRestore::oddRecordsAreArchivedWithNotes()
{
    QFETCH(int, part);
    QFETCH(int, field);
    QFETCH(int, value);
    QFETCH(QString, note);
    QFETCH(QString, problem);

    CardImage card(m_dir.path());
    card.create();
    QByteArray prefs = userPrefs();
    SongRecords odd = emptySong(1, 1);
    putWord(part == -2 ? prefs : part == -1 ? odd.song : odd.parts[part], field, quint32(value));
    card.writeUserPrefs(prefs);
    card.writeSong(1, odd);
    const QString file = path(QStringLiteral("odd.mlad"));
    {
        CardPtr handle = openCard(card.path(), 0);
        ArchivePtr archive = openArchive(file, 1, 1);
        QCOMPARE(mlsdArchiveSDCard(handle.get(), archive.get(), nullptr), 0);
        QCOMPARE(archive->notes.size(), size_t(1));
        QCOMPARE(QVector<int>({archive->notes[0].song, archive->notes[0].part}),
                 QVector<int>({part == -2 ? -1 : 1, qMax(part, -1)}));
        QCOMPARE(QString::fromStdString(archive->notes[0].text), note);
    }
    VerifyReport report;
    QCOMPARE(mlsdVerifyFile(QFile::encodeName(file).constData(), &report), 0);
    QCOMPARE(report.problems.size(), size_t(1));
    QCOMPARE(QString::fromStdString(report.problems[0].where + ": " + report.problems[0].what), problem);
}

void TestArchiveRestore::untrustedLooperRecordsRestoreEmpty_data()
{
    QTest::addColumn<int>("length");
    QTest::addColumn<bool>("rightChecksum");

    // clang-format off
    QTest::newRow("length 41329")            << 41329   << true;
    QTest::newRow("length 2^31 - 1")         << INT_MAX << true;
    QTest::newRow("length 25, bad checksum") << 25      << false;
    // clang-format on
}

// A looper record the card may not trust is restored as an empty part: its audio area keeps what
// it held, and its claimed audio is neither counted nor copied.
void TestArchiveRestore::untrustedLooperRecordsRestoreEmpty()
{
    QFETCH(int, length);
    QFETCH(bool, rightChecksum);

    CardImage card(m_dir.path());
    card.create();
    const SongRecords old = sampleSong(1, 5);
    card.writeSong(1, old);
    SongRecords hostile = sampleSong(1, 6);
    LooperFields fields = recording(length, 99);
    fields.checksumOverride = !rightChecksum;
    fields.checksum = 0x12345678;
    hostile.loopers[0] = looperRecord(fields);
    const QString file = path(QStringLiteral("untrusted.mlsd"));
    ArchiveBuilder builder;
    builder.addSong(hostile);
    // The song header offers audio of the claimed size where that is not absurd.
    if (length > 0 && length <= 41329)
        putWord(builder.songHeader(0), 108, quint32(length) * 1024);
    builder.write(file);
    const FileSnapshot before(card.path());
    Progress progress;
    const ProgressCallback callback = progress.song();
    {
        CardPtr handle = openCard(card.path(), 1);
        ArchivePtr archive = openArchive(file, 0);
        QCOMPARE(mlsdRestoreSong(handle.get(), archive.get(), 1, 0, &callback), 0);
    }
    QCOMPARE(songDifference(card, 1, hostile), QString());
    QCOMPARE(progress.column(3).value(0), 40 * 1024);
    QVERIFY(before.changesOutside(CardImage::restoreRanges(1, hostile)).isEmpty());
    QCOMPARE(card.read(CardImage::audioRange(1, 0, 25)), audio(old.audioSeeds[0], 0, 25 * 1024));
}

// A full card archived (the card only read, although open for writing) is the archive built
// from the layout, reported song by song.
void TestArchiveRestore::wholeCardArchived()
{
    CardImage source(m_dir.path(), QStringLiteral("SOURCE.DAT"));
    source.create("Source card", "The card that is archived", 21);
    source.writeUserPrefs(userPrefs({2, 0, 10, 22}));
    ArchiveBuilder expected;
    expected.header().replace(8, 512, source.read(8, 512));
    expected.setUserPrefs(userPrefs({2, 0, 10, 22}));
    for (int s = 0; s < 12; ++s) {
        source.writeSong(s, sampleSong(s, 1));
        expected.addSong(sampleSong(s, 1));
    }
    const QString file = path(QStringLiteral("card.mlad"));
    Progress archived;
    const CardProgressCallback callback = archived.card();
    const FileSnapshot unread(source.path());
    {
        CardPtr handle = openCard(source.path(), 1);
        ArchivePtr archive = openArchive(file, 1, 1);
        QCOMPARE(mlsdArchiveSDCard(handle.get(), archive.get(), &callback), 0);
        QVERIFY(mlsdArchiveSongCount(archive.get()) == 12 && mlsdArchiveHasUserPrefs(archive.get()));
    }
    const QByteArray bytes = wholeFile(file);
    QVERIFY(bytes == expected.bytes());
    QVERIFY(unread.changes().isEmpty());
    // The first song block's fixed fields, as numbers rather than as built.
    const QVector<quint32> fields{136, 0, 1024, 0, 1160, 0, 16384, 81920, 83080, 0, 10752, 53760, 136840};
    for (int i = 0; i < fields.size(); ++i)
        QCOMPARE(word(bytes, 1192 + 4 * i), fields[i]);
    QCOMPARE(word(bytes, 1192 + 108), 25600u);
    QVector<int> songs;
    for (int s = 0; s < 12; ++s)
        songs << QVector<int>(steps(65 * 1024).size(), s);
    QCOMPARE(archived.column(0), songs);
    QCOMPARE(archived.column(1), QVector<int>(songs.size(), 12));
}

// A song file restored as a card: its header's name and description, the 512 bytes at 680 as user
// prefs whatever the present flag says, its song into card song 1, the other songs kept, nothing
// else changed, and the progress counting its song of twelve. (A card archive's restore is swept.)
void TestArchiveRestore::songFileRestoredAsCard()
{
    const QByteArray prefs = userPrefs({1, 0, 3, 32});
    const QString file = path(QStringLiteral("restored.mlsd"));
    ArchiveBuilder builder;
    builder.header().replace(8, 512, cardHeader("Archived card", "").mid(8, 512));
    const SongRecords song = sampleSong(0, 4);
    builder.addSong(song);
    builder.patch(680, prefs);
    builder.write(file);

    CardImage target(m_dir.path(), QStringLiteral("TARGET.DAT"));
    target.create("Target card", "The card that is overwritten", 23);
    target.writeUserPrefs(userPrefs({1, 1, 1, 24}));
    for (int s = 0; s < 12; ++s)
        target.writeSong(s, sampleSong(s, 2));
    QByteArray header = target.read(CardImage::headerRange());
    const FileSnapshot before(target.path());
    Progress restored;
    const CardProgressCallback callback = restored.card();
    {
        CardPtr handle = openCard(target.path(), 1);
        ArchivePtr archive = openArchive(file, 0);
        QVERIFY(!mlsdArchiveHasUserPrefs(archive.get()));
        QCOMPARE(mlsdRestoreSDCard(handle.get(), archive.get(), &callback), 0);
    }
    const int reports = steps(65 * 1024).size();
    QCOMPARE(restored.column(0) + restored.column(1), QVector<int>(reports, 0) + QVector<int>(reports, 12));
    header.replace(8, 512, builder.header().mid(8, 512));
    QCOMPARE(target.read(CardImage::headerRange()), header);
    QCOMPARE(target.read(CardImage::userPrefsRange()), prefs);
    for (int s = 0; s < 12; ++s)
        QCOMPARE(songDifference(target, s, s == 0 ? song : sampleSong(s, 2)), QString());
    const QVector<ByteRange> allowed = CardImage::restoreRanges(0, song)
                                       << CardImage::headerRange() << CardImage::userPrefsRange();
    QVERIFY2(before.changesOutside(allowed).isEmpty(), qPrintable(describe(before.changesOutside(allowed))));
}

QTEST_GUILESS_MAIN(TestArchiveRestore)
#include "tst_archiverestore.moc"
