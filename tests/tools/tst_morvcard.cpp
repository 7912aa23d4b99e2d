// Runs the built morv-card in a scratch folder (its working directory, its HOME and its
// configuration folder) on sparse cards and archives: command lines and what they print and
// exit with, the JSON shapes (checked against docs/morv-card.schema.json), file names that are
// not UTF-8, the progress on a narrow and on a dumb terminal, what a refusal leaves untouched,
// the safety copy that restores a card byte for byte, and what Ctrl-C, SIGTERM and a closed
// terminal (SIGHUP) leave behind.
#include "support/archivebuilder.h"
#include "support/cardimage.h"
#include "support/filesnapshot.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTextCodec>
#include <QtTest>

#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

using namespace ZovaZode::TestSupport;

namespace {

struct Result
{
    int status = -1;
    QByteArray out, err;
};

// The tool, with standard error on `peer`, one end of a terminal, unless it is -1: given to the
// child as it starts, since the sandbox refuses to open a terminal's device for writing.
class ToolProcess : public QProcess
{
public:
    int peer = -1;

protected:
    void setupChildProcess() override
    {
        if (peer >= 0)
            ::dup2(peer, STDERR_FILENO);
    }
};

// What a validator of JSON Schema finds wrong with `json` (empty when nothing).
QString schemaErrors(const QByteArray &json)
{
    QProcess python;
    python.start("python3", {"-c",
                             "import json, sys, jsonschema\n"
                             "jsonschema.validate(json.load(sys.stdin), json.load(open(sys.argv[1])),"
                             " cls=jsonschema.Draft202012Validator)",
                             MORV_SCHEMA_PATH});
    python.write(json);
    python.closeWriteChannel();
    // A validator that never ran finds nothing wrong: that is a failure too.
    if (!python.waitForFinished(-1) || python.exitStatus() != QProcess::NormalExit)
        return QStringLiteral("the JSON Schema validator (python3) did not run: ") + python.errorString();
    return python.exitCode() == 0 ? QString()
                                  : QString::fromUtf8(python.readAll()).right(300) + " in " + json;
}

// Song 3, part 2 of the card in `folder` gets a part record that a clear refuses.
void makeOddPart(const QString &folder)
{
    PartFields part;
    part.inUse = 2;
    CardImage(folder).writePartData(2, 1, partData(part));
}

} // namespace

class TestMorvCard : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void commandLine_data();
    void commandLine();
    void info_data();
    void info();
    void safetyCopyRestoresTheCard_data();
    void safetyCopyRestoresTheCard();
    void interrupted_data();
    void interrupted();

private:
    QString path(const QString &name) const { return m_dir->filePath(name); }
    // Starts in the scratch folder (its HOME and configuration folder), stdin a closed pipe (never
    // a terminal); `out` may name a file that takes standard output instead, `peer` a terminal (of
    // that TERM) that takes standard error.
    std::unique_ptr<QProcess> start(const QStringList &arguments, const QString &out = QString(),
                                    const QString &term = QString(), int peer = -1) const;
    // With `term`, standard error is a terminal of 40 columns.
    Result morvCard(const QStringList &arguments, const QString &out = QString(),
                    const QString &term = QString()) const;

    std::unique_ptr<QTemporaryDir> m_dir;
};

// The Latin-1 rows leave names that QTemporaryDir cannot remove.
void TestMorvCard::cleanup()
{
    removeFolder(m_dir->path());
}

void TestMorvCard::init()
{
    m_dir = std::make_unique<QTemporaryDir>(scratchFolderTemplate());
    for (const char *folder : {"home/Documents", "config", "d", "card", "other"})
        QVERIFY(QDir().mkpath(path(folder)));
    for (const quint32 variant : {1, 2}) {
        CardImage card(path(variant == 1 ? "card" : "other"));
        card.create("Card " + QByteArray::number(variant), "Twelve sample songs", variant);
        for (int song = 0; song < 12; ++song)
            card.writeSong(song, sampleSong(song, variant));
    }
    // A card archive and a song file of the other card, to overwrite the card with, each with the
    // record of how it was made.
    QCOMPARE(morvCard({"archive", "other/ZOVAZODE.DAT", "other.mlad"}).status, 0);
    QCOMPARE(morvCard({"export-song", "other/ZOVAZODE.DAT", "4", "other.mlsd"}).status, 0);
}

std::unique_ptr<QProcess> TestMorvCard::start(const QStringList &arguments, const QString &out,
                                              const QString &term, int peer) const
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("TERM", term);
    environment.insert("HOME", path("home"));
    environment.insert("XDG_CONFIG_HOME", path("config"));
    environment.remove("XDG_DOCUMENTS_DIR");
    auto process = std::make_unique<ToolProcess>();
    process->peer = peer;
    process->setProcessEnvironment(environment);
    process->setWorkingDirectory(m_dir->path());
    if (!out.isEmpty())
        process->setStandardOutputFile(out);
    process->start(QStringLiteral(MORV_CARD_PATH), arguments);
    process->closeWriteChannel();
    return process;
}

Result TestMorvCard::morvCard(const QStringList &arguments, const QString &out, const QString &term) const
{
    const int terminal = term.isEmpty() ? -1 : ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    const auto closed = qScopeGuard([terminal] { ::close(terminal); });
    const winsize size{24, 40, 0, 0};
    const int peer = terminal < 0 || ::unlockpt(terminal) || ::ioctl(terminal, TIOCSWINSZ, &size)
                         ? -1
                         : ::ioctl(terminal, TIOCGPTPEER, O_RDWR | O_NOCTTY);
    if (!term.isEmpty() && peer < 0)
        return {};
    const std::unique_ptr<QProcess> process = start(arguments, out, term, peer);
    // Held by the tool alone from now on: its end is the end of what the tool writes there.
    ::close(peer);
    Result result;
    // The terminal is read as the tool writes, so that it never fills.
    const auto read = [&] {
        char bytes[4096];
        for (ssize_t got = 0; terminal >= 0 && (got = ::read(terminal, bytes, sizeof bytes)) > 0;)
            result.err.append(bytes, int(got));
    };
    for (read(); process->state() != QProcess::NotRunning; read())
        process->waitForFinished(terminal < 0 ? -1 : 20);
    result.status = process->exitStatus() == QProcess::NormalExit ? process->exitCode() : -1;
    result.out = process->readAllStandardOutput();
    result.err += process->readAllStandardError();
    return result;
}

void TestMorvCard::commandLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("out"); // the start of standard output; "{...}": fields of a JSON object
    QTest::addColumn<QString>("err"); // all of standard error, "morv-card: " left out
    // Markers among the arguments: CHANGES (the command may change the card and add files), LATIN1
    // (file names are Latin-1 bytes, lat\xe9.mlsd a song file), TERM=... (standard error is a
    // terminal 40 columns wide: the progress fits it, and is cleared or in plain lines).

    const QString card = "card/ZOVAZODE.DAT";
    const QString restoreUsage =
        "usage: morv-card restore ARCHIVE.mlad CARD [--yes]\n"
        "                 [--no-safety-copy | --safety-dir DIR] [--no-verify] [--no-lock]\n"
        "                 [--write-all] [--force] [--json]";
    const QString help = "usage: morv-card archive CARD OUT.mlad [--name NAME] [--no-verify] [--json]\n\n"
                         "Archives the whole card";
    const QString stdio = "'-' is not taken for %1: morv-card reads and writes files by name, not standard "
                          "input or output";
    const QString noCopy = "could not make a safety copy, nothing was changed: ";
    // Another program holds the card: a writer waits a few seconds, then refuses, naming it.
    const QString inUse = QStringLiteral("The card is in use by tst_morvcard (process %1). Try again when it "
                                         "has finished.")
                              .arg(::getpid());
    const QString notACard = "cannot open the card bad.mlad: %1The file is not the size of a card data file "
                             "(3,207,041,024 bytes).";
    // The card's song 2, part 1 holds a looper record whose checksum is wrong.
    const QString problem =
        "song 2, part 1 looper record (byte 27,203,584): checksum 0x00001234 does not match "
        "the recording (0x3d0081b7)";
    // clang-format off
    //                                       arguments                                              status out                                                        err
    QTest::newRow("no command")          << QStringList{}                                                 << 2 << ""                                   << "no command given; see 'morv-card --help'";
    QTest::newRow("unknown command")     << QStringList{"frob"}                                           << 2 << ""                                   << "unknown command 'frob'; see 'morv-card --help'";
    QTest::newRow("foreign option")      << QStringList{"restore", "other.mlad", card, "--name", "n"}     << 2 << ""                                   << "restore does not take --name\n" + restoreUsage;
    QTest::newRow("both safety options") << QStringList{"restore", "other.mlad", card, "--no-safety-copy", "--safety-dir", "d"} << 2 << ""    << "--no-safety-copy and --safety-dir exclude each other\n" + restoreUsage;
    QTest::newRow("slot 13")             << QStringList{"export-song", card, "13", "x.mlsd"}              << 2 << ""                                   << "bad slot '13': song slots are numbered 1 to 12";
    QTest::newRow("no --yes")            << QStringList{"clear", card, "2"}                               << 2 << ""                                   << "clear overwrites card data: confirm with --yes when standard input is not a terminal";
    QTest::newRow("- for a file")        << QStringList{"info", "-"}                                      << 2 << ""                                   << stdio.arg("FILE");
    QTest::newRow("help COMMAND")        << QStringList{"help", "archive"}                                << 0 << help                                 << "";
    QTest::newRow("help help")           << QStringList{"help", "help"}                                   << 0 << "usage: morv-card help [COMMAND]\n"  << "";
    QTest::newRow("usage")               << QStringList{"--help"}                                         << 0 << "usage: morv-card COMMAND"           << "";
    QTest::newRow("--version")           << QStringList{"--version"}                                      << 0 << "morv-card 1.1.0\n"                  << "";
    QTest::newRow("a directory")         << QStringList{"verify", "d"}                                    << 1 << ""                                   << "d is a directory";
    QTest::newRow("existing output")     << QStringList{"export-song", card, "2", "other.mlsd"}           << 1 << ""                                   << "other.mlsd already exists; it is not replaced";
    QTest::newRow("not a card")          << QStringList{"clear", "bad.mlad", "1", "-qy"}                  << 1 << ""                                   << notACard.arg("");
    QTest::newRow("not a card, verbose") << QStringList{"clear", "bad.mlad", "1", "--yes", "-v"}          << 1 << ""                                   << notACard.arg("mlsdOpenSDCard: ");
    QTest::newRow("hostile archive")     << QStringList{"restore", "bad.mlad", card, "--yes"}             << 1 << ""                                   << "cannot read the archive bad.mlad: Could not open archive file: Error reading archive header.";
    QTest::newRow("song file as card")   << QStringList{"restore", "other.mlsd", card, "--yes"}           << 1 << ""                                   << "other.mlsd is not a card archive (it holds 1 songs); use import-song for a song file";
    QTest::newRow("changed archive")     << QStringList{"restore", "other.mlad", card, "--yes", "CHANGED"} << 1 << ""                                  << "\"other.mlad\": the file has changed since it was made on DATE (song 3). Nothing was changed; --force restores it all the same.";
    QTest::newRow("verify a library")    << QStringList{"verify", "--all", "."}                           << 1 << "./bad.mlad: archive, 1 problem found, no record of how it was made.\n./other.mlad: card archive, no problems found, unchanged since it was made on DATE.\n./other.mlsd: song file, no problems found, unchanged since it was made on DATE.\n" << "";
    QTest::newRow("library in JSON")     << QStringList{"verify", "--all", ".", "--json"}                 << 1 << "{\"ok\": false, \"file\": \".\"}" << "";
    QTest::newRow("library of nothing")  << QStringList{"verify", "--all", "card"}                        << 1 << ""                                   << "no archives or song files in card";
    QTest::newRow("archive in JSON")     << QStringList{"verify", "other.mlad", "--json"}                 << 0 << "{\"ok\": true, \"record\": \"unchanged\"}" << "";
    QTest::newRow("punctuated name")     << QStringList{"rename", card, "4", "A/B (2)"}                   << 1 << ""                                   << "The name contains characters that are not permitted. Please avoid punctuation.";
    QTest::newRow("no safety folder")    << QStringList{"restore", "other.mlad", card, "--yes", "--safety-dir", "lib"} << 1 << ""                << noCopy + "Could not create the folder lib/Safety Copies.";
    // A file name is escaped as a name is: a newline or an escape sequence forges nothing.
    QTest::newRow("name escaped")        << QStringList{"info", "x\n\x1b[2J.DAT", "--json"}              << 1 << "{\"error\": \"cannot open x\\n\\u001b[2J.DAT: No such file or directory\"}" << "cannot open x\\x0a\\x1b[2J.DAT: No such file or directory";
    QTest::newRow("Latin-1 name")        << QStringList{"verify", "lat\u00e9.mlsd", "LATIN1"}             << 0 << "lat\\xe9.mlsd: song file, no problems found, no record of how it was made.\n" << "";
    QTest::newRow("Latin-1 in JSON")     << QStringList{"export-song", card, "2", "\u00e9t\u00e9.mlsd", "--json", "LATIN1", "CHANGES"} << 0 << "{\"file\": \"\\udce9t\\udce9.mlsd\", \"slot\": 2}" << "";
    QTest::newRow("40 columns")          << QStringList{"export-song", card, "1", "x.mlsd", "TERM=xterm", "CHANGES"} << 0 << "Copied song 1 of " + card + " to x.mlsd.\n" << "";
    QTest::newRow("TERM=dumb")           << QStringList{"export-song", card, "1", "x.mlsd", "TERM=dumb", "CHANGES"}  << 0 << "Copied song 1 of " + card + " to x.mlsd.\n" << "";
    // Refused before anything is written or copied: a song whose records the clear would refuse,
    // an archive whose song 5 a restore refuses.
    QTest::newRow("odd song, no copy")   << QStringList{"clear", card, "3", "--yes", "--safety-dir", "d", "ODD", "--json"} << 1 << "{\"safety_copy\": null, \"songs\": [{\"slot\": 3, \"cleared\": false, \"error\": \"Could not clear song: Part data from SD card is invalid\"}]}" << "clearing song 3 failed, nothing was changed: Could not clear song: Part data from SD card is invalid";
    QTest::newRow("damaged archive")     << QStringList{"restore", "odd.mlad", card, "--yes", "--safety-dir", "d", "--json"} << 1 << "{\"command\": \"restore\", \"archive\": \"odd.mlad\", \"safety_copy\": null}" << "The archive \"odd.mlad\" is damaged: song 5 UI song data (byte 814,928): sequence count is 100, outside 0 to 99. Nothing was changed.";
    QTest::newRow("failure in JSON")     << QStringList{"info", "missing.DAT", "--json"}                  << 1 << "{\"error\": \"cannot open missing.DAT: No such file or directory\", \"file\": \"missing.DAT\"}" << "cannot open missing.DAT: No such file or directory";
    QTest::newRow("stdout full")         << QStringList{"info", card, "FULL"}                             << 1 << ""                                   << "cannot write to standard output: No space left on device";
    QTest::newRow("read, no copy made")  << QStringList{"clear", card, "2", "--yes", "--safety-dir", "d", "READ"} << 1 << ""                          << inUse;
    // The checks themselves are the domain's; here the report's two forms and the exit status.
    QTest::newRow("verify")              << QStringList{"verify", card}                                   << 1 << problem + "\n" + card + ": card data file, 1 problem found.\n" << "";
    QTest::newRow("verify in JSON")      << QStringList{"verify", card, "--json"}                         << 1 << "{\"ok\": false, \"schema\": 1, \"problems\": [{\"offset\": 27203584, \"part\": 1, \"song\": 2, \"text\": \"" + problem.section(": ", 1) + "\", \"where\": \"" + problem.section(": ", 0, 0) + "\"}]}" << "";
    QTest::newRow("read beside a reader")<< QStringList{"info", card, "READ"}                             << 0 << "File:"                              << "";
    // What each command that changes something prints for a script.
    QTest::newRow("archive in JSON")     << QStringList{"archive", card, "new.mlad", "--json", "CHANGES"} << 0 << "{\"card\": \"" + card + "\", \"file\": \"new.mlad\", \"verification\": \"passed\", \"verified\": true}" << "";
    QTest::newRow("restore in JSON")     << QStringList{"restore", "other.mlad", card, "-y", "--safety-dir", "d", "--json", "CHANGES"} << 0 << "{\"archive\": \"other.mlad\", \"verification\": \"passed\", \"warnings\": []}" << "";
    QTest::newRow("import in JSON")      << QStringList{"import-song", "other.mlsd", card, "5", "-y", "--no-safety-copy", "--no-verify", "--json", "CHANGES"} << 0 << "{\"slot\": 5, \"safety_copy\": null, \"verification\": \"skipped\"}" << "";
    QTest::newRow("rename in JSON")      << QStringList{"rename", card, "New", "--json", "CHANGES"}      << 0 << "{\"slot\": null, \"name\": \"New\", \"old_name\": \"Card 1\"}" << "";
    QTest::newRow("make-demo in JSON")   << QStringList{"make-demo", "demo", "--json", "CHANGES"}        << 0 << "{\"file\": \"demo/ZOVAZODE.DAT\"}"  << "";
    // clang-format on
}

void TestMorvCard::commandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(QString, out);
    QFETCH(QString, err);
    out.replace("DATE", QDate::currentDate().toString(Qt::ISODate));
    err.replace("DATE", QDate::currentDate().toString(Qt::ISODate));
    // "CHANGED": a byte of song 3 of the archive changed since it was made.
    if (arguments.removeAll("CHANGED") > 0)
        writeRange(path("other.mlad"), qint64(word64(readRange(path("other.mlad"), 536 + 16, 8), 0)) + 140,
                   "X");
    ArchiveBuilder hostile;
    putWord(hostile.header(), 532, 13); // thirteen songs
    hostile.write(path("bad.mlad"));
    LooperFields looper = recording(64, 5);
    looper.checksumOverride = true;
    looper.checksum = 0x1234;
    CardImage(path("card")).writeLooper(1, 0, looperRecord(looper));
    if (arguments.contains("odd.mlad")) { // song 5 of the other card with a sequence of 100 entries
        SongFields sequence;
        sequence.count = 100;
        CardImage(path("other")).writeSongData(4, songData(sequence));
        QCOMPARE(morvCard({"archive", "other/ZOVAZODE.DAT", "odd.mlad", "--no-verify"}).status, 0);
    }
    if (arguments.removeAll("ODD"))
        makeOddPart(path("card"));
    const bool changes = arguments.removeAll("CHANGES") > 0;
    const QStringList terms = arguments.filter(QRegularExpression("^TERM="));
    arguments.removeAll(terms.value(0));
    QTextCodec *const codec = QTextCodec::codecForLocale();
    const auto codecBack = qScopeGuard([codec] { QTextCodec::setCodecForLocale(codec); });
    if (arguments.removeAll("LATIN1")) {
        QTextCodec::setCodecForLocale(QTextCodec::codecForName("ISO-8859-1"));
        QVERIFY(QFile::copy(path("other.mlsd"), path("lat\u00e9.mlsd")));
    }
    // No safety copy can be made below "lib", a file.
    QVERIFY(QFile(path("lib")).open(QIODevice::WriteOnly));
    const bool full = arguments.removeAll("FULL") > 0;
    // "READ": another program holds the card to read it, as flock() does.
    const int held = arguments.removeAll("READ") ? LOCK_SH : 0;
    const int fd = ::open(QFile::encodeName(path("card/ZOVAZODE.DAT")).constData(), O_RDONLY | O_CLOEXEC);
    const auto closed = qScopeGuard([fd] { ::close(fd); });
    QVERIFY(!held || ::flock(fd, held) == 0);

    const FileSnapshot card(path("card/ZOVAZODE.DAT"));
    const QStringList files = QDir(m_dir->path()).entryList(QDir::AllEntries | QDir::Hidden);
    const Result result =
        morvCard(arguments, full ? QStringLiteral("/dev/full") : QString(), terms.value(0).section('=', 1));
    QCOMPARE(result.status, status);
    const QByteArray shown = QByteArray(result.err).replace("\r\n", "\n");
    if (!terms.isEmpty()) {
        for (const QByteArray &line : QByteArray(shown).replace("\x1b[K", "").replace('\r', '\n').split('\n'))
            QVERIFY2(line.size() < 40, line.constData());
        QVERIFY2(shown.contains('%') &&
                     (terms.first() == "TERM=dumb" ? !shown.contains('\x1b') && !shown.contains('\r')
                                                   : shown.endsWith("\r\x1b[K")),
                 shown.constData());
    } else { // -v puts the log before the message.
        const QString printed = QString::fromUtf8(result.err);
        QCOMPARE(arguments.contains("-v") ? printed.section('\n', -2) : printed,
                 err.isEmpty() ? err : "morv-card: " + err + "\n");
    }
    if (arguments.contains("--json"))
        QCOMPARE(schemaErrors(result.out), QString());
    const QJsonObject fields = QJsonDocument::fromJson(out.toUtf8()).object();
    const QJsonObject printed = QJsonDocument::fromJson(result.out).object();
    for (auto field = fields.begin(); field != fields.end(); ++field)
        QVERIFY2(printed.value(field.key()) == field.value(), qPrintable(field.key() + " in " + result.out));
    QVERIFY2((fields.isEmpty() ? result.out.startsWith(out.toUtf8()) : !printed.isEmpty()) &&
                 out.isEmpty() == result.out.isEmpty(),
             result.out.constData());
    // Help and usage fit a terminal of 80 columns.
    for (const QByteArray &line :
         result.out.startsWith("usage:") ? result.out.split('\n') : QList<QByteArray>())
        QVERIFY2(line.size() <= 80, line.constData());
    if (changes)
        return;
    QCOMPARE(describe(card.changes()), QString());
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::AllEntries | QDir::Hidden), files);
    QVERIFY(QDir(path("d")).isEmpty());
}

void TestMorvCard::info_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("songs");
    QTest::addColumn<QString>("extraKey"); // the key only this kind has
    QTest::addColumn<QString>("first");    // the name of its first song
    // clang-format off
    //                                  file                  kind            songs extraKey       first
    QTest::newRow("card")         << "card/ZOVAZODE.DAT" << "card"         << 12 << "writable"  << "Song 0 of card 1";
    QTest::newRow("card archive") << "other.mlad"        << "card-archive" << 12 << "userPrefs" << "Song 0 of card 2";
    QTest::newRow("song file")    << "other.mlsd"        << "song-file"    << 1  << "userPrefs" << "Song 3 of card 2";
    // clang-format on
}

// The JSON shape of every kind, the sample song's part states and sequence, and the text for a
// terminal with the name's escape sequence made harmless.
void TestMorvCard::info()
{
    QFETCH(QString, file);
    QFETCH(QString, kind);
    QFETCH(int, songs);
    QFETCH(QString, extraKey);
    QFETCH(QString, first);
    CardImage(path("card")).writeHeader(cardHeader("Evil\x1b[2J Card", "Bell\x07 \xe2\x80\xae", 1));

    const Result result = morvCard({"info", file, "--json"});
    QCOMPARE(result.status, 0);
    const QJsonObject object = QJsonDocument::fromJson(result.out).object();
    const QJsonArray list = object.value("songs").toArray();
    QCOMPARE(schemaErrors(result.out), QString());
    QCOMPARE(object, (QJsonObject{{"schema", 1},
                                  {"command", "info"},
                                  {"file", file},
                                  {"kind", kind},
                                  {"name", object.value("name")},
                                  {"songs", list},
                                  {"description", object.value("description")},
                                  {extraKey, kind != "song-file"}}));
    // Sample songs: a recorded part, a looper part, an intense part, two unused parts, and the
    // stored sequence 0 1 2 3 1 0 counted from 1.
    const QJsonObject song = list.at(0).toObject();
    QCOMPARE(song, (QJsonObject{{"slot", 1},
                                {"name", first},
                                {"description", song.value("description")},
                                {"parts", QJsonArray({"normal", "looper", "intense", "empty", "empty"})},
                                {"sequence", QJsonArray({1, 2, 3, 4, 2, 1})}}));
    QCOMPARE(list.last().toObject().value("slot").toInt(), songs);

    const Result text = morvCard({"info", file});
    if (kind == "card") {
        QCOMPARE(object.value("name").toString(), QStringLiteral("Evil\x1b[2J Card"));
        QVERIFY2(text.out.contains("Name:        Evil\\x1b[2J Card\nDescription: Bell\\x07 \\u202e\n"),
                 text.out.constData());
    }
}

void TestMorvCard::safetyCopyRestoresTheCard_data()
{
    QTest::addColumn<QStringList>("command");
    QTest::addColumn<QString>("library");  // "": the default card library; "none": --no-safety-copy
    QTest::addColumn<QString>("copy");     // the pattern of the copy's name
    QTest::addColumn<QStringList>("back"); // the command that puts the copy back; COPY is the copy
    QTest::addColumn<int>("status");
    // clang-format off
    //                                 command                                             library    copy                                                            back                                          status
    QTest::newRow("restore")       << QStringList{"restore", "other.mlad", "CARD"}          << "lib"   << "Card 1 - before restore - *.mlad"                              << QStringList{"restore", "COPY", "CARD"}          << 0;
    QTest::newRow("clear song")    << QStringList{"clear", "CARD", "2"}                     << "lib"   << "Card 1 - song 02 Song 1 of card 1 - before clearing - *.mlsd"  << QStringList{"import-song", "COPY", "CARD", "2"} << 0;
    QTest::newRow("clear all")     << QStringList{"clear", "CARD", "all"}                   << ""      << "Card 1 - before clearing all songs - *.mlad"                   << QStringList{"restore", "COPY", "CARD"}          << 0;
    QTest::newRow("no copy")       << QStringList{"restore", "other.mlad", "CARD"}          << "none"  << ""                                                              << QStringList()                                   << 0;
    // Song 3 holds a part record the clear refuses: the others are cleared, and the command fails.
    QTest::newRow("one song odd")  << QStringList{"clear", "CARD", "all"}                   << "lib"   << "Card 1 - before clearing all songs - *.mlad"                   << QStringList()                                   << 1;
    // clang-format on
}

// The copy made before a command overwrites card data is what puts the card back, byte for byte.
void TestMorvCard::safetyCopyRestoresTheCard()
{
    QFETCH(QStringList, command);
    QFETCH(QString, library);
    QFETCH(QString, copy);
    QFETCH(QStringList, back);
    QFETCH(int, status);
    const QString card = path("card/ZOVAZODE.DAT");
    if (status != 0)
        makeOddPart(path("card"));
    const QString folder = library.isEmpty() ? "home/Documents/Morv+ Card Library" : library;
    command.replaceInStrings(QRegularExpression("^CARD$"), card);
    command << "--yes";
    if (library == "none")
        command << "--no-safety-copy";
    else if (!library.isEmpty())
        command << "--safety-dir" << path(library);

    const FileSnapshot before(card);
    const Result result = morvCard(command);
    QVERIFY2(result.status == status, result.err.constData());
    QVERIFY(!before.changes().isEmpty());
    const QString copiesFolder = path(folder) + "/Safety Copies/";
    const QStringList copies = QDir(copiesFolder).entryList({"*.mlad", "*.mlsd"}, QDir::Files | QDir::Hidden);
    QCOMPARE(copies.size(), copy.isEmpty() ? 0 : 1);
    QCOMPARE(result.out.startsWith("Safety copy: "), !copy.isEmpty());
    if (copy.isEmpty())
        return;
    // The whole name: QDir::match() would take each word of the pattern as a pattern of its own.
    const QRegularExpression name(QRegularExpression::wildcardToRegularExpression(copy));
    QVERIFY2(name.match(copies.first()).hasMatch(), qPrintable(copies.first()));
    QVERIFY(QFile::exists(copiesFolder + copies.first() + ".sum"));
    if (back.isEmpty())
        return;
    back.replaceInStrings(QRegularExpression("^COPY$"), copiesFolder + copies.first());
    back.replaceInStrings(QRegularExpression("^CARD$"), card);
    const Result restored = morvCard(back + QStringList{"--yes", "--no-safety-copy", "--json"});
    QVERIFY2(restored.status == 0, restored.err.constData());
    QCOMPARE(describe(before.changes()), QString());
    // What differs is written, what does not is left as it is.
    const QJsonObject outcome = QJsonDocument::fromJson(restored.out).object();
    QVERIFY(outcome.value("bytes_written").toDouble() > 0 && outcome.value("bytes_unchanged").toDouble() > 0);
}

void TestMorvCard::interrupted_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<int>("signal");
    QTest::addColumn<bool>("verifying");  // interrupted while reading back, not while copying
    QTest::addColumn<bool>("ignored");    // started with the signal ignored, as under nohup
    QTest::addColumn<QString>("message"); // standard error after a failure, else standard output
    const QString skipped = " Verification was skipped at your request; the %1 was not checked.";
    // clang-format off
    //                                           command      signal          verifying ignored message
    QTest::newRow("archive, Ctrl-C")          << "archive" << int(SIGINT)  << false << false << "morv-card: archiving cancelled; no archive was written";
    QTest::newRow("archive, closed terminal") << "archive" << int(SIGHUP)  << false << false << "morv-card: archiving cancelled; no archive was written";
    QTest::newRow("archive, nohup")           << "archive" << int(SIGHUP)  << false << true  << "Archived the card big/ZOVAZODE.DAT to out.";
    QTest::newRow("restore, verification")    << "restore" << int(SIGTERM) << true  << false << "Restored the card from big.mlad: 213 MB written, 0 MB already the same." + skipped.arg("card");
    // clang-format on
}

// Stopped by a signal, a command tidies up, says where things stand and exits with 128 plus the
// signal, as a shell reports a program the signal ended; a signal it was started ignoring (nohup)
// it goes on ignoring.
void TestMorvCard::interrupted()
{
    QFETCH(QString, command);
    QFETCH(int, signal);
    QFETCH(bool, verifying);
    QFETCH(bool, ignored);
    QFETCH(QString, message);
    // Five parts that each claim the longest recording, over holes: 211 MB to copy, read fast.
    QDir().mkpath(path("big"));
    CardImage big(path("big"));
    big.create();
    for (int part = 0; part < 5; ++part) {
        big.writePartData(0, part, partData(PartFields()));
        big.writeLooper(0, part, looperRecord(recording(kMaxLooperChunks, 3)));
    }
    QStringList arguments{command, "big/ZOVAZODE.DAT", "out"};
    if (command == "restore") {
        QCOMPARE(morvCard({"archive", big.path(), "big.mlad", "--no-verify"}).status, 0);
        arguments =
            QStringList{command, "big.mlad", "card/ZOVAZODE.DAT", "--yes", "--no-safety-copy", "--write-all"};
    }
    const QStringList filesBefore = QDir(m_dir->path()).entryList(QDir::Files);

    // An ignored signal stays ignored in a child, as nohup relies on.
    const auto handler = ignored ? std::signal(signal, SIG_IGN) : SIG_ERR;
    const std::unique_ptr<QProcess> process = start(arguments << "--verbose");
    if (ignored)
        std::signal(signal, handler);
    process->setReadChannel(QProcess::StandardError);
    const QByteArray moment = verifying ? "Transfer: Verifying" : "Transfer: Handling request.";
    QByteArray err;
    while (!err.contains(moment) && process->waitForReadyRead(-1))
        err += process->readAll();
    // A tool that ended early has no process id, and kill(0) would signal this whole group.
    QVERIFY2(err.contains(moment) && process->processId() > 0, err.constData());
    QVERIFY(::kill(pid_t(process->processId()), signal) == 0);
    QVERIFY(process->waitForFinished(-1));
    err += process->readAll();
    QCOMPARE(process->exitStatus(), QProcess::NormalExit);
    QCOMPARE(process->exitCode(), ignored ? 0 : 128 + signal);
    if (!verifying && !ignored) {
        QVERIFY2(err.endsWith((message + "\n").toUtf8()), err.constData());
        QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files), filesBefore);
        return;
    }
    QCOMPARE(QString::fromUtf8(process->readAllStandardOutput()), message + "\n");
    // A result interrupted while it was read back is complete, and kept under its name, as is one
    // the signal did not stop.
    QCOMPARE(morvCard({"verify", command == "archive" ? "out" : "card/ZOVAZODE.DAT"}).status, 0);
}

MORV_TEST_MAIN(TestMorvCard)
#include "tst_morvcard.moc"
