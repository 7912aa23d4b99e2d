// Transfers end to end: requests run in the real worker thread on sparse card images and
// archive files, and the reports, the log lines and the bytes that land on the card or in the
// library are checked against fixtures built without the code under test.
#include "support/archivebuilder.h"
#include "support/cardimage.h"
#include "support/filesnapshot.h"
#include "support/logcapture.h"

#include "carddata/stream.h"
#include "transfer/songtransfer.h"
#include "transfer/songtransferworkerthread.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <thread>

using namespace ZovaZode;
using namespace ZovaZode::TestSupport;
using Request = SongTransfer::Request;
using Endpoint = SongTransfer::Endpoint;

namespace {

constexpr int kWaitMs = 120000;
// A sample song copies 10 + 40 chunks; the library calls back at every 10 chunks, and of those
// calls only the first and the last (the end of the song) are posted: the others are within
// 1 MiB of the first.
constexpr qint32 kSampleSongBytes = 50 * kChunkSize;
constexpr int kReportsPerSampleSong = 2;
constexpr int kSampleSongReportedChunks[kReportsPerSampleSong] = {10, 50};
constexpr qint64 kFirstBlock = kFirstSongOffset;
constexpr qint64 kSongNameInFile = kFirstBlock + kSongHeaderSize + 4;

struct Card
{
    std::unique_ptr<CardImage> image;
    QVector<SongRecords> songs;
    const QString &path() const { return image->path(); }
};

// Even songs hold recordings, odd songs are empty: both paths of a whole-card operation. The
// first recording ends at the first progress report: audio moves in large blocks, so the gate
// below can hold the worker only between the reads of two parts.
SongRecords cardSong(int song, quint32 variant)
{
    if (song % 2 != 0)
        return emptySong(song, variant);
    SongRecords records = sampleSong(song, variant);
    records.loopers[0] = looperRecord(recording(10, records.audioSeeds[0]));
    records.audioChunks[0] = 10;
    return records;
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

Endpoint endpoint(qint32 kind, const QString &path, qint32 song, const QString &name = QString())
{
    Endpoint result;
    result.kind = kind;
    result.path = path;
    result.song = song;
    result.name = name;
    return result;
}

// Holds the worker at a read of looper audio from the source file once a number of chunks has
// gone through, until the test lets it go on. The worker reports progress every 10 chunks, so a
// gate of 10 chunks stops it right after its first report, while the test's slot handles it.
class AudioGate
{
public:
    // Gates the chunk reads from [audioStart, audioEnd) of the source file.
    void arm(const QString &sourcePath, qint64 audioStart, qint64 audioEnd, int chunks)
    {
        m_path = QFile::encodeName(sourcePath).toStdString();
        m_audioStart = audioStart;
        m_audioEnd = audioEnd;
        m_permits.release(chunks);
    }
    void open() { m_permits.release(1 << 24); }
    void pass(const std::string &path, int64_t position, size_t size)
    {
        if (path == m_path && size >= size_t(kChunkSize) && position >= m_audioStart &&
            position < m_audioEnd) {
            if (onRead)
                onRead(position);
            m_permits.acquire(int(size / size_t(kChunkSize)));
        }
    }

    // Runs in the worker for every gated read, before it waits.
    std::function<void(int64_t position)> onRead;

private:
    std::string m_path;
    qint64 m_audioStart = 0;
    qint64 m_audioEnd = 0;
    QSemaphore m_permits;
};

// The file stream as the library gets it in these tests: it passes the gate, and it can fail
// the commit that closing an archive does.
class TestStream : public carddata::Stream
{
public:
    TestStream(std::unique_ptr<carddata::Stream> inner, std::string path, AudioGate *gate, bool failCommit)
        : m_inner(std::move(inner)), m_path(std::move(path)), m_gate(gate), m_failCommit(failCommit)
    {}
    bool seek(int64_t position) override
    {
        const bool done = m_inner->seek(position);
        if (done)
            m_position = position;
        return done;
    }
    size_t read(void *buffer, size_t size) override
    {
        if (m_gate)
            m_gate->pass(m_path, m_position, size);
        const size_t count = m_inner->read(buffer, size);
        m_position += int64_t(count);
        return count;
    }
    size_t write(const void *buffer, size_t size) override
    {
        const size_t count = m_inner->write(buffer, size);
        m_position += int64_t(count);
        return count;
    }
    int64_t size() override { return m_inner->size(); }
    bool flush() override { return m_inner->flush(); }
    bool commit() override { return !m_failCommit && m_inner->commit(); }
    bool dropCache(int64_t position, int64_t size) override { return m_inner->dropCache(position, size); }
    bool close() override { return m_inner->close(); }

private:
    std::unique_ptr<carddata::Stream> m_inner;
    std::string m_path;
    AudioGate *m_gate;
    bool m_failCommit;
    int64_t m_position = 0;
};

// Makes a file immutable, so that not even root can open it for writing, until destroyed.
class Immutable
{
public:
    explicit Immutable(const QString &path) : m_path(path)
    {
        m_set = QProcess::execute("chattr", {"+i", m_path}) == 0;
    }
    ~Immutable()
    {
        if (m_set)
            QProcess::execute("chattr", {"-i", m_path});
    }
    bool isSet() const { return m_set; }

private:
    QString m_path;
    bool m_set = false;
};

} // namespace

class TestSongTransferWorker : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void archiveCard_data();
    void archiveCard();
    void restoreCard();
    void archiveSong_data();
    void archiveSong();
    void restoreSong();

    void failedRequestLeavesNoFile_data();
    void failedRequestLeavesNoFile();
    void existingFileIsNotReplaced_data();
    void existingFileIsNotReplaced();
    void failedCommitLeavesNoFile();
    void cancelBetweenReports_data();
    void cancelBetweenReports();
    void longSongProgress_data();
    void longSongProgress();
    void requestsRunOneAfterAnother();
    void requestsThatDoNothing_data();
    void requestsThatDoNothing();
    void writeProtectedCard_data();
    void writeProtectedCard();
    void destroyingTheThreadStopsTheRequest();

private:
    struct Report
    {
        QString kind;
        Request *request;
        int song;
        float fraction;
    };

    Card makeCard(const QString &folder, quint32 variant);
    // A card archive holding the card's songs, built byte by byte.
    ArchiveBuilder cardArchive(const Card &card) const;
    QString libraryPath(const QString &fileName) const { return QDir(m_library).filePath(fileName); }
    QStringList libraryFiles() const;
    // The temporary files of a new library file: "<name>.<8 characters>.partial".
    QStringList partialFiles(const QString &target) const;

    std::shared_ptr<Request> submit(const Endpoint &source, const Endpoint &destination);
    // Every stream of the library passes m_gate; archives written as ".partial" fail to commit
    // when asked.
    void installStreams(bool failPartialCommit = false);
    // Stops the worker after the first progress report of a request from this source.
    void holdAfterFirstReport(const Endpoint &source);
    void waitForOutcomes(int count);
    // The kinds of the reports, with the number of their request (1, 2, ...) when asked.
    QStringList kinds(bool numbered = false) const;
    QVector<Report> progressReports() const;
    void compareProgress(const QVector<int> &sampleSongs, bool wholeCard) const;

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_library;
    std::unique_ptr<SongTransferWorkerThread> m_thread;
    std::unique_ptr<SongTransfer> m_transfer;
    std::unique_ptr<LogCapture> m_log;
    QVector<std::shared_ptr<Request>> m_requests;
    QVector<Report> m_reports;
    std::function<void(const Report &)> m_onProgress;
    std::unique_ptr<AudioGate> m_gate;
};

void TestSongTransferWorker::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_library = m_dir->filePath("library");
    QVERIFY(QDir().mkpath(m_library));
    m_log = std::make_unique<LogCapture>();
    m_thread = std::make_unique<SongTransferWorkerThread>();
    m_thread->start();
    m_transfer = std::make_unique<SongTransfer>(m_thread->worker());
    m_reports.clear();
    m_requests.clear();
    m_onProgress = nullptr;

    auto record = [this](const QString &kind, Request *request, int song = 0, float fraction = 0) {
        m_reports.append({kind, request, song, fraction});
    };
    connect(m_transfer.get(), &SongTransfer::started, this, [=](Request *r) { record("started", r); });
    connect(m_transfer.get(), &SongTransfer::finished, this, [=](Request *r) { record("finished", r); });
    connect(m_transfer.get(), &SongTransfer::error, this, [=](Request *r) { record("error", r); });
    connect(m_transfer.get(), &SongTransfer::progress, this, [=](int song, float fraction, Request *r) {
        record("progress", r, song, fraction);
        if (m_onProgress)
            m_onProgress(m_reports.last());
    });
}

void TestSongTransferWorker::cleanup()
{
    // A failed test may have left the worker waiting at the gate.
    if (m_gate)
        m_gate->open();
    // The thread goes first: no report may be posted to a transfer object that is gone.
    m_thread.reset();
    m_transfer.reset();
    m_log.reset();
    m_onProgress = nullptr;
    carddata::setStreamOpener(nullptr);
    m_gate.reset();
    m_dir.reset();
}

void TestSongTransferWorker::installStreams(bool failPartialCommit)
{
    m_gate = std::make_unique<AudioGate>();
    AudioGate *gate = m_gate.get();
    carddata::setStreamOpener([gate, failPartialCommit](const std::string &path, carddata::OpenMode mode) {
        std::unique_ptr<carddata::Stream> stream = carddata::openFileStream(path, mode);
        if (!stream)
            return stream;
        const bool failCommit = failPartialCommit && QString::fromStdString(path).endsWith(".partial");
        return std::unique_ptr<carddata::Stream>(
            std::make_unique<TestStream>(std::move(stream), path, gate, failCommit));
    });
}

void TestSongTransferWorker::holdAfterFirstReport(const Endpoint &source)
{
    installStreams();
    // Every source here starts with a sample song: on the card song 0 or 2, in a file song 0.
    // The card holds records before its audio; an archive holds later songs' records after.
    if (source.kind == Endpoint::Card)
        m_gate->arm(source.path, CardImage::audioPosition(0, 0), CardImage::kFileSize, 10);
    else
        m_gate->arm(source.path, kFirstSongOffset + kSongBlockFixedSize,
                    kFirstSongOffset + kSongBlockFixedSize + kSampleSongBytes, 10);
}

Card TestSongTransferWorker::makeCard(const QString &folder, quint32 variant)
{
    const QString path = m_dir->filePath(folder);
    QDir().mkpath(path);
    Card card{std::make_unique<CardImage>(path), {}};
    card.image->create("Card " + QByteArray::number(variant),
                       "Card for transfers, variant " + QByteArray::number(variant), variant);
    for (int song = 0; song < 12; ++song) {
        card.songs.append(cardSong(song, variant));
        card.image->writeSong(song, card.songs.last());
    }
    return card;
}

ArchiveBuilder TestSongTransferWorker::cardArchive(const Card &card) const
{
    ArchiveBuilder archive;
    const QByteArray header = card.image->read(CardImage::headerRange());
    archive.setNameField(header.mid(8, 128));
    archive.setDescriptionField(header.mid(136, 384));
    archive.setUserPrefs(card.image->read(CardImage::userPrefsRange()));
    for (const SongRecords &song : card.songs)
        archive.addSong(song);
    return archive;
}

QStringList TestSongTransferWorker::libraryFiles() const
{
    return QDir(m_library).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

QStringList TestSongTransferWorker::partialFiles(const QString &target) const
{
    return QDir(m_library).entryList({QFileInfo(target).fileName() + ".????????.partial"}, QDir::Files);
}

std::shared_ptr<Request> TestSongTransferWorker::submit(const Endpoint &source, const Endpoint &destination)
{
    auto request = std::make_shared<Request>();
    request->source = source;
    request->destination = destination;
    m_requests.append(request);
    m_transfer->submit(request);
    return request;
}

void TestSongTransferWorker::waitForOutcomes(int count)
{
    auto outcomes = [this] {
        return std::count_if(m_reports.begin(), m_reports.end(),
                             [](const Report &r) { return r.kind == "finished" || r.kind == "error"; });
    };
    QTRY_VERIFY_WITH_TIMEOUT(outcomes() >= count, kWaitMs);
    QCoreApplication::sendPostedEvents();
    QCOMPARE(int(outcomes()), count);
}

QStringList TestSongTransferWorker::kinds(bool numbered) const
{
    QStringList result;
    for (const Report &report : m_reports) {
        int number = 0;
        while (number < m_requests.size() && m_requests[number].get() != report.request)
            ++number;
        result << (numbered ? report.kind + "#" + QString::number(number + 1) : report.kind);
    }
    return result;
}

QVector<TestSongTransferWorker::Report> TestSongTransferWorker::progressReports() const
{
    QVector<Report> result;
    for (const Report &report : m_reports) {
        if (report.kind == "progress")
            result << report;
    }
    return result;
}

// Every sample song reports at its first 10 KiB and at its end; empty songs report nothing.
void TestSongTransferWorker::compareProgress(const QVector<int> &sampleSongs, bool wholeCard) const
{
    const QVector<Report> reports = progressReports();
    QCOMPARE(reports.size(), sampleSongs.size() * kReportsPerSampleSong);
    int index = 0;
    for (int song : sampleSongs) {
        for (int step = 1; step <= kReportsPerSampleSong; ++step, ++index) {
            const double part = double(kSampleSongReportedChunks[step - 1] * kChunkSize) / kSampleSongBytes;
            const double expected = wholeCard ? (song + part) / 12.0 : part;
            QCOMPARE(reports[index].song, wholeCard ? song : 0);
            QVERIFY2(std::abs(reports[index].fraction - expected) < 1e-6,
                     qPrintable(QStringLiteral("report %1: %2, expected %3")
                                    .arg(index)
                                    .arg(reports[index].fraction)
                                    .arg(expected)));
        }
    }
}

void TestSongTransferWorker::archiveCard_data()
{
    QTest::addColumn<QString>("name");
    // clang-format off
    QTest::newRow("keeps the card's name") << QString();
    QTest::newRow("renamed")               << QStringLiteral("Gig Night Card");
    // clang-format on
}

void TestSongTransferWorker::archiveCard()
{
    QFETCH(QString, name);
    const Card card = makeCard("card", 1);
    const FileSnapshot before(card.path());
    const QString target = libraryPath("Card 1.mlad");
    std::optional<bool> finalExisted, partialExisted;
    m_onProgress = [&](const Report &) {
        if (!finalExisted) {
            finalExisted = QFile::exists(target);
            partialExisted = !partialFiles(target).isEmpty();
            m_gate->open();
        }
    };

    const Endpoint source = endpoint(Endpoint::Card, card.path(), -1);
    holdAfterFirstReport(source);
    submit(source, endpoint(Endpoint::ArchiveFile, target, -1, name));
    waitForOutcomes(1);

    QCOMPARE(kinds().first(), QString("started"));
    QCOMPARE(kinds().last(), QString("finished"));
    compareProgress({0, 2, 4, 6, 8, 10}, true);
    QCOMPARE(finalExisted, std::optional<bool>(false));
    QCOMPARE(partialExisted, std::optional<bool>(true));
    QCOMPARE(libraryFiles(), QStringList{"Card 1.mlad"});
    QVERIFY2(before.changes().isEmpty(), "archiving reads the card only");

    QByteArray expected = cardArchive(card).bytes();
    QByteArray written = fileBytes(target);
    QCOMPARE(written.size(), expected.size());
    if (!name.isEmpty()) {
        QCOMPARE(text(written, 8, 128), name.toUtf8());
        written.replace(8, 128, QByteArray(128, '\0'));
        expected.replace(8, 128, QByteArray(128, '\0'));
    }
    QVERIFY2(written == expected, "the archive holds the card's header fields, prefs and songs as they are");
    QCOMPARE(m_log->lines(QtCriticalMsg), QStringList());
    QVERIFY(m_log->lines(QtDebugMsg).contains("Transfer: Archiving card to: \"" + target + "\""));
    QCOMPARE(m_log->lines(QtDebugMsg).contains("Transfer: renaming archived card: \"" + name + "\""),
             !name.isEmpty());
}

void TestSongTransferWorker::restoreCard()
{
    const Card source = makeCard("source", 1);
    const ArchiveBuilder archive = cardArchive(source);
    const QString archivePath = libraryPath("Source.mlad");
    archive.write(archivePath);
    const Card card = makeCard("card", 2);
    const FileSnapshot before(card.path());
    QByteArray header = card.image->read(CardImage::headerRange());

    submit(endpoint(Endpoint::ArchiveFile, archivePath, -1), endpoint(Endpoint::Card, card.path(), -1));
    waitForOutcomes(1);

    QCOMPARE(kinds().first(), QString("started"));
    QCOMPARE(kinds().last(), QString("finished"));
    compareProgress({0, 2, 4, 6, 8, 10}, true);

    header.replace(8, 512, source.image->read(CardImage::headerPosition() + 8, 512));
    QCOMPARE(card.image->read(CardImage::headerRange()), header);
    QCOMPARE(card.image->read(CardImage::userPrefsRange()), source.image->read(CardImage::userPrefsRange()));
    QVector<ByteRange> allowed{CardImage::headerRange(), CardImage::userPrefsRange()};
    for (int song = 0; song < 12; ++song) {
        const SongRecords &records = source.songs[song];
        QCOMPARE(card.image->read(CardImage::songDataRange(song)), records.song);
        for (int part = 0; part < 5; ++part) {
            QCOMPARE(card.image->read(CardImage::partDataRange(song, part)), records.parts[part]);
            QCOMPARE(card.image->read(CardImage::looperRange(song, part)), records.loopers[part]);
            const ByteRange audio = CardImage::audioRange(song, part, records.copiedChunks(part));
            QVERIFY(card.image->read(audio) == source.image->read(audio));
        }
        allowed << CardImage::restoreRanges(song, records);
    }
    QCOMPARE(describe(before.changesOutside(allowed)), describe({}));
    QCOMPARE(fileBytes(archivePath), archive.bytes());
}

void TestSongTransferWorker::archiveSong_data()
{
    QTest::addColumn<QString>("name");
    // clang-format off
    QTest::newRow("keeps the song's name") << QString();
    QTest::newRow("renamed")               << QStringLiteral("Slow Blues in A");
    // clang-format on
}

void TestSongTransferWorker::archiveSong()
{
    QFETCH(QString, name);
    const Card card = makeCard("card", 1);
    const FileSnapshot before(card.path());
    const QString target = libraryPath("Song 2.mlsd");
    std::optional<bool> finalExisted, partialExisted;
    m_onProgress = [&](const Report &) {
        if (!finalExisted) {
            finalExisted = QFile::exists(target);
            partialExisted = !partialFiles(target).isEmpty();
            m_gate->open();
        }
    };

    const Endpoint source = endpoint(Endpoint::Card, card.path(), 2);
    holdAfterFirstReport(source);
    submit(source, endpoint(Endpoint::ArchiveFile, target, -1, name));
    waitForOutcomes(1);

    QCOMPARE(kinds().first(), QString("started"));
    QCOMPARE(kinds().last(), QString("finished"));
    compareProgress({2}, false);
    QCOMPARE(finalExisted, std::optional<bool>(false));
    QCOMPARE(partialExisted, std::optional<bool>(true));
    QCOMPARE(libraryFiles(), QStringList{"Song 2.mlsd"});
    QVERIFY(before.changes().isEmpty());

    ArchiveBuilder songFile;
    songFile.addSong(card.songs[2]);
    QByteArray expected = songFile.bytes();
    QByteArray written = fileBytes(target);
    QCOMPARE(written.size(), expected.size());
    if (!name.isEmpty()) {
        QCOMPARE(text(written, int(kSongNameInFile), 128), name.toUtf8());
        written.replace(int(kSongNameInFile), 128, QByteArray(128, '\0'));
        expected.replace(int(kSongNameInFile), 128, QByteArray(128, '\0'));
    }
    QVERIFY2(written == expected, "the song file holds the card song's records and audio");
    QVERIFY(m_log->lines(QtDebugMsg).contains("Transfer: Archiving song to: \"" + target + "\""));
    QCOMPARE(m_log->lines(QtDebugMsg).contains("Transfer: Renaming song: \"" + name + "\""), !name.isEmpty());
}

void TestSongTransferWorker::restoreSong()
{
    const Card source = makeCard("source", 1);
    ArchiveBuilder songFile;
    songFile.addSong(source.songs[4]);
    const QString songPath = libraryPath("Song 4.mlsd");
    songFile.write(songPath);
    const Card card = makeCard("card", 2);
    const FileSnapshot before(card.path());

    submit(endpoint(Endpoint::ArchiveFile, songPath, 0), endpoint(Endpoint::Card, card.path(), 7));
    waitForOutcomes(1);

    QCOMPARE(kinds().first(), QString("started"));
    QCOMPARE(kinds().last(), QString("finished"));
    compareProgress({4}, false);
    const SongRecords &records = source.songs[4];
    QCOMPARE(card.image->read(CardImage::songDataRange(7)), records.song);
    for (int part = 0; part < 5; ++part) {
        QCOMPARE(card.image->read(CardImage::partDataRange(7, part)), records.parts[part]);
        QCOMPARE(card.image->read(CardImage::looperRange(7, part)), records.loopers[part]);
        QVERIFY(card.image->read(CardImage::audioRange(7, part, records.copiedChunks(part))) ==
                source.image->read(CardImage::audioRange(4, part, records.copiedChunks(part))));
    }
    QVector<ByteRange> allowed = CardImage::restoreRanges(7, records);
    allowed << CardImage::headerRange();
    QCOMPARE(describe(before.changesOutside(allowed)), describe({}));
    QCOMPARE(fileBytes(songPath), songFile.bytes());
}

void TestSongTransferWorker::failedRequestLeavesNoFile_data()
{
    QTest::addColumn<bool>("cardExists");
    QTest::addColumn<int>("song");
    QTest::addColumn<QString>("logged");

    const QString error = "Transfer: Archive error: ";
    // clang-format off
    QTest::newRow("card archive, no card") << false << -1 << error + "Can not archive card: card not open.";
    QTest::newRow("song file, no card")    << false << 2  << error + "Card is not open.";
    QTest::newRow("song file, song 12")    << true  << 12 << error + "Failed to archive song: Card song number out of range.";
    // clang-format on
}

void TestSongTransferWorker::failedRequestLeavesNoFile()
{
    QFETCH(bool, cardExists);
    QFETCH(int, song);
    QFETCH(QString, logged);

    const Card card = makeCard("card", 1);
    const QString cardPath = cardExists ? card.path() : m_dir->filePath("missing/ZOVAZODE.DAT");
    submit(endpoint(Endpoint::Card, cardPath, song),
           endpoint(Endpoint::ArchiveFile, libraryPath("New.mlsd"), -1));
    waitForOutcomes(1);

    QCOMPARE(kinds(), QStringList({"started", "error"}));
    QVERIFY2(m_log->lines(QtCriticalMsg).contains(logged),
             qPrintable(m_log->lines(QtCriticalMsg).join('\n')));
    QCOMPARE(libraryFiles(), QStringList());
}

void TestSongTransferWorker::existingFileIsNotReplaced_data()
{
    QTest::addColumn<int>("song");
    QTest::addColumn<int>("reports");
    // clang-format off
    QTest::newRow("card archive") << -1 << 6 * kReportsPerSampleSong;
    QTest::newRow("song file")    << 0  << kReportsPerSampleSong;
    // clang-format on
}

void TestSongTransferWorker::existingFileIsNotReplaced()
{
    QFETCH(int, song);
    QFETCH(int, reports);

    const Card card = makeCard("card", 1);
    const QString target = libraryPath("Taken.mlad");
    {
        QFile file(target);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("the user's own file");
    }
    submit(endpoint(Endpoint::Card, card.path(), song), endpoint(Endpoint::ArchiveFile, target, -1));
    waitForOutcomes(1);

    QCOMPARE(kinds().last(), QString("error"));
    QCOMPARE(progressReports().size(), reports);
    QCOMPARE(fileBytes(target), QByteArray("the user's own file"));
    QCOMPARE(libraryFiles(), QStringList{"Taken.mlad"});
    QCOMPARE(m_log->lines(QtCriticalMsg),
             QStringList{"Transfer: Error: Will not replace the existing file " + target + "."});
}

void TestSongTransferWorker::failedCommitLeavesNoFile()
{
    const Card card = makeCard("card", 1);
    installStreams(true);
    m_gate->open();
    submit(endpoint(Endpoint::Card, card.path(), 0),
           endpoint(Endpoint::ArchiveFile, libraryPath("New.mlsd"), -1));
    waitForOutcomes(1);

    QCOMPARE(kinds().last(), QString("error"));
    QCOMPARE(libraryFiles(), QStringList());
    QCOMPARE(m_log->lines(QtCriticalMsg),
             QStringList{"Transfer: Archive error: Could not close archive file: mlsdCloseArchive: Error "
                         "committing archive file."});
}

void TestSongTransferWorker::cancelBetweenReports_data()
{
    QTest::addColumn<int>("sourceKind");
    QTest::addColumn<int>("sourceSong");
    QTest::addColumn<int>("destinationSong");
    QTest::addColumn<QString>("logged");

    const int card = Endpoint::Card, file = Endpoint::ArchiveFile;
    const QString error = "Transfer: Archive error: ";
    // clang-format off
    QTest::newRow("archive card") << card << -1 << -1 << error + "Failed to archive card: mlsdArchiveSong: Aborted by user.";
    QTest::newRow("restore card") << file << -1 << -1 << error + "Failed to restore card: mlsdRestoreSong: Aborted by user.";
    QTest::newRow("song to file") << card << 2  << -1 << error + "Failed to archive song: mlsdArchiveSong: Aborted by user.";
    QTest::newRow("song to card") << file << 0  << 5  << error + "Failed to restore song: mlsdRestoreSong: Aborted by user.";
    // clang-format on
}

void TestSongTransferWorker::cancelBetweenReports()
{
    QFETCH(int, sourceKind);
    QFETCH(int, sourceSong);
    QFETCH(int, destinationSong);
    QFETCH(QString, logged);

    const Card card = makeCard("card", 1);
    const QString archivePath = m_dir->filePath("source.mlad");
    ArchiveBuilder archive = cardArchive(card);
    archive.write(archivePath);
    const QString target = libraryPath("Target.mlsd");
    m_onProgress = [this](const Report &report) {
        report.request->cancelled = true;
        m_gate->open();
    };

    const bool fromCard = sourceKind == Endpoint::Card;
    const Endpoint source = endpoint(sourceKind, fromCard ? card.path() : archivePath, sourceSong);
    holdAfterFirstReport(source);
    const std::shared_ptr<Request> request =
        submit(source, fromCard ? endpoint(Endpoint::ArchiveFile, target, -1)
                                : endpoint(Endpoint::Card, card.path(), destinationSong));
    waitForOutcomes(1);

    QCOMPARE(kinds(), QStringList({"started", "progress", "error"}));
    QVERIFY(request->cancelled);
    QCOMPARE(m_log->lines(QtCriticalMsg), QStringList{logged});
    QCOMPARE(libraryFiles(), QStringList());
}

void TestSongTransferWorker::longSongProgress_data()
{
    QTest::addColumn<int>("cancelAt"); // the chunk read at which the user cancels, or -1
    // clang-format off
    QTest::newRow("to the end")       << -1;
    QTest::newRow("cancelled midway") << 3072;
    // clang-format on
}

// 20,000 chunks: the library calls back 2,000 times; about one report per MiB reaches the user
// interface, the last at the end, and a cancel is still seen at the next call back.
void TestSongTransferWorker::longSongProgress()
{
    QFETCH(int, cancelAt);
    constexpr int kChunks = 20000;
    QDir().mkpath(m_dir->filePath("long"));
    CardImage image(m_dir->filePath("long"));
    image.create();
    image.writePartData(0, 0, partData(PartFields()));
    image.writeLooper(0, 0, looperRecord(recording(kChunks, 3)));
    installStreams();
    const qint64 audio = CardImage::audioPosition(0, 0);
    m_gate->arm(image.path(), audio, audio + qint64(kChunks) * kChunkSize, 0);
    m_gate->open();
    std::atomic<int> readsAfterCancel{-1};
    std::shared_ptr<Request> request;
    m_gate->onRead = [&](int64_t position) {
        if (readsAfterCancel >= 0)
            ++readsAfterCancel;
        else if (cancelAt >= 0 && position == audio + qint64(cancelAt) * kChunkSize) {
            request->cancelled = true;
            readsAfterCancel = 0;
        }
    };
    request = std::make_shared<Request>();
    request->source = endpoint(Endpoint::Card, image.path(), 0);
    request->destination = endpoint(Endpoint::ArchiveFile, libraryPath("Long.mlsd"), -1);
    m_requests.append(request);
    m_transfer->submit(request);
    waitForOutcomes(1);

    const QVector<Report> reports = progressReports();
    if (cancelAt >= 0) {
        QCOMPARE(kinds().last(), QString("error"));
        QVERIFY2(readsAfterCancel.load() <= 10, qPrintable(QString::number(readsAfterCancel.load())));
        return;
    }
    QCOMPARE(kinds().last(), QString("finished"));
    QVERIFY2(reports.size() >= 2 && reports.size() <= 2 + kChunks / 1024,
             qPrintable(QString::number(reports.size())));
    QCOMPARE(reports.first().fraction, 10.0f / kChunks);
    QCOMPARE(reports.last().fraction, 1.0f);
    for (int i = 1; i < reports.size(); ++i)
        QVERIFY(reports[i].fraction > reports[i - 1].fraction);
}

void TestSongTransferWorker::requestsRunOneAfterAnother()
{
    const Card card = makeCard("card", 1);
    submit(endpoint(Endpoint::Card, card.path(), 0),
           endpoint(Endpoint::ArchiveFile, libraryPath("A.mlsd"), -1));
    submit(endpoint(Endpoint::Card, card.path(), 2),
           endpoint(Endpoint::ArchiveFile, libraryPath("B.mlsd"), -1));
    waitForOutcomes(2);

    QStringList expected{"started#1"};
    for (int i = 0; i < kReportsPerSampleSong; ++i)
        expected << "progress#1";
    expected << "finished#1"
             << "started#2";
    for (int i = 0; i < kReportsPerSampleSong; ++i)
        expected << "progress#2";
    expected << "finished#2";
    QCOMPARE(kinds(true), expected);
    QCOMPARE(libraryFiles(), QStringList({"A.mlsd", "B.mlsd"}));
}

void TestSongTransferWorker::requestsThatDoNothing_data()
{
    QTest::addColumn<int>("sourceKind");
    QTest::addColumn<int>("sourceSong");
    QTest::addColumn<int>("destinationKind");
    QTest::addColumn<int>("destinationSong");
    QTest::addColumn<QString>("outcome");
    QTest::addColumn<QStringList>("logged");

    const int card = Endpoint::Card, file = Endpoint::ArchiveFile;
    const QStringList none;
    const QStringList unknown{"Transfer: Unknown request."};
    const QStringList notLast{"Transfer: Can not add song to archive in position other than the last."};
    // clang-format off
    QTest::newRow("song, card to card")       << card << 2  << card << 3  << "error"    << unknown;
    QTest::newRow("song, file to file")       << file << 0  << file << -1 << "error"    << unknown;
    QTest::newRow("whole card, card to card") << card << -1 << card << -1 << "finished" << none;
    QTest::newRow("whole card, file to file") << file << -1 << file << -1 << "finished" << none;
    QTest::newRow("song to file position 0")  << card << 2  << file << 0  << "error"    << notLast;
    // clang-format on
}

void TestSongTransferWorker::requestsThatDoNothing()
{
    QFETCH(int, sourceKind);
    QFETCH(int, sourceSong);
    QFETCH(int, destinationKind);
    QFETCH(int, destinationSong);
    QFETCH(QString, outcome);
    QFETCH(QStringList, logged);

    const Card card = makeCard("card", 1);
    const FileSnapshot before(card.path());
    const QString archivePath = libraryPath("Existing.mlad");
    const ArchiveBuilder archive = cardArchive(card);
    archive.write(archivePath);
    const QString target = libraryPath("New.mlsd");
    auto pathOf = [&](int kind, bool source) {
        return kind == Endpoint::Card ? card.path() : source ? archivePath : target;
    };

    submit(endpoint(sourceKind, pathOf(sourceKind, true), sourceSong),
           endpoint(destinationKind, pathOf(destinationKind, false), destinationSong));
    waitForOutcomes(1);

    QCOMPARE(kinds(), QStringList({"started", outcome}));
    QCOMPARE(m_log->lines(QtCriticalMsg), logged);
    QCOMPARE(m_log->lines(QtDebugMsg).contains("Transfer: Done handling request."), outcome == "finished");
    QCOMPARE(describe(before.changes()), describe({}));
    QCOMPARE(libraryFiles(), QStringList{"Existing.mlad"});
    QVERIFY(fileBytes(archivePath) == archive.bytes());
}

void TestSongTransferWorker::writeProtectedCard_data()
{
    QTest::addColumn<int>("sourceSong");
    QTest::addColumn<int>("destinationSong");
    QTest::addColumn<QString>("logged");

    const QString error = "Transfer: Archive error: ";
    // clang-format off
    QTest::newRow("restore card") << -1 << -1 << error + "Can not restore card: card not open.";
    QTest::newRow("song to card") << 0  << 3  << error + "Card is not open.";
    // clang-format on
}

void TestSongTransferWorker::writeProtectedCard()
{
    QFETCH(int, sourceSong);
    QFETCH(int, destinationSong);
    QFETCH(QString, logged);

    const Card card = makeCard("card", 1);
    const QString archivePath = libraryPath("Source.mlad");
    cardArchive(makeCard("source", 2)).write(archivePath);
    const FileSnapshot before(card.path());
    const Immutable locked(card.path());
    if (!locked.isSet())
        QSKIP("chattr +i is not available here");

    submit(endpoint(Endpoint::ArchiveFile, archivePath, sourceSong),
           endpoint(Endpoint::Card, card.path(), destinationSong));
    waitForOutcomes(1);

    QCOMPARE(kinds(), QStringList({"started", "error"}));
    QCOMPARE(m_log->lines(QtCriticalMsg).last(), logged);
    QCOMPARE(describe(before.changes()), describe({}));
}

void TestSongTransferWorker::destroyingTheThreadStopsTheRequest()
{
    const Card card = makeCard("card", 1);
    bool destroyed = false;
    m_onProgress = [&](const Report &) {
        if (destroyed)
            return;
        destroyed = true;
        // The worker may go on only once the thread has asked it to stop.
        QThread *thread = m_thread.get();
        std::thread opener([thread, this] {
            while (!thread->isInterruptionRequested())
                std::this_thread::yield();
            m_gate->open();
        });
        m_thread.reset();
        opener.join();
    };
    const Endpoint source = endpoint(Endpoint::Card, card.path(), -1);
    holdAfterFirstReport(source);
    submit(source, endpoint(Endpoint::ArchiveFile, libraryPath("A.mlad"), -1));
    submit(endpoint(Endpoint::Card, card.path(), 0),
           endpoint(Endpoint::ArchiveFile, libraryPath("B.mlsd"), -1));
    waitForOutcomes(1);

    QVERIFY(destroyed);
    QCOMPARE(kinds(true), QStringList({"started#1", "progress#1", "error#1"}));
    QCOMPARE(libraryFiles(), QStringList());
}

QTEST_GUILESS_MAIN(TestSongTransferWorker)
#include "tst_songtransferworker.moc"
