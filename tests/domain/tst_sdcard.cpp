// SdCard on sparse card images: opening, the write test, signals and their order, header
// editing, record access with byte checks, clearing, commits, failures and ejection.
#include "domain/sdcard.h"
#include "recordingnotifier.h"
#include "support/cardimage.h"
#include "support/faultstream.h"
#include "support/filesnapshot.h"

#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <memory>

using namespace ZovaZode;
namespace TS = ZovaZode::TestSupport;

namespace {

// Every signal of a card, in the order it arrived.
class SignalLog : public QObject
{
public:
    explicit SignalLog(SdCard &card)
    {
        connect(&card, &SdCard::opened, this, [this] { events << QStringLiteral("opened"); });
        connect(&card, &SdCard::closed, this, [this] { events << QStringLiteral("closed"); });
        connect(&card, &SdCard::openStateChanged, this,
                [this](bool open) { events << QStringLiteral("open %1").arg(open ? "true" : "false"); });
        connect(&card, &SdCard::pathChanged, this, [this](const QString &p) { events << "path " + p; });
        connect(&card, &SdCard::nameChanged, this, [this](const QString &n) { events << "name " + n; });
        connect(&card, &SdCard::descriptionChanged, this,
                [this](const QString &d) { events << "description " + d; });
    }
    QStringList events;
};

QString errorOf(const std::function<void()> &operation)
{
    try {
        operation();
    } catch (const SdCard::Error &error) {
        return QString::fromUtf8(error.what());
    }
    return QString();
}

} // namespace

class TestSdCard : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void openModes_data();
    void openModes();
    void nothingWrittenBesideTheCard_data();
    void nothingWrittenBesideTheCard();
    void writeProtectedCard();
    void signalOrder_data();
    void signalOrder();
    void closedCard_data();
    void closedCard();
    void songNumbersChecked_data();
    void songNumbersChecked();
    void shortCardFile_data();
    void shortCardFile();

    void headerReachesCardOnlyWhenWritable_data();
    void headerReachesCardOnlyWhenWritable();
    void refreshTakesOtherWriter();
    void otherWriterSongSeen();
    void otherWritersHeaderKept_data();
    void otherWritersHeaderKept();
    void reloadIfChanged_data();
    void reloadIfChanged();
    void recordsFromTheirPositions_data();
    void recordsFromTheirPositions();
    void setSongInfoKeepsUnknownBytes_data();
    void setSongInfoKeepsUnknownBytes();
    void setSongInfoOnReadOnlyCard();
    void clearSong_data();
    void clearSong();
    void clearSongRefusesInvalidRecord();

    void commitsAfterWrites_data();
    void commitsAfterWrites();
    void failedHeaderWriteKeepsCardOpen();
    void destructorSwallowsFailure();
    void ejection_data();
    void ejection();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<TS::CardImage> m_image;
};

void TestSdCard::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_image = std::make_unique<TS::CardImage>(m_dir->path());
    m_image->create("Test Card", "A card for tests");
}

void TestSdCard::cleanup()
{
    m_image.reset();
    m_dir.reset();
}

void TestSdCard::openModes_data()
{
    QTest::addColumn<int>("writable");
    QTest::addColumn<bool>("isWritable");

    // clang-format off
    QTest::newRow("1 writes") << 1  << true;
    QTest::newRow("0 reads")  << 0  << false;
    QTest::newRow("2 reads")  << 2  << false;
    QTest::newRow("-1 reads") << -1 << false;
    // clang-format on
}

void TestSdCard::openModes()
{
    QFETCH(int, writable);
    QFETCH(bool, isWritable);

    SdCard card;
    QCOMPARE(SdCard::songCount(), 12);
    QVERIFY(card.open(m_image->path(), writable));
    QVERIFY(card.isOpen());
    QCOMPARE(card.isWritable(), isWritable);
    QCOMPARE(card.path(), m_image->path());
    QCOMPARE(card.name(), QStringLiteral("Test Card"));
    QCOMPARE(card.description(), QStringLiteral("A card for tests"));
    QCOMPARE(card.property("isOpen").toBool(), true);
    QCOMPARE(card.property("name").toString(), QStringLiteral("Test Card"));
    QCOMPARE(SdCard::songCount(), 12);

    card.close();
    QVERIFY(!card.isOpen());
    QVERIFY(!card.isWritable());
    QCOMPARE(card.path(), QString());
}

void TestSdCard::nothingWrittenBesideTheCard_data()
{
    QTest::addColumn<int>("writable");
    // clang-format off
    QTest::newRow("reading") << 0;
    QTest::newRow("writing") << 1;
    // clang-format on
}

// Opening learns nothing by writing: the folder of the card keeps its entries and its times.
void TestSdCard::nothingWrittenBesideTheCard()
{
    QFETCH(int, writable);
    const QString folder = m_dir->path();
    const QStringList entries =
        QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    // Past the file system's clock tick, so that an entry made and removed again would show.
    QTest::qWait(30);
    const TS::FileSnapshot before(m_image->path());
    struct stat was;
    QCOMPARE(::stat(QFile::encodeName(folder).constData(), &was), 0);

    SdCard card;
    QVERIFY(card.open(m_image->path(), writable));
    QCOMPARE(card.isWritable(), writable == 1);
    card.close();

    struct stat now;
    QCOMPARE(::stat(QFile::encodeName(folder).constData(), &now), 0);
    QCOMPARE(qint64(now.st_mtim.tv_nsec), qint64(was.st_mtim.tv_nsec));
    QCOMPARE(qint64(now.st_mtim.tv_sec), qint64(was.st_mtim.tv_sec));
    QCOMPARE(QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), entries);
    QCOMPARE(TS::describe(before.changes()), QString());
}

void TestSdCard::writeProtectedCard()
{
    const QString path = m_image->path();
    std::function<void()> undo;
    if (geteuid() == 0) {
        // Root writes through permission bits; only the immutable flag stops it.
        if (QStandardPaths::findExecutable(QStringLiteral("chattr")).isEmpty())
            QSKIP("Running as root without chattr: no way to protect the card.");
        if (QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("+i"), path}) != 0)
            QSKIP("Running as root and chattr +i is not permitted here (no CAP_LINUX_IMMUTABLE or a file "
                  "system without the flag): no way to protect the card.");
        undo = [path] { QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("-i"), path}); };
    } else {
        QVERIFY(QFile::setPermissions(path, QFileDevice::ReadOwner));
        undo = [path] { QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner); };
    }
    const auto restore = qScopeGuard(undo);

    const TS::FileSnapshot before(m_image->path());
    const QDateTime modified = QFileInfo(m_image->path()).lastModified();
    SdCard card;
    SignalLog log(card);
    QVERIFY(!card.open(m_image->path(), 1));
    QVERIFY(!card.isOpen());
    QVERIFY(log.events.isEmpty());

    // The caller's fallback still works, and reading writes nothing either.
    QVERIFY(card.open(m_image->path(), 0));
    QVERIFY(!card.isWritable());
    card.close();
    QCOMPARE(TS::describe(before.changes()), QString());
    QCOMPARE(QFileInfo(m_image->path()).lastModified(), modified);
}

void TestSdCard::signalOrder_data()
{
    QTest::addColumn<bool>("openFirst");
    QTest::addColumn<QString>("action");
    QTest::addColumn<QStringList>("expected"); // "%p" stands for the card's path

    const QStringList opening{"opened", "open true", "path %p", "name Test Card",
                              "description A card for tests"};
    const QStringList closing{"closed", "open false", "path ", "name ", "description "};

    // clang-format off
    QTest::newRow("open")                  << false << "open"           << opening;
    QTest::newRow("open over open")        << true  << "open"           << opening;
    QTest::newRow("failed open")           << false << "open missing"   << QStringList();
    QTest::newRow("failed open over open") << true  << "open missing"   << closing;
    QTest::newRow("close")                 << true  << "close"          << closing;
    QTest::newRow("close when closed")     << false << "close"          << QStringList();
    QTest::newRow("refresh")               << true  << "refresh"        << QStringList{"opened", "open true", "name Test Card", "description A card for tests"};
    QTest::newRow("refresh when closed")   << false << "refresh"        << QStringList();
    QTest::newRow("setName")               << true  << "setName"        << QStringList{"name Other"};
    QTest::newRow("setName when closed")   << false << "setName"        << QStringList();
    QTest::newRow("setDescription")        << true  << "setDescription" << QStringList{"description Other"};
    QTest::newRow("setDescription closed") << false << "setDescription" << QStringList();
    // clang-format on
}

void TestSdCard::signalOrder()
{
    QFETCH(bool, openFirst);
    QFETCH(QString, action);
    QFETCH(QStringList, expected);

    SdCard card;
    if (openFirst)
        QVERIFY(card.open(m_image->path(), 1));
    SignalLog log(card);

    if (action == QLatin1String("open"))
        QVERIFY(card.open(m_image->path(), 1));
    else if (action == QLatin1String("open missing"))
        QVERIFY(!card.open(QDir(m_dir->path()).filePath(QStringLiteral("missing.dat")), 0));
    else if (action == QLatin1String("close"))
        card.close();
    else if (action == QLatin1String("refresh"))
        card.refresh();
    else if (action == QLatin1String("setName"))
        card.setName(QStringLiteral("Other"));
    else if (action == QLatin1String("setDescription"))
        card.setDescription(QStringLiteral("Other"));

    expected.replaceInStrings(QStringLiteral("%p"), m_image->path());
    QCOMPARE(log.events, expected);
}

void TestSdCard::closedCard_data()
{
    QTest::addColumn<QString>("operation");
    QTest::addColumn<QString>("message");

    // clang-format off
    QTest::newRow("songInfo")    << "songInfo"    << "No card open.";
    QTest::newRow("partInfo")    << "partInfo"    << "No card open.";
    QTest::newRow("setSongInfo") << "setSongInfo" << "No card open.";
    QTest::newRow("clearSong")   << "clearSong"   << "No card open.";
    QTest::newRow("writeHeader") << "writeHeader" << "No card open.";
    QTest::newRow("flush")       << "flush"       << "";
    // clang-format on
}

void TestSdCard::closedCard()
{
    QFETCH(QString, operation);
    QFETCH(QString, message);

    SdCard card;
    // Once opened and closed again, so that nothing of the old card may linger.
    QVERIFY(card.open(m_image->path(), 1));
    card.close();
    QCOMPARE(card.name(), QString());
    QCOMPARE(card.description(), QString());

    const QString error = errorOf([&] {
        if (operation == QLatin1String("songInfo"))
            card.songInfo(3);
        else if (operation == QLatin1String("partInfo"))
            card.partInfo(3, 1);
        else if (operation == QLatin1String("setSongInfo"))
            card.setSongInfo(3, SongInfo());
        else if (operation == QLatin1String("clearSong"))
            card.clearSong(3, QStringLiteral("x"));
        else if (operation == QLatin1String("writeHeader"))
            card.writeHeader();
        else if (operation == QLatin1String("flush"))
            card.flush();
    });
    QCOMPARE(error, message);
}

void TestSdCard::songNumbersChecked_data()
{
    QTest::addColumn<QString>("operation");
    QTest::addColumn<int>("song");
    QTest::addColumn<int>("part");
    QTest::addColumn<QString>("message");

    // clang-format off
    QTest::newRow("songInfo 12")      << "songInfo"    << 12 << 0  << "Could not read song info: Song number out of range.";
    QTest::newRow("songInfo -1")      << "songInfo"    << -1 << 0  << "Could not read song info: Song number out of range.";
    QTest::newRow("partInfo 12")      << "partInfo"    << 12 << 0  << "Could not get part info: Song number out of range.";
    QTest::newRow("partInfo part 5")  << "partInfo"    << 0  << 5  << "Could not get part info: Part number out of range.";
    QTest::newRow("partInfo part -1") << "partInfo"    << 0  << -1 << "Could not get part info: Part number out of range.";
    QTest::newRow("setSongInfo 12")   << "setSongInfo" << 12 << 0  << "Could not write song info: Song number out of range.";
    QTest::newRow("clearSong 12")     << "clearSong"   << 12 << 0  << "Could not clear song: Song number out of range.";
    QTest::newRow("clearSong -1")     << "clearSong"   << -1 << 0  << "Could not clear song: Song number out of range.";
    // clang-format on
}

// The library trusts the numbers it is given; song 12 of the card would be part data.
void TestSdCard::songNumbersChecked()
{
    QFETCH(QString, operation);
    QFETCH(int, song);
    QFETCH(int, part);
    QFETCH(QString, message);

    SdCard card;
    QVERIFY(card.open(m_image->path(), 1));
    const TS::FileSnapshot before(m_image->path());
    const QString error = errorOf([&] {
        if (operation == QLatin1String("songInfo"))
            card.songInfo(song);
        else if (operation == QLatin1String("partInfo"))
            card.partInfo(song, part);
        else if (operation == QLatin1String("setSongInfo"))
            card.setSongInfo(song, SongInfo());
        else if (operation == QLatin1String("clearSong"))
            card.clearSong(song, QString());
    });
    QCOMPARE(error, message);
    QCOMPARE(TS::describe(before.changes()), QString());
}

void TestSdCard::shortCardFile_data()
{
    QTest::addColumn<QString>("operation");
    QTest::addColumn<QString>("message");

    // clang-format off
    QTest::newRow("songInfo")    << "songInfo"    << "Could not read song info: mlsdGetUISongDataFromSDCard: Error reading UI song data from SD card.";
    QTest::newRow("partInfo")    << "partInfo"    << "Could not get part info: mlsdGetUIPartDataFromSDCard: Error reading UI part data from SD card.";
    QTest::newRow("setSongInfo") << "setSongInfo" << "Could not write song info: mlsdGetUISongDataFromSDCard: Error reading UI song data from SD card.";
    QTest::newRow("clearSong")   << "clearSong"   << "Could not clear song: mlsdClearSongOnSDCard: Error reading UI song data from SD card";
    // clang-format on
}

// A card cut short after it was opened (a card reader losing its medium, say): every record
// read fails, and the card stays open.
void TestSdCard::shortCardFile()
{
    QFETCH(QString, operation);
    QFETCH(QString, message);

    TS::CardImage image(m_dir->path(), QStringLiteral("SHORT.DAT"));
    image.create("Short", "Only a header");
    const QString path = image.path();
    const QByteArray header = TS::cardHeader("Short", "Only a header");

    SdCard card;
    QVERIFY(card.open(path, 1));
    QVERIFY(QFile::resize(path, 4096));
    QCOMPARE(card.name(), QStringLiteral("Short"));
    const QString error = errorOf([&] {
        if (operation == QLatin1String("songInfo"))
            card.songInfo(3);
        else if (operation == QLatin1String("partInfo"))
            card.partInfo(3, 2);
        else if (operation == QLatin1String("setSongInfo"))
            card.setSongInfo(3, SongInfo());
        else if (operation == QLatin1String("clearSong"))
            card.clearSong(3, QStringLiteral("New"));
    });
    QCOMPARE(error, message);
    QVERIFY(card.isOpen());
    card.close();
    QCOMPARE(TS::readRange(path, 0, 4096), header + QByteArray(4096 - header.size(), '\0'));
}

void TestSdCard::headerReachesCardOnlyWhenWritable_data()
{
    QTest::addColumn<int>("writable");
    QTest::addColumn<QString>("how"); // "close", "flush", "destroy", "reopen"
    QTest::addColumn<bool>("written");

    // clang-format off
    QTest::newRow("writable, close")    << 1 << "close"   << true;
    QTest::newRow("writable, flush")    << 1 << "flush"   << true;
    QTest::newRow("writable, destroy")  << 1 << "destroy" << true;
    QTest::newRow("writable, reopen")   << 1 << "reopen"  << true;
    QTest::newRow("writable, nothing")  << 1 << "nothing" << false;
    QTest::newRow("read-only, close")   << 0 << "close"   << false;
    QTest::newRow("read-only, flush")   << 0 << "flush"   << false;
    QTest::newRow("read-only, destroy") << 0 << "destroy" << false;
    // clang-format on
}

void TestSdCard::headerReachesCardOnlyWhenWritable()
{
    QFETCH(int, writable);
    QFETCH(QString, how);
    QFETCH(bool, written);

    const QByteArray before = m_image->read(TS::CardImage::headerRange());
    const TS::FileSnapshot snapshot(m_image->path());
    auto card = std::make_unique<SdCard>();
    QVERIFY(card->open(m_image->path(), writable));
    const QString name = QStringLiteral("Gig \u20ac");
    card->setName(name);
    card->setDescription(QStringLiteral("Set list"));
    QCOMPARE(card->name(), name);
    QCOMPARE(card->description(), QStringLiteral("Set list"));

    if (how == QLatin1String("close"))
        card->close();
    else if (how == QLatin1String("flush"))
        card->flush();
    else if (how == QLatin1String("destroy"))
        card.reset();
    else if (how == QLatin1String("reopen"))
        QVERIFY(card->open(m_image->path(), 0));

    const QByteArray after = m_image->read(TS::CardImage::headerRange());
    if (!written) {
        QCOMPARE(after, before);
    } else {
        QByteArray expected = before;
        TS::putText(expected, 8, 128, name.toUtf8());
        TS::putText(expected, 136, 384, "Set list");
        QCOMPARE(after, expected);
    }
    QCOMPARE(TS::describe(snapshot.changesOutside({TS::CardImage::headerRange()})), QString());
}

void TestSdCard::refreshTakesOtherWriter()
{
    SdCard ui;
    QVERIFY(ui.open(m_image->path(), 1));
    {
        SdCard transfer;
        QVERIFY(transfer.open(m_image->path(), 1));
        transfer.setName(QStringLiteral("Restored"));
        transfer.setDescription(QStringLiteral("From an archive"));
        transfer.flush();
    }
    QCOMPARE(ui.name(), QStringLiteral("Test Card"));
    SignalLog log(ui);
    ui.refresh();
    QCOMPARE(ui.name(), QStringLiteral("Restored"));
    QCOMPARE(log.events,
             (QStringList{"opened", "open true", "name Restored", "description From an archive"}));
    ui.close();
    QCOMPARE(TS::text(m_image->read(TS::CardImage::headerRange()), 8, 128), QByteArray("Restored"));
}

// The user interface re-reads card rows after a transfer wrote them through its own SdCard.
void TestSdCard::otherWriterSongSeen()
{
    m_image->writeSong(3, TS::sampleSong(3, 1));
    SdCard ui;
    QVERIFY(ui.open(m_image->path(), 1));
    QCOMPARE(ui.songInfo(3).name, QStringLiteral("Song 3 of card 1"));
    {
        SdCard transfer;
        QVERIFY(transfer.open(m_image->path(), 1));
        SongInfo info = transfer.songInfo(3);
        info.name = QStringLiteral("Restored song");
        transfer.setSongInfo(3, info);
    }
    QCOMPARE(ui.songInfo(3).name, QStringLiteral("Restored song"));
}

void TestSdCard::otherWritersHeaderKept_data()
{
    QTest::addColumn<bool>("edited"); // the header was edited here before the other program wrote
    QTest::addColumn<QString>("how"); // how this object lets go: "close", "flush" or "destroy"
    QTest::addColumn<bool>("told");   // the dropped edit is reported through the notifier

    // clang-format off
    QTest::newRow("not edited, close")   << false << "close"   << false;
    QTest::newRow("not edited, destroy") << false << "destroy" << false;
    QTest::newRow("edited, close")       << true  << "close"   << true;
    QTest::newRow("edited, flush")       << true  << "flush"   << true;
    QTest::newRow("edited, destroy")     << true  << "destroy" << false;
    // clang-format on
}

// Another program renamed the card while it was open here: its name stays.
void TestSdCard::otherWritersHeaderKept()
{
    QFETCH(bool, edited);
    QFETCH(QString, how);
    QFETCH(bool, told);

    RecordingNotifier notifier;
    auto card = std::make_unique<SdCard>();
    QVERIFY(card->open(m_image->path(), 1));
    if (edited)
        card->setName(QStringLiteral("Mine"));
    {
        SdCard other;
        QVERIFY(other.open(m_image->path(), 1));
        other.setName(QStringLiteral("Theirs"));
        other.close();
    }
    if (how == QLatin1String("close"))
        card->close();
    else if (how == QLatin1String("flush"))
        card->flush();
    else
        card.reset();

    QCOMPARE(TS::text(m_image->read(TS::CardImage::headerRange()), 8, 128), QByteArray("Theirs"));
    QCOMPARE(notifier.texts(),
             told ? QStringList{QString::fromUtf8(SdCard::ChangedUnderneathText)} : QStringList());
    if (how == QLatin1String("flush")) {
        QCOMPARE(card->name(), QStringLiteral("Theirs"));
        QVERIFY(!card->isHeaderEdited());
    }
}

void TestSdCard::reloadIfChanged_data()
{
    QTest::addColumn<QString>("change");
    QTest::addColumn<bool>("reloaded");
    QTest::addColumn<QString>("name"); // the card's name afterwards
    QTest::addColumn<bool>("told");

    // clang-format off
    QTest::newRow("nothing")              << "nothing"      << false << "Test Card" << false;
    QTest::newRow("own song write")       << "own song"     << false << "Test Card" << false;
    QTest::newRow("own header write")     << "own header"   << false << "Mine"      << false;
    QTest::newRow("other's song write")   << "other song"   << true  << "Test Card" << false;
    QTest::newRow("other's header write") << "other header" << true  << "Theirs"    << false;
    QTest::newRow("edited here too")      << "both headers" << true  << "Theirs"    << true;
    QTest::newRow("other still writing")  << "locked"       << false << "Test Card" << false;
    QTest::newRow("file replaced")        << "replaced"     << true  << "New File"  << false;
    // clang-format on
}

void TestSdCard::reloadIfChanged()
{
    QFETCH(QString, change);
    QFETCH(bool, reloaded);
    QFETCH(QString, name);
    QFETCH(bool, told);

    m_image->writeSong(3, TS::sampleSong(3, 1));
    RecordingNotifier notifier;
    SdCard card;
    QVERIFY(card.open(m_image->path(), 1));
    // Past the file system's clock tick, so that a write changes the file's times.
    QTest::qWait(20);
    const auto renameSong = [](SdCard &writer) {
        SongInfo info = writer.songInfo(3);
        info.name = QStringLiteral("Renamed");
        writer.setSongInfo(3, info);
    };
    const auto otherWriter = [&](const std::function<void(SdCard &)> &write) {
        SdCard other;
        QVERIFY(other.open(m_image->path(), 1));
        write(other);
        other.close();
    };
    int held = -1;
    if (change == QLatin1String("own song")) {
        renameSong(card);
    } else if (change == QLatin1String("own header")) {
        card.setName(QStringLiteral("Mine"));
        card.flush();
    } else if (change == QLatin1String("other song")) {
        otherWriter(renameSong);
    } else if (change == QLatin1String("other header") || change == QLatin1String("both headers")) {
        if (change == QLatin1String("both headers"))
            card.setName(QStringLiteral("Mine"));
        otherWriter([](SdCard &other) { other.setName(QStringLiteral("Theirs")); });
    } else if (change == QLatin1String("locked")) {
        otherWriter(renameSong);
        held = ::open(QFile::encodeName(m_image->path()).constData(), O_RDONLY | O_CLOEXEC);
        QVERIFY(::flock(held, LOCK_EX) == 0);
    } else if (change == QLatin1String("replaced")) {
        const QString other = QDir(m_dir->path()).filePath(QStringLiteral("other"));
        QVERIFY(QDir().mkpath(other));
        TS::CardImage replacement(other);
        replacement.create("New File");
        QVERIFY(::rename(QFile::encodeName(replacement.path()).constData(),
                         QFile::encodeName(m_image->path()).constData()) == 0);
    }
    SignalLog log(card);

    QCOMPARE(card.reloadIfChanged(), reloaded);
    QCOMPARE(card.name(), name);
    QCOMPARE(log.events.contains(QStringLiteral("opened")), reloaded);
    QCOMPARE(notifier.texts(),
             told ? QStringList{QString::fromUtf8(SdCard::ChangedUnderneathText)} : QStringList());
    // Nothing more to read once the card has been read again.
    QVERIFY(!card.reloadIfChanged());
    if (held >= 0) {
        // The writer is done: now the change is read.
        ::close(held);
        QVERIFY(card.reloadIfChanged());
    }
}

void TestSdCard::recordsFromTheirPositions_data()
{
    QTest::addColumn<int>("song");
    QTest::addColumn<int>("part");

    // clang-format off
    QTest::newRow("first")  << 0  << 0;
    QTest::newRow("middle") << 5  << 2;
    QTest::newRow("last")   << 11 << 4;
    // clang-format on
}

void TestSdCard::recordsFromTheirPositions()
{
    QFETCH(int, song);
    QFETCH(int, part);

    // Neighbours differ, so a record read from the wrong place shows.
    for (int s = qMax(0, song - 1); s <= qMin(11, song + 1); ++s)
        m_image->writeSong(s, TS::sampleSong(s, 1));
    SdCard card;
    QVERIFY(card.open(m_image->path(), 0));

    const SongInfo info = card.songInfo(song);
    QCOMPARE(info.name, QStringLiteral("Song %1 of card 1").arg(song));
    QCOMPARE(info.firstValue, song % 5);
    QCOMPARE(info.secondValue, 97 + song);
    QCOMPARE(info.sequence, (QVector<qint32>{0, 1, 2, 3, 1, 0}));
    QCOMPARE(info.thirdValue, song - 1);
    QCOMPARE(info.fourthValue, song % 3);

    const PartInfo partInfo = card.partInfo(song, part);
    QCOMPARE(partInfo.genre, (song + part) % 12);
    QCOMPARE(partInfo.timeSignature, part % 2);
    QCOMPARE(partInfo.duration, 5.0f + float(part));
    QCOMPARE(partInfo.hasData, part < 3);
}

void TestSdCard::setSongInfoKeepsUnknownBytes_data()
{
    QTest::addColumn<int>("song");
    // clang-format off
    QTest::newRow("song 0")  << 0;
    QTest::newRow("song 11") << 11;
    // clang-format on
}

void TestSdCard::setSongInfoKeepsUnknownBytes()
{
    QFETCH(int, song);

    const TS::SongRecords records = TS::sampleSong(song, 2);
    m_image->writeSong(song, records);
    const TS::FileSnapshot before(m_image->path());

    SdCard card;
    QVERIFY(card.open(m_image->path(), 1));
    SongInfo info = card.songInfo(song);
    info.name = QStringLiteral("Renamed");
    info.description = QStringLiteral("New");
    card.setSongInfo(song, info);
    QCOMPARE(card.songInfo(song), info);
    card.close();

    const QByteArray after = m_image->read(TS::CardImage::songDataRange(song));
    QByteArray expected = records.song;
    TS::putText(expected, 4, 128, "Renamed");
    TS::putText(expected, 132, 384, "New");
    QCOMPARE(after, expected);
    QCOMPARE(TS::describe(
                 before.changesOutside({TS::CardImage::songDataRange(song), TS::CardImage::headerRange()})),
             QString());
}

void TestSdCard::setSongInfoOnReadOnlyCard()
{
    m_image->writeSong(1, TS::sampleSong(1, 1));
    const TS::FileSnapshot before(m_image->path());
    SdCard card;
    QVERIFY(card.open(m_image->path(), 0));
    SongInfo info = card.songInfo(1);
    info.name = QStringLiteral("Nope");
    QCOMPARE(
        errorOf([&] { card.setSongInfo(1, info); }),
        QStringLiteral(
            "Could not write song info: mlsdSendUISongDataToSDCard: Error writing UI song data to SD card."));
    card.close();
    QCOMPARE(TS::describe(before.changes()), QString());
}

void TestSdCard::clearSong_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("stored");

    // clang-format off
    QTest::newRow("six-byte name") << QStringLiteral("Intro1")        << QByteArray("Intro1");
    QTest::newRow("utf-8 name")    << QStringLiteral("\u00e9t\u00e9") << QByteArray("\xc3\xa9t\xc3\xa9");
    QTest::newRow("no name")       << QString()                       << QByteArray();
    // clang-format on
}

void TestSdCard::clearSong()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, stored);

    const TS::SongRecords records = TS::sampleSong(7, 3);
    m_image->writeSong(7, records);
    m_image->writeSong(8, TS::sampleSong(8, 3));
    const TS::FileSnapshot before(m_image->path());

    SdCard card;
    QVERIFY(card.open(m_image->path(), 1));
    card.clearSong(7, name);

    const SongInfo info = card.songInfo(7);
    QCOMPARE(info.name, name);
    QCOMPARE(info.description, QString());
    QVERIFY(info.sequence.isEmpty());
    QCOMPARE(info.thirdValue, -1);
    for (int part = 0; part < 5; ++part)
        QVERIFY(!card.partInfo(7, part).hasData);
    QCOMPARE(card.songInfo(8).name, QStringLiteral("Song 8 of card 3"));
    card.close();

    const QByteArray song = m_image->read(TS::CardImage::songDataRange(7));
    QCOMPARE(TS::text(song, 4, 128), stored);
    QCOMPARE(song.mid(936), records.song.mid(936));
    QCOMPARE(
        TS::describe(before.changesOutside(TS::CardImage::clearRanges(7) << TS::CardImage::headerRange())),
        QString());
}

void TestSdCard::clearSongRefusesInvalidRecord()
{
    TS::SongFields fields;
    fields.third = -2;
    m_image->writeSongData(4, TS::songData(fields));
    const TS::FileSnapshot before(m_image->path());

    SdCard card;
    QVERIFY(card.open(m_image->path(), 1));
    QCOMPARE(
        errorOf([&] { card.clearSong(4, QStringLiteral("x")); }),
        QStringLiteral("Could not clear song: mlsdClearSongOnSDCard: Song data from SD card is invalid"));
    card.close();
    QCOMPARE(TS::describe(before.changesOutside({TS::CardImage::headerRange()})), QString());
}

void TestSdCard::commitsAfterWrites_data()
{
    QTest::addColumn<QString>("operation");
    QTest::addColumn<QString>("message"); // when the commit fails

    // clang-format off
    QTest::newRow("writeHeader") << "writeHeader" << "Could not write card header: mlsdCommitSDCard: Error committing data to SD card.";
    QTest::newRow("flush")       << "flush"       << "Could not write card header: mlsdCommitSDCard: Error committing data to SD card.";
    QTest::newRow("setSongInfo") << "setSongInfo" << "Could not write song info: mlsdCommitSDCard: Error committing data to SD card.";
    QTest::newRow("clearSong")   << "clearSong"   << "Could not clear song: mlsdCommitSDCard: Error committing data to SD card.";
    // clang-format on
}

// A user-interface write must be on the device when it returns, and say so when it is not.
void TestSdCard::commitsAfterWrites()
{
    QFETCH(QString, operation);
    QFETCH(QString, message);

    TS::ScopedFaultInjector streams;
    SdCard card;
    QVERIFY(card.open(m_image->path(), 1));
    int edits = 0;
    const auto run = [&] {
        // Only an edited header is written.
        if (operation == QLatin1String("writeHeader") || operation == QLatin1String("flush"))
            card.setName(QStringLiteral("Edit %1").arg(++edits));
        if (operation == QLatin1String("writeHeader"))
            card.writeHeader();
        else if (operation == QLatin1String("flush"))
            card.flush();
        else if (operation == QLatin1String("setSongInfo"))
            card.setSongInfo(2, card.songInfo(2));
        else if (operation == QLatin1String("clearSong"))
            card.clearSong(2, QStringLiteral("Cleared"));
    };

    const qint64 commitsBefore = streams.calls(TS::StreamCall::Commit);
    QCOMPARE(errorOf(run), QString());
    QVERIFY(streams.calls(TS::StreamCall::Commit) > commitsBefore);

    streams.failEvery(TS::StreamCall::Commit);
    QCOMPARE(errorOf(run), message);
    QVERIFY(card.isOpen());
    streams.disarm();
}

void TestSdCard::failedHeaderWriteKeepsCardOpen()
{
    TS::ScopedFaultInjector streams;
    SdCard card;
    QVERIFY(card.open(m_image->path(), 1));
    card.setName(QStringLiteral("Unsaved"));
    SignalLog log(card);

    streams.failEvery(TS::StreamCall::Write);
    QCOMPARE(errorOf([&] { card.close(); }),
             QStringLiteral(
                 "Could not write card header: mlsdSendHeaderToSDCard: Error writing header to SD card."));
    QVERIFY(card.isOpen());
    QCOMPARE(card.name(), QStringLiteral("Unsaved"));
    QCOMPARE(errorOf([&] { card.open(m_image->path(), 0); }),
             QStringLiteral(
                 "Could not write card header: mlsdSendHeaderToSDCard: Error writing header to SD card."));
    QVERIFY(card.isWritable());
    QVERIFY(log.events.isEmpty());

    streams.disarm();
    card.close();
    QVERIFY(!card.isOpen());
    QCOMPARE(TS::text(m_image->read(TS::CardImage::headerRange()), 8, 128), QByteArray("Unsaved"));
}

void TestSdCard::destructorSwallowsFailure()
{
    TS::ScopedFaultInjector streams;
    auto card = std::make_unique<SdCard>();
    QVERIFY(card->open(m_image->path(), 1));
    card->setName(QStringLiteral("Lost"));
    streams.failEvery(TS::StreamCall::Write);
    QTest::ignoreMessage(QtCriticalMsg,
                         QRegularExpression(QStringLiteral("^SD: Could not write card header")));
    card.reset();
    QCOMPARE(TS::text(m_image->read(TS::CardImage::headerRange()), 8, 128), QByteArray("Test Card"));
}

void TestSdCard::ejection_data()
{
    QTest::addColumn<int>("writable");
    QTest::addColumn<bool>("edited");    // the header was edited, so closing writes it
    QTest::addColumn<bool>("failWrite"); // the header write to the vanished card fails

    // clang-format off
    QTest::newRow("read-only")                << 0 << false << false;
    QTest::newRow("writable")                 << 1 << false << false;
    QTest::newRow("writable, edited")         << 1 << true  << false;
    QTest::newRow("writable, header failure") << 1 << true  << true;
    // clang-format on
}

void TestSdCard::ejection()
{
    QFETCH(int, writable);
    QFETCH(bool, edited);
    QFETCH(bool, failWrite);

    TS::ScopedFaultInjector streams;
    RecordingNotifier notifier;
    SdCard card;
    QVERIFY(card.open(m_image->path(), writable));
    if (edited)
        card.setName(QStringLiteral("Edited"));
    SignalLog log(card);

    if (failWrite)
        QTest::ignoreMessage(QtCriticalMsg, QRegularExpression(QStringLiteral("ejected card")));
    QVERIFY(QFile::remove(m_image->path()));
    if (failWrite)
        streams.failEvery(TS::StreamCall::Write);
    QTRY_VERIFY_WITH_TIMEOUT(!card.isOpen(), 2500);

    QCOMPARE(log.events.first(), QStringLiteral("closed"));
    QCOMPARE(card.path(), QString());
    QCOMPARE(notifier.messages().size(), 1);
    const Notifier::Message &message = notifier.messages().first();
    QCOMPARE(message.text, QStringLiteral("It seems like the SD card was ejected."));
    QCOMPARE(message.title, QString());
    QCOMPARE(message.icon, Notifier::Icon::Warning);
    QCOMPARE(message.buttons, Notifier::Buttons(Notifier::Ok));
    QCOMPARE(message.parent, nullptr);

    // The check stops with the card: no second box.
    QTest::qWait(2200);
    QCOMPARE(notifier.messages().size(), 1);
    QCOMPARE(log.events.count(QStringLiteral("closed")), 1);
}

QTEST_GUILESS_MAIN(TestSdCard)
#include "tst_sdcard.moc"
