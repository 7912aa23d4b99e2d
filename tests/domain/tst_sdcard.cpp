// SdCard on sparse card images: each operation's own checks and the library errors it passes on,
// the header written only to a writable card, signals in order, other writers, a write-protected
// card and ejection (the library's texts are the card data library's); the card lock; and the
// mount watcher over folders that stand for mounted volumes.
#include "domain/cardlock.h"
#include "domain/mountwatcher.h"
#include "domain/sdcard.h"
#include "domaintest.h"
#include "recordingnotifier.h"
#include "support/cardimage.h"
#include "support/faultstream.h"
#include "support/filesnapshot.h"

#include <QElapsedTimer>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <thread>

using namespace ZovaZode;
namespace TS = ZovaZode::TestSupport;
using Card = TS::CardImage;

namespace {

// Every signal of a card, in the order it arrived.
struct SignalLog : QObject
{
    explicit SignalLog(SdCard &card)
    {
        const auto log = [this](const QString &what) { return [this, what] { events << what; }; };
        connect(&card, &SdCard::opened, this, log("opened"));
        connect(&card, &SdCard::closed, this, log("closed"));
        connect(&card, &SdCard::openStateChanged, this,
                [this](bool open) { events << (open ? "open" : "shut"); });
        connect(&card, &SdCard::pathChanged, this, [this](const QString &p) { events << "path " + p; });
        connect(&card, &SdCard::nameChanged, this, [this](const QString &n) { events << "name " + n; });
        connect(&card, &SdCard::descriptionChanged, this,
                [this](const QString &d) { events << "text " + d; });
    }
    QStringList events;
};

QString cardName(const Card &image)
{
    return QString::fromUtf8(TS::text(image.read(TS::cardHeaderRange()), 8, 128));
}

// The refusal's text, or "locked" when the lock was taken.
QString attempt(const QString &path, CardLock::Mode mode, int wait)
{
    try {
        const CardLock lock(path, mode, wait);
    } catch (const SdCard::Busy &busy) {
        return QString::fromUtf8(busy.what());
    }
    return QStringLiteral("locked");
}

} // namespace

class TestSdCard : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void errors_data();
    void errors();
    void reloadIfChanged_data();
    void reloadIfChanged();
    void writeProtectedCard();
    void ejection();
    void lock_data();
    void lock();
    void mountWatcher_data();
    void mountWatcher();
    void sandbox_data();
    void sandbox();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<Card> m_image;
};

void TestSdCard::init()
{
    m_dir = std::make_unique<QTemporaryDir>(TS::scratchFolderTemplate());
    m_image = std::make_unique<Card>(m_dir->path());
    m_image->create("Test Card", "A card for tests");
    m_image->writeSong(3, TS::sampleSong(3, 1));
}

void TestSdCard::errors_data()
{
    QTest::addColumn<QString>("state"); // of the card when the operation runs; "mode 2": opened with 2
    QTest::addColumn<QString>("operation");
    QTest::addColumn<int>("song");
    QTest::addColumn<int>("part");
    QTest::addColumn<QString>("message");

    const QString commit = ": mlsdCommitSDCard: Error committing data to SD card.";
    const QString header = "Could not write card header";
    // clang-format off
    //                                   state          operation      song part message
    QTest::newRow("closed songInfo")  << "closed"    << "songInfo"    << 3  << 1 << "No card open.";
    // The library trusts the numbers it is given; song 12 of the card would be part data.
    QTest::newRow("songInfo 12")      << "open"      << "songInfo"    << 12 << 0 << "Could not read song info: Song number out of range.";
    QTest::newRow("part 5")           << "open"      << "partInfo"    << 0  << 5 << "Could not get part info: Part number out of range.";
    QTest::newRow("set 12")           << "open"      << "setSongInfo" << 12 << 0 << "Could not write song info: Song number out of range.";
    QTest::newRow("clear 12")         << "open"      << "clearSong"   << 12 << 0 << "Could not clear song: Song number out of range.";
    // The library's own error, behind the operation's prefix (every failure of every call of the
    // operations that write is the fault injection's). A card cut short after it was opened (a
    // reader losing its medium): the card stays open.
    QTest::newRow("short partInfo")   << "short"     << "partInfo"    << 3  << 0 << "Could not get part info: mlsdGetUIPartDataFromSDCard: Error reading UI part data from SD card.";
    QTest::newRow("read-only clear")  << "read-only" << "clearSong"   << 3  << 0 << "Could not clear song: mlsdSendUISongDataToSDCard: Error writing UI song data to SD card.";
    // A part record the clear would refuse once the song record is written: refused first.
    QTest::newRow("odd part clear")   << "odd part"  << "clearSong"   << 3  << 0 << "Could not clear song: Part data from SD card is invalid";
    // A user-interface write must be on the device when it returns, and say so when it is not.
    QTest::newRow("commit set")       << "no commit" << "setSongInfo" << 3  << 0 << QString("Could not write song info" + commit);
    QTest::newRow("open over it")     << "open"      << "reopen"      << 3  << 0 << "";
    QTest::newRow("2 is read-only")   << "mode 2"    << "flush"       << 3  << 0 << "";
    QTest::newRow("header lost")      << "no write"  << "close"       << 3  << 0 << QString(header + ": mlsdSendHeaderToSDCard: Error writing header to SD card.");
    // clang-format on
}

void TestSdCard::errors()
{
    QFETCH(QString, state);
    QFETCH(QString, operation);
    QFETCH(int, song);
    QFETCH(int, part);
    QFETCH(QString, message);

    TS::ScopedFaultInjector streams;
    SdCard card;
    QVERIFY(card.open(m_image->path(), state == "read-only" ? 0 : state == "mode 2" ? 2 : 1));
    // Only an edited header is written, and only when asked to or when the card closes.
    card.setName(QStringLiteral("Edited"));
    QCOMPARE(cardName(*m_image), QStringLiteral("Test Card"));
    if (state == "closed")
        card.close();
    if (state == "short")
        QVERIFY(QFile::resize(m_image->path(), 4096));
    if (state == "odd part") {
        TS::PartFields odd;
        odd.inUse = 2;
        m_image->writePartData(3, 1, TS::partData(odd));
    }
    const TS::FileSnapshot before(m_image->path());
    if (state == "no commit")
        streams.failEvery(TS::StreamCall::Commit);
    if (state == "no write")
        streams.failEvery(TS::StreamCall::Write);

    const QMap<QString, std::function<void()>> operations{
        {"songInfo", [&] { card.songInfo(song); }},
        {"partInfo", [&] { card.partInfo(song, part); }},
        {"setSongInfo", [&] { card.setSongInfo(song, SongInfo{"x", "y", 0, 0, {}, 0, 0}); }},
        {"clearSong", [&] { card.clearSong(song, QStringLiteral("x")); }},
        {"flush", [&] { card.flush(); }},
        {"close", [&] { card.close(); }},
        {"reopen", [&] { card.open(m_image->path(), 0); }}};
    QCOMPARE(errorOf(operations.value(operation)), message);
    QCOMPARE(card.isOpen(), state != "closed");
    if (state != "no commit" && state != "no write")
        QCOMPARE(TS::describe(before.changesOutside({TS::cardHeaderRange()})), QString());
    // The edit waits for a write that works.
    QVERIFY(state != "no write" || (card.name() == "Edited" && card.isWritable()));
    streams.disarm();
    card.close();
    // The edited header reaches only a card opened for writing (1), and nothing is written beside it.
    QCOMPARE(cardName(*m_image), state == "read-only" || state == "mode 2" ? "Test Card" : "Edited");
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList{"ZOVAZODE.DAT"});
}

void TestSdCard::reloadIfChanged_data()
{
    QTest::addColumn<QString>("change");
    QTest::addColumn<bool>("reloaded");
    QTest::addColumn<QString>("name"); // the card's name afterwards
    QTest::addColumn<bool>("told");    // an edit made here was dropped for the other writer's

    // clang-format off
    //                                       change            reloaded name          told
    QTest::newRow("own header write")     << "own header"   << false << "Mine"      << false;
    QTest::newRow("other's song write")   << "other song"   << true  << "Test Card" << false;
    QTest::newRow("edited here too")      << "both headers" << true  << "Theirs"    << true;
    QTest::newRow("other still writing")  << "locked"       << false << "Test Card" << false;
    // clang-format on
}

void TestSdCard::reloadIfChanged()
{
    QFETCH(QString, change);
    QFETCH(bool, reloaded);
    QFETCH(QString, name);
    QFETCH(bool, told);

    RecordingNotifier notifier;
    SdCard card;
    QVERIFY(card.open(m_image->path(), 1));
    QTest::qWait(20); // past the file system's clock tick, so that a write changes the file's times
    const auto otherWriter = [&](const std::function<void(SdCard &)> &write) {
        SdCard other;
        QVERIFY(other.open(m_image->path(), 1));
        write(other);
    };
    int held = -1;
    if (change == "own header") {
        card.setName(QStringLiteral("Mine"));
        card.flush();
    } else if (change == "other song" || change == "locked") {
        otherWriter([](SdCard &other) {
            SongInfo info = other.songInfo(3);
            info.name = QStringLiteral("Renamed");
            other.setSongInfo(3, info);
        });
    } else if (change == "both headers") {
        card.setName(QStringLiteral("Mine"));
        otherWriter([](SdCard &other) { other.setName(QStringLiteral("Theirs")); });
    }
    if (change == "locked") {
        held = ::open(QFile::encodeName(m_image->path()).constData(), O_RDONLY | O_CLOEXEC);
        QCOMPARE(::flock(held, LOCK_EX), 0);
    }
    SignalLog log(card);

    QCOMPARE(card.reloadIfChanged(), reloaded);
    QCOMPARE(card.name(), name);
    QCOMPARE(log.events, reloaded ? QStringList({"opened", "open", "name " + name, "text A card for tests"}) : QStringList());
    QCOMPARE(notifier.texts(), told ? QStringList{SdCard::ChangedUnderneathText} : QStringList());
    QVERIFY(!card.reloadIfChanged());
    if (held >= 0) {
        ::close(held); // the writer is done: now the change is read
        QVERIFY(card.reloadIfChanged());
    }
    card.close();
    QCOMPARE(cardName(*m_image), change == "own header" ? "Mine" : name);
}

void TestSdCard::writeProtectedCard()
{
    const QString path = m_image->path();
    if (!writeProtect(path, true))
        QSKIP("Running as root and chattr +i is not permitted here: no way to protect the card.");
    const auto restore = qScopeGuard([path] { writeProtect(path, false); });
    const TS::FileSnapshot before(path);
    const QDateTime modified = QFileInfo(path).lastModified();
    SdCard card;
    SignalLog log(card);
    QVERIFY(!card.open(path, 1));
    QVERIFY(log.events.isEmpty());
    // The caller's fallback still works, and reading writes nothing either.
    QVERIFY(card.open(path, 0));
    card.close();
    QCOMPARE(TS::describe(before.changes()), QString());
    QCOMPARE(QFileInfo(path).lastModified(), modified);
}

void TestSdCard::ejection()
{
    // The edited header's write to the vanished card fails: the card still closes, with one box.
    TS::ScopedFaultInjector streams;
    RecordingNotifier notifier;
    SdCard card;
    SignalLog log(card);
    QVERIFY(card.open(m_image->path(), 1));
    card.setName(QStringLiteral("Edited"));
    QTest::ignoreMessage(QtCriticalMsg, QRegularExpression(QStringLiteral("ejected card")));
    QVERIFY(QFile::remove(m_image->path()));
    streams.failEvery(TS::StreamCall::Write);
    QTRY_VERIFY_WITH_TIMEOUT(!card.isOpen(), 2500);
    // Every signal, in the order the views rely on.
    QCOMPARE(log.events, (QStringList{"opened", "open", "path " + m_image->path(), "name Test Card",
                                      "text A card for tests", "name Edited", "closed", "shut", "path ", "name ", "text "}));
    QCOMPARE(notifier.messages().size(), 1);
    const Notifier::Message &message = notifier.messages().first();
    QCOMPARE(message.text, QStringLiteral("It seems like the SD card was ejected."));
    QCOMPARE(message.icon, Notifier::Icon::Warning);
    QCOMPARE(message.buttons, Notifier::Buttons(Notifier::Ok));
    // The check stops with the card: no second box.
    QTest::qWait(2200);
    QCOMPARE(notifier.messages().size(), 1);
}

void TestSdCard::lock_data()
{
    QTest::addColumn<QString>("locks");  // what the file system offers: "both", "ofd" (no flock), "none"
    QTest::addColumn<QString>("holder"); // "reader"/"writer" another process, "thread", "self" ("self ex"
                                         // exclusive), "fifo" none, "allowed" none and writing allowed
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("releaseAfter"); // ms after which the holder lets go; -1 never
    QTest::addColumn<QString>("result");   // "locked", "busy", or "unlockable" (refused at once)

    const int shared = CardLock::Shared, exclusive = CardLock::Exclusive;
    // clang-format off
    //                                       locks     holder       mode        releaseAfter result
    QTest::newRow("reader, shared")       << "both" << "reader"  << shared    << -1  << "locked";
    QTest::newRow("reader, writer")       << "both" << "reader"  << exclusive << -1  << "busy";
    QTest::newRow("writer, shared")       << "both" << "writer"  << shared    << -1  << "busy";
    QTest::newRow("writer finishes")      << "both" << "writer"  << exclusive << 150 << "locked";
    QTest::newRow("other thread")         << "both" << "thread"  << shared    << -1  << "busy";
    // An operation holding the lock calls code that takes it again: it must not wait for itself.
    QTest::newRow("nested")               << "both" << "self"    << exclusive << -1  << "locked";
    // Nothing to lock (a fifo would block the open), nothing thrown, and no wait.
    QTest::newRow("fifo")                 << "both" << "fifo"    << exclusive << -1  << "locked";
    // Without flock (a network or FUSE file system), open file description locks do the same.
    QTest::newRow("no flock, writer")     << "ofd"  << "writer"  << shared    << -1  << "busy";
    QTest::newRow("no flock, nested")     << "ofd"  << "self ex" << exclusive << -1  << "locked";
    QTest::newRow("no lock, reader")      << "none" << ""        << shared    << -1  << "locked";
    QTest::newRow("no lock, writer")      << "none" << ""        << exclusive << -1  << "unlockable";
    QTest::newRow("no lock, allowed")     << "none" << "allowed" << exclusive << -1  << "locked";
    // clang-format on
}

void TestSdCard::lock()
{
    QFETCH(QString, locks);
    QFETCH(QString, holder);
    QFETCH(int, mode);
    QFETCH(int, releaseAfter);
    QFETCH(QString, result);

    const auto restored = qScopeGuard([] {
        CardLock::setSystemLocks({});
        CardLock::setWritingWithoutLock(false);
    });
    CardLock::SystemLocks system;
    if (locks != "both")
        system.flock = [](int, int) { return errno = ENOLCK, -1; };
    if (locks == "none")
        system.ofd = [](int, short) { return errno = ENOSYS, -1; };
    CardLock::setSystemLocks(system);
    CardLock::setWritingWithoutLock(holder == "allowed");
    // Another descriptor's lock of the kind the file system offers.
    const auto lockOther = [&locks](int fd, bool exclusive) {
        struct ::flock range = {};
        range.l_type = exclusive ? F_WRLCK : F_RDLCK;
        return locks == "ofd" ? ::fcntl(fd, F_OFD_SETLK, &range)
                              : ::flock(fd, (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB);
    };

    const QString path = m_dir->filePath(QString(QTest::currentDataTag()));
    const QByteArray native = QFile::encodeName(path);
    if (holder == "fifo")
        QCOMPARE(::mkfifo(native.constData(), 0600), 0);
    else
        QVERIFY(QFile(path).open(QIODevice::WriteOnly));
    int fd = -1;
    std::unique_ptr<CardLock> own;
    if (holder == "reader" || holder == "writer") {
        fd = ::open(native.constData(), O_RDWR | O_CLOEXEC);
        QCOMPARE(lockOther(fd, holder == "writer"), 0);
    } else if (holder == "thread" || holder.startsWith("self")) {
        own = std::make_unique<CardLock>(path, holder == "self" ? CardLock::Shared : CardLock::Exclusive);
    }
    std::thread release([&] {
        if (releaseAfter >= 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(releaseAfter));
            ::close(fd);
        }
    });
    const QString busy = QStringLiteral("The card is in use by %1. Try again when it has finished.")
                             .arg(locks == "ofd" ? QStringLiteral("another program")
                                                 : QStringLiteral("tst_sdcard (process %1)").arg(::getpid()));
    QElapsedTimer clock;
    clock.start();
    QString outcome;
    if (holder == "thread")
        std::thread([&] { outcome = attempt(path, CardLock::Mode(mode), 300); }).join();
    else
        outcome = attempt(path, CardLock::Mode(mode), releaseAfter >= 0 ? 3000 : 300);
    release.join();
    QCOMPARE(outcome,
             result == "busy" ? busy
             : result == "unlockable"
                 ? QStringLiteral("The card cannot be locked where it is stored (No locks available), so "
                                  "another program could change it at the same time; nothing was written.")
                 : result);
    // A refusal of a busy card comes only after the wait; a lock that is free is taken without one.
    if (result == "busy")
        QVERIFY(clock.elapsed() >= 300);
    else if (releaseAfter < 0)
        QVERIFY(clock.elapsed() < 1000);
    if (holder.startsWith("self")) {
        // The outer lock is still held after the inner one let go, and released with it.
        const int other = ::open(native.constData(), O_RDWR | O_CLOEXEC);
        QCOMPARE(lockOther(other, true), -1);
        own.reset();
        QCOMPARE(lockOther(other, true), 0);
        ::close(other);
    }
    if (releaseAfter < 0 && fd >= 0)
        ::close(fd);
}

void TestSdCard::mountWatcher_data()
{
    // Each look reports the cards that appeared and went since the last one. One string per look,
    // one letter per mounted volume: A and B hold ZOVAZODE.DAT in their root, x holds nothing, y
    // holds it one folder down.
    QTest::addColumn<QStringList>("mounted");
    QTest::addColumn<QStringList>("appeared");
    QTest::addColumn<QStringList>("gone");
    //                                    mounted                       appeared                gone
    QTest::newRow("no card")          << QStringList{"", "xy"}     << QStringList{"", ""}  << QStringList{"", ""};
    QTest::newRow("unplugged")        << QStringList{"AB", "B"}    << QStringList{"AB", ""} << QStringList{"", "A"};
    QTest::newRow("swapped, back")    << QStringList{"A", "B", "BA"}
                                      << QStringList{"A", "B", "A"} << QStringList{"", "A", ""};
}

void TestSdCard::mountWatcher()
{
    QFETCH(QStringList, mounted);
    QFETCH(QStringList, appeared);
    QFETCH(QStringList, gone);

    for (const char *card : {"A/ZOVAZODE.DAT", "B/ZOVAZODE.DAT", "y/deeper/ZOVAZODE.DAT", "x/OTHER.DAT"}) {
        const QString path = m_dir->filePath(QString::fromLatin1(card));
        QVERIFY(QDir().mkpath(QFileInfo(path).path()));
        QVERIFY(QFile(path).open(QIODevice::WriteOnly));
    }

    QString now;
    MountWatcher watcher;
    watcher.setVolumeList([&] {
        QStringList roots;
        for (QChar letter : now)
            roots << m_dir->filePath(QString(letter));
        return roots;
    });
    QSignalSpy appearedSpy(&watcher, &MountWatcher::cardAppeared);
    QSignalSpy goneSpy(&watcher, &MountWatcher::cardGone);
    auto letters = [](QSignalSpy &spy) {
        QString result;
        for (const QList<QVariant> &signal : spy)
            result += QFileInfo(signal.at(0).toString()).dir().dirName();
        spy.clear();
        return result;
    };
    for (int look = 0; look < mounted.size(); ++look) {
        now = mounted.at(look);
        look == 0 ? watcher.start() : watcher.poll();
        QCOMPARE(letters(appearedSpy), appeared.at(look));
        QCOMPARE(letters(goneSpy), gone.at(look));
    }
}

void TestSdCard::sandbox_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("QFile") << "QFile";
    QTest::newRow("fopen") << "fopen";
    QTest::newRow("rename") << "rename";
}

// The guard behind every test: a write outside the test's own folders never happens, whichever
// way the program makes it. Were the calls not intercepted (a link option lost, say), root would
// write anywhere and this would fail.
void TestSdCard::sandbox()
{
    QFETCH(QString, how);
    const QByteArray outside =
        "/var/tmp/morv-sandbox-probe-" + QByteArray::number(QCoreApplication::applicationPid());
    const QByteArray inside = QFile::encodeName(m_dir->filePath("probe"));
    QVERIFY(QFile(QFile::decodeName(inside)).open(QIODevice::WriteOnly));
    bool wrote = false;
    if (how == "QFile") {
        wrote = QFile(QFile::decodeName(outside)).open(QIODevice::WriteOnly);
    } else if (how == "fopen") {
        FILE *file = std::fopen(outside.constData(), "w");
        wrote = file && std::fclose(file) == 0;
    } else {
        wrote = std::rename(inside.constData(), outside.constData()) == 0;
    }
    QVERIFY(!wrote);
    QCOMPARE(TS::forgetRefusals(), 1);
    QVERIFY(!QFileInfo::exists(QFile::decodeName(outside)));
}

MORV_TEST_MAIN(TestSdCard)
#include "tst_sdcard.moc"
