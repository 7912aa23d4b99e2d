// I/O fault injection through the stream layer for every operation that writes a card or a
// library file (the transfers through the worker, as the window runs them; the rest through
// SdCard). Each operation runs once to count the calls a kind of fault applies to, then again for
// every N with the N-th call failing, once that call only and once every call from N on. The card
// is a sparse card in memory that records any write outside the operation's records. Every case
// must show: success or the operation's own error text; no stream or file left open; no stray card
// write; a new library file only after a success, no temporary file left, the other files
// unchanged; and after a success, exactly what a run without faults gives.
#include "../domain/domaintest.h"
#include "domain/sdcard.h"
#include "support/archivebuilder.h"
#include "support/faultstream.h"
#include "support/memorystream.h"
#include "transfer/songtransferworker.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>

using namespace ZovaZode;
namespace TS = ZovaZode::TestSupport;

namespace {

struct Outcome
{
    QString error;                          // empty: succeeded
    std::vector<std::vector<uint8_t>> card; // the ranges the operation may write
    QMap<QString, QByteArray> library;
    bool wroteCard = false;
};

// An operation: its name, the texts it may fail with (a prefix ending in ": " must be followed by
// the card data library's own "function: message"), and the card ranges it may write.
struct Operation
{
    QString name;
    QStringList errors;
    std::vector<TS::WriteRange> writes;
};

class Bench
{
public:
    Bench()
    {
        QDir().mkpath(m_library);
        QDir().mkpath(QFileInfo(m_cardPath).path());
        // SdCard looks at the real path (the write test, the ejection check); the bytes come from memory.
        QFile(m_cardPath).open(QIODevice::WriteOnly);
        m_template = TS::newMemoryCard();
        for (int s = 0; s < 3; ++s)
            TS::CardImage::putSong(s, s == 1 ? TS::emptySong(1, 1) : TS::shortSong(s, 1),
                                   [this](qint64 at, const QByteArray &bytes) {
                                       m_template->put(at, bytes.constData(), size_t(bytes.size()));
                                   });
        TS::ArchiveBuilder cardArchive;
        cardArchive.setNameField(QByteArray("Restored card").leftJustified(128, '\0'));
        cardArchive.setUserPrefs(TS::userPrefs());
        QVector<TS::ByteRange> restored{TS::cardHeaderRange(), TS::cardUserPrefsRange()};
        for (int s = 0; s < 3; ++s) {
            cardArchive.addSong(TS::shortSong(s, 7));
            restored << TS::CardImage::restoreRanges(s, TS::shortSong(s, 7));
        }
        cardArchive.write(libraryPath("Source.mlad"));
        TS::ArchiveBuilder songFile;
        songFile.addSong(TS::shortSong(4, 9));
        songFile.write(libraryPath("Song.mlsd"));
        m_existing = library();

        const auto slotRanges = TS::CardImage::restoreRanges(5, TS::shortSong(4, 9)) << TS::cardHeaderRange();
        const std::vector<TS::WriteRange> intoSlot(slotRanges.begin(), slotRanges.end());
        const QString header = "Could not write card header: ", noCard = "No card open.";
        const QString open = "Could not open archive file: ", close = "Could not close archive file: ";
        // clang-format off
        operations = {
            {"archive card",                 {"Failed to archive card: ", open, close, "Can not archive card: card not open."}, {}},
            {"restore card",         {"Failed to restore card: ", open, close, header, "Can not restore card: card not open."}, std::vector<TS::WriteRange>(restored.begin(), restored.end())},
            {"copy song to library", {"Failed to archive song: ", open, close, "Could not get song info: ", "Could not write song info: ", "Card is not open."}, {}},
            {"copy song onto card",  {"Failed to restore song: ", open, close, header, "Card is not open."}, intoSlot},
            {"clear song",           {"Could not clear song: ", header, noCard}, TS::cardSongRecordRanges(1)},
        };
        // clang-format on
        operations[4].writes.push_back(TS::cardHeaderRange());
    }

    // Runs the operation on a fresh copy of the card; `problems` gets every broken promise.
    Outcome run(const Operation &operation, const TS::FaultInjector &faults, QStringList &problems)
    {
        auto card = std::make_shared<TS::MemoryFile>(*m_template);
        card->restrictWrites(operation.writes, false);
        TS::MemoryFileSystem files;
        files.setPassThrough(true);
        files.add(QFile::encodeName(m_cardPath).toStdString(), card);
        carddata::setStreamOpener(faults.wrap(files.opener()));
        const int descriptors = TS::openFileDescriptorCount();
        // The transfers and the card log their progress; thousands of runs would bury the report.
        const QtMessageHandler previous =
            qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
        Outcome outcome{execute(operation.name), {}, library()};
        qInstallMessageHandler(previous);
        carddata::setStreamOpener({});

        static const QRegularExpression libraryText(QStringLiteral("^[A-Za-z]+: \\S"));
        const auto own = [&](const QString &prefix) {
            return prefix.endsWith(QLatin1String(": "))
                       ? outcome.error.startsWith(prefix) &&
                             libraryText.match(outcome.error.mid(prefix.size())).hasMatch()
                       : outcome.error == prefix;
        };
        if (!outcome.error.isEmpty() && std::none_of(operation.errors.begin(), operation.errors.end(), own))
            problems << "failed with a text not its own: \"" + outcome.error + '"';
        if (faults.liveStreams() != 0 || TS::openFileDescriptorCount() != descriptors)
            problems << QStringLiteral("%1 streams left open, %2 file descriptors more")
                            .arg(faults.liveStreams())
                            .arg(TS::openFileDescriptorCount() - descriptors);
        if (!card->violations().empty())
            problems << QStringLiteral("wrote %1 bytes at %2, outside the operation's records")
                            .arg(card->violations().front().size)
                            .arg(card->violations().front().start);
        for (const TS::WriteRange &range : operation.writes)
            outcome.card.push_back(card->bytes(range.start, range.size));
        outcome.wroteCard = card->writeCount() > 0;
        for (auto it = outcome.library.cbegin(); it != outcome.library.cend(); ++it) {
            if (m_existing.contains(it.key()) ? m_existing[it.key()] != it.value()
                                              : !outcome.error.isEmpty() || it.key().endsWith(".partial"))
                problems << it.key() + " was changed or left behind";
            if (!m_existing.contains(it.key()))
                QFile::remove(libraryPath(it.key()));
        }
        return outcome;
    }

    QVector<Operation> operations;

private:
    QString libraryPath(const QString &name) const { return QDir(m_library).filePath(name); }
    QMap<QString, QByteArray> library() const
    {
        QMap<QString, QByteArray> files;
        for (const QString &name : QDir(m_library).entryList(QDir::Files | QDir::Hidden))
            files.insert(name, TS::wholeFile(libraryPath(name)));
        return files;
    }

    QString transfer(const SongTransfer::Endpoint &source, const SongTransfer::Endpoint &destination)
    {
        auto request = std::make_shared<SongTransfer::Request>();
        request->source = source;
        request->destination = destination;
        SongTransferWorker worker;
        SongTransferWorker::RequestEvent event(request, nullptr);
        worker.event(&event);
        return request->errorText;
    }

    QString execute(const QString &operation)
    {
        using E = SongTransfer::Endpoint;
        if (operation == QLatin1String("archive card"))
            return transfer(E::card(m_cardPath), E::archive(libraryPath("New.mlad")));
        if (operation == QLatin1String("restore card"))
            return transfer(E::archive(libraryPath("Source.mlad")), E::card(m_cardPath));
        if (operation == QLatin1String("copy song to library"))
            return transfer(E::card(m_cardPath, 0), E::archive(libraryPath("New.mlsd"), E::WholeCard, "Copied"));
        if (operation == QLatin1String("copy song onto card"))
            return transfer(E::archive(libraryPath("Song.mlsd"), 0), E::card(m_cardPath, 5));
        return errorOf([&] {
            SdCard card;
            card.open(m_cardPath, 1);
            card.clearSong(1, "Cleared");
            card.close();
        });
    }

    QTemporaryDir m_dir{TS::scratchFolderTemplate()};
    QString m_library = m_dir.filePath("library");
    QString m_cardPath = m_dir.filePath("card/ZOVAZODE.DAT");
    std::shared_ptr<TS::MemoryFile> m_template;
    QMap<QString, QByteArray> m_existing;
};

} // namespace

class TestFaultInjection : public QObject
{
    Q_OBJECT

private slots:
    void everyCall_data();
    void everyCall();
};

void TestFaultInjection::everyCall_data()
{
    QTest::addColumn<int>("operation");
    QTest::addColumn<int>("kind");

    const char *const kinds[] = {"I/O error", "no space", "short read", "short write"};
    const Bench bench;
    for (int operation = 0; operation < bench.operations.size(); ++operation) {
        for (int kind = 0; kind < 4; ++kind)
            QTest::addRow("%s, %s", qPrintable(bench.operations[operation].name), kinds[kind]) << operation << kind;
    }
}

void TestFaultInjection::everyCall()
{
    QFETCH(int, operation);
    QFETCH(int, kind);

    Bench bench;
    const Operation &op = bench.operations[operation];
    // The run without faults each faulty run is compared with: a success that did what the
    // operation is for, and writes the card only when it should.
    TS::FaultInjector faults;
    faults.arm(TS::FaultKind(kind), TS::FaultMode::Once, 0);
    QStringList problems;
    const Outcome reference = bench.run(op, faults, problems);
    QVERIFY2(problems.isEmpty() && reference.error.isEmpty(),
             qPrintable(reference.error + problems.join('\n')));
    QCOMPARE(reference.wroteCard, !op.writes.empty());
    QCOMPARE(reference.library.size(), op.name.contains("library") || op.name == "archive card" ? 3 : 2);

    const qint64 calls = faults.applicableCalls();
    QStringList failures;
    int failed = 0;
    for (TS::FaultMode mode : {TS::FaultMode::Once, TS::FaultMode::FromNOn}) {
        for (qint64 n = 1; n <= calls; ++n) {
            faults.arm(TS::FaultKind(kind), mode, n);
            problems.clear();
            const Outcome outcome = bench.run(op, faults, problems);
            failed += outcome.error.isEmpty() ? 0 : 1;
            if (faults.injectedFaults() == 0)
                problems << QStringLiteral("no fault was injected");
            if (outcome.error.isEmpty() &&
                (outcome.card != reference.card || outcome.library != reference.library))
                problems << QStringLiteral("succeeded with a result that differs from a run without faults");
            for (const QString &problem : problems)
                failures << QStringLiteral("%1, call %2: %3")
                                .arg(mode == TS::FaultMode::Once ? "once" : "from N on")
                                .arg(n)
                                .arg(problem);
        }
    }
    qInfo("%s: %lld calls, %d of %lld runs failed", qPrintable(op.name), calls, failed, 2 * calls);
    QVERIFY2(failures.isEmpty(), qPrintable(QStringLiteral("%1 problems; the first ones:\n%2")
                                                .arg(failures.size())
                                                .arg(failures.mid(0, 10).join(QLatin1Char('\n')))));
    // A kind that applies to no call (a short write where nothing is written) has nothing to
    // show; any other must make the operation fail at least once.
    QVERIFY(calls == 0 || failed > 0);
}

MORV_TEST_MAIN(TestFaultInjection)
#include "tst_faultinjection.moc"
