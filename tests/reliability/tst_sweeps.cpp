// Truncation and corruption sweeps over archive files: an archive cut at every byte of its
// header and song headers and every 512 bytes after them, and each header byte set to 0x00,
// 0xFF, +1 and -1. Every damaged file is examined (mlsdVerifyFile), opened and read record by
// record, and restored as a whole card into a sparse card held in memory.
//
// Each case must end in a clear error under the name of the operation that found it, or in a
// correct result: the card then holds exactly the archive's records and audio, as an
// independent reading of the damaged file finds them. A restore never writes outside the
// records and audio of the songs being restored, and one that is refused leaves the card
// untouched: the card in memory never fails, so only a damaged archive can stop a restore, and
// a restore checks all of the archive, its audio included, before it writes.
#include "carddata/carddata.h"
#include "carddata/verify.h"
#include "support/archivebuilder.h"
#include "support/memorystream.h"

#include <QtTest>

#include <functional>

namespace TS = ZovaZode::TestSupport;

namespace {

constexpr int kChunk = 1024;

// The archive as a reader that trusts nothing but the layout sees it; positions are -1 where
// the file does not hold the thing.
struct ArchiveView
{
    QByteArray bytes;

    // Fields of a header the file may be too short to hold read as zeros, as a reader of a
    // zero-filled buffer would see them.
    quint32 word(int offset) const { return offset + 4 <= bytes.size() ? TS::word(bytes, offset) : 0; }
    qint64 songs() const { return qint32(word(532)); }
    quint64 block(int song) const
    {
        return quint64(word(536 + 8 * song)) | quint64(word(540 + 8 * song)) << 32;
    }
    QByteArray at(quint64 position, qint64 size) const
    {
        if (position > quint64(bytes.size()) || qint64(position) + size > bytes.size())
            return QByteArray();
        return bytes.mid(int(position), int(size));
    }
    QByteArray songHeader(int song) const { return at(block(song), TS::kSongHeaderSize); }
    QByteArray record(int song, int headerField, qint64 size, int index) const
    {
        const QByteArray header = songHeader(song);
        if (header.isEmpty())
            return QByteArray();
        return at(block(song) + TS::word64(header, headerField) + quint64(index * size), size);
    }
    QByteArray songData(int song) const { return record(song, 0, TS::kSongDataSize, 0); }
    QByteArray partData(int song, int part) const { return record(song, 16, TS::kPartDataSize, part); }
    QByteArray looper(int song, int part) const { return record(song, 32, TS::kLooperRecordSize, part); }
    qint32 copiedChunks(int song, int part) const
    {
        const QByteArray looperRecord = looper(song, part);
        const QByteArray partRecord = partData(song, part);
        if (partRecord.size() != TS::kPartDataSize || looperRecord.size() != TS::kLooperRecordSize)
            return 0;
        if (TS::word(partRecord, 516) == 0 || !TS::looperAccepted(looperRecord))
            return 0;
        return TS::signedWord(looperRecord, 4);
    }
    QByteArray audio(int song, int part) const
    {
        const QByteArray header = songHeader(song);
        if (header.isEmpty())
            return QByteArray();
        return at(block(song) + TS::word64(header, 48 + 8 * part), qint64(copiedChunks(song, part)) * kChunk);
    }
};

QByteArray cardBytes(const TS::MemoryFile &card, qint64 position, qint64 size)
{
    const std::vector<uint8_t> bytes = card.bytes(position, size);
    return QByteArray(reinterpret_cast<const char *>(bytes.data()), int(bytes.size()));
}

// The looper record a restore leaves on the card: the archive's, except that a record the card
// may not trust becomes an empty part.
QByteArray restoredLooper(QByteArray record)
{
    if (record.size() == TS::kLooperRecordSize && !TS::looperAccepted(record)) {
        TS::putWord(record, 0, 1);
        TS::putWord(record, 4, 0);
        TS::putWord(record, 8, quint32(-1));
    }
    return record;
}

QString text(const char *errorText)
{
    return QString::fromUtf8(errorText);
}

class Sweeper
{
public:
    // A description of the first broken promise, or empty.
    QString run(const QByteArray &bytes)
    {
        m_files
            .add("archive.mlad",
                 TS::MemoryFile::fromBytes(reinterpret_cast<const uint8_t *>(bytes.constData()),
                                           size_t(bytes.size())))
            ->restrictWrites({}, false);
        QString problem = examine();
        if (problem.isEmpty())
            problem = readRecords();
        if (problem.isEmpty())
            problem = restore(ArchiveView{bytes});
        if (problem.isEmpty() && m_files.liveStreams() != 0)
            problem = QStringLiteral("%1 streams left open").arg(m_files.liveStreams());
        if (problem.isEmpty() && !m_files.file("archive.mlad")->violations().empty())
            problem = QStringLiteral("the archive was written while being read");
        m_files.remove("archive.mlad");
        return problem;
    }

    carddata::StreamOpener opener() { return m_files.opener(); }
    int restored() const { return m_restored; }
    int refused() const { return m_refused; }

private:
    static QString expectError(const char *operation)
    {
        const QString error = text(mlsdGetErrorString());
        if (!error.startsWith(QLatin1String(operation) + QLatin1String(": ")) ||
            error.size() <= int(qstrlen(operation)) + 2)
            return QStringLiteral("%1 failed with \"%2\"").arg(QLatin1String(operation), error);
        return QString();
    }

    QString examine()
    {
        VerifyReport report;
        if (mlsdVerifyFile("archive.mlad", &report) != 0)
            return expectError("mlsdVerifyFile");
        if (report.kind == VerifyKind::Unknown || report.kind == VerifyKind::Card)
            return QStringLiteral("an archive was examined as kind %1").arg(int(report.kind));
        for (const VerifyProblem &problem : report.problems) {
            if (problem.where.empty() || problem.what.empty())
                return QStringLiteral("verify listed a problem without a place or a description");
        }
        return QString();
    }

    QString readRecords()
    {
        ArchiveHandle *archive = mlsdOpenArchiveW(L"archive.mlad", 0, 0);
        if (!archive) {
            if (text(mlsdGetErrorString()) !=
                QLatin1String("localOpenArchive: Error reading archive header."))
                return QStringLiteral("open failed with \"%1\"").arg(text(mlsdGetErrorString()));
            return QString();
        }
        std::unique_ptr<ArchiveHandle, ArchiveHandleCloser> closer(archive);
        static uint8_t prefs[512];
        static uint8_t song[1024];
        static uint8_t part[16384];
        if (mlsdGetUserPrefsFromArchive(archive, prefs) != 0) {
            if (const QString problem = expectError("mlsdGetUserPrefsFromArchive"); !problem.isEmpty())
                return problem;
        }
        for (int s = 0; s < mlsdArchiveSongCount(archive); ++s) {
            if (mlsdGetUISongDataFromArchive(archive, s, song) != 0) {
                if (const QString problem = expectError("mlsdGetUISongDataFromArchive"); !problem.isEmpty())
                    return problem;
            }
            for (int p = 0; p < 5; ++p) {
                if (mlsdGetUIPartDataFromArchive(archive, s, p, part) != 0) {
                    if (const QString problem = expectError("mlsdGetUIPartDataFromArchive");
                        !problem.isEmpty())
                        return problem;
                }
            }
        }
        return QString();
    }

    QString restore(const ArchiveView &view)
    {
        auto card = m_files.add("ZOVAZODE.DAT", TS::newMemoryCard());
        const qint64 songs = view.songs();
        std::vector<TS::WriteRange> allowed{TS::cardHeaderRange(), TS::cardUserPrefsRange()};
        for (int s = 0; s < songs && s < 12; ++s) {
            const std::vector<TS::WriteRange> records = TS::cardSongRecordRanges(s);
            allowed.insert(allowed.end(), records.begin(), records.end());
            for (int p = 0; p < 5; ++p)
                allowed.push_back(TS::cardAudioRange(s, p, view.copiedChunks(s, p)));
        }
        card->restrictWrites(allowed, false);

        SdCardHandle *cardHandle = mlsdOpenSDCard("ZOVAZODE.DAT", 1);
        if (!cardHandle)
            return QStringLiteral("the memory card did not open: %1").arg(text(mlsdGetErrorString()));
        std::unique_ptr<SdCardHandle, SdCardHandleCloser> cardCloser(cardHandle);
        ArchiveHandle *archive = mlsdOpenArchiveW(L"archive.mlad", 0, 0);
        if (!archive)
            return QString();
        std::unique_ptr<ArchiveHandle, ArchiveHandleCloser> archiveCloser(archive);

        const int result = mlsdRestoreSDCard(cardHandle, archive, nullptr);
        ++(result == 0 ? m_restored : m_refused);
        const QString error = text(mlsdGetErrorString());
        archiveCloser.reset();
        cardCloser.reset();
        if (!card->violations().empty()) {
            const TS::WriteRange first = card->violations().front();
            return QStringLiteral("the restore wrote %1 bytes at %2, outside the songs being restored")
                .arg(first.size)
                .arg(first.start);
        }
        if (result != 0) {
            static const char *const operations[] = {"mlsdRestoreSDCard", "mlsdRestoreSong",
                                                     "mlsdGetUserPrefsFromArchive"};
            bool named = false;
            for (const char *operation : operations)
                named = named || expectError(operation).isEmpty();
            if (!named)
                return QStringLiteral("the restore failed with \"%1\"").arg(error);
            if (card->writeCount() != 0)
                return QStringLiteral("a refused restore (\"%1\") wrote to the card").arg(error);
            return QString();
        }
        return compareRestored(view, *card);
    }

public:
    static QString compareRestored(const ArchiveView &view, const TS::MemoryFile &card)
    {
        if (cardBytes(card, 8, 512) != view.bytes.mid(8, 512))
            return QStringLiteral("the card's name and description are not the archive's");
        if (cardBytes(card, TS::cardUserPrefsRange().start, 512) != view.at(view.word(524), 512))
            return QStringLiteral("the card's user prefs are not the archive's");
        for (int s = 0; s < view.songs(); ++s) {
            if (cardBytes(card, TS::CardImage::songDataPosition(s), 1024) != view.songData(s))
                return QStringLiteral("song %1's record is not the archive's").arg(s);
            for (int p = 0; p < 5; ++p) {
                if (cardBytes(card, TS::CardImage::partDataPosition(s, p), 16384) != view.partData(s, p))
                    return QStringLiteral("song %1 part %2's record is not the archive's").arg(s).arg(p);
                if (cardBytes(card, TS::CardImage::looperPosition(s, p), TS::kLooperRecordSize) !=
                    restoredLooper(view.looper(s, p)))
                    return QStringLiteral("song %1 part %2's looper record is wrong").arg(s).arg(p);
                const QByteArray audio = view.audio(s, p);
                if (audio.size() != qint64(view.copiedChunks(s, p)) * kChunk ||
                    cardBytes(card, TS::CardImage::audioPosition(s, p), audio.size()) != audio)
                    return QStringLiteral("song %1 part %2's audio is not the archive's").arg(s).arg(p);
            }
        }
        return QString();
    }

private:
    TS::MemoryFileSystem m_files;
    int m_restored = 0;
    int m_refused = 0;
};

// Short recordings keep each case fast; song 0 part 1's recording of 33 chunks reaches the
// first checksum word.
TS::SongRecords shortSong(int song, quint32 variant)
{
    TS::SongRecords records = TS::sampleSong(song, variant);
    const qint32 chunks[5] = {3, 33, 0, 2, 0};
    for (int p = 0; p < 5; ++p) {
        if (chunks[p] == 0)
            continue;
        records.loopers[p] = TS::looperRecord(TS::recording(chunks[p], records.audioSeeds[p]));
        records.audioChunks[p] = chunks[p];
    }
    return records;
}

QByteArray songFile()
{
    TS::ArchiveBuilder builder;
    builder.addSong(shortSong(0, 1));
    return builder.bytes();
}

QByteArray threeSongArchive()
{
    TS::ArchiveBuilder builder;
    builder.setNameField(QByteArray("Swept card").leftJustified(128, '\0'));
    builder.setUserPrefs(TS::userPrefs());
    builder.addSong(shortSong(0, 2));
    builder.addSong(TS::emptySong(1, 2));
    builder.addSong(shortSong(2, 2));
    return builder.bytes();
}

// The header bytes: the archive header and each song header where the header places it.
QVector<int> headerBytes(const QByteArray &archive)
{
    QVector<int> positions;
    for (int i = 0; i < TS::kArchiveHeaderSize; ++i)
        positions << i;
    for (int s = 0; s < TS::signedWord(archive, 532); ++s) {
        const int block = int(TS::word64(archive, 536 + 8 * s));
        for (int i = 0; i < TS::kSongHeaderSize; ++i)
            positions << block + i;
    }
    return positions;
}

using Damage = std::function<QVector<QPair<QString, QByteArray>>(const QByteArray &)>;

QVector<QPair<QString, QByteArray>> cuts(const QByteArray &archive)
{
    QVector<int> lengths = headerBytes(archive);
    for (int at = TS::kArchiveHeaderSize; at < archive.size(); at += 512)
        lengths << at;
    // The last byte, and nothing at all: the one cut that must restore.
    lengths << archive.size() - 1 << archive.size();
    std::sort(lengths.begin(), lengths.end());
    lengths.erase(std::unique(lengths.begin(), lengths.end()), lengths.end());
    QVector<QPair<QString, QByteArray>> cases;
    for (int length : lengths)
        cases.append({QStringLiteral("cut to %1 bytes").arg(length), archive.left(length)});
    return cases;
}

QVector<QPair<QString, QByteArray>> byteValues(const QByteArray &archive)
{
    QVector<QPair<QString, QByteArray>> cases;
    for (int at : headerBytes(archive)) {
        const quint8 original = quint8(archive.at(at));
        const quint8 values[4] = {0x00, 0xFF, quint8(original + 1), quint8(original - 1)};
        for (quint8 value : values) {
            if (value == original)
                continue;
            QByteArray damaged = archive;
            damaged[at] = char(value);
            cases.append({QStringLiteral("byte %1 set from 0x%2 to 0x%3")
                              .arg(at)
                              .arg(original, 2, 16, QLatin1Char('0'))
                              .arg(value, 2, 16, QLatin1Char('0')),
                          damaged});
        }
    }
    return cases;
}

} // namespace

class TestSweeps : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void undamagedArchivesRestore_data();
    void undamagedArchivesRestore();
    void sweep_data();
    void sweep();

private:
    Sweeper m_sweeper;
    int m_cases = 0;
};

void TestSweeps::initTestCase()
{
    carddata::setStreamOpener(m_sweeper.opener());
}

void TestSweeps::cleanupTestCase()
{
    carddata::setStreamOpener({});
    qInfo("sweep cases run: %d", m_cases);
}

void TestSweeps::undamagedArchivesRestore_data()
{
    QTest::addColumn<QByteArray>("archive");
    QTest::newRow("song file") << songFile();
    QTest::newRow("three songs with prefs") << threeSongArchive();
}

// The sweeps' oracle must accept what the library does with a sound file, or every damaged
// case that restores would count as a failure for the wrong reason.
void TestSweeps::undamagedArchivesRestore()
{
    QFETCH(QByteArray, archive);
    QCOMPARE(m_sweeper.run(archive), QString());
    // And must not accept a card the archive never reached.
    QVERIFY(!Sweeper::compareRestored(ArchiveView{archive}, *TS::newMemoryCard()).isEmpty());
}

void TestSweeps::sweep_data()
{
    QTest::addColumn<QByteArray>("archive");
    QTest::addColumn<int>("damage"); // 0 cuts, 1 byte values

    // clang-format off
    //                                            archive               damage
    QTest::newRow("song file, cut")            << songFile()         << 0;
    QTest::newRow("song file, byte values")    << songFile()         << 1;
    QTest::newRow("three songs, cut")          << threeSongArchive() << 0;
    QTest::newRow("three songs, byte values")  << threeSongArchive() << 1;
    // clang-format on
}

void TestSweeps::sweep()
{
    QFETCH(QByteArray, archive);
    QFETCH(int, damage);
    const auto cases = damage == 0 ? cuts(archive) : byteValues(archive);
    QVERIFY(cases.size() > 500);
    QStringList failures;
    const int restoredBefore = m_sweeper.restored();
    const int refusedBefore = m_sweeper.refused();
    for (const auto &[name, bytes] : cases) {
        const QString problem = m_sweeper.run(bytes);
        if (!problem.isEmpty())
            failures << name + QLatin1String(": ") + problem;
    }
    m_cases += cases.size();
    // Both outcomes must occur, or the sweep tested only one of the two promises.
    QVERIFY(m_sweeper.restored() > restoredBefore);
    QVERIFY(m_sweeper.refused() > refusedBefore);
    QVERIFY2(failures.isEmpty(), qPrintable(QStringLiteral("%1 of %2 cases failed; first ones:\n%3")
                                                .arg(failures.size())
                                                .arg(cases.size())
                                                .arg(failures.mid(0, 10).join(QLatin1Char('\n')))));
}

QTEST_GUILESS_MAIN(TestSweeps)
#include "tst_sweeps.moc"
