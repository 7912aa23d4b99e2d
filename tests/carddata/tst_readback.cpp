// Verification by reading back: what a transfer wrote is checked against what the device holds,
// not against what the page cache still remembers. The disk here keeps a page cache of its own
// over the real file, so that a test can make the device differ from the cache: a byte that
// changed on the medium after the write, or a write the device acknowledged and lost. Each must
// be found and named, which only happens when the verification drops the cached pages first.
#include "carddata/readback.h"
#include "support/archivebuilder.h"
#include "support/cardimage.h"

#include <QTemporaryDir>
#include <QtTest>

#include <cstring>
#include <map>
#include <memory>

using namespace ZovaZode::TestSupport;

namespace {

constexpr int64_t kPage = 4096;

// Every page written stays cached (and is what reads of it return) until dropCache() evicts it;
// writes reach the file, except those to the lost range.
class CachedDisk
{
public:
    struct State
    {
        std::map<std::string, std::map<int64_t, QByteArray>> pages; // path -> page -> bytes
        std::string lostPath;
        int64_t lostStart = 0;
        int64_t lostEnd = 0;
    };

    void lose(const QString &path, int64_t position, int64_t size)
    {
        m_state->lostPath = QFile::encodeName(path).toStdString();
        m_state->lostStart = position;
        m_state->lostEnd = position + size;
    }

    carddata::StreamOpener opener() const
    {
        auto state = m_state;
        return
            [state](const std::string &path, carddata::OpenMode mode) -> std::unique_ptr<carddata::Stream> {
                auto file = carddata::openFileStream(path, mode);
                if (!file)
                    return nullptr;
                return std::make_unique<Stream>(std::move(file), state, path);
            };
    }

private:
    class Stream final : public carddata::Stream
    {
    public:
        Stream(std::unique_ptr<carddata::Stream> file, std::shared_ptr<State> state, std::string path)
            : m_file(std::move(file)), m_state(std::move(state)), m_path(std::move(path))
        {}
        bool seek(int64_t position) override
        {
            m_position = position;
            return m_file->seek(position);
        }
        // What the file holds, with the cached pages laid over it.
        size_t read(void *buffer, size_t size) override
        {
            const size_t count = m_file->read(buffer, size);
            const int64_t end = m_position + int64_t(count);
            auto &pages = m_state->pages[m_path];
            for (auto page = pages.lower_bound(m_position / kPage);
                 page != pages.end() && page->first * kPage < end; ++page) {
                const int64_t from = std::max(m_position, page->first * kPage);
                const int64_t to = std::min(end, (page->first + 1) * kPage);
                std::memcpy(static_cast<char *>(buffer) + (from - m_position),
                            page->second.constData() + (from - page->first * kPage), size_t(to - from));
            }
            m_position = end;
            return count;
        }
        size_t write(const void *buffer, size_t size) override
        {
            auto &pages = m_state->pages[m_path];
            const auto *in = static_cast<const char *>(buffer);
            for (int64_t at = m_position; at < m_position + int64_t(size);) {
                const int64_t page = at / kPage;
                QByteArray &bytes = pages[page];
                if (bytes.isEmpty()) {
                    bytes = QByteArray(int(kPage), '\0');
                    if (m_file->seek(page * kPage))
                        m_file->read(bytes.data(), size_t(kPage));
                }
                const int64_t n = std::min(m_position + int64_t(size), (page + 1) * kPage) - at;
                std::memcpy(bytes.data() + (at - page * kPage), in + (at - m_position), size_t(n));
                at += n;
            }
            // The device keeps all but the lost bytes.
            const int64_t end = m_position + int64_t(size);
            int64_t lostStart = end;
            int64_t lostEnd = end;
            if (m_path == m_state->lostPath && m_state->lostStart < end && m_state->lostEnd > m_position) {
                lostStart = std::max(m_position, m_state->lostStart);
                lostEnd = std::min(end, m_state->lostEnd);
            }
            for (const auto &[from, to] : {std::pair(m_position, lostStart), std::pair(lostEnd, end)}) {
                if (from < to &&
                    (!m_file->seek(from) ||
                     m_file->write(in + (from - m_position), size_t(to - from)) != size_t(to - from)))
                    return 0;
            }
            m_position = end;
            m_file->seek(end);
            return size;
        }
        int64_t size() override { return m_file->size(); }
        bool flush() override { return m_file->flush(); }
        bool commit() override { return m_file->commit(); }
        bool dropCache(int64_t position, int64_t size) override
        {
            auto &pages = m_state->pages[m_path];
            pages.erase(pages.lower_bound(position / kPage),
                        pages.lower_bound((position + size + kPage - 1) / kPage));
            return m_file->dropCache(position, size);
        }
        bool close() override { return m_file->close(); }

    private:
        std::unique_ptr<carddata::Stream> m_file;
        std::shared_ptr<State> m_state;
        std::string m_path;
        int64_t m_position = 0;
    };

    std::shared_ptr<State> m_state = std::make_shared<State>();
};

// A sample song whose first part holds 100 chunks, so that its audio spans two 64 KiB pieces.
SongRecords longSong(int song)
{
    SongRecords records = sampleSong(song, 1);
    records.loopers[0] = looperRecord(recording(100, 77));
    records.audioChunks[0] = 100;
    return records;
}

SongRecords cardSong(int song)
{
    return song == 2 ? longSong(song) : emptySong(song, 1);
}

void flipByte(const QString &path, qint64 position)
{
    QByteArray byte = readRange(path, position, 1);
    byte[0] = char(byte[0] ^ 0x5a);
    writeRange(path, position, byte);
}

using CardPtr = std::unique_ptr<SdCardHandle, SdCardHandleCloser>;
using ArchivePtr = std::unique_ptr<ArchiveHandle, ArchiveHandleCloser>;

CardPtr openCard(const QString &path, int writable)
{
    return CardPtr(mlsdOpenSDCard(QFile::encodeName(path).constData(), writable));
}

ArchivePtr openArchive(const QString &path, int writable, int create)
{
    return ArchivePtr(mlsdOpenArchiveW(path.toStdWString().c_str(), writable, create));
}

enum class Fault { None, Flip, Lose };

// Positions in the card archive of longSong at song 2, behind two empty songs.
constexpr qint64 kSong2Block = kFirstSongOffset + 2 * kSongBlockFixedSize;

} // namespace

Q_DECLARE_METATYPE(Fault)

class TestReadBack : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void hash_data();
    void hash();
    void differencesAreFound_data();
    void differencesAreFound();
    void overlappingWrites();
    void progressAndStop();

private:
    QString path(const QString &name) const { return m_dir->filePath(name); }
    // Writes the destination with a digest recorded: a whole card restored onto the card, or the
    // card archived into `archive`. Returns the layout to name places by.
    carddata::WrittenLayout transfer(bool toCard, const QString &archive, carddata::WriteDigest *digest);

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<CardImage> m_card;
    QString m_cardArchive;
    CachedDisk m_disk;
};

void TestReadBack::init()
{
    m_dir = std::make_unique<QTemporaryDir>(scratchFolderTemplate());
    QVERIFY(m_dir->isValid());
    m_card = std::make_unique<CardImage>(m_dir->path());
    m_card->create("Card", "For reading back");
    ArchiveBuilder archive;
    const QByteArray header = cardHeader("Restored Name", "Restored description");
    archive.setNameField(header.mid(8, 128));
    archive.setDescriptionField(header.mid(136, 384));
    archive.setUserPrefs(userPrefs());
    for (int song = 0; song < 12; ++song) {
        m_card->writeSong(song, cardSong(song));
        archive.addSong(cardSong(song));
    }
    m_cardArchive = path("source.mlad");
    archive.write(m_cardArchive);
    m_disk = CachedDisk();
    carddata::setStreamOpener(m_disk.opener());
}

void TestReadBack::cleanup()
{
    carddata::setStreamOpener(nullptr);
    m_card.reset();
    m_dir.reset();
}

void TestReadBack::hash_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<quint64>("expected"); // XXH64, seed 0
    QByteArray counting(100, '\0');
    for (int i = 0; i < counting.size(); ++i)
        counting[i] = char(i);
    // clang-format off
    QTest::newRow("empty")   << QByteArray()      << quint64(0xef46db3751d8e999ull);
    QTest::newRow("abc")     << QByteArray("abc") << quint64(0x44bc2cf5ad770999ull);
    QTest::newRow("0 to 99") << counting          << quint64(0x6ac1e58032166597ull);
    // clang-format on
}

void TestReadBack::hash()
{
    QFETCH(QByteArray, bytes);
    QFETCH(quint64, expected);
    QCOMPARE(quint64(carddata::hash64(bytes.constData(), size_t(bytes.size()))), expected);
    // Fed in uneven pieces, as writes arrive.
    carddata::Hash64 pieces;
    for (int at = 0, step = 1; at < bytes.size(); at += step, step += 6)
        pieces.add(bytes.constData() + at, size_t(std::min(step, bytes.size() - at)));
    QCOMPARE(quint64(pieces.value()), expected);
}

carddata::WrittenLayout TestReadBack::transfer(bool toCard, const QString &archivePath,
                                               carddata::WriteDigest *digest)
{
    auto recorded = std::make_shared<carddata::WriteDigest>();
    if (toCard) {
        // What the restore overwrites differs from what it writes, or a lost write would not show.
        m_card->writeSong(2, emptySong(2, 2));
        m_card->writeAudio(2, 0, 99, 100);
        m_card->writeAudio(2, 1, 99, 40);
    }
    CardPtr card = openCard(m_card->path(), toCard ? 1 : 0);
    ArchivePtr archive = toCard ? openArchive(m_cardArchive, 0, 0) : openArchive(archivePath, 1, 1);
    if (!card || !archive) {
        qWarning() << "cannot open:" << mlsdGetErrorString();
        return {};
    }
    if (toCard) {
        mlsdRecordCardWrites(card.get(), recorded);
        if (mlsdRestoreSDCard(card.get(), archive.get(), nullptr) != 0)
            qWarning() << mlsdGetErrorString();
        const carddata::WrittenLayout layout = carddata::WrittenLayout::card(card->memoryMap);
        card.reset(); // commits
        *digest = *recorded;
        return layout;
    }
    mlsdRecordArchiveWrites(archive.get(), recorded);
    if (mlsdArchiveSDCard(card.get(), archive.get(), nullptr) != 0)
        qWarning() << mlsdGetErrorString();
    const carddata::WrittenLayout layout = carddata::WrittenLayout::archive(*archive);
    if (mlsdCloseArchive(archive.release()) != 0)
        qWarning() << mlsdGetErrorString();
    *digest = *recorded;
    return layout;
}

void TestReadBack::differencesAreFound_data()
{
    QTest::addColumn<bool>("toCard");
    QTest::addColumn<Fault>("fault");
    QTest::addColumn<qint64>("position");
    QTest::addColumn<QString>("where"); // empty: reads back as written
    const qint64 header = CardImage::headerPosition();
    const qint64 audio = CardImage::audioPosition(2, 0);
    // clang-format off
    QTest::newRow("card as written")      << true  << Fault::None << qint64(0)                                << "";
    QTest::newRow("card audio flipped")   << true  << Fault::Flip << audio + 65536 + 1000                     << "song 3, part 1, looper audio at byte 65,536";
    QTest::newRow("card audio lost")      << true  << Fault::Lose << audio + 10                               << "song 3, part 1, looper audio at byte 0";
    QTest::newRow("card looper lost")     << true  << Fault::Lose << CardImage::looperPosition(2, 1) + 200    << "song 3, part 2, looper record";
    QTest::newRow("card song data")       << true  << Fault::Flip << CardImage::songDataPosition(2) + 900     << "song 3, song data";
    QTest::newRow("card part data")       << true  << Fault::Flip << CardImage::partDataPosition(7, 4) + 16000 << "song 8, part 5, part data";
    QTest::newRow("card name")            << true  << Fault::Flip << header + 8 + 3                           << "card name";
    QTest::newRow("card description")     << true  << Fault::Lose << header + 136                             << "card description";
    QTest::newRow("card header")          << true  << Fault::Flip << header + 600                             << "card header";
    QTest::newRow("card prefs")           << true  << Fault::Flip << CardImage::userPrefsPosition() + 40      << "user preferences";
    QTest::newRow("archive as written")   << false << Fault::None << qint64(0)                                << "";
    QTest::newRow("archive name")         << false << Fault::Flip << qint64(8 + 3)                            << "card name";
    QTest::newRow("archive header")       << false << Fault::Lose << qint64(532)                              << "archive header";
    QTest::newRow("archive prefs")        << false << Fault::Flip << qint64(680 + 30)                         << "user preferences";
    QTest::newRow("archive song header")  << false << Fault::Flip << kSong2Block + 48                         << "song 3, song header";
    QTest::newRow("archive part data")    << false << Fault::Lose << kSong2Block + 1160 + 3 * 16384 + 520     << "song 3, part 4, part data";
    QTest::newRow("archive audio")        << false << Fault::Lose << kSong2Block + 136840 + 70000             << "song 3, part 1, looper audio at byte 65,536";
    QTest::newRow("archive last audio")   << false << Fault::Flip << kSong2Block + 136840 + 140 * 1024 - 1    << "song 3, part 2, looper audio at byte 0";
    // clang-format on
}

void TestReadBack::differencesAreFound()
{
    QFETCH(bool, toCard);
    QFETCH(Fault, fault);
    QFETCH(qint64, position);
    QFETCH(QString, where);

    const QString destination = toCard ? m_card->path() : path("copy.mlad");
    if (fault == Fault::Lose)
        m_disk.lose(destination, position, 64);
    carddata::WriteDigest digest;
    const carddata::WrittenLayout layout = transfer(toCard, destination, &digest);
    QVERIFY(!digest.pieces().empty());
    if (fault == Fault::Flip)
        flipByte(destination, position);

    const int result =
        mlsdVerifyWrites(QFile::encodeName(destination).constData(), digest, layout, 12, nullptr);
    if (where.isEmpty()) {
        QVERIFY2(result == 0, mlsdGetErrorString());
        return;
    }
    QCOMPARE(result, 1);
    QCOMPARE(QString::fromLocal8Bit(mlsdGetErrorString()),
             "mlsdVerifyWrites: " + where + " differs from the original.");
}

// A later write replaces what an earlier one left of its bytes; what an earlier write keeps
// outside the later one is still checked.
void TestReadBack::overlappingWrites()
{
    const QString file = path("overlaps.mlad");
    auto digest = std::make_shared<carddata::WriteDigest>();
    {
        ArchivePtr archive = openArchive(file, 1, 1);
        QVERIFY(archive);
        QCOMPARE(mlsdRecordArchiveWrites(archive.get(), digest), 0);
        carddata::Stream *stream = archive->file.get();
        const auto writeAt = [stream](qint64 at, char fill, int size) {
            const QByteArray bytes(size, fill);
            return stream->seek(at) && stream->write(bytes.constData(), size_t(size)) == size_t(size);
        };
        QVERIFY(writeAt(5000, 'a', 1000));
        QVERIFY(writeAt(5500, 'b', 100));
        QVERIFY(writeAt(4990, 'c', 20));
        QVERIFY(writeAt(5500, 'd', 100)); // the same range again
        QCOMPARE(mlsdCloseArchive(archive.release()), 0);
    }
    QCOMPARE(readRange(file, 4990, 1010),
             QByteArray(20, 'c') + QByteArray(490, 'a') + QByteArray(100, 'd') + QByteArray(400, 'a'));
    qint64 next = 0;
    for (const auto &[start, piece] : digest->pieces()) {
        QVERIFY2(start >= next, "pieces never overlap");
        next = start + piece.size;
    }
    const carddata::WrittenLayout layout = carddata::WrittenLayout::archive(ArchiveHandle());
    const QByteArray pathBytes = QFile::encodeName(file);
    QCOMPARE(mlsdVerifyWrites(pathBytes.constData(), *digest, layout, 0, nullptr), 0);

    flipByte(file, 5800);
    QCOMPARE(mlsdVerifyWrites(pathBytes.constData(), *digest, layout, 0, nullptr), 1);
    QCOMPARE(QByteArray(mlsdGetErrorString()),
             "mlsdVerifyWrites: byte 5,600 of the archive differs from the original.");
}

void TestReadBack::progressAndStop()
{
    carddata::WriteDigest digest;
    const carddata::WrittenLayout layout = transfer(false, path("copy.mlad"), &digest);
    struct Log
    {
        QVector<QVector<int>> calls;
        int stopAt = 0;
    } log;
    const CardProgressCallback progress{
        [](int32_t song, int32_t songCount, int32_t done, int32_t total, void *data) {
            auto *l = static_cast<Log *>(data);
            l->calls.append({song, songCount, done, total});
            return l->calls.size() == l->stopAt ? 1 : 0;
        },
        &log};
    const QByteArray file = QFile::encodeName(path("copy.mlad"));
    QCOMPARE(mlsdVerifyWrites(file.constData(), digest, layout, 12, &progress), 0);
    // Song by song, each to its end, all bytes counted once.
    qint64 bytes = 0;
    for (int i = 0; i < log.calls.size(); ++i) {
        const QVector<int> &call = log.calls[i];
        QCOMPARE(call[1], 12);
        const bool last = i + 1 == log.calls.size() || log.calls[i + 1][0] != call[0];
        if (i > 0)
            QVERIFY(call[0] >= log.calls[i - 1][0]);
        if (last) {
            QCOMPARE(call[2], call[3]);
            bytes += call[3];
        }
    }
    QCOMPARE(bytes, qint64(QFileInfo(path("copy.mlad")).size()));

    log = Log{{}, 3};
    QCOMPARE(mlsdVerifyWrites(file.constData(), digest, layout, 12, &progress), 1);
    QCOMPARE(QByteArray(mlsdGetErrorString()), QByteArray("mlsdVerifyWrites: Aborted by user."));
    QCOMPARE(log.calls.size(), 3);
}

QTEST_GUILESS_MAIN(TestReadBack)
#include "tst_readback.moc"
