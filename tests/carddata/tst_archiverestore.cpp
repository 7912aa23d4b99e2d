// Archiving: a whole card compared byte for byte with the archive built from the layout, with its
// progress cadence, and odd card records archived with notes. Restores, of sound archives and of
// damaged ones, are the sweeps'.
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

MORV_TEST_MAIN(TestArchiveRestore)
#include "tst_archiverestore.moc"
