// CardCommands: the safety-copy protocol and Undo. The copy's outcome is reported the way the
// worker reports it (a SongTransfer signal with the request's fields set), so every outcome can be
// chosen: whether the operation runs, what refuses it (a card another program holds, before any
// copy), that only a good copy prunes, and that what the copy noted is passed on first. The card
// is the command's from the copy to its end, and Undo's from its check, by records, not times;
// what the copy read goes to the restore only under the command's own lock.
#include "domain/cardcontent.h"
#include "domain/cardlock.h"
#include "support/cardimage.h"
#include "transfer/cardcommands.h"

#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace ZovaZode;
using namespace ZovaZode::TestSupport;

namespace {

using Refusal = CardCommands::Refusal;
using UndoBlock = CardCommands::UndoBlock;

// Whether another program would find the card locked.
bool lockedForOthers(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    const bool locked = fd >= 0 && ::flock(fd, LOCK_SH | LOCK_NB) != 0;
    ::close(fd);
    return locked;
}

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
    void undo_data();
    void undo();
};

void TestCardCommands::protect_data()
{
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<bool>("blocked");    // a file stands where the "Safety Copies" folder goes
    QTest::addColumn<QString>("outcome"); // of the copy, as the worker reports it; "held": another
                                          // program holds the card, so no copy is submitted;
                                          // "unlocked": finished, where nothing can lock the card
    QTest::addColumn<bool>("runs");       // the operation
    QTest::addColumn<int>("refusal");     // a Refusal, or -1 for none
    QTest::addColumn<QString>("detail");  // the start of the refusal's detail ("@" the copy's path)
    QTest::addColumn<int>("left");        // old copies left in the folder
    // clang-format off
    QTest::newRow("turned off")           << false << false << "none"      << true  << -1                      << ""                    << 3;
    QTest::newRow("folder cannot be made")<< true  << true  << "none"      << false << int(Refusal::NoFolder)  << "/"                   << 0;
    QTest::newRow("copy made")            << true  << false << "finished"  << true  << -1                      << ""                    << 2;
    QTest::newRow("copy made, no lock")   << true  << false << "unlocked"  << true  << -1                      << ""                    << 2;
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
    const QString card = library.filePath(QStringLiteral("ZOVAZODE.DAT"));
    QVERIFY(QFile(card).open(QIODevice::WriteOnly));
    const int holder = outcome == QLatin1String("held")
                           ? ::open(QFile::encodeName(card).constData(), O_RDONLY | O_CLOEXEC)
                           : -1;
    const auto released = qScopeGuard([holder] {
        if (holder >= 0)
            ::close(holder);
    });
    QVERIFY(holder < 0 || ::flock(holder, LOCK_SH) == 0);
    const auto locks = qScopeGuard([] {
        CardLock::setSystemLocks({});
        CardLock::setWritingWithoutLock(false);
    });
    const bool unlocked = outcome == QLatin1String("unlocked");
    if (unlocked) { // and the user said to write all the same
        CardLock::setSystemLocks(
            {[](int, int) { return errno = ENOLCK, -1; }, [](int, short) { return errno = ENOLCK, -1; }});
        CardLock::setWritingWithoutLock(true);
        outcome = QStringLiteral("finished");
    }
    CardCommands::Target target{
        card, QStringLiteral("Gig"), 2, QStringLiteral("Verse"), QStringLiteral("before clearing"), {}, {},
        {}};
    bool prepared = false;
    target.beforeCopy = [&prepared](CardCommands::Target &) { prepared = true; };
    int ran = 0;
    bool lockedWhileRunning = false;
    std::shared_ptr<SongTransfer::Request> restore;
    const auto copy = commands.protect(policy, target, [&] {
        ++ran;
        lockedWhileRunning = lockedForOthers(card);
        restore = commands.submit(SongTransfer::Endpoint::archive("x.mlsd", 0),
                                  SongTransfer::Endpoint::card(card, 2));
    });

    const bool submitted = outcome != QLatin1String("none") && outcome != QLatin1String("held");
    QCOMPARE(bool(copy), submitted);
    QCOMPARE(prepared, bool(copy));
    if (copy) {
        QCOMPARE(ran, 0);
        QVERIFY(commands.hasTransfers());
        QVERIFY2(unlocked || lockedForOthers(card), "the card is the command's from the copy on");
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
        copy->cardContent = std::make_shared<CardContent>(card, FileStamp::of(card), std::make_shared<carddata::CardDigest>());
        if (outcome == QLatin1String("cancelled") || outcome == QLatin1String("failed"))
            emit transfer.error(copy.get());
        else
            emit transfer.finished(copy.get());
        if (restore)
            emit transfer.finished(restore.get());
        QVERIFY(!commands.hasTransfers());
        QCOMPARE(done.count(), 1);
        // A copy dropped by a stop is an ordinary finished request; nothing waits for it.
        QCOMPARE(finished.count(), (outcome == QLatin1String("dropped") ? 1 : 0) + (restore ? 1 : 0));
    } else if (restore) {
        emit transfer.finished(restore.get());
    }

    QCOMPARE(ran, runs ? 1 : 0);
    QCOMPARE(lockedWhileRunning, runs && !unlocked);
    // What the copy read is handed to the restore only under the command's own lock.
    QCOMPARE(restore && restore->knownCard, copy && outcome == QLatin1String("finished") && !unlocked);
    QCOMPARE(lockedForOthers(card), false);
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

void TestCardCommands::undo_data()
{
    QTest::addColumn<bool>("failed");    // the operation's request
    QTest::addColumn<QString>("then");   // what happens to the card or the copy afterwards
    QTest::addColumn<int>("block");      // what Undo answers
    QTest::addColumn<QString>("detail"); // the start of its detail
    // clang-format off
    //                                       failed   then           block                        detail
    QTest::newRow("done")                 << false << ""          << int(UndoBlock::None)        << "";
    // What failed half-way is what the copy undoes best.
    QTest::newRow("failed half-way")      << true  << ""          << int(UndoBlock::None)        << "";
    QTest::newRow("another card")         << false << "other"     << int(UndoBlock::OtherCard)   << "";
    // Changed and its file times set back: only the records tell.
    QTest::newRow("song renamed")         << false << "song"      << int(UndoBlock::CardChanged) << "song 3";
    QTest::newRow("name and a part")      << true  << "name part" << int(UndoBlock::CardChanged) << "the card's name, song 4, part 2";
    QTest::newRow("copy deleted")         << false << "delete"    << int(UndoBlock::CopyMissing) << "";
    QTest::newRow("card held")            << false << "held"      << int(UndoBlock::CardBusy)    << "The card is in use by ";
    // clang-format on
}

void TestCardCommands::undo()
{
    QFETCH(bool, failed);
    QFETCH(QString, then);
    QFETCH(int, block);
    QFETCH(QString, detail);

    QTemporaryDir dir(scratchFolderTemplate());
    CardImage card(dir.path());
    card.create("Gig");
    const QString path = card.path();
    SongTransfer transfer(nullptr);
    CardCommands commands(&transfer);
    CardCommands::SafetyPolicy policy;
    policy.library = dir.path();
    policy.verify = false;
    std::shared_ptr<SongTransfer::Request> step;
    const auto copy = commands.protect(
        policy, {path, "Gig", 2, "Verse", "before import", "Copy Song onto Slot 3", {}, {}}, [&] {
            step = commands.submit(SongTransfer::Endpoint::archive("x.mlsd", 0),
                                   SongTransfer::Endpoint::card(path, 2));
        });
    QVERIFY(copy && QFile(copy->destination.path).open(QIODevice::WriteOnly));
    emit transfer.finished(copy.get());
    QVERIFY2(step && lockedForOthers(path), "nothing slips in between the copy and the operation");
    failed ? emit transfer.error(step.get()) : emit transfer.finished(step.get());
    QVERIFY(!lockedForOthers(path));

    struct stat times;
    QCOMPARE(::stat(QFile::encodeName(path).constData(), &times), 0);
    if (then.contains("song"))
        card.writeSongData(2, songData({"Renamed", "A song"}));
    if (then.contains("name"))
        card.writeHeader(cardHeader("Other", "A card for tests"));
    if (then.contains("part"))
        card.writePartData(3, 1, partData(PartFields()));
    const struct timespec kept[2] = {times.st_atim, times.st_mtim};
    QCOMPARE(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), kept, 0), 0);
    if (then == "delete")
        QVERIFY(QFile::remove(copy->destination.path));
    const int holder = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    const auto released = qScopeGuard([holder] { ::close(holder); });
    QVERIFY(then != "held" || ::flock(holder, LOCK_SH) == 0);

    UndoBlock answer = UndoBlock::None;
    QString text;
    const auto back = commands.undo(then == "other" ? dir.filePath("OTHER.DAT") : path, &answer, &text);
    QCOMPARE(int(answer), block);
    QVERIFY2(detail.isEmpty() ? text.isEmpty()
                              : text.startsWith(detail) && (then == "held" || text == detail),
             qPrintable(text));
    QCOMPARE(bool(back), block == int(UndoBlock::None));
    if (!back)
        return;
    QCOMPARE(back->source.path + '|' + back->destination.path, copy->destination.path + '|' + path);
    QVERIFY2(lockedForOthers(path), "the card is the undo's from its check to the copy put back");
    emit transfer.finished(back.get());
    QVERIFY(!lockedForOthers(path));
}

MORV_TEST_MAIN(TestCardCommands)
#include "tst_cardcommands.moc"
