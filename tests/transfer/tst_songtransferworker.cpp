// The transfer worker in its thread, on sparse card images and library files: what each request
// writes (compared byte for byte with fixtures built without the code under test), how often it
// reports, and what a failure, a cancel or a verification read-back leaves behind.
#include "support/archivebuilder.h"
#include "support/cardimage.h"
#include "support/filebytes.h"
#include "support/faultstream.h"
#include "support/filesnapshot.h"

#include "domain/cardcontent.h"
#include "domain/songarchive.h"
#include "domain/sumfile.h"
#include "transfer/songtransfer.h"
#include "transfer/songtransferworkerthread.h"

#include <QDir>
#include <QtTest>

#include <unistd.h>

#include <atomic>
#include <memory>

using namespace ZovaZode;
using namespace ZovaZode::TestSupport;
using Request = SongTransfer::Request;
using Endpoint = SongTransfer::Endpoint;
using Verification = Request::Verification;

namespace {

constexpr int kWaitMs = 120000;
// A song of the cards here moves 10 + 40 chunks; of the library's call-backs every 10 chunks only
// the first and the last of a song reach the window: the others are within 1 MiB of the first.
constexpr double kSampleSongReports[] = {10.0 / 50, 1.0};
constexpr qint64 kSongNameInFile = kFirstSongOffset + kSongHeaderSize + 4;

QStringList times(int count, const QString &text)
{
    return QVector<QString>(count, text).toList();
}

struct Card
{
    std::unique_ptr<CardImage> image;
    QVector<SongRecords> songs;
    const QString &path() const { return image->path(); }
};

} // namespace

class TestSongTransferWorker : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void copies_data();
    void copies();

private:
    // Even songs of a card hold recordings, odd ones are empty.
    Card makeCard(const QString &folder, quint32 variant);
    ArchiveBuilder cardArchive(const Card &card) const;
    QString libraryPath(const QString &name) const { return QDir(m_library).filePath(name); }
    QStringList libraryFiles() const
    {
        return QDir(m_library).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
    }
    void waitForOutcome();

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_library;
    std::unique_ptr<SongTransferWorkerThread> m_thread;
    std::unique_ptr<SongTransfer> m_transfer;
    std::unique_ptr<ScopedFaultInjector> m_streams; // watched, and their commits failed on request
    QStringList m_kinds;
    QVector<QPair<int, float>> m_progress;
};

void TestSongTransferWorker::init()
{
    m_dir = std::make_unique<QTemporaryDir>(scratchFolderTemplate());
    m_library = m_dir->filePath("library");
    m_streams = std::make_unique<ScopedFaultInjector>();
    QVERIFY(QDir().mkpath(m_library));
    m_thread = std::make_unique<SongTransferWorkerThread>();
    m_thread->start();
    m_transfer = std::make_unique<SongTransfer>(m_thread->worker());
    m_kinds.clear();
    m_progress.clear();
    connect(m_transfer.get(), &SongTransfer::started, this, [this] { m_kinds << "started"; });
    connect(m_transfer.get(), &SongTransfer::finished, this, [this] { m_kinds << "finished"; });
    connect(m_transfer.get(), &SongTransfer::error, this, [this] { m_kinds << "error"; });
    connect(m_transfer.get(), &SongTransfer::progress, this, [this](int song, float fraction) {
        m_progress.append({song, fraction});
    });
}

void TestSongTransferWorker::cleanup()
{
    // The thread goes first: no report may be posted to a transfer object that is gone.
    m_thread.reset();
    m_transfer.reset();
    m_streams.reset();
    m_dir.reset();
}

Card TestSongTransferWorker::makeCard(const QString &folder, quint32 variant)
{
    QDir().mkpath(m_dir->filePath(folder));
    Card card{std::make_unique<CardImage>(m_dir->filePath(folder)), {}};
    card.image->create("Card " + QByteArray::number(variant), "Card for transfers", variant);
    for (int song = 0; song < 12; ++song) {
        card.songs.append(song % 2 == 0 ? sampleSong(song, variant) : emptySong(song, variant));
        if (song % 2 == 0) {
            card.songs.last().loopers[0] = looperRecord(recording(10, card.songs.last().audioSeeds[0]));
            card.songs.last().audioChunks[0] = 10;
        }
        card.image->writeSong(song, card.songs.last());
    }
    return card;
}

ArchiveBuilder TestSongTransferWorker::cardArchive(const Card &card) const
{
    ArchiveBuilder archive;
    const QByteArray header = card.image->read(cardHeaderRange());
    archive.setNameField(header.mid(8, 128));
    archive.setDescriptionField(header.mid(136, 384));
    archive.setUserPrefs(card.image->read(cardUserPrefsRange()));
    for (const SongRecords &song : card.songs)
        archive.addSong(song);
    return archive;
}

void TestSongTransferWorker::waitForOutcome()
{
    QTRY_VERIFY_WITH_TIMEOUT(m_kinds.contains("finished") || m_kinds.contains("error"), kWaitMs);
    QCoreApplication::sendPostedEvents();
    QCOMPARE(m_kinds.first(), QString("started"));
}

void TestSongTransferWorker::copies_data()
{
    QTest::addColumn<bool>("fromCard");
    QTest::addColumn<int>("song");     // the source's song, -1 for a whole card
    QTest::addColumn<int>("slot");     // the card song a song file is restored into
    QTest::addColumn<QString>("name"); // the new file's name field, empty to keep the source's
    QTest::addColumn<QString>(
        "check"); // "yes" read back, "stop" read back and stop, "cancel" during the copy;
                  // "taken" (the user's file is there), "commit" (fails), "tocard"; "same" (the
                  // card holds the archive already), "stale" (the card, since a copy read it),
                  // "racing" (the card, by a writer ignoring the lock, after the copy read that);
                  // the archive checked before a restore, "changed" since it was made, or
                  // "damaged" (cut short by 1,000 bytes)
    QTest::addColumn<qint64>("flipped"); // a byte changed on its way to the destination, or -1
    QTest::addColumn<QString>("error");  // the request's error text, empty if it finishes
    const auto differs = [](const char *where) {
        return QStringLiteral("Verification failed: %1 differs from the original.").arg(where);
    };
    const qint64 no = -1, audio = kFirstSongOffset + kSongBlockFixedSize;
    // clang-format off
    //                                      fromCard  song  slot  name                check       flipped                                   error
    QTest::newRow("archive card")        << true  << -1 << -1 << ""                << ""       << no                                     << "";
    QTest::newRow("archive card, named") << true  << -1 << -1 << "Gig Night Card"  << "yes"    << no                                     << "";
    QTest::newRow("archive song, named") << true  << 2  << -1 << "Slow Blues in A" << ""       << no                                     << "";
    QTest::newRow("restore card")        << false << -1 << -1 << ""                << ""       << no                                     << "";
    QTest::newRow("restore song")        << false << 4  << 7  << ""                << "yes"    << no                                     << "";
    QTest::newRow("restore the same")    << false << -1 << -1 << ""                << "same"   << no                                     << "";
    QTest::newRow("card changed since")  << false << -1 << -1 << ""                << "stale"  << no                                     << "";
    QTest::newRow("changed while copied")<< false << -1 << -1 << ""                << "racing" << no                                     << "";
    QTest::newRow("archive changed")     << false << -1 << -1 << ""                << "changed"<< no                                     << "\"Gig.mlad\": the file has changed since it was made on DATE (song 3).";
    QTest::newRow("archive cut short")   << false << -1 << -1 << ""                << "damaged"<< no                                     << "The archive \"Gig.mlad\" is damaged: song 12, part 5 looper record (byte 1,939,720): lies outside the file (1,949,472 bytes).";
    QTest::newRow("archive card, stop")  << true  << -1 << -1 << ""                << "stop"   << no                                     << "";
    QTest::newRow("archive card, cancel")<< true  << -1 << -1 << ""                << "cancel" << no                                     << "Failed to archive card: mlsdArchiveSong: Aborted by user.";
    QTest::newRow("card audio differs")  << true  << -1 << -1 << ""                << "yes"    << audio + 100                            << differs("song 1, part 1, looper audio at byte 0");
    QTest::newRow("looper differs")      << false << -1 << -1 << ""                << "yes"    << CardImage::looperPosition(4, 1) + 20   << differs("song 5, part 2, looper record");
    QTest::newRow("archive file taken")  << true  << -1 << -1 << ""                << "taken"  << no                                     << "Will not replace the existing file @.";
    QTest::newRow("commit fails")        << true  << 2  << -1 << ""                << "commit" << no                                     << "Could not close archive file: mlsdCloseArchive: Error committing archive file.";
    QTest::newRow("card to card")        << true  << 2  << 3  << ""                << "tocard" << no                                     << "Unknown request.";
    // clang-format on
}

// Copies are compared byte for byte with the fixtures; a read-back ("check") that finds a byte
// other than written fails naming the place, and a stop while reading back keeps the complete
// result, marked unchecked. A cancel or a failure leaves no library file.
void TestSongTransferWorker::copies()
{
    QFETCH(bool, fromCard);
    QFETCH(int, song);
    QFETCH(int, slot);
    QFETCH(QString, name);
    QFETCH(QString, check);
    QFETCH(qint64, flipped);
    QFETCH(QString, error);
    error.replace('@', libraryPath(song < 0 ? "Gig.mlad" : "Song.mlsd"));
    error.replace("DATE", QDate::currentDate().toString(Qt::ISODate));

    const bool wholeCard = song < 0;
    const Card source = makeCard("source", 1);
    ArchiveBuilder expected;
    if (wholeCard)
        expected = cardArchive(source);
    else
        expected.addSong(source.songs[song]);
    const QString fileName = wholeCard ? "Gig.mlad" : "Song.mlsd";
    const QString file = fromCard ? libraryPath(fileName) : m_dir->filePath(fileName);
    if (!fromCard)
        expected.write(file);
    if (check == "changed") { // the record of the archive as built, then a byte of song 3 changed
        carddata::FileSummer summer(SongArchive(file, 0, 0).parts());
        summer.add(reinterpret_cast<const uint8_t *>(expected.bytes().constData()),
                   size_t(expected.bytes().size()));
        writeRange(SumFile::pathFor(file), 0,
                   SumFile::format(summer.sums(), QDateTime::currentDateTimeUtc()));
        writeRange(file, expected.songOffset(2) + 140, "X");
    }
    if (check == "damaged")
        QVERIFY(QFile::resize(file, expected.bytes().size() - 1000));
    const Card card = makeCard("card", check == "same" ? 1 : 2);
    std::shared_ptr<CardContent> copied;
    if (check == "stale" || check == "racing") { // a copy reads the card, holding song 1 as the archive
                                                 // does; then it changes
        card.image->writeSong(0, source.songs[0]);
        std::atomic<bool> raced{false};
        m_streams->observe([&](const std::string &, StreamCall call, int64_t position, uint8_t *, size_t) {
            if (check == "racing" && call == StreamCall::Read && position >= CardImage::audioPosition(0, 0) &&
                !raced.exchange(true))
                card.image->writeSongData(0, emptySong(0, 3).song);
        });
        auto copy = std::make_shared<Request>();
        copy->recordCard = true;
        copy->source = Endpoint::card(card.path());
        copy->destination = Endpoint::archive(m_dir->filePath("copy.mlad"));
        m_transfer->submit(copy);
        waitForOutcome();
        m_kinds.clear();
        m_progress.clear();
        copied = copy->cardContent;
        m_streams->observe({});
        QCOMPARE(raced.load(), check == "racing");
        if (check == "stale")
            card.image->writeSongData(0, emptySong(0, 3).song);
    }
    const Card &changed = fromCard ? source : card;
    const FileSnapshot before(changed.path());
    if (check == "taken")
        writeRange(file, 0, "the user's own file");
    auto request = std::make_shared<Request>();
    if (check == "changed" || check == "damaged")
        request->kind = Request::Kind::CheckArchive;
    request->verify = check == "yes" || check == "stop";
    request->knownCard = copied;
    request->source = fromCard ? Endpoint::card(source.path(), song) : Endpoint::archive(file, wholeCard ? -1 : 0);
    request->destination = check == "tocard" || !fromCard ? Endpoint::card(card.path(), wholeCard ? -1 : slot)
                                                          : Endpoint::archive(file, slot, name);
    // The first report of the first song is out once the source's audio is read past 10 chunks.
    const qint64 reported =
        (fromCard ? CardImage::audioPosition(0, 0) : kFirstSongOffset + kSongBlockFixedSize) +
        10 * kChunkSize;
    // A new file is written under a temporary name and moved into place once complete.
    std::atomic<int> seenDuring{0};
    const QString written = fromCard ? QString(fileName + "*") : QString("ZOVAZODE.DAT");
    const QString read =
        (fromCard ? QString("ZOVAZODE.DAT") : fileName) + (check == "stop" ? QString(";" + written) : QString());
    m_streams->observe([&](const std::string &path, StreamCall call, int64_t position, uint8_t *bytes, size_t size) {
        const QString name = QFileInfo(QString::fromStdString(path)).fileName();
        if (call == StreamCall::Write && QDir::match(written, name) && flipped >= position &&
            flipped < position + int64_t(size))
            bytes[flipped - position] ^= 0x10;
        if (call != StreamCall::Read || !QDir::match(read, name))
            return;
        if (fromCard && seenDuring == 0 && position >= reported)
            seenDuring = QDir(m_library).entryList({"*.????????.partial"}).size() * 2 + QFile::exists(file);
        if (check == "stop" ? request->phase == 1 : check == "cancel" && position >= reported)
            request->cancelled = true;
    });
    if (check == "commit")
        m_streams->arm(FaultKind::IoError, FaultMode::FromNOn, 1, {1u << int(StreamCall::Commit), ".partial"});
    // Each file made durable, and whether the new library file had its name by then.
    QStringList commits;
    QMutex committing;
    carddata::setDataSync([&](int fd) {
        QString name = QFileInfo(QFile::symLinkTarget(QStringLiteral("/proc/self/fd/%1").arg(fd))).fileName();
        name.replace(QRegularExpression("\\.[0-9A-Za-z]{8}\\.partial$"), ".partial");
        QMutexLocker locker(&committing);
        commits << name + (fromCard && QFile::exists(file) ? " too late" : "");
        return ::fdatasync(fd);
    });
    m_transfer->submit(request);
    waitForOutcome();
    carddata::setDataSync({});

    QCOMPARE(request->errorText, error);
    QCOMPARE(m_kinds.last(), QString(error.isEmpty() ? "finished" : "error"));
    QCOMPARE(request->phase.load(), request->verify ? 1 : 0);
    if (!error.isEmpty()) {
        QCOMPARE(request->verification, Verification::NotAsked);
        QCOMPARE(libraryFiles(), check == "taken" ? QStringList{fileName} : QStringList());
        QVERIFY(check != "taken" || wholeFile(file) == "the user's own file");
        QVERIFY((!fromCard && request->kind == Request::Kind::Copy) || check == "tocard" ||
                before.changes().isEmpty());
        return;
    }
    QCOMPARE(request->verification, check == "yes"    ? Verification::Passed
                                    : check == "stop" ? Verification::Skipped
                                                      : Verification::NotAsked);
    int restarts = 0; // a read-back starts the bar again, once
    for (int i = 1; i < m_progress.size(); ++i)
        restarts += m_progress[i].second < m_progress[i - 1].second ? 1 : 0;
    QCOMPARE(restarts, check == "yes" ? 1 : 0);
    const QVector<int> reports = wholeCard ? QVector<int>{0, 2, 4, 6, 8, 10} : QVector<int>{song};
    for (int i = 0; check.isEmpty() && i < reports.size() * 2; ++i) {
        const double part = kSampleSongReports[i % 2];
        QCOMPARE(m_progress.value(i).first, wholeCard ? reports[i / 2] : 0);
        QVERIFY(qAbs(m_progress.value(i).second - (wholeCard ? (reports[i / 2] + part) / 12 : part)) < 1e-6);
    }
    QCOMPARE(m_progress.size(), check.isEmpty() ? reports.size() * 2 : m_progress.size());
    if (fromCard) {
        // Committed before it takes its name, and so is the record of how it was made beside it.
        const bool recorded = request->verification == Verification::Passed;
        QCOMPARE(commits, QStringList{fileName + ".partial"} + times(recorded, fileName + ".sum.partial"));
        QCOMPARE(seenDuring.load(), 2);
        QCOMPARE(libraryFiles(), QStringList{fileName} + times(recorded, fileName + ".sum"));
        QVERIFY(!recorded || SumFile::check(file, true).state == SumFile::State::Unchanged);
        QVERIFY2(before.changes().isEmpty(), "archiving reads the card only");
        QByteArray bytes = wholeFile(file), original = expected.bytes();
        const int nameAt = wholeCard ? 8 : int(kSongNameInFile);
        if (!name.isEmpty()) {
            QCOMPARE(text(bytes, nameAt, 128), name.toUtf8());
            bytes.replace(nameAt, 128, QByteArray(128, '\0'));
            original.replace(nameAt, 128, QByteArray(128, '\0'));
        }
        QVERIFY2(bytes == original, "the file holds the card's records and audio as they are");
        return;
    }
    QVector<ByteRange> allowed{cardHeaderRange(), cardUserPrefsRange()};
    for (int from = wholeCard ? 0 : song; from <= (wholeCard ? 11 : song); ++from) {
        const int to = wholeCard ? from : slot;
        const SongRecords &records = source.songs[from];
        QCOMPARE(card.image->read(CardImage::songDataRange(to)), records.song);
        for (int part = 0; part < 5; ++part) {
            QCOMPARE(card.image->read(CardImage::partDataRange(to, part)), records.parts[part]);
            QCOMPARE(card.image->read(CardImage::looperRange(to, part)), records.loopers[part]);
            QVERIFY(card.image->read(cardAudioRange(to, part, records.copiedChunks(part))) ==
                    source.image->read(cardAudioRange(from, part, records.copiedChunks(part))));
        }
        allowed << CardImage::restoreRanges(to, records);
    }
    if (wholeCard)
        QCOMPARE(card.image->read(8, 512), source.image->read(8, 512));
    QCOMPARE(describe(before.changesOutside(allowed)), describe({}));
    // Committed at each song's end and once more when closed; every byte written or found there.
    QCOMPARE(commits, times(wholeCard ? 13 : 2, "ZOVAZODE.DAT"));
    qint64 total = wholeCard ? 0 : -cardHeaderRange().size - cardUserPrefsRange().size;
    for (const ByteRange &range : allowed)
        total += range.size;
    QCOMPARE(request->bytesWritten + request->bytesUnchanged, total);
    QCOMPARE(request->bytesWritten == 0, check == "same");
    QVERIFY(wholeFile(file) == expected.bytes());
}

MORV_TEST_MAIN(TestSongTransferWorker)
#include "tst_songtransferworker.moc"
