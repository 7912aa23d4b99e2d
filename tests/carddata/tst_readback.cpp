// Verification by reading back: what a transfer wrote is checked against what the device holds,
// not against what the page cache still remembers. The disk here keeps a page cache of its own
// over the real file, so that the device can differ from the cache: a byte changed on the medium
// after the write must be found and named, which happens only when the verification drops the
// cached pages first and compares what it reads with the digest of what was written.
#include "carddata/readback.h"
#include "handles.h"
#include "support/archivebuilder.h"

#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <array>
#include <cstring>
#include <map>
#include <memory>

using namespace ZovaZode::TestSupport;

namespace {

constexpr int64_t kPage = 4096;
using Cache = std::map<std::string, std::map<int64_t, QByteArray>>; // path -> page -> bytes

// Every page written stays cached as written, and is what reads of it return, until dropCache()
// evicts it.
class CachedStream final : public carddata::Stream
{
public:
    CachedStream(std::unique_ptr<carddata::Stream> file, std::map<int64_t, QByteArray> &pages)
        : m_file(std::move(file)), m_pages(pages)
    {}
    bool seek(int64_t position) override { return m_file->seek(m_position = position); }
    size_t read(void *buffer, size_t size) override
    {
        const size_t count = m_file->read(buffer, size);
        const int64_t end = m_position + int64_t(count);
        for (auto page = m_pages.lower_bound(m_position / kPage);
             page != m_pages.end() && page->first * kPage < end; ++page) {
            const int64_t from = std::max(m_position, page->first * kPage),
                          to = std::min(end, (page->first + 1) * kPage);
            std::memcpy(static_cast<char *>(buffer) + (from - m_position),
                        page->second.constData() + (from - page->first * kPage), size_t(to - from));
        }
        m_position = end;
        return count;
    }
    size_t write(const void *buffer, size_t size) override
    {
        const size_t count = m_file->write(buffer, size);
        for (int64_t page = m_position / kPage; page * kPage < m_position + int64_t(count); ++page) {
            QByteArray &cached = m_pages[page] = QByteArray(int(kPage), '\0');
            m_file->seek(page * kPage);
            m_file->read(cached.data(), size_t(kPage));
        }
        m_file->seek(m_position += int64_t(count));
        return count;
    }
    int64_t size() override { return m_file->size(); }
    bool flush() override { return m_file->flush(); }
    bool commit() override { return m_file->commit(); }
    bool dropCache(int64_t position, int64_t size) override
    {
        m_pages.erase(m_pages.lower_bound(position / kPage), m_pages.lower_bound((position + size + kPage - 1) / kPage));
        return m_file->dropCache(position, size);
    }
    bool close() override { return m_file->close(); }

private:
    std::unique_ptr<carddata::Stream> m_file;
    std::map<int64_t, QByteArray> &m_pages;
    int64_t m_position = 0;
};

// Card songs: song 3 holds a recording of 100 chunks, so that its audio spans two 64 KiB pieces.
SongRecords cardSong(int song)
{
    SongRecords records = song == 2 ? sampleSong(song, 1) : emptySong(song, 1);
    records.loopers[0] = song == 2 ? looperRecord(recording(100, 77)) : records.loopers[0];
    records.audioChunks[0] = song == 2 ? 100 : 0;
    return records;
}

// Where song 3 of the card archive lies: behind two songs without audio.
constexpr qint64 kSong3 = kFirstSongOffset + 2 * kSongBlockFixedSize;

} // namespace

class TestReadBack : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void differencesAreFound_data();
    void differencesAreFound();

private:
    QString path(const QString &name) const { return m_dir->filePath(name); }
    // Restores the whole card from its archive ("card"), or archives it ("archive") or its song 3
    // ("song") into copy.mlad, with a digest recorded; returns the layout that names the places
    // of the destination.
    carddata::WrittenLayout transfer(const QString &what, carddata::WriteDigest *digest);

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<CardImage> m_card;
    QString m_cardArchive;
    std::shared_ptr<Cache> m_cache;
};

void TestReadBack::init()
{
    m_dir = std::make_unique<QTemporaryDir>(scratchFolderTemplate());
    m_card = std::make_unique<CardImage>(m_dir->path());
    m_card->create("Card", "For reading back");
    ArchiveBuilder archive;
    archive.header().replace(8, 512, cardHeader("Restored Name", "Restored description").mid(8, 512));
    archive.setUserPrefs(userPrefs());
    for (int song = 0; song < 12; ++song) {
        m_card->writeSong(song, cardSong(song));
        archive.addSong(cardSong(song));
    }
    m_cardArchive = path("source.mlad");
    archive.write(m_cardArchive);
    m_cache = std::make_shared<Cache>();
    carddata::setStreamOpener([cache = m_cache](const std::string &path, carddata::OpenMode mode) {
        auto file = carddata::openFileStream(path, mode);
        return file ? std::make_unique<CachedStream>(std::move(file), (*cache)[path]) : nullptr;
    });
}

void TestReadBack::cleanup()
{
    carddata::setStreamOpener(nullptr);
    m_card.reset();
    m_dir.reset();
}

carddata::WrittenLayout TestReadBack::transfer(const QString &what, carddata::WriteDigest *digest)
{
    const bool toCard = what == "card";
    auto recorded = std::make_shared<carddata::WriteDigest>();
    CardPtr card = openCard(m_card->path(), toCard ? 1 : 0);
    ArchivePtr archive = toCard ? openArchive(m_cardArchive, 0, 0) : openArchive(path("copy.mlad"), 1, 1);
    if (!card || !archive)
        return {};
    if (toCard) {
        mlsdRecordCardWrites(card.get(), recorded);
        mlsdRestoreSDCard(card.get(), archive.get(), nullptr);
        card.reset(); // commits
        *digest = *recorded;
        return carddata::WrittenLayout::card(
            CardMemoryMap{{0, 0, 100, 100, 100, 41260, 101, 1212, 42472, 164, 9840, 52312, 164, 9840, 62152,
                           51680, 6201600, 6263752}});
    }
    mlsdRecordArchiveWrites(archive.get(), recorded);
    // A song file leaves its user prefs block unwritten: the sums take it as the file holds it.
    if (what == "song")
        mlsdArchiveSong(card.get(), archive.get(), 2, nullptr);
    else
        mlsdArchiveSDCard(card.get(), archive.get(), nullptr);
    const carddata::WrittenLayout layout = carddata::WrittenLayout::archive(*archive, what == "song" ? 2 : 0);
    mlsdCloseArchive(archive.release());
    *digest = *recorded;
    return layout;
}

void TestReadBack::differencesAreFound_data()
{
    QTest::addColumn<QString>("what");    // "card" restored, "archive" or "song" file made
    QTest::addColumn<qint64>("position"); // of the byte changed on the device; -1: none
    QTest::addColumn<QString>("where");   // empty: reads back as written

    const qint64 audio = CardImage::audioPosition(2, 0);
    // clang-format off
    //                                       what         position                                     where
    QTest::newRow("card as written")      << "card"    << qint64(-1)                                << "";
    QTest::newRow("card audio, piece 2")  << "card"    << audio + 65536 + 1000                      << "song 3, part 1, looper audio at byte 65,536";
    QTest::newRow("card part data")       << "card"    << CardImage::partDataPosition(7, 4) + 16000 << "song 8, part 5, part data";
    QTest::newRow("card name")            << "card"    << qint64(8 + 3)                             << "card name";
    QTest::newRow("archive as written")   << "archive" << qint64(-1)                                << "";
    QTest::newRow("archive header")       << "archive" << qint64(532)                               << "archive header";
    QTest::newRow("archive part data")    << "archive" << kSong3 + 1160 + 3 * 16384 + 520           << "song 3, part 4, part data";
    QTest::newRow("archive audio")        << "archive" << kSong3 + 136840 + 70000                   << "song 3, part 1, looper audio at byte 65,536";
    QTest::newRow("song file, its prefs") << "song"    << qint64(700)                               << ""; // not written
    // clang-format on
}

void TestReadBack::differencesAreFound()
{
    QFETCH(QString, what);
    QFETCH(qint64, position);
    QFETCH(QString, where);

    const QString destination = what == "card" ? m_card->path() : path("copy.mlad");
    carddata::WriteDigest digest;
    const carddata::WrittenLayout layout = transfer(what, &digest);
    QVERIFY(!digest.pieces().empty());
    if (position >= 0)
        writeRange(destination, position, QByteArray(1, char(readRange(destination, position, 1).at(0) ^ 0x5a)));
    using Report = std::array<int32_t, 3>; // song, done, total
    std::vector<Report> reports;
    const CardProgressCallback progress{
        [](int32_t song, int32_t, int32_t done, int32_t total, void *context) {
            static_cast<std::vector<Report> *>(context)->push_back({song, done, total});
            return 0;
        },
        &reports};
    carddata::FileSummer sums({});
    const int result = mlsdVerifyWrites(QFile::encodeName(destination).constData(), digest, layout,
                                        what == "song" ? 1 : 12, &progress, what == "card" ? nullptr : &sums);
    QCOMPARE(QString::fromLocal8Bit(result ? mlsdGetErrorString() : ""),
             where.isEmpty() ? where : "mlsdVerifyWrites: " + where + " differs from the original.");
    if (!where.isEmpty())
        return;
    // Song by song, each song's count ending at its total, every byte written counted once; an
    // archive's sums are those of the file as it holds it.
    int64_t counted = 0;
    for (size_t i = 0; i < reports.size(); ++i) {
        QVERIFY(i == 0 || reports[i][0] >= reports[i - 1][0]);
        if (i + 1 < reports.size() && reports[i + 1][0] == reports[i][0])
            continue;
        QCOMPARE(reports[i][1], reports[i][2]);
        counted += reports[i][2];
    }
    QCOMPARE(counted, digest.bytes());
    carddata::FileSummer file({});
    const QByteArray bytes = what == "card" ? QByteArray() : wholeFile(destination);
    file.add(reinterpret_cast<const uint8_t *>(bytes.constData()), size_t(bytes.size()));
    QVERIFY(sums.sums().whole == file.sums().whole);
}

MORV_TEST_MAIN(TestReadBack)
#include "tst_readback.moc"
