// Runs the built morv-card on sparse cards and archives: what each command writes, its
// output (JSON shapes included), its exit status, what it refuses without touching anything,
// and that an interrupted transfer leaves no file behind.
#include "support/archivebuilder.h"
#include "support/cardimage.h"
#include "support/filebytes.h"
#include "support/filesnapshot.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QThread>

#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace ZovaZode::TestSupport;

namespace {

struct Result
{
    int status = -1;
    QByteArray out;
    QByteArray err;
};

// The tool reads the window's settings and writes safety copies into the card library: give
// it a home of its own so no test touches the real user's.
QProcessEnvironment isolatedEnvironment()
{
    static QTemporaryDir home;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("HOME"), home.path());
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home.path() + QStringLiteral("/.config"));
    environment.insert(QStringLiteral("XDG_DATA_HOME"), home.path() + QStringLiteral("/.local/share"));
    return environment;
}

// stdin is a pipe, closed at once: never a terminal.
Result morvCard(const QStringList &arguments, const QString &workingDirectory = QString())
{
    QProcess process;
    process.setProcessEnvironment(isolatedEnvironment());
    process.setWorkingDirectory(workingDirectory);
    process.start(QStringLiteral(MORV_CARD_PATH), arguments);
    process.closeWriteChannel();
    process.waitForFinished(-1);
    Result result;
    result.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    return result;
}

QJsonObject jsonOf(const QByteArray &out)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(out, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        qWarning() << "not a JSON object:" << out;
    return document.object();
}

QStringList sorted(QStringList list)
{
    list.sort();
    return list;
}

QStringList keysOf(const QJsonObject &object)
{
    return sorted(object.keys());
}

// A looper record's first 10,348 bytes: its words and payload, without the padding.
constexpr int kLooperWords = 10348;

bool sameSong(const QString &cardA, int songA, const QString &cardB, int songB)
{
    if (!rangesEqual(cardA, CardImage::songDataPosition(songA), cardB, CardImage::songDataPosition(songB),
                     kSongDataSize))
        return false;
    for (int part = 0; part < 5; ++part) {
        const qint64 looperA = CardImage::looperPosition(songA, part);
        const QByteArray looper = readRange(cardA, looperA, kLooperRecordSize);
        const qint64 audio =
            looperAccepted(looper) &&
                    word(readRange(cardA, CardImage::partDataPosition(songA, part), 520), 516)
                ? qint64(signedWord(looper, 4)) * kChunkSize
                : 0;
        if (!rangesEqual(cardA, CardImage::partDataPosition(songA, part), cardB,
                         CardImage::partDataPosition(songB, part), kPartDataSize) ||
            !rangesEqual(cardA, looperA, cardB, CardImage::looperPosition(songB, part), kLooperWords) ||
            !rangesEqual(cardA, CardImage::audioPosition(songA, part), cardB,
                         CardImage::audioPosition(songB, part), audio))
            return false;
    }
    return true;
}

} // namespace

class TestMorvCard : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void usageErrors_data();
    void usageErrors();
    void infoOfEveryKind_data();
    void infoOfEveryKind();
    void infoText();
    void verify_data();
    void verify();
    void archiveAndRestoreRoundTrip();
    void archiveNames_data();
    void archiveNames();
    void songCopyRoundTrip();
    void renamedCopy_data();
    void renamedCopy();
    void archiveWarnings();
    void refusalsTouchNothing_data();
    void refusalsTouchNothing();
    void rename_data();
    void rename();
    void clear_data();
    void clear();
    void makeDemo();
    void logOnlyWhenVerbose();
    void interruptedTransfer_data();
    void interruptedTransfer();
    void readingWritesNothingBesideTheCard_data();
    void readingWritesNothingBesideTheCard();
    void namesEscapedOnTheTerminal();
    void linksAtTheOldTemporaryName_data();
    void linksAtTheOldTemporaryName();
    void cardInUse_data();
    void cardInUse();
    void twoRestoresAtOnce();

private:
    QString path(const QString &name) const { return m_dir->filePath(name); }
    // A card whose twelve songs are the fixtures' sample songs (every part path, small audio).
    QString sampleCard(const QString &name, quint32 variant = 1);
    QString demoCard(const QString &folder);
    QJsonObject info(const QString &file);

    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestMorvCard::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void TestMorvCard::cleanup()
{
    m_dir.reset();
}

QString TestMorvCard::sampleCard(const QString &name, quint32 variant)
{
    QDir().mkpath(path(name));
    CardImage card(path(name));
    card.create("Sample Card", "Twelve sample songs", variant);
    for (int song = 0; song < 12; ++song)
        card.writeSong(song, sampleSong(song, variant));
    return card.path();
}

QString TestMorvCard::demoCard(const QString &folder)
{
    const Result made = morvCard({QStringLiteral("make-demo"), path(folder)});
    if (made.status != 0)
        qWarning() << made.err;
    return QDir(path(folder)).filePath(QStringLiteral("ZOVAZODE.DAT"));
}

QJsonObject TestMorvCard::info(const QString &file)
{
    const Result result = morvCard({QStringLiteral("info"), file, QStringLiteral("--json")});
    if (result.status != 0)
        qWarning() << result.err;
    return jsonOf(result.out);
}

void TestMorvCard::usageErrors_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("message");
    const QString c = QStringLiteral("missing/ZOVAZODE.DAT");
    // clang-format off
    QTest::newRow("no command")        << QStringList{}                                            << "no command given";
    QTest::newRow("unknown command")   << QStringList{"frobnicate"}                                << "unknown command 'frobnicate'";
    QTest::newRow("unknown option")    << QStringList{"info", c, "--fast"}                         << "unknown option '--fast'";
    QTest::newRow("missing argument")  << QStringList{"info"}                                      << "usage: morv-card info FILE [--json]";
    QTest::newRow("extra argument")    << QStringList{"verify", c, c}                              << "usage: morv-card verify FILE [--json]";
    QTest::newRow("foreign option")    << QStringList{"restore", "a.mlad", c, "--json"}            << "restore does not take --json";
    QTest::newRow("--name no value")   << QStringList{"archive", c, "o.mlad", "--name"}            << "--name needs a value";
    QTest::newRow("slot 0")            << QStringList{"export-song", c, "0", "o.mlsd"}             << "bad slot '0': song slots are numbered 1 to 12";
    QTest::newRow("slot 13")           << QStringList{"import-song", "s.mlsd", c, "13", "--yes"}   << "bad slot '13': song slots are numbered 1 to 12";
    QTest::newRow("slot x")            << QStringList{"clear", c, "x", "--yes"}                    << "bad slot 'x': song slots are numbered 1 to 12";
    QTest::newRow("rename slot 0")     << QStringList{"rename", c, "0", "Name"}                    << "bad slot '0': song slots are numbered 1 to 12";
    QTest::newRow("empty name")        << QStringList{"rename", c, ""}                             << "the new name is empty";
    QTest::newRow("--parts alone")     << QStringList{"make-demo", "d", "--parts", "3"}            << "--parts goes with --full";
    QTest::newRow("--parts 61")        << QStringList{"make-demo", "d", "--full", "--parts", "61"} << "--parts takes a number from 1 to 60, not '61'";
    QTest::newRow("restore, no --yes") << QStringList{"restore", "a.mlad", c}                      << "";
    // clang-format on
}

void TestMorvCard::usageErrors()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, message);
    if (message.isEmpty()) {
        // Everything else of the command is fine: only the confirmation is missing.
        const QString card = sampleCard(QStringLiteral("card"));
        QVERIFY(morvCard({"archive", card, path("a.mlad")}).status == 0);
        arguments = QStringList{"restore", path("a.mlad"), card};
        message = QStringLiteral(
            "restore overwrites card data: confirm with --yes when standard input is not a terminal");
    }
    const Result result = morvCard(arguments, m_dir->path());
    QCOMPARE(result.status, 2);
    QVERIFY2(result.err.startsWith(("morv-card: " + message).toUtf8()), result.err.constData());
    QCOMPARE(result.err.count('\n'), 1);
    QVERIFY(result.err.endsWith('\n'));
    QVERIFY(result.out.isEmpty());
    QVERIFY(!QFileInfo::exists(path("d")));
}

void TestMorvCard::infoOfEveryKind_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("songs");
    QTest::addColumn<QString>("extraKey");
    // clang-format off
    QTest::newRow("card")         << "card"         << 12 << "writable";
    QTest::newRow("card archive") << "card-archive" << 12 << "userPrefs";
    QTest::newRow("song file")    << "song-file"    << 1  << "userPrefs";
    QTest::newRow("archive")      << "archive"      << 2  << "userPrefs";
    // clang-format on
}

void TestMorvCard::infoOfEveryKind()
{
    QFETCH(QString, kind);
    QFETCH(int, songs);
    QFETCH(QString, extraKey);
    const QString card = sampleCard(QStringLiteral("card"), 4);
    QString file = card;
    if (kind == QLatin1String("card-archive")) {
        file = path("a.mlad");
        QCOMPARE(morvCard({"archive", card, file}).status, 0);
    } else if (kind == QLatin1String("song-file")) {
        file = path("s.mlsd");
        QCOMPARE(morvCard({"export-song", card, "1", file}).status, 0);
    } else if (kind == QLatin1String("archive")) {
        file = path("two.mlad");
        ArchiveBuilder builder;
        builder.addSong(sampleSong(0, 4));
        builder.addSong(sampleSong(1, 4));
        builder.write(file);
    }

    const QJsonObject object = info(file);
    QCOMPARE(keysOf(object), sorted({"description", "kind", extraKey, "name", "songs"}));
    QCOMPARE(object.value("kind").toString(), kind);
    QCOMPARE(object.value(extraKey).toBool(),
             kind != QLatin1String("song-file") && kind != QLatin1String("archive"));
    const QJsonArray list = object.value("songs").toArray();
    QCOMPARE(list.size(), songs);
    const QJsonObject first = list.at(0).toObject();
    QCOMPARE(keysOf(first), (QStringList{"description", "name", "parts", "sequence", "slot"}));
    QCOMPARE(first.value("slot").toInt(), 1);
    QCOMPARE(first.value("name").toString(), QStringLiteral("Song 0 of card 4"));
    // The sample song: a recorded part, a looper part, an intense part, two unused parts, and
    // the stored sequence 0 1 2 3 1 0 counted from 1.
    QCOMPARE(first.value("parts").toArray(), QJsonArray({"normal", "looper", "intense", "empty", "empty"}));
    QCOMPARE(first.value("sequence").toArray(), QJsonArray({1, 2, 3, 4, 2, 1}));
    QCOMPARE(list.last().toObject().value("slot").toInt(), songs);
}

void TestMorvCard::infoText()
{
    const Result result = morvCard({"info", demoCard("demo")});
    QCOMPARE(result.status, 0);
    const QString text = QString::fromUtf8(result.out);
    QVERIFY(text.contains(QStringLiteral("Name:        Morv+ Demo Card\n")));
    QVERIFY2(text.contains(QStringLiteral(
                 "   1  normal   intense  looper   empty    empty           6  Sunrise Shuffle\n")),
             qPrintable(text));
    QVERIFY(text.contains(
        QStringLiteral("  12  empty    empty    empty    empty    empty           0  Song 12\n")));
}

void TestMorvCard::verify_data()
{
    QTest::addColumn<QString>("damage");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("where");
    QTest::addColumn<QString>("what");
    // clang-format off
    QTest::newRow("clean card")          << "none"          << 0 << ""                                               << "";
    QTest::newRow("sequence count 100")  << "count"         << 1 << "song 3 UI song data (byte 21,228,544)"          << "sequence count is 100, outside 0 to 99";
    QTest::newRow("recording checksum")  << "checksum"      << 1 << "song 2, part 1 looper record (byte 27,203,584)" << "checksum 0x00001234 does not match the recording (0x";
    QTest::newRow("empty part checksum") << "emptyChecksum" << 0 << ""                                               << "";
    QTest::newRow("song header size")    << "songHeader"    << 1 << "song 1 header (byte 1,192)"                     << "UI part data size is 1,000, expected 16,384";
    // clang-format on
}

void TestMorvCard::verify()
{
    QFETCH(QString, damage);
    QFETCH(int, status);
    QFETCH(QString, where);
    QFETCH(QString, what);
    QString file = sampleCard(QStringLiteral("card"));
    CardImage card(QFileInfo(file).path());
    LooperFields looper = recording(64, 5);
    looper.checksumOverride = true;
    looper.checksum = 0x1234;
    if (damage == QLatin1String("count")) {
        SongFields fields;
        fields.sequence = QVector<qint32>(100, 1);
        card.writeSongData(2, songData(fields));
    } else if (damage == QLatin1String("checksum")) {
        card.writeLooper(1, 0, looperRecord(looper));
    } else if (damage == QLatin1String("emptyChecksum")) {
        // The checksum is kept only for recordings.
        looper.state = 1;
        card.writeLooper(1, 0, looperRecord(looper));
    } else if (damage == QLatin1String("songHeader")) {
        ArchiveBuilder builder;
        builder.addSong(sampleSong(0, 1));
        putWord(builder.songHeader(0), 24, 1000);
        file = path("bad.mlsd");
        builder.write(file);
    }

    const Result json = morvCard({"verify", file, "--json"});
    QCOMPARE(json.status, status);
    const QJsonObject object = jsonOf(json.out);
    QCOMPARE(keysOf(object), (QStringList{"ok", "problems"}));
    QCOMPARE(object.value("ok").toBool(), status == 0);
    const QJsonArray problems = object.value("problems").toArray();
    QCOMPARE(problems.size(), where.isEmpty() ? 0 : 1);
    if (!where.isEmpty()) {
        const QJsonObject problem = problems.at(0).toObject();
        QCOMPARE(keysOf(problem), (QStringList{"what", "where"}));
        QCOMPARE(problem.value("where").toString(), where);
        QVERIFY2(problem.value("what").toString().startsWith(what),
                 qPrintable(problem.value("what").toString()));
    }

    const Result text = morvCard({"verify", file});
    QCOMPARE(text.status, status);
    QVERIFY(text.out.endsWith(status == 0 ? "no problems found.\n" : "1 problem found.\n"));
    if (!where.isEmpty())
        QVERIFY(text.out.startsWith((where + QStringLiteral(": ") + what).toUtf8()));
}

void TestMorvCard::archiveAndRestoreRoundTrip()
{
    const QString demo = demoCard("demo");
    QCOMPARE(morvCard({"verify", demo}).status, 0);
    const QString archive = path("backup.mlad");
    const Result archived = morvCard({"archive", demo, archive});
    QCOMPARE(archived.status, 0);
    QVERIFY(archived.err.isEmpty());
    QCOMPARE(morvCard({"verify", archive}).status, 0);
    QCOMPARE(info(archive).value("songs"), info(demo).value("songs"));

    QDir().mkpath(path("target"));
    CardImage target(path("target"));
    target.create("Old Card", "Overwritten by the restore", 9);
    const Result restored = morvCard({"restore", archive, target.path(), "--yes"});
    QCOMPARE(restored.status, 0);
    QCOMPARE(morvCard({"verify", target.path()}).status, 0);
    const QJsonObject after = info(target.path());
    QCOMPARE(after.value("name").toString(), QStringLiteral("Morv+ Demo Card"));
    QCOMPARE(after.value("songs"), info(demo).value("songs"));
    QVERIFY(rangesEqual(demo, CardImage::userPrefsPosition(), target.path(), CardImage::userPrefsPosition(),
                        kUserPrefsSize));
    for (int song = 0; song < 12; ++song)
        QVERIFY2(sameSong(demo, song, target.path(), song), qPrintable(QString::number(song + 1)));
}

void TestMorvCard::archiveNames_data()
{
    QTest::addColumn<QByteArray>("cardName");
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("archiveName");
    // clang-format off
    QTest::newRow("card's own name") << QByteArray("Live Set") << QStringList{}                     << "Live Set";
    QTest::newRow("--name")          << QByteArray("Live Set") << QStringList{"--name", "Gig 2026"} << "Gig 2026";
    QTest::newRow("unnamed card")    << QByteArray()           << QStringList{}                     << "Morv+ Card";
    // clang-format on
}

void TestMorvCard::archiveNames()
{
    QFETCH(QByteArray, cardName);
    QFETCH(QStringList, options);
    QFETCH(QString, archiveName);
    QDir().mkpath(path("card"));
    CardImage card(path("card"));
    card.create(cardName, "");
    QCOMPARE(morvCard(QStringList{"archive", card.path(), path("a.mlad")} + options).status, 0);
    QCOMPARE(info(path("a.mlad")).value("name").toString(), archiveName);
}

void TestMorvCard::songCopyRoundTrip()
{
    const QString demo = demoCard("demo");
    const QString song = path("blues.mlsd");
    QCOMPARE(morvCard({"export-song", demo, "3", song}).status, 0);
    QCOMPARE(morvCard({"verify", song}).status, 0);
    QCOMPARE(info(song).value("songs").toArray().at(0).toObject().value("name").toString(),
             QStringLiteral("Delta Crossroads"));

    const QString target = sampleCard(QStringLiteral("target"));
    const FileSnapshot before(target);
    QCOMPARE(morvCard({"import-song", song, target, "9", "--yes"}).status, 0);
    QVERIFY(sameSong(demo, 2, target, 8));
    // The demo song's looper parts 4 and 5 hold two bars and one bar (375 chunks a bar).
    QCOMPARE(describe(before.changesOutside(
                 CardImage::restoreRanges(8, sampleSong(8, 1)) +
                 QVector<ByteRange>{CardImage::audioRange(8, 3, 2 * 375), CardImage::audioRange(8, 4, 375)})),
             QString());

    QCOMPARE(morvCard({"export-song", demo, "3", path("renamed.mlsd"), "--name", "Crossroads Live"}).status,
             0);
    QCOMPARE(info(path("renamed.mlsd")).value("songs").toArray().at(0).toObject().value("name").toString(),
             QStringLiteral("Crossroads Live"));
}

void TestMorvCard::renamedCopy_data()
{
    QTest::addColumn<QByteArray>("description");
    QTest::addColumn<QByteArray>("renamed"); // the description as the renamed record holds it
    QTest::addColumn<bool>("verify");
    // clang-format off
    QTest::newRow("plain text") << QByteArray("Verse and chorus") << QByteArray("Verse and chorus")   << true;
    QTest::newRow("not UTF-8")  << QByteArray("Caf\xe9 set")      << QByteArray("Caf\xef\xbf\xbd set") << true;
    QTest::newRow("unverified") << QByteArray("Caf\xe9 set")      << QByteArray("Caf\xef\xbf\xbd set") << false;
    // clang-format on
}

// A rename rewrites the song record from its values; what lands in the file is that record,
// and it is what the verification checks, whatever else the card's record holds.
void TestMorvCard::renamedCopy()
{
    QFETCH(QByteArray, description);
    QFETCH(QByteArray, renamed);
    QFETCH(bool, verify);
    QDir().mkpath(path("card"));
    CardImage card(path("card"));
    card.create();
    SongRecords song = sampleSong(0, 1);
    SongFields fields;
    fields.description = description;
    fields.sequence = {0, 1, 2, 3, 4, 3, 2};
    fields.count = 3; // four sequence words beyond the count, and filler beyond those
    song.song = songData(fields);
    card.writeSong(0, song);

    const QString out = path("renamed.mlsd");
    QStringList arguments{"export-song", card.path(), "1", out, "--name", "Encore", "--json"};
    if (!verify)
        arguments << "--no-verify";
    const Result result = morvCard(arguments);
    QVERIFY2(result.status == 0, result.err.constData());
    const QJsonObject json = jsonOf(result.out);
    QCOMPARE(keysOf(json), (QStringList{"file", "verified", "warnings"}));
    QCOMPARE(json.value("file").toString(), out);
    QCOMPARE(json.value("verified").toBool(), verify);
    QCOMPARE(json.value("warnings").toArray(), QJsonArray());
    QByteArray expected = song.song;
    putText(expected, 4, 128, "Encore");
    putText(expected, 132, 384, renamed);
    QCOMPARE(readRange(out, kFirstSongOffset + 136, kSongDataSize).toHex(), expected.toHex());
}

// User prefs out of range are archived as the card holds them, with a warning.
void TestMorvCard::archiveWarnings()
{
    QDir().mkpath(path("card"));
    CardImage card(path("card"));
    card.create();
    UserPrefsFields prefs;
    prefs.word1 = 7;
    card.writeUserPrefs(userPrefs(prefs));
    const Result result = morvCard({"archive", card.path(), path("a.mlad"), "--json"});
    QVERIFY2(result.status == 0, result.err.constData());
    const QJsonArray warnings = jsonOf(result.out).value("warnings").toArray();
    QByteArray printed;
    for (const QJsonValue &warning : warnings)
        printed += "morv-card: warning: " + warning.toString().toUtf8() + '\n';
    QCOMPARE(result.err, printed);
    QCOMPARE(warnings.size(), 1);
}

void TestMorvCard::refusalsTouchNothing_data()
{
    QTest::addColumn<QStringList>("arguments"); // CARD, OUT, BAD stand for the files below
    QTest::addColumn<QString>("message");
    const QString tooLong(129, QLatin1Char('x'));
    const QString hostile =
        "cannot read BAD: Could not open archive file: localOpenArchive: Error reading archive header.";
    // clang-format off
    QTest::newRow("archive over a file")  << QStringList{"archive", "CARD", "OUT"}                    << "OUT already exists; it is not replaced";
    QTest::newRow("export over a file")   << QStringList{"export-song", "CARD", "2", "OUT"}           << "OUT already exists; it is not replaced";
    QTest::newRow("long card name")       << QStringList{"rename", "CARD", tooLong}                   << "The name is too long. Please choose a different name.";
    QTest::newRow("punctuated song name") << QStringList{"rename", "CARD", "4", "A/B (2)"}            << "The name contains characters that are not permitted. Please avoid punctuation.";
    QTest::newRow("long archive name")    << QStringList{"archive", "CARD", "NEW", "--name", tooLong} << "The name is too long. Please choose a different name.";
    QTest::newRow("hostile info")         << QStringList{"info", "BAD"}                               << hostile;
    QTest::newRow("hostile restore")      << QStringList{"restore", "BAD", "CARD", "--yes"}           << hostile;
    QTest::newRow("hostile import")       << QStringList{"import-song", "BAD", "CARD", "1", "--yes"}  << hostile;
    QTest::newRow("not a card")           << QStringList{"clear", "OUT", "1", "--yes"}                << "cannot open the card OUT: mlsdOpenSDCard: The file is not the size of a card data file (3,207,041,024 bytes).";
    QTest::newRow("song file as card")    << QStringList{"restore", "SONG", "CARD", "--yes"}          << "SONG is not a card archive (it holds 1 songs); use import-song for a song file";
    QTest::newRow("export, no folder")    << QStringList{"export-song", "CARD", "1", "NOWHERE"}       << "copying song 1 failed: Could not create NOWHERE: No such file or directory.";
    QTest::newRow("fifo as the file")     << QStringList{"info", "FIFO"}                              << "cannot read FIFO: not a regular file";
    // clang-format on
}

void TestMorvCard::refusalsTouchNothing()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, message);
    const QString card = sampleCard(QStringLiteral("card"));
    ArchiveBuilder hostile;
    putWord(hostile.header(), 532, 13); // thirteen songs
    hostile.write(path("bad.mlad"));
    writeRange(path("out.mlad"), 0, QByteArray(2048, 'n'));
    QCOMPARE(morvCard({"export-song", card, "1", path("song.mlsd")}).status, 0);
    // Opening it for reading would wait for a writer that never comes.
    QCOMPARE(::mkfifo(QFile::encodeName(path("fifo")).constData(), 0600), 0);
    const QVector<QPair<QString, QString>> names = {{"CARD", card},
                                                    {"OUT", path("out.mlad")},
                                                    {"BAD", path("bad.mlad")},
                                                    {"NEW", path("new.mlad")},
                                                    {"SONG", path("song.mlsd")},
                                                    {"NOWHERE", path("none/x.mlsd")},
                                                    {"FIFO", path("fifo")}};
    for (const auto &name : names) {
        arguments.replaceInStrings(QRegularExpression("^" + name.first + "$"), name.second);
        message.replace(name.first, name.second);
    }

    const FileSnapshot cardBefore(card);
    const FileSnapshot outBefore(path("out.mlad"));
    const QStringList filesBefore = QDir(m_dir->path()).entryList(QDir::Files);
    const Result result = morvCard(arguments);
    QCOMPARE(result.status, 1);
    QCOMPARE(QString::fromUtf8(result.err), QStringLiteral("morv-card: ") + message + QLatin1Char('\n'));
    QVERIFY(cardBefore.changes().isEmpty());
    QVERIFY(outBefore.changes().isEmpty());
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files), filesBefore);
}

void TestMorvCard::rename_data()
{
    QTest::addColumn<QString>("slot");
    QTest::addColumn<QString>("name");
    // clang-format off
    QTest::newRow("card")              << ""   << "Gig Card";
    QTest::newRow("card, 128 bytes")   << ""   << QString(128, QLatin1Char('c'));
    QTest::newRow("song 12")           << "12" << "Encore, part 2 & more - v1.0";
    QTest::newRow("song 1, 128 bytes") << "1"  << QString(128, QLatin1Char('s'));
    // clang-format on
}

void TestMorvCard::rename()
{
    QFETCH(QString, slot);
    QFETCH(QString, name);
    const QString card = sampleCard(QStringLiteral("card"));
    const QJsonObject before = info(card);
    const FileSnapshot snapshot(card);
    QStringList arguments{"rename", card};
    if (!slot.isEmpty())
        arguments << slot;
    QCOMPARE(morvCard(arguments << name).status, 0);

    QJsonObject expected = before;
    QVector<ByteRange> allowed{CardImage::headerRange()};
    if (slot.isEmpty()) {
        expected.insert("name", name);
    } else {
        QJsonArray songs = before.value("songs").toArray();
        QJsonObject song = songs.at(slot.toInt() - 1).toObject();
        song.insert("name", name);
        songs.replace(slot.toInt() - 1, song);
        expected.insert("songs", songs);
        allowed = {CardImage::songDataRange(slot.toInt() - 1)};
    }
    QCOMPARE(info(card), expected);
    QCOMPARE(describe(snapshot.changesOutside(allowed)), QString());
}

void TestMorvCard::clear_data()
{
    QTest::addColumn<QString>("slot");
    QTest::addColumn<QList<int>>("cleared");
    // clang-format off
    QTest::newRow("slot 4") << "4"   << QList<int>{3};
    QTest::newRow("all")    << "all" << QList<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
    // clang-format on
}

void TestMorvCard::clear()
{
    QFETCH(QString, slot);
    QFETCH(QList<int>, cleared);
    const QString card = sampleCard(QStringLiteral("card"));
    const QJsonArray before = info(card).value("songs").toArray();
    const FileSnapshot snapshot(card);
    QCOMPARE(morvCard({"clear", card, slot, "--yes"}).status, 0);

    const QJsonArray after = info(card).value("songs").toArray();
    QVector<ByteRange> allowed{CardImage::headerRange()};
    for (int song = 0; song < 12; ++song) {
        if (!cleared.contains(song)) {
            QCOMPARE(after.at(song), before.at(song));
            continue;
        }
        const QJsonObject entry = after.at(song).toObject();
        QCOMPARE(entry.value("name").toString(),
                 QStringLiteral("Song %1").arg(song + 1, 2, 10, QLatin1Char('0')));
        QCOMPARE(entry.value("description").toString(), QString());
        QCOMPARE(entry.value("parts").toArray(), QJsonArray({"empty", "empty", "empty", "empty", "empty"}));
        QCOMPARE(entry.value("sequence").toArray(), QJsonArray());
        allowed += CardImage::clearRanges(song);
    }
    QCOMPARE(describe(snapshot.changesOutside(allowed)), QString());
    QCOMPARE(morvCard({"verify", card}).status, 0);
}

void TestMorvCard::makeDemo()
{
    const QString card = demoCard("demo");
    QCOMPARE(fileSize(card), CardImage::kFileSize);
    qint64 stored = 0;
    for (const ByteRange &extent : dataExtents(card))
        stored += extent.size;
    QVERIFY2(stored < 16 * 1024 * 1024, "the demo card must stay sparse");
    QCOMPARE(morvCard({"verify", card}).status, 0);

    const QJsonObject object = info(card);
    QCOMPARE(object.value("name").toString(), QStringLiteral("Morv+ Demo Card"));
    QSet<QString> states;
    int looperAudio = 0;
    for (const QJsonValue &song : object.value("songs").toArray()) {
        for (const QJsonValue &state : song.toObject().value("parts").toArray())
            states.insert(state.toString());
        QVERIFY(!song.toObject().value("name").toString().isEmpty());
    }
    for (int part = 0; part < 60; ++part) {
        const QByteArray looper =
            readRange(card, CardImage::looperPosition(part / 5, part % 5), kLooperRecordSize);
        if (looperAccepted(looper))
            looperAudio += signedWord(looper, 4);
    }
    QCOMPARE(states, (QSet<QString>{"empty", "normal", "intense", "looper"}));
    QVERIFY(looperAudio > 0);

    const Result again = morvCard({"make-demo", path("demo")});
    QCOMPARE(again.status, 1);
    QVERIFY(again.err.endsWith("ZOVAZODE.DAT already exists; it is not replaced\n"));

    const QString full = QDir(path("full")).filePath("ZOVAZODE.DAT");
    QCOMPARE(morvCard({"make-demo", path("full"), "--full", "--parts", "2"}).status, 0);
    QCOMPARE(morvCard({"verify", full}).status, 0);
    QCOMPARE(signedWord(readRange(full, CardImage::looperPosition(0, 1), 8), 4), kMaxLooperChunks);
    QCOMPARE(signedWord(readRange(full, CardImage::looperPosition(0, 2), 8), 0), 1);
}

void TestMorvCard::logOnlyWhenVerbose()
{
    const QString card = sampleCard(QStringLiteral("card"));
    const Result quiet = morvCard({"archive", card, path("a.mlad"), "--quiet"});
    QCOMPARE(quiet.status, 0);
    QVERIFY(quiet.out.isEmpty());
    QVERIFY(quiet.err.isEmpty());
    const Result verbose = morvCard({"archive", card, path("b.mlad"), "--verbose"});
    QCOMPARE(verbose.status, 0);
    QVERIFY(verbose.err.contains("Transfer: Archiving card to:"));
    QVERIFY(!verbose.err.contains('\r'));
}

void TestMorvCard::interruptedTransfer_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<int>("signal");
    QTest::addColumn<bool>("verifying"); // interrupted while reading back, not while copying
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("message"); // on standard error after a failure, else standard output
    const QString skipped = " Verification was skipped at your request; the %1 was not checked.";
    // clang-format off
    QTest::newRow("archive, Ctrl-C")        << "archive"     << int(SIGINT)  << false << 1 << "archiving cancelled; no archive was written";
    QTest::newRow("archive, SIGTERM")       << "archive"     << int(SIGTERM) << false << 1 << "archiving cancelled; no archive was written";
    QTest::newRow("export, Ctrl-C")         << "export-song" << int(SIGINT)  << false << 1 << "copy cancelled; no song file was written";
    QTest::newRow("restore, SIGTERM")       << "restore"     << int(SIGTERM) << false << 1 << "restore cancelled; the card CARD is partly restored";
    QTest::newRow("archive, verification")  << "archive"     << int(SIGINT)  << true  << 0 << "Archived the card CARD to OUT." + skipped.arg("archive");
    QTest::newRow("restore, verification")  << "restore"     << int(SIGINT)  << true  << 0 << "Restored the card CARD from ARCHIVE." + skipped.arg("card");
    // clang-format on
}

void TestMorvCard::interruptedTransfer()
{
    QFETCH(QString, command);
    QFETCH(int, signal);
    QFETCH(bool, verifying);
    QFETCH(int, status);
    QFETCH(QString, message);
    // Five parts that each claim the longest recording, over holes: 211 MB to copy, read fast.
    QDir().mkpath(path("big"));
    CardImage big(path("big"));
    big.create();
    for (int part = 0; part < 5; ++part) {
        big.writePartData(0, part, partData(PartFields()));
        big.writeLooper(0, part, looperRecord(recording(kMaxLooperChunks, 3)));
    }
    QStringList arguments{command, big.path(), path("out")};
    if (command == QLatin1String("export-song"))
        arguments = QStringList{command, big.path(), "1", path("out")};
    if (command == QLatin1String("restore")) {
        QCOMPARE(morvCard({"archive", big.path(), path("big.mlad")}).status, 0);
        const QString card = sampleCard(QStringLiteral("card"));
        arguments = QStringList{command, path("big.mlad"), card, "--yes", "--no-safety-copy"};
        message.replace("CARD", card).replace("ARCHIVE", path("big.mlad"));
    }
    message.replace("CARD", big.path()).replace("OUT", path("out"));
    const QStringList filesBefore = QDir(m_dir->path()).entryList(QDir::Files);

    QProcess process;
    process.setProcessEnvironment(isolatedEnvironment());
    process.setReadChannel(QProcess::StandardError);
    process.start(QStringLiteral(MORV_CARD_PATH), arguments << "--verbose");
    const QByteArray moment = verifying ? "Transfer: Verifying" : "Transfer: Handling request.";
    QByteArray err;
    while (!err.contains(moment) && process.waitForReadyRead(-1))
        err += process.readAll();
    QVERIFY(::kill(pid_t(process.processId()), signal) == 0);
    QVERIFY(process.waitForFinished(-1));
    err += process.readAll();
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), status);
    if (status != 0) {
        QVERIFY2(err.endsWith(("morv-card: " + message + "\n").toUtf8()), err.constData());
        QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files), filesBefore);
    } else {
        QCOMPARE(QString::fromUtf8(process.readAllStandardOutput()), message + "\n");
        // An archive interrupted while it was read back is complete, and kept under its name.
        if (command == QLatin1String("archive"))
            QCOMPARE(morvCard({"verify", path("out")}).status, 0);
    }
}

void TestMorvCard::readingWritesNothingBesideTheCard_data()
{
    QTest::addColumn<QStringList>("arguments");
    // clang-format off
    QTest::newRow("info")        << QStringList{"info"};
    QTest::newRow("info --json") << QStringList{"info", "--json"};
    QTest::newRow("verify")      << QStringList{"verify"};
    // clang-format on
}

// The folder of the card keeps its entries and its times: nothing was made and removed there.
void TestMorvCard::readingWritesNothingBesideTheCard()
{
    QFETCH(QStringList, arguments);
    const QString card = sampleCard(QStringLiteral("card"));
    const QString folder = QFileInfo(card).absolutePath();
    const QStringList entries =
        QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    QTest::qWait(30);
    const QDateTime before = QFileInfo(folder).lastModified();
    arguments.insert(1, card);
    const Result result = morvCard(arguments);
    QCOMPARE(result.status, 0);
    QCOMPARE(QFileInfo(folder).lastModified(), before);
    QCOMPARE(QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), entries);
    if (arguments.size() == 2 && arguments.first() == QLatin1String("info"))
        QVERIFY2(result.out.contains("Kind:        card data file (writable)\n"), result.out.constData());
}

// A name may carry an escape sequence that would clear the screen or hide text: the terminal gets
// it escaped, JSON gets it exactly.
void TestMorvCard::namesEscapedOnTheTerminal()
{
    QDir().mkpath(path("card"));
    CardImage card(path("card"));
    card.create("Evil\x1b[2J Card", "Bell\x07 \xe2\x80\xae reversed");
    SongRecords song = sampleSong(0, 1);
    SongFields fields;
    fields.name = "Tab\there\x7f";
    song.song = songData(fields);
    card.writeSong(0, song);

    const Result text = morvCard({"info", card.path()});
    QCOMPARE(text.status, 0);
    QVERIFY2(text.out.contains("Name:        Evil\\x1b[2J Card\n"), text.out.constData());
    QVERIFY2(text.out.contains("Description: Bell\\x07 \\u202e reversed\n"), text.out.constData());
    QVERIFY2(text.out.contains("  Tab\\x09here\\x7f\n"), text.out.constData());
    for (const char c : text.out)
        QVERIFY2(c == '\n' || uchar(c) >= 0x20, "a control character reached the terminal");

    const QJsonObject json = info(card.path());
    QCOMPARE(json.value("name").toString(), QStringLiteral("Evil\x1b[2J Card"));
    QCOMPARE(json.value("description").toString(), QStringLiteral("Bell\x07 \u202e reversed"));
    QCOMPARE(json.value("songs").toArray().at(0).toObject().value("name").toString(),
             QStringLiteral("Tab\there\x7f"));
}

void TestMorvCard::linksAtTheOldTemporaryName_data()
{
    QTest::addColumn<QString>("planted"); // what lies at OUT.partial
    QTest::addColumn<bool>("removed");    // removed before the archive is written
    // clang-format off
    QTest::newRow("symbolic link")      << "symlink"  << false;
    QTest::newRow("hard link")          << "hardlink" << false;
    QTest::newRow("abandoned, old")     << "file"     << true;
    // clang-format on
}

// What a killed transfer (or anyone else) left at the temporary name of old neither stops the
// archive nor is followed: the file a link points at keeps its bytes.
void TestMorvCard::linksAtTheOldTemporaryName()
{
    QFETCH(QString, planted);
    QFETCH(bool, removed);
    const QString card = sampleCard(QStringLiteral("card"));
    const QString out = path("Gig.mlad");
    const QString partial = out + ".partial";
    const QString victim = path("victim");
    writeRange(victim, 0, QByteArray("precious"));
    if (planted == QLatin1String("symlink"))
        QVERIFY(QFile::link(victim, partial));
    else if (planted == QLatin1String("hardlink"))
        QCOMPARE(::link(QFile::encodeName(victim).constData(), QFile::encodeName(partial).constData()), 0);
    else
        writeRange(partial, 0, QByteArray(4096, 'p'));
    if (planted != QLatin1String("symlink")) {
        QFile file(partial);
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(
            file.setFileTime(QDateTime::currentDateTime().addSecs(-3600), QFileDevice::FileModificationTime));
    }

    const Result result = morvCard({"archive", card, out});
    QVERIFY2(result.status == 0, result.err.constData());
    QCOMPARE(morvCard({"verify", out}).status, 0);
    QCOMPARE(readRange(victim, 0, 100), QByteArray("precious"));
    QCOMPARE(QFileInfo(partial).exists() || QFileInfo(partial).isSymLink(), !removed);
    QStringList expected{"Gig.mlad", "victim"};
    if (!removed)
        expected << "Gig.mlad.partial";
    expected.sort();
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files | QDir::System | QDir::Hidden, QDir::Name), expected);
}

void TestMorvCard::cardInUse_data()
{
    QTest::addColumn<QStringList>("arguments"); // CARD and ARCHIVE stand for the files
    QTest::addColumn<int>("held");              // LOCK_SH: another program reads, LOCK_EX: it writes
    QTest::addColumn<int>("status");
    // clang-format off
    QTest::newRow("rename")          << QStringList{"rename", "CARD", "Other"}                               << LOCK_EX << 1;
    QTest::newRow("restore")         << QStringList{"restore", "ARCHIVE", "CARD", "--yes", "--no-safety-copy"} << LOCK_EX << 1;
    QTest::newRow("info")            << QStringList{"info", "CARD"}                                          << LOCK_EX << 1;
    QTest::newRow("info, reader")    << QStringList{"info", "CARD"}                                          << LOCK_SH << 0;
    QTest::newRow("clear, reader")   << QStringList{"clear", "CARD", "2", "--yes", "--no-safety-copy"}       << LOCK_SH << 1;
    // clang-format on
}

// Another program holds the card: a writer waits a few seconds, then refuses, naming it.
void TestMorvCard::cardInUse()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, held);
    QFETCH(int, status);
    const QString card = sampleCard(QStringLiteral("card"));
    const QString archive = path("other.mlad");
    QCOMPARE(morvCard({"archive", sampleCard(QStringLiteral("other"), 2), archive}).status, 0);
    arguments.replaceInStrings(QRegularExpression("^CARD$"), card);
    arguments.replaceInStrings(QRegularExpression("^ARCHIVE$"), archive);

    const FileSnapshot before(card);
    const int fd = ::open(QFile::encodeName(card).constData(), O_RDONLY | O_CLOEXEC);
    QCOMPARE(::flock(fd, held), 0);
    const Result result = morvCard(arguments);
    ::close(fd);
    QCOMPARE(result.status, status);
    if (status != 0)
        QCOMPARE(
            QString::fromUtf8(result.err),
            QStringLiteral("morv-card: The card is in use by tst_morvcard (process %1). Try again when it "
                           "has finished.\n")
                .arg(::getpid()));
    QCOMPARE(describe(before.changes()), QString());
}

// Two restores of one card at once: the second waits for the first or refuses; it never writes
// its songs among the first one's.
void TestMorvCard::twoRestoresAtOnce()
{
    const QString card = sampleCard(QStringLiteral("card"), 1);
    QCOMPARE(morvCard({"archive", sampleCard(QStringLiteral("a"), 2), path("a.mlad")}).status, 0);
    QCOMPARE(morvCard({"archive", sampleCard(QStringLiteral("b"), 3), path("b.mlad")}).status, 0);

    // The first restore is stopped while it writes the card, so the second surely meets it.
    const QByteArray header = readRange(card, CardImage::headerPosition(), kHeaderSize);
    QProcess first;
    first.setProcessEnvironment(isolatedEnvironment());
    first.start(QStringLiteral(MORV_CARD_PATH),
                {"restore", path("a.mlad"), card, "--yes", "--no-safety-copy", "--no-verify", "--quiet"});
    QVERIFY(first.waitForStarted());
    const qint64 firstPid = first.processId();
    QElapsedTimer clock;
    clock.start();
    while (readRange(card, CardImage::headerPosition(), kHeaderSize) == header && clock.elapsed() < 10000)
        QThread::usleep(100);
    QCOMPARE(::kill(pid_t(firstPid), SIGSTOP), 0);

    const Result second =
        morvCard({"restore", path("b.mlad"), card, "--yes", "--no-safety-copy", "--no-verify"});
    QCOMPARE(::kill(pid_t(firstPid), SIGCONT), 0);
    QVERIFY(first.waitForFinished(30000));
    QCOMPARE(first.exitCode(), 0);
    QCOMPARE(second.status, 1);
    QCOMPARE(QString::fromUtf8(second.err),
             QStringLiteral("morv-card: The card is in use by morv-card (process %1). Try again when it has "
                            "finished.\n")
                 .arg(firstPid));
    QCOMPARE(info(card).value("songs"), info(path("a.mlad")).value("songs"));
    QCOMPARE(info(card).value("name"), info(path("a.mlad")).value("name"));
}

QTEST_GUILESS_MAIN(TestMorvCard)
#include "tst_morvcard.moc"
