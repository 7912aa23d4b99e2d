// Truncation and corruption sweeps over archive files (cut at every header byte and every 512
// bytes after, each header byte set to 0x00, 0xFF, +1 and -1): every damaged file is opened and
// restored as a whole card into a sparse card in memory. Each case ends
// in a clear error under the name of the operation that found it, or in the card holding exactly
// what a reader that trusts nothing but the layout finds. A restore never writes outside its
// songs, and a refused one (only a damaged archive can refuse: the card never fails) writes nothing.
#include "carddata/carddata.h"
#include "support/archivebuilder.h"
#include "support/memorystream.h"

#include <QtTest>

namespace TS = ZovaZode::TestSupport;

namespace {

// The archive as the layout describes it; empty where the file does not hold a record whole or
// a song header gives it a size other than its own.
struct ArchiveView
{
    QByteArray bytes;

    quint32 word(qint64 at) const { return at + 4 <= bytes.size() ? TS::word(bytes, int(at)) : 0; }
    quint64 block(int song) const { return word(536 + 8 * song) | quint64(word(540 + 8 * song)) << 32; }
    QByteArray at(quint64 position, qint64 size) const
    {
        return position + quint64(size) <= quint64(bytes.size()) ? bytes.mid(int(position), int(size))
                                                                 : QByteArray();
    }
    QByteArray field(int song, int field, qint64 size, int index = 0) const
    {
        const QByteArray header = at(block(song), TS::kSongHeaderSize);
        if (header.isEmpty() || TS::word(header, field + 8) != size)
            return {};
        return at(block(song) + TS::word64(header, field) + quint64(index * size), size);
    }
    QByteArray prefs() const { return word(528) == 512 ? at(word(524), 512) : QByteArray(); }
    // The audio a restore copies, and whether the song header stores that much for it.
    qint32 chunks(int song, int part) const
    {
        const QByteArray record = field(song, 32, TS::kLooperRecordSize, part);
        const QByteArray partData = field(song, 16, TS::kPartDataSize, part);
        return !partData.isEmpty() && TS::word(partData, 516) != 0 && TS::looperAccepted(record)
                   ? TS::signedWord(record, 4)
                   : 0;
    }
    QByteArray audio(int song, int part) const
    {
        const QByteArray header = at(block(song), TS::kSongHeaderSize);
        const qint64 size = qint64(chunks(song, part)) * TS::kChunkSize;
        if (header.isEmpty() || TS::word(header, 108 + 4 * part) < size)
            return {};
        return at(block(song) + TS::word64(header, 48 + 8 * part), size);
    }
};

QByteArray cardBytes(const TS::MemoryFile &card, qint64 position, qint64 size)
{
    const std::vector<uint8_t> bytes = card.bytes(position, size);
    return QByteArray(reinterpret_cast<const char *>(bytes.data()), int(bytes.size()));
}

// What a correct restore left on the card, or what is wrong with it.
QString compareRestored(const ArchiveView &view, const TS::MemoryFile &card)
{
    if (cardBytes(card, 8, 512) != view.at(8, 512) || cardBytes(card, 51200, 512) != view.prefs())
        return QStringLiteral("the card's name, description or prefs are not the archive's");
    for (int s = 0; s < qint32(view.word(532)); ++s) {
        if (cardBytes(card, TS::CardImage::songDataPosition(s), 1024) != view.field(s, 0, 1024))
            return QStringLiteral("song %1's record is not the archive's").arg(s);
        for (int p = 0; p < 5; ++p) {
            // A looper record the card may not trust becomes an empty part.
            QByteArray looper = view.field(s, 32, TS::kLooperRecordSize, p);
            if (!looper.isEmpty() && !TS::looperAccepted(looper)) {
                TS::putWord(looper, 0, 1);
                TS::putWord(looper, 4, 0);
                TS::putWord(looper, 8, quint32(-1));
            }
            const qint64 size = qint64(view.chunks(s, p)) * TS::kChunkSize;
            if (cardBytes(card, TS::CardImage::partDataPosition(s, p), 16384) !=
                    view.field(s, 16, 16384, p) ||
                cardBytes(card, TS::CardImage::looperPosition(s, p), TS::kLooperRecordSize) != looper ||
                view.audio(s, p).size() != size ||
                cardBytes(card, TS::CardImage::audioPosition(s, p), size) != view.audio(s, p))
                return QStringLiteral("song %1 part %2 is not the archive's").arg(s).arg(p);
        }
    }
    return {};
}

// The error text, unless it names `operation` and says something.
QString unlessFrom(const QStringList &operations)
{
    const QString error = QString::fromUtf8(mlsdGetErrorString());
    for (const QString &operation : operations) {
        if (error.startsWith(operation + QLatin1String(": ")) && error.size() > operation.size() + 2)
            return {};
    }
    return QStringLiteral("failed with \"%1\"").arg(error);
}

class Sweeper
{
public:
    Sweeper() { carddata::setStreamOpener(m_files.opener()); }
    ~Sweeper() { carddata::setStreamOpener({}); }

    // The first broken promise of a damaged archive, or an empty text.
    QString run(const QByteArray &bytes)
    {
        const ArchiveView view{bytes};
        auto archive = TS::MemoryFile::fromBytes(reinterpret_cast<const uint8_t *>(bytes.constData()),
                                                 size_t(bytes.size()));
        archive->restrictWrites({}, false);
        m_files.add("archive.mlad", archive);
        QString problem = restore(view);
        if (problem.isEmpty() && m_files.liveStreams() != 0)
            problem = QStringLiteral("%1 streams left open").arg(m_files.liveStreams());
        if (problem.isEmpty() && !archive->violations().empty())
            problem = QStringLiteral("the archive was written while being read");
        return problem;
    }

    int restored = 0;
    int refused = 0;

private:
    QString restore(const ArchiveView &view)
    {
        auto card = m_files.add("ZOVAZODE.DAT", TS::newMemoryCard());
        std::vector<TS::WriteRange> allowed{TS::cardHeaderRange(), TS::cardUserPrefsRange()};
        for (int s = 0; s < qint32(view.word(532)) && s < 12; ++s) {
            const std::vector<TS::WriteRange> records = TS::cardSongRecordRanges(s);
            allowed.insert(allowed.end(), records.begin(), records.end());
            for (int p = 0; p < 5; ++p)
                allowed.push_back(TS::cardAudioRange(s, p, view.chunks(s, p)));
        }
        card->restrictWrites(allowed, false);
        int result = 1;
        {
            std::unique_ptr<SdCardHandle, SdCardHandleCloser> handle(mlsdOpenSDCard("ZOVAZODE.DAT", 1));
            std::unique_ptr<ArchiveHandle, ArchiveHandleCloser> archive(
                mlsdOpenArchiveW(L"archive.mlad", 0, 0));
            if (!handle)
                return QStringLiteral("the memory card did not open");
            // An archive that does not open says why in one text. (Reading and examining every
            // record of what opens is the archive-read fuzz target's, whose corpus replays in
            // every test run.)
            if (!archive)
                return QByteArray(mlsdGetErrorString()) == "localOpenArchive: Error reading archive header."
                           ? QString()
                           : unlessFrom({});
            result = mlsdRestoreSDCard(handle.get(), archive.get(), nullptr);
        }
        ++(result == 0 ? restored : refused);
        if (!card->violations().empty())
            return QStringLiteral("the restore wrote %1 bytes at %2, outside the songs being restored")
                .arg(card->violations().front().size)
                .arg(card->violations().front().start);
        if (result == 0)
            return compareRestored(view, *card);
        if (card->writeCount() != 0)
            return QStringLiteral("a refused restore (\"%1\") wrote to the card").arg(mlsdGetErrorString());
        return unlessFrom({"mlsdRestoreSDCard", "mlsdRestoreSong", "mlsdGetUserPrefsFromArchive"});
    }

    TS::MemoryFileSystem m_files;
};

QByteArray archive(bool card)
{
    TS::ArchiveBuilder builder;
    builder.addSong(TS::shortSong(0, 2));
    if (card) {
        builder.setNameField(QByteArray("Swept card").leftJustified(128, '\0'));
        builder.setUserPrefs(TS::userPrefs());
        builder.addSong(TS::emptySong(1, 2));
        // A recording the card may not trust (longer than a part holds) restores as an empty part.
        TS::SongRecords untrusted = TS::shortSong(2, 2);
        untrusted.loopers[0] = TS::looperRecord(TS::recording(INT32_MAX, 5));
        builder.addSong(untrusted);
    }
    return builder.bytes();
}

// The archive cut after each byte of its headers and every 512 bytes after them, or with each
// header byte set to 0x00, 0xFF, +1 and -1.
QVector<QPair<QString, QByteArray>> damaged(const QByteArray &archive, bool cuts)
{
    QVector<int> positions;
    for (int i = 0; i < TS::kArchiveHeaderSize; ++i)
        positions << i;
    for (int s = 0; s < TS::signedWord(archive, 532); ++s) {
        for (int i = 0; i < TS::kSongHeaderSize; ++i)
            positions << int(TS::word64(archive, 536 + 8 * s)) + i;
    }
    QVector<QPair<QString, QByteArray>> cases;
    if (cuts) {
        for (int at = TS::kArchiveHeaderSize; at < archive.size(); at += 512)
            positions << at;
        positions << archive.size() - 1 << archive.size(); // the one cut that must restore
        std::sort(positions.begin(), positions.end());
        positions.erase(std::unique(positions.begin(), positions.end()), positions.end());
        for (int length : positions)
            cases.append({QStringLiteral("cut to %1 bytes").arg(length), archive.left(length)});
        return cases;
    }
    for (int at : positions) {
        const quint8 original = quint8(archive.at(at));
        for (quint8 value : {quint8(0), quint8(0xFF), quint8(original + 1), quint8(original - 1)}) {
            QByteArray bytes = archive;
            bytes[at] = char(value);
            if (value != original)
                cases.append(
                    {QStringLiteral("byte %1 from %2 to %3").arg(at).arg(original).arg(value), bytes});
        }
    }
    return cases;
}

} // namespace

class TestSweeps : public QObject
{
    Q_OBJECT

private slots:
    void sweep_data();
    void sweep();
};

void TestSweeps::sweep_data()
{
    QTest::addColumn<bool>("card"); // a card archive of three songs with prefs, or a song file
    QTest::addColumn<bool>("cuts"); // or byte values

    for (const bool card : {false, true}) {
        for (const bool cuts : {true, false})
            QTest::addRow("%s, %s", card ? "card archive" : "song file", cuts ? "cut" : "byte values") << card << cuts;
    }
}

void TestSweeps::sweep()
{
    QFETCH(bool, card);
    QFETCH(bool, cuts);

    Sweeper sweeper;
    // The oracle must accept what the library does with a sound file, and refuse a card the
    // archive never reached, or the sweep proves nothing.
    QCOMPARE(sweeper.run(archive(card)), QString());
    QVERIFY(!compareRestored(ArchiveView{archive(card)}, *TS::newMemoryCard()).isEmpty());

    const auto cases = damaged(archive(card), cuts);
    QStringList failures;
    for (const auto &[name, bytes] : cases) {
        const QString problem = sweeper.run(bytes);
        if (!problem.isEmpty())
            failures << name + QLatin1String(": ") + problem;
    }
    qInfo("%d cases: %d restored, %d refused", int(cases.size()), sweeper.restored, sweeper.refused);
    // Both outcomes must occur, or the sweep tested only one of its two promises.
    QVERIFY(cases.size() > 500 && sweeper.restored > 1 && sweeper.refused > 0);
    QVERIFY2(failures.isEmpty(), qPrintable(QStringLiteral("%1 of %2 cases failed; the first ones:\n%3")
                                                .arg(failures.size())
                                                .arg(cases.size())
                                                .arg(failures.mid(0, 10).join(QLatin1Char('\n')))));
}

MORV_TEST_MAIN(TestSweeps)
#include "tst_sweeps.moc"
