// Archiving: a whole card compared byte for byte with the archive built from the layout, with its
// progress cadence, and odd card records archived with notes. A restore that leaves out what the
// card holds already leaves it as one that writes every byte. Restores, of sound archives and of
// damaged ones, are the sweeps'.
#include "carddata/digest.h"
#include "carddata/verify.h"
#include "handles.h"
#include "support/archivebuilder.h"
#include "support/filesnapshot.h"

#include <QTemporaryDir>
#include <QtTest>

using namespace ZovaZode::TestSupport;


class TestArchiveRestore : public QObject
{
    Q_OBJECT

private slots:
    void oddRecordsAreArchivedWithNotes_data();
    void oddRecordsAreArchivedWithNotes();
    void wholeCardArchived();
    void skippedRangesNeverSkipADifference_data();
    void skippedRangesNeverSkipADifference();

private:
    QString path(const QString &name) const { return m_dir.filePath(name); }
    QTemporaryDir m_dir{scratchFolderTemplate()};
};

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
    QVector<QVector<int>> reports; // (song, song count, bytes done, total)
    const CardProgressCallback callback{[](int32_t song, int32_t count, int32_t done, int32_t total, void *to) {
                                            *static_cast<QVector<QVector<int>> *>(to) << QVector<int>{song, count, done, total};
                                            return 0;
                                        },
                                        &reports};
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
    // A report at every full 10 KiB of the song's audio (65 chunks), none at the end.
    QVector<QVector<int>> cadence;
    for (int s = 0; s < 12; ++s) {
        for (int done = 10240; done <= 65 * 1024; done += 10240)
            cadence << QVector<int>{s, 12, done, 65 * 1024};
    }
    QCOMPARE(reports, cadence);
}

void TestArchiveRestore::skippedRangesNeverSkipADifference_data()
{
    QTest::addColumn<qint64>("from");    // the bytes of song 1, part 1's audio that differ on the card
    QTest::addColumn<qint64>("size");    // -1: an archive of another card
    QTest::addColumn<qint64>("written"); // -1: every byte
    // Song 1, part 1 holds 200 chunks: pieces of 64 KiB at 0, 64 and 128 KiB, and 8 KiB at 192 KiB.
    const qint64 record = 1160 + 3 * 16384 + 400 - 136840; // a byte of its part 4 record
    // clang-format off
    //                                          from        size        written
    QTest::newRow("nothing")               << 0LL      << 0LL      << 0LL;
    QTest::newRow("first byte of a piece") << 65536LL  << 1LL      << 65536LL;
    QTest::newRow("last byte of a piece")  << 131071LL << 1LL      << 65536LL;
    QTest::newRow("the last, short piece") << 204799LL << 1LL      << 8192LL;
    QTest::newRow("one record")            << record   << 1LL      << 16384LL;
    QTest::newRow("one part")              << 0LL      << 204800LL << 204800LL;
    QTest::newRow("everything")            << 0LL      << -1LL     << -1LL;
    // clang-format on
}

// Whether it knows what the card holds from the digests of a copy read just before, or finds out
// by reading ahead, a restore leaves the card exactly as one that writes every byte, and writes
// only the pieces that differ.
void TestArchiveRestore::skippedRangesNeverSkipADifference()
{
    QFETCH(qint64, from);
    QFETCH(qint64, size);
    QFETCH(qint64, written);
    const auto makeCard = [this](const QString &folder, quint32 variant) {
        QDir().mkpath(path(folder));
        CardImage card(path(folder));
        card.create("Card", "Restored over", variant);
        for (int s = 0; s < 12; ++s) {
            SongRecords song = sampleSong(s, variant);
            song.loopers[0] = looperRecord(recording(s == 0 ? 200 : 25, song.audioSeeds[0]));
            song.audioChunks[0] = s == 0 ? 200 : 25;
            card.writeSong(s, song);
        }
        card.writeUserPrefs(userPrefs({int(variant), 0, 3, 4}));
        return card;
    };
    const auto archiveCard = [](const QString &card, const QString &file,
                                const std::shared_ptr<carddata::CardDigest> &digest) {
        CardPtr handle = openCard(card, 0);
        ArchivePtr archive = openArchive(file, 1, 1);
        return (!digest || mlsdRecordCardReads(handle.get(), digest) == 0) &&
               mlsdArchiveSDCard(handle.get(), archive.get(), nullptr) == 0;
    };
    const QString archive = path("restored.mlad");
    QVERIFY(archiveCard(makeCard(size < 0 ? "other" : "card", size < 0 ? 2 : 1).path(), archive, nullptr));
    const qint64 at = kFirstSongOffset + kSongBlockFixedSize + from;
    QByteArray changed = readRange(archive, at, qMax(size, 0LL));
    for (char &byte : changed)
        byte ^= 0x5a;
    writeRange(archive, at, changed);

    std::unique_ptr<FileSnapshot> everyByte;
    for (int mode = 0; mode < 3; ++mode) { // every byte, by the copy's digests, by reading ahead
        const CardImage card = makeCard("card", 1);
        auto digest = std::make_shared<carddata::CardDigest>();
        QVERIFY(mode != 1 || archiveCard(card.path(), path("copy.mlad"), digest));
        CardPtr handle = openCard(card.path(), 1);
        ArchivePtr source = openArchive(archive, 0);
        auto tally = std::make_shared<carddata::WriteTally>();
        mlsdSkipUnchangedWrites(handle.get(), mode == 1 ? digest : nullptr, mode == 2, tally);
        QCOMPARE(mlsdRestoreSDCard(handle.get(), source.get(), nullptr), 0);
        handle.reset();
        if (mode == 0) {
            everyByte = std::make_unique<FileSnapshot>(card.path());
            continue;
        }
        QCOMPARE(describe(everyByte->changes()), QString());
        QCOMPARE(written < 0 ? tally->unchanged : tally->written, qMax(written, 0LL));
    }
}

MORV_TEST_MAIN(TestArchiveRestore)
#include "tst_archiverestore.moc"
