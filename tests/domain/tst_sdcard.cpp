// SdCard on sparse card images: each operation's own checks and the library errors it passes on,
// with the card left as it was; signals and their order, the header written only to a writable
// card, other writers, a write-protected card and ejection. The library's texts themselves are
// tested with the card data library.
#include "domain/sdcard.h"
#include "domaintest.h"
#include "recordingnotifier.h"
#include "support/cardimage.h"
#include "support/faultstream.h"
#include "support/filesnapshot.h"

#include <QScopeGuard>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <functional>
#include <memory>

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
    return QString::fromUtf8(TS::text(image.read(Card::headerRange()), 8, 128));
}

} // namespace

class TestSdCard : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void errors_data();
    void errors();
    void signalOrder_data();
    void signalOrder();
    void headerReachesCardOnlyWhenWritable_data();
    void headerReachesCardOnlyWhenWritable();
    void reloadIfChanged_data();
    void reloadIfChanged();
    void writeProtectedCard();
    void ejection();

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
    QTest::addColumn<QString>("state"); // of the card when the operation runs
    QTest::addColumn<QString>("operation");
    QTest::addColumn<int>("song");
    QTest::addColumn<int>("part");
    QTest::addColumn<QString>("message");

    const QString commit = ": mlsdCommitSDCard: Error committing data to SD card.";
    const QString header = "Could not write card header";
    // clang-format off
    //                                   state          operation      song part message
    QTest::newRow("closed songInfo")  << "closed"    << "songInfo"    << 3  << 1 << "No card open.";
    QTest::newRow("closed flush")     << "closed"    << "flush"       << 3  << 1 << "";
    // The library trusts the numbers it is given; song 12 of the card would be part data.
    QTest::newRow("songInfo 12")      << "open"      << "songInfo"    << 12 << 0 << "Could not read song info: Song number out of range.";
    QTest::newRow("part 5")           << "open"      << "partInfo"    << 0  << 5 << "Could not get part info: Part number out of range.";
    QTest::newRow("set 12")           << "open"      << "setSongInfo" << 12 << 0 << "Could not write song info: Song number out of range.";
    QTest::newRow("clear 12")         << "open"      << "clearSong"   << 12 << 0 << "Could not clear song: Song number out of range.";
    // The library's own error, behind the operation's prefix.
    QTest::newRow("read-only set")    << "read-only" << "setSongInfo" << 3  << 0 << "Could not write song info: mlsdSendUISongDataToSDCard: Error writing UI song data to SD card.";
    // A card cut short after it was opened (a reader losing its medium): the card stays open.
    QTest::newRow("short songInfo")   << "short"     << "songInfo"    << 3  << 0 << "Could not read song info: mlsdGetUISongDataFromSDCard: Error reading UI song data from SD card.";
    QTest::newRow("short partInfo")   << "short"     << "partInfo"    << 3  << 0 << "Could not get part info: mlsdGetUIPartDataFromSDCard: Error reading UI part data from SD card.";
    QTest::newRow("read-only clear")  << "read-only" << "clearSong"   << 3  << 0 << "Could not clear song: mlsdSendUISongDataToSDCard: Error writing UI song data to SD card.";
    // A user-interface write must be on the device when it returns, and say so when it is not.
    QTest::newRow("commit header")    << "no commit" << "writeHeader" << 3  << 0 << QString(header + commit);
    QTest::newRow("commit set")       << "no commit" << "setSongInfo" << 3  << 0 << QString("Could not write song info" + commit);
    QTest::newRow("commit clear")     << "no commit" << "clearSong"   << 3  << 0 << QString("Could not clear song" + commit);
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
    QVERIFY(card.open(m_image->path(), state == "read-only" ? 0 : 1));
    // Only an edited header is written.
    card.setName(QStringLiteral("Edited"));
    if (state == "closed") {
        card.close();
        QCOMPARE(card.name(), QString());
    }
    if (state == "short")
        QVERIFY(QFile::resize(m_image->path(), 4096));
    const TS::FileSnapshot before(m_image->path());
    if (state == "no commit")
        streams.failEvery(TS::StreamCall::Commit);
    if (state == "no write")
        streams.failEvery(TS::StreamCall::Write);
    const qint64 commits = streams.calls(TS::StreamCall::Commit);

    QCOMPARE(errorOf([&, song = song, part = part] {
                 if (operation == "songInfo")
                     card.songInfo(song);
                 else if (operation == "partInfo")
                     card.partInfo(song, part);
                 else if (operation == "setSongInfo")
                     card.setSongInfo(song, SongInfo{"x", "y", 0, 0, {}, 0, 0});
                 else if (operation == "clearSong")
                     card.clearSong(song, QStringLiteral("x"));
                 else if (operation == "writeHeader")
                     card.writeHeader();
                 else if (operation == "flush")
                     card.flush();
                 else if (operation == "close")
                     card.close();
             }),
             message);
    QCOMPARE(card.isOpen(), state != "closed");
    if (state == "no commit")
        QVERIFY(streams.calls(TS::StreamCall::Commit) > commits);
    else if (state != "no write")
        QCOMPARE(TS::describe(before.changesOutside({Card::headerRange()})), QString());
    if (state == "no write") {
        // The edit waits for a write that works.
        QCOMPARE(card.name(), QStringLiteral("Edited"));
        QVERIFY(card.isWritable());
        streams.disarm();
        card.close();
        QCOMPARE(cardName(*m_image), QStringLiteral("Edited"));
    }
}

void TestSdCard::signalOrder_data()
{
    QTest::addColumn<QString>("action"); // on an open card, but "open" on a closed one
    QTest::addColumn<QStringList>("expected"); // "%p" stands for the card's path

    const QStringList closing{"closed", "shut", "path ", "name ", "text "};
    // clang-format off
    //                                      action           expected
    QTest::newRow("open")                  << "open"         << QStringList{"opened", "open", "path %p", "name Test Card", "text A card for tests"};
    QTest::newRow("failed open over open") << "open missing" << closing;
    QTest::newRow("close")                 << "close"        << closing;
    QTest::newRow("refresh")               << "refresh"      << QStringList{"opened", "open", "name Test Card", "text A card for tests"};
    QTest::newRow("setName")               << "setName"      << QStringList{"name Other"};
    // clang-format on
}

void TestSdCard::signalOrder()
{
    QFETCH(QString, action);
    QFETCH(QStringList, expected);

    SdCard card;
    if (action != "open")
        QVERIFY(card.open(m_image->path(), 1));
    SignalLog log(card);
    if (action == "open")
        QVERIFY(card.open(m_image->path(), 1));
    else if (action == "open missing")
        QVERIFY(!card.open(m_dir->filePath(QStringLiteral("missing.dat")), 0));
    else if (action == "close")
        card.close();
    else if (action == "refresh")
        card.refresh();
    else
        card.setName(QStringLiteral("Other"));
    QCOMPARE(log.events, expected.replaceInStrings(QStringLiteral("%p"), m_image->path()));
}

void TestSdCard::headerReachesCardOnlyWhenWritable_data()
{
    QTest::addColumn<int>("writable");
    QTest::addColumn<QString>("how");
    QTest::addColumn<bool>("written");

    // clang-format off
    //                                     writable how          written
    QTest::newRow("writable, close")    << 1 << "close"   << true;
    QTest::newRow("writable, flush")    << 1 << "flush"   << true;
    QTest::newRow("writable, reopen")   << 1 << "reopen"  << true;
    QTest::newRow("writable, nothing")  << 1 << "nothing" << false;
    QTest::newRow("read-only, close")   << 0 << "close"   << false;
    QTest::newRow("2 is read-only")     << 2 << "close"   << false;
    // clang-format on
}

void TestSdCard::headerReachesCardOnlyWhenWritable()
{
    QFETCH(int, writable);
    QFETCH(QString, how);
    QFETCH(bool, written);

    QByteArray expected = m_image->read(Card::headerRange());
    const TS::FileSnapshot snapshot(m_image->path());
    // Nothing is learnt by writing beside the card: no lock or scratch file in its folder.
    const auto entries = [this] { return QDir(m_dir->path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot); };
    const QStringList before = entries();
    auto card = std::make_unique<SdCard>();
    QVERIFY(card->open(m_image->path(), writable));
    QCOMPARE(card->isWritable(), writable == 1);
    card->setName(QStringLiteral("Gig \u20ac"));
    card->setDescription(QStringLiteral("Set list"));
    if (how == "close")
        card->close();
    else if (how == "flush")
        card->flush();
    else if (how == "reopen")
        QVERIFY(card->open(m_image->path(), 0));

    if (written) {
        TS::putText(expected, 8, 128, "Gig \xe2\x82\xac");
        TS::putText(expected, 136, 384, "Set list");
    }
    QCOMPARE(m_image->read(Card::headerRange()), expected);
    QCOMPARE(TS::describe(snapshot.changesOutside({Card::headerRange()})), QString());
    QCOMPARE(entries(), before);
}

void TestSdCard::reloadIfChanged_data()
{
    QTest::addColumn<QString>("change");
    QTest::addColumn<bool>("reloaded");
    QTest::addColumn<QString>("name"); // the card's name afterwards
    QTest::addColumn<bool>("told");    // an edit made here was dropped for the other writer's

    // clang-format off
    //                                       change            reloaded name          told
    QTest::newRow("nothing")              << "nothing"      << false << "Test Card" << false;
    QTest::newRow("own header write")     << "own header"   << false << "Mine"      << false;
    QTest::newRow("other's song write")   << "other song"   << true  << "Test Card" << false;
    QTest::newRow("other's header write") << "other header" << true  << "Theirs"    << false;
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
    const auto renameSong = [](SdCard &writer) {
        SongInfo info = writer.songInfo(3);
        info.name = QStringLiteral("Renamed");
        writer.setSongInfo(3, info);
    };
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
        otherWriter(renameSong);
    } else if (change.endsWith("header") || change == "both headers") {
        if (change == "both headers")
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
    QCOMPARE(log.events.contains("opened"), reloaded);
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
    QVERIFY(card.open(m_image->path(), 1));
    card.setName(QStringLiteral("Edited"));
    SignalLog log(card);
    QTest::ignoreMessage(QtCriticalMsg, QRegularExpression(QStringLiteral("ejected card")));
    QVERIFY(QFile::remove(m_image->path()));
    streams.failEvery(TS::StreamCall::Write);
    QTRY_VERIFY_WITH_TIMEOUT(!card.isOpen(), 2500);
    QCOMPARE(log.events.first(), QStringLiteral("closed"));
    QCOMPARE(notifier.messages().size(), 1);
    const Notifier::Message &message = notifier.messages().first();
    QCOMPARE(message.text, QStringLiteral("It seems like the SD card was ejected."));
    QCOMPARE(message.icon, Notifier::Icon::Warning);
    QCOMPARE(message.buttons, Notifier::Buttons(Notifier::Ok));
    // The check stops with the card: no second box.
    QTest::qWait(2200);
    QCOMPARE(notifier.messages().size(), 1);
}

QTEST_GUILESS_MAIN(TestSdCard)
#include "tst_sdcard.moc"
