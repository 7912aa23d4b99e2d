// I/O fault injection through the stream layer, for every operation that reads or writes a card
// or a library file: archive the card, restore the card, copy a song to the song library and
// onto a card slot (all four through the transfer worker, as the window runs them), clear a
// song, rename a song and write the card header (through SdCard).
//
// Each operation runs once to count the calls a kind of fault applies to; then for every N it
// runs again with the N-th such call failing, once failing that call only and once failing
// every call from N on. The card is a sparse card in memory that records any write outside the
// records the operation writes; library files are real files in a scratch folder.
//
// Every case must show: no crash; success, or the operation's own error text; no stream left
// open; no card write outside the operation's records; a new library file under its name only
// when the operation succeeded, never a ".partial" left behind, the existing library files
// unchanged; and after a success, exactly the card and files a run without faults gives.
#include "domain/sdcard.h"
#include "domain/songarchive.h"
#include "support/archivebuilder.h"
#include "support/faultstream.h"
#include "support/filebytes.h"
#include "support/memorystream.h"
#include "transfer/songtransfer.h"
#include "transfer/songtransferworker.h"

#include <QDir>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <map>
#include <memory>

using namespace ZovaZode;
namespace TS = ZovaZode::TestSupport;

namespace {

enum class Operation {
    ArchiveCard,
    RestoreCard,
    SongToLibrary,
    SongToCard,
    ClearSong,
    RenameSong,
    WriteHeader
};
const Operation kOperations[] = {Operation::ArchiveCard, Operation::RestoreCard, Operation::SongToLibrary,
                                 Operation::SongToCard,  Operation::ClearSong,   Operation::RenameSong,
                                 Operation::WriteHeader};

const char *operationName(Operation operation)
{
    switch (operation) {
    case Operation::ArchiveCard:
        return "archive card";
    case Operation::RestoreCard:
        return "restore card";
    case Operation::SongToLibrary:
        return "copy song to library";
    case Operation::SongToCard:
        return "copy song onto card";
    case Operation::ClearSong:
        return "clear song";
    case Operation::RenameSong:
        return "rename song";
    case Operation::WriteHeader:
        return "write card header";
    }
    return "?";
}

// The texts an operation may fail with. A prefix ending in ": " must be followed by the card
// data library's own text, "function: message".
QStringList errorPrefixes(Operation operation)
{
    const QString header = QStringLiteral("Could not write card header: ");
    const QString openArchive = QStringLiteral("Could not open archive file: ");
    const QString closeArchive = QStringLiteral("Could not close archive file: ");
    switch (operation) {
    case Operation::ArchiveCard:
        return {QStringLiteral("Failed to archive card: "), openArchive, closeArchive,
                QStringLiteral("Can not archive card: card not open.")};
    case Operation::RestoreCard:
        return {QStringLiteral("Failed to restore card: "), openArchive, closeArchive, header,
                QStringLiteral("Can not restore card: card not open.")};
    case Operation::SongToLibrary:
        return {QStringLiteral("Failed to archive song: "),
                openArchive,
                closeArchive,
                QStringLiteral("Could not get song info: "),
                QStringLiteral("Could not write song info: "),
                QStringLiteral("Card is not open.")};
    case Operation::SongToCard:
        return {QStringLiteral("Failed to restore song: "), openArchive, closeArchive, header,
                QStringLiteral("Card is not open.")};
    case Operation::ClearSong:
        return {QStringLiteral("Could not clear song: "), header, QStringLiteral("No card open.")};
    case Operation::RenameSong:
        return {QStringLiteral("Could not read song info: "), QStringLiteral("Could not write song info: "),
                header, QStringLiteral("No card open.")};
    case Operation::WriteHeader:
        return {header, QStringLiteral("No card open.")};
    }
    return {};
}

bool isOwnError(Operation operation, const QString &error)
{
    static const QRegularExpression libraryText(QStringLiteral("^[A-Za-z]+: \\S"));
    for (const QString &prefix : errorPrefixes(operation)) {
        if (!prefix.endsWith(QLatin1String(": ")) && error == prefix)
            return true;
        if (prefix.endsWith(QLatin1String(": ")) && error.startsWith(prefix) &&
            libraryText.match(error.mid(prefix.size())).hasMatch())
            return true;
    }
    return false;
}

// The transfers and the card log their progress; thousands of runs would bury the test's own
// report under it.
void quiet(QtMsgType, const QMessageLogContext &, const QString &) {}

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

void putRecords(TS::MemoryFile &card, int song, const TS::SongRecords &records)
{
    auto put = [&card](qint64 position, const QByteArray &bytes) {
        card.put(position, bytes.constData(), size_t(bytes.size()));
    };
    put(TS::CardImage::songDataPosition(song), records.song);
    for (int p = 0; p < 5; ++p) {
        put(TS::CardImage::partDataPosition(song, p), records.parts[p]);
        put(TS::CardImage::looperPosition(song, p), records.loopers[p]);
        if (records.audioChunks[p] > 0)
            put(TS::CardImage::audioPosition(song, p),
                TS::audio(records.audioSeeds[p], 0, qint64(records.audioChunks[p]) * TS::kChunkSize));
    }
}

std::vector<TS::WriteRange> songRanges(int song, const TS::SongRecords &records)
{
    std::vector<TS::WriteRange> ranges = TS::cardSongRecordRanges(song);
    for (int p = 0; p < 5; ++p)
        ranges.push_back(TS::cardAudioRange(song, p, records.copiedChunks(p)));
    return ranges;
}

QByteArray fileContent(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

struct Outcome
{
    bool succeeded = false;
    QString error;
    std::vector<uint64_t> cardHashes; // of the ranges the operation may write
    QMap<QString, QByteArray> libraryFiles;
};

class Bench
{
public:
    Bench()
        : m_dir(TS::scratchFolderTemplate()),
          m_library(QDir(m_dir.path()).filePath(QStringLiteral("library"))),
          m_cardPath(QDir(m_dir.path()).filePath(QStringLiteral("card/ZOVAZODE.DAT")))
    {
        QDir().mkpath(m_library);
        QDir().mkpath(QFileInfo(m_cardPath).absolutePath());
        // SdCard looks at the real path (write test, ejection); the bytes come from memory.
        QFile placeholder(m_cardPath);
        if (!placeholder.open(QIODevice::WriteOnly))
            qFatal("cannot make %s", qPrintable(m_cardPath));

        m_template = TS::newMemoryCard();
        putRecords(*m_template, 0, shortSong(0, 1));
        putRecords(*m_template, 1, TS::emptySong(1, 1));
        putRecords(*m_template, 2, shortSong(2, 1));

        TS::ArchiveBuilder cardArchive;
        cardArchive.setNameField(QByteArray("Restored card").leftJustified(128, '\0'));
        cardArchive.setUserPrefs(TS::userPrefs());
        for (int s = 0; s < 3; ++s)
            cardArchive.addSong(m_archiveSongs[size_t(s)] = shortSong(s, 7));
        cardArchive.write(libraryPath(QStringLiteral("Source.mlad")));
        TS::ArchiveBuilder songFile;
        songFile.addSong(m_songFileSong = shortSong(4, 9));
        songFile.write(libraryPath(QStringLiteral("Song.mlsd")));
        m_existing = libraryFiles();
    }

    QString libraryPath(const QString &name) const { return QDir(m_library).filePath(name); }

    // The card's ranges that the operation may write, as they are before it runs.
    std::vector<uint64_t> cardHashesBefore(Operation operation) const
    {
        std::vector<uint64_t> hashes;
        for (const TS::WriteRange &range : allowedRanges(operation))
            hashes.push_back(m_template->hash(range.start, range.size));
        return hashes;
    }

    // What the operation may write on the card.
    std::vector<TS::WriteRange> allowedRanges(Operation operation) const
    {
        std::vector<TS::WriteRange> ranges{TS::cardHeaderRange()};
        switch (operation) {
        case Operation::ArchiveCard:
        case Operation::SongToLibrary:
            return {};
        case Operation::RestoreCard:
            ranges.push_back(TS::cardUserPrefsRange());
            for (int s = 0; s < 3; ++s) {
                const auto song = songRanges(s, m_archiveSongs[size_t(s)]);
                ranges.insert(ranges.end(), song.begin(), song.end());
            }
            break;
        case Operation::SongToCard: {
            const auto song = songRanges(5, m_songFileSong);
            ranges.insert(ranges.end(), song.begin(), song.end());
            break;
        }
        case Operation::ClearSong: {
            const auto song = TS::cardSongRecordRanges(1);
            ranges.insert(ranges.end(), song.begin(), song.end());
            break;
        }
        case Operation::RenameSong:
            ranges.push_back(TS::cardSongRecordRanges(0).front());
            break;
        case Operation::WriteHeader:
            break;
        }
        return ranges;
    }

    // Runs the operation on a fresh copy of the card; `problems` gets every broken promise.
    Outcome run(Operation operation, const TS::FaultInjector &faults, QStringList &problems)
    {
        auto card = std::make_shared<TS::MemoryFile>(*m_template);
        const std::vector<TS::WriteRange> allowed = allowedRanges(operation);
        card->restrictWrites(allowed, false);
        TS::MemoryFileSystem files;
        files.setPassThrough(true);
        files.add(QFile::encodeName(m_cardPath).toStdString(), card);
        carddata::setStreamOpener(faults.wrap(files.opener()));
        const int descriptors = TS::openFileDescriptorCount();

        Outcome outcome;
        const QtMessageHandler previous = qInstallMessageHandler(quiet);
        outcome.error = execute(operation);
        qInstallMessageHandler(previous);
        carddata::setStreamOpener({});
        outcome.succeeded = outcome.error.isEmpty();

        if (!outcome.succeeded && !isOwnError(operation, outcome.error))
            problems << QStringLiteral("failed with a text not its own: \"%1\"").arg(outcome.error);
        if (faults.liveStreams() != 0)
            problems << QStringLiteral("%1 streams left open").arg(faults.liveStreams());
        if (TS::openFileDescriptorCount() != descriptors)
            problems << QStringLiteral("file descriptors: %1 before, %2 after")
                            .arg(descriptors)
                            .arg(TS::openFileDescriptorCount());
        if (!card->violations().empty())
            problems << QStringLiteral("wrote %1 bytes at %2, outside the operation's records")
                            .arg(card->violations().front().size)
                            .arg(card->violations().front().start);
        for (const TS::WriteRange &range : allowed)
            outcome.cardHashes.push_back(card->hash(range.start, range.size));

        outcome.libraryFiles = libraryFiles();
        for (auto it = outcome.libraryFiles.cbegin(); it != outcome.libraryFiles.cend(); ++it) {
            if (m_existing.contains(it.key())) {
                if (m_existing.value(it.key()) != it.value())
                    problems << QStringLiteral("the library file %1 changed").arg(it.key());
            } else if (it.key().endsWith(QLatin1String(".partial"))) {
                problems << QStringLiteral("%1 was left behind").arg(it.key());
            } else if (!outcome.succeeded) {
                problems << QStringLiteral("%1 exists although the operation failed").arg(it.key());
            }
        }
        for (const QString &name : outcome.libraryFiles.keys())
            if (!m_existing.contains(name))
                QFile::remove(libraryPath(name));
        return outcome;
    }

private:
    QMap<QString, QByteArray> libraryFiles() const
    {
        QMap<QString, QByteArray> files;
        for (const QString &name : QDir(m_library).entryList(QDir::Files | QDir::Hidden))
            files.insert(name, fileContent(libraryPath(name)));
        return files;
    }

    QString transfer(qint32 fromKind, const QString &fromPath, qint32 fromSong, qint32 toKind,
                     const QString &toPath, qint32 toSong, const QString &name = QString())
    {
        auto request = std::make_shared<SongTransfer::Request>();
        request->source.kind = fromKind;
        request->source.path = fromPath;
        request->source.song = fromSong;
        request->destination.kind = toKind;
        request->destination.path = toPath;
        request->destination.song = toSong;
        request->destination.name = name;
        SongTransferWorker worker;
        SongTransferWorker::RequestEvent event(request, nullptr);
        worker.event(&event);
        return request->errorText;
    }

    QString execute(Operation operation)
    {
        using Endpoint = SongTransfer::Endpoint;
        try {
            switch (operation) {
            case Operation::ArchiveCard:
                return transfer(Endpoint::Card, m_cardPath, Endpoint::WholeCard, Endpoint::ArchiveFile,
                                libraryPath(QStringLiteral("New.mlad")), Endpoint::WholeCard);
            case Operation::RestoreCard:
                return transfer(Endpoint::ArchiveFile, libraryPath(QStringLiteral("Source.mlad")),
                                Endpoint::WholeCard, Endpoint::Card, m_cardPath, Endpoint::WholeCard);
            case Operation::SongToLibrary:
                return transfer(Endpoint::Card, m_cardPath, 0, Endpoint::ArchiveFile,
                                libraryPath(QStringLiteral("New.mlsd")), Endpoint::WholeCard,
                                QStringLiteral("Copied"));
            case Operation::SongToCard:
                return transfer(Endpoint::ArchiveFile, libraryPath(QStringLiteral("Song.mlsd")), 0,
                                Endpoint::Card, m_cardPath, 5);
            case Operation::ClearSong: {
                SdCard card;
                card.open(m_cardPath, 1);
                card.clearSong(1, QStringLiteral("Cleared"));
                card.close();
                return QString();
            }
            case Operation::RenameSong: {
                SdCard card;
                card.open(m_cardPath, 1);
                SongInfo info = card.songInfo(0);
                info.name = QStringLiteral("Renamed");
                card.setSongInfo(0, info);
                card.close();
                return QString();
            }
            case Operation::WriteHeader: {
                SdCard card;
                card.open(m_cardPath, 1);
                card.setName(QStringLiteral("New card name"));
                card.writeHeader();
                card.close();
                return QString();
            }
            }
        } catch (const SdCard::Error &error) {
            return QString::fromUtf8(error.what());
        }
        return QStringLiteral("unknown operation");
    }

    QTemporaryDir m_dir;
    QString m_library;
    QString m_cardPath;
    std::shared_ptr<TS::MemoryFile> m_template;
    std::array<TS::SongRecords, 3> m_archiveSongs;
    TS::SongRecords m_songFileSong;
    QMap<QString, QByteArray> m_existing;
};

} // namespace

class TestFaultInjection : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void withoutFaults_data();
    void withoutFaults();
    void everyCall_data();
    void everyCall();

private:
    std::unique_ptr<Bench> m_bench;
    std::map<Operation, Outcome> m_reference;
    std::map<Operation, QStringList> m_referenceProblems;
    qint64 m_cases = 0;
    qint64 m_injected = 0;
};

void TestFaultInjection::initTestCase()
{
    m_bench = std::make_unique<Bench>();
    for (Operation op : kOperations) {
        TS::FaultInjector faults;
        m_reference[op] = m_bench->run(op, faults, m_referenceProblems[op]);
    }
}

void TestFaultInjection::cleanupTestCase()
{
    qInfo("fault-injection cases run: %lld, faults injected: %lld", m_cases, m_injected);
}

void TestFaultInjection::withoutFaults_data()
{
    QTest::addColumn<int>("operation");
    QTest::addColumn<int>("writes"); // 1 when the operation writes the card

    // clang-format off
    //                                          operation                        writes
    QTest::newRow("archive card")            << int(Operation::ArchiveCard)   << 0;
    QTest::newRow("restore card")            << int(Operation::RestoreCard)   << 1;
    QTest::newRow("copy song to library")    << int(Operation::SongToLibrary) << 0;
    QTest::newRow("copy song onto card")     << int(Operation::SongToCard)    << 1;
    QTest::newRow("clear song")              << int(Operation::ClearSong)     << 1;
    QTest::newRow("rename song")             << int(Operation::RenameSong)    << 1;
    QTest::newRow("write card header")       << int(Operation::WriteHeader)   << 1;
    // clang-format on
}

// The reference each faulty run that succeeds is compared with; it must itself be a success
// that did what the operation is for.
void TestFaultInjection::withoutFaults()
{
    QFETCH(int, operation);
    QFETCH(int, writes);
    const auto op = Operation(operation);
    const QStringList &problems = m_referenceProblems[op];
    const Outcome &outcome = m_reference[op];
    QVERIFY2(problems.isEmpty(), qPrintable(problems.join(QLatin1Char('\n'))));
    QVERIFY2(outcome.succeeded, qPrintable(outcome.error));
    QCOMPARE(outcome.cardHashes != m_bench->cardHashesBefore(op), writes == 1);
    const bool makesFile = op == Operation::ArchiveCard || op == Operation::SongToLibrary;
    QCOMPARE(outcome.libraryFiles.size(), makesFile ? 3 : 2);
}

void TestFaultInjection::everyCall_data()
{
    QTest::addColumn<int>("operation");
    QTest::addColumn<int>("kind");

    const TS::FaultKind kinds[] = {TS::FaultKind::NoSpace,   TS::FaultKind::IoError,
                                   TS::FaultKind::ReadOnly,  TS::FaultKind::DeviceGone,
                                   TS::FaultKind::ShortRead, TS::FaultKind::ShortWrite};
    for (Operation operation : kOperations)
        for (TS::FaultKind kind : kinds)
            QTest::addRow("%s, %s", operationName(operation), TS::faultKindName(kind))
                << int(operation) << int(kind);
}

void TestFaultInjection::everyCall()
{
    QFETCH(int, operation);
    QFETCH(int, kind);
    const auto op = Operation(operation);
    const auto faultKind = TS::FaultKind(kind);
    const Outcome &reference = m_reference[op];
    QVERIFY2(reference.succeeded && m_referenceProblems[op].isEmpty(), "the run without faults failed");

    TS::FaultInjector faults;
    faults.arm(faultKind, TS::FaultMode::Once, 0);
    QStringList problems;
    m_bench->run(op, faults, problems);
    const qint64 calls = faults.applicableCalls();
    QVERIFY(problems.isEmpty());

    QStringList failures;
    int failedRuns = 0;
    for (TS::FaultMode mode : {TS::FaultMode::Once, TS::FaultMode::FromNOn}) {
        for (qint64 n = 1; n <= calls; ++n) {
            faults.arm(faultKind, mode, n);
            problems.clear();
            const Outcome outcome = m_bench->run(op, faults, problems);
            ++m_cases;
            m_injected += faults.injectedFaults();
            if (faults.injectedFaults() == 0)
                problems << QStringLiteral("no fault was injected");
            if (!outcome.succeeded)
                ++failedRuns;
            else if (outcome.cardHashes != reference.cardHashes ||
                     outcome.libraryFiles != reference.libraryFiles)
                problems << QStringLiteral("succeeded with a result that differs from a run without faults");
            for (const QString &problem : problems)
                failures << QStringLiteral("%1, call %2: %3")
                                .arg(QLatin1String(TS::faultModeName(mode)))
                                .arg(n)
                                .arg(problem);
        }
    }
    QVERIFY2(failures.isEmpty(), qPrintable(QStringLiteral("%1 problems; first ones:\n%2")
                                                .arg(failures.size())
                                                .arg(failures.mid(0, 10).join(QLatin1Char('\n')))));
    // A kind that applies to no call of the operation (a short write where nothing is written)
    // has nothing to show; any other must make the operation fail at least once.
    if (calls > 0)
        QVERIFY(failedRuns > 0);
}

QTEST_GUILESS_MAIN(TestFaultInjection)
#include "tst_faultinjection.moc"
