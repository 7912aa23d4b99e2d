// CardCommands: the safety-copy protocol. The copy's outcome is reported the way the worker
// reports it (a SongTransfer signal with the request's fields set), so every outcome can be
// chosen: whether the operation runs, what refuses it (a card another program holds, before any
// copy), that only a good copy prunes, and that what the copy noted is passed on first.
#include "transfer/cardcommands.h"

#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

using namespace ZovaZode;

namespace {

using Refusal = CardCommands::Refusal;

// Generated names, so that pruning counts them; the newest is kept first.
const QStringList kOldCopies{"Gig - before restore - 2026-01-01 10.00.00.mlad",
                             "Gig - before restore - 2026-01-02 10.00.00.mlad",
                             "Gig - before restore - 2026-01-03 10.00.00.mlad"};

} // namespace

class TestCardCommands : public QObject
{
    Q_OBJECT

private slots:
    void protect_data();
    void protect();
};

void TestCardCommands::protect_data()
{
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<bool>("blocked");    // a file stands where the "Safety Copies" folder goes
    QTest::addColumn<QString>("outcome"); // of the copy, as the worker reports it; "held": another
                                          // program holds the card, so no copy is submitted
    QTest::addColumn<bool>("runs");       // the operation
    QTest::addColumn<int>("refusal");     // a Refusal, or -1 for none
    QTest::addColumn<QString>("detail");  // the start of the refusal's detail ("@" the copy's path)
    QTest::addColumn<int>("left");        // old copies left in the folder
    // clang-format off
    QTest::newRow("turned off")           << false << false << "none"      << true  << -1                      << ""                    << 3;
    QTest::newRow("folder cannot be made")<< true  << true  << "none"      << false << int(Refusal::NoFolder)  << "/"                   << 0;
    QTest::newRow("copy made")            << true  << false << "finished"  << true  << -1                      << ""                    << 2;
    QTest::newRow("stopped while checked")<< true  << false << "unchecked" << false << int(Refusal::Unchecked) << "@"                   << 3;
    QTest::newRow("cancelled")            << true  << false << "cancelled" << false << int(Refusal::Cancelled) << ""                    << 3;
    QTest::newRow("failed")               << true  << false << "failed"    << false << int(Refusal::Failed)    << "Could not write."    << 3;
    QTest::newRow("dropped by a stop")    << true  << false << "dropped"   << false << -1                      << ""                    << 3;
    QTest::newRow("card held")            << true  << false << "held"      << false << int(Refusal::Failed)    << "The card is in use by " << 3;
    // clang-format on
}

void TestCardCommands::protect()
{
    QFETCH(bool, enabled);
    QFETCH(bool, blocked);
    QFETCH(QString, outcome);
    QFETCH(bool, runs);
    QFETCH(int, refusal);
    QFETCH(QString, detail);
    QFETCH(int, left);

    QTemporaryDir library;
    const QString folder = library.filePath(QStringLiteral("Safety Copies"));
    if (blocked) {
        QFile file(folder);
        QVERIFY(file.open(QIODevice::WriteOnly));
    } else {
        QVERIFY(QDir().mkpath(folder));
        for (const QString &name : kOldCopies) {
            QFile file(folder + QLatin1Char('/') + name);
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
    }

    // No worker: the requests go nowhere, and the test reports their outcome itself.
    SongTransfer transfer(nullptr);
    CardCommands commands(&transfer);
    QSignalSpy refused(&commands, &CardCommands::safetyCopyRefused);
    QSignalSpy made(&commands, &CardCommands::safetyCopyMade);
    QSignalSpy finished(&commands, &CardCommands::finished);
    QSignalSpy done(&commands, &CardCommands::transfersDone);
    QSignalSpy warned(&commands, &CardCommands::warned);

    CardCommands::SafetyPolicy policy;
    policy.enabled = enabled;
    policy.library = library.path();
    policy.limit = [] { return 2; };
    policy.verify = false;
    // A card held by another program: a lock of its own on a descriptor of its own.
    const QString heldCard = library.filePath(QStringLiteral("ZOVAZODE.DAT"));
    const int holder = outcome == QLatin1String("held") && QFile(heldCard).open(QIODevice::WriteOnly)
                           ? ::open(QFile::encodeName(heldCard).constData(), O_RDONLY | O_CLOEXEC)
                           : -1;
    const auto released = qScopeGuard([holder] {
        if (holder >= 0)
            ::close(holder);
    });
    QVERIFY(holder < 0 || ::flock(holder, LOCK_SH) == 0);
    CardCommands::Target target{holder >= 0 ? heldCard : QStringLiteral("/cards/ZOVAZODE.DAT"),
                                QStringLiteral("Gig"),
                                2,
                                QStringLiteral("Verse"),
                                QStringLiteral("before clearing"),
                                {},
                                {},
                                {}};
    bool prepared = false;
    target.beforeCopy = [&prepared](CardCommands::Target &) { prepared = true; };
    int ran = 0;
    const auto copy = commands.protect(policy, target, [&ran] { ++ran; });

    const bool submitted = outcome != QLatin1String("none") && outcome != QLatin1String("held");
    QCOMPARE(bool(copy), submitted);
    QCOMPARE(prepared, bool(copy));
    if (copy) {
        QCOMPARE(ran, 0);
        QVERIFY(commands.hasTransfers());
        QCOMPARE(
            QVariantList({copy->source.kind, copy->source.path, copy->source.song, copy->destination.kind}),
            QVariantList(
                {SongTransfer::Endpoint::Card, target.cardPath, 2, SongTransfer::Endpoint::ArchiveFile}));
        QVERIFY2(copy->destination.path.startsWith(folder + "/Gig - song 03 Verse - before clearing - "),
                 qPrintable(copy->destination.path));
        QVERIFY(!copy->verify);

        if (outcome == QLatin1String("dropped"))
            commands.cancelTransfers();
        if (outcome == QLatin1String("unchecked"))
            copy->verification = SongTransfer::Request::Verification::Skipped;
        if (outcome == QLatin1String("cancelled"))
            copy->cancelled.store(true);
        if (outcome == QLatin1String("failed"))
            copy->errorText = QStringLiteral("Could not write.");
        copy->warnings = QStringList{QStringLiteral("User prefs out of range.")};
        if (outcome == QLatin1String("cancelled") || outcome == QLatin1String("failed"))
            emit transfer.error(copy.get());
        else
            emit transfer.finished(copy.get());
        QVERIFY(!commands.hasTransfers());
        QCOMPARE(done.count(), 1);
        // A copy dropped by a stop is an ordinary finished request; nothing waits for it.
        QCOMPARE(finished.count(), outcome == QLatin1String("dropped") ? 1 : 0);
    }

    QCOMPARE(ran, runs ? 1 : 0);
    QCOMPARE(made.count(), outcome == QLatin1String("finished") ? 1 : 0);
    const bool copied = submitted && outcome != QLatin1String("cancelled") && outcome != QLatin1String("failed");
    QCOMPARE(warned.count(), copied ? 1 : 0);
    QCOMPARE(refused.count(), refusal < 0 ? 0 : 1);
    if (refusal >= 0) {
        QCOMPARE(refused.first().at(0).value<Refusal>(), Refusal(refusal));
        const QString text = refused.first().at(1).toString();
        if (detail == QLatin1String("@"))
            QCOMPARE(text, copy->destination.path);
        else if (!detail.isEmpty())
            QVERIFY2(text.startsWith(detail == QLatin1String("/") ? folder : detail), qPrintable(text));
    }
    if (!blocked)
        QCOMPARE(QDir(folder).entryList(QDir::Files).size(), left);
}

MORV_TEST_MAIN(TestCardCommands)
#include "tst_cardcommands.moc"
