// morv-card's safety net, run as the built tool: every command that overwrites card data first
// saves what it overwrites, and restoring that copy gives back the card byte for byte; without
// a copy nothing is overwritten; --no-safety-copy makes none; the configured limit prunes.
// The tool runs with its own HOME and configuration folder, so the user's are never touched.
#include "support/cardimage.h"
#include "support/filebytes.h"
#include "support/filesnapshot.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using namespace ZovaZode::TestSupport;

namespace {

struct Result
{
    int status = -1;
    QByteArray out;
    QByteArray err;
};

// Makes a folder immutable, so that not even root can create files in it, until destroyed.
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

class TestMorvCardSafety : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void copyFirstAndRestoreIt_data();
    void copyFirstAndRestoreIt();
    void noSafetyCopy_data();
    void noSafetyCopy();
    void failedCopyChangesNothing_data();
    void failedCopyChangesNothing();
    void longNamesFit();
    void limitPrunesOldest();
    void optionsBelongToTheirCommands_data();
    void optionsBelongToTheirCommands();

private:
    QString path(const QString &name) const { return m_dir->filePath(name); }
    Result morvCard(const QStringList &arguments) const;
    // "@card" is the card, "@name" a path in the test's folder.
    QStringList expand(QStringList words) const;
    QString sampleCard(const QString &folder, quint32 variant) const;
    QStringList safetyCopies(const QString &library) const;
    void setLimit(int limit) const;

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_card;
};

void TestMorvCardSafety::init()
{
    m_dir = std::make_unique<QTemporaryDir>(scratchFolderTemplate());
    QVERIFY(m_dir->isValid());
    QVERIFY(QDir().mkpath(path("home/Documents")) && QDir().mkpath(path("config")));
    m_card = sampleCard("card", 1);
    // A song file and a card archive from another card, to overwrite the card with.
    const QString other = sampleCard("other", 2);
    QCOMPARE(morvCard({"archive", other, path("other.mlad"), "--no-verify"}).status, 0);
    QCOMPARE(morvCard({"export-song", other, "4", path("other.mlsd")}).status, 0);
}

void TestMorvCardSafety::cleanup()
{
    m_dir.reset();
}

Result TestMorvCardSafety::morvCard(const QStringList &arguments) const
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("HOME", path("home"));
    environment.insert("XDG_CONFIG_HOME", path("config"));
    environment.remove("XDG_DOCUMENTS_DIR");
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(MORV_CARD_PATH), arguments);
    process.closeWriteChannel();
    process.waitForFinished(-1);
    Result result;
    result.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    return result;
}

QStringList TestMorvCardSafety::expand(QStringList words) const
{
    for (QString &word : words) {
        if (word == "@card")
            word = m_card;
        else if (word.startsWith('@'))
            word = path(word.mid(1));
    }
    return words;
}

QString TestMorvCardSafety::sampleCard(const QString &folder, quint32 variant) const
{
    QDir().mkpath(path(folder));
    CardImage card(path(folder));
    card.create("Card " + QByteArray::number(variant), "Twelve sample songs", variant);
    for (int song = 0; song < 12; ++song)
        card.writeSong(song, sampleSong(song, variant));
    return card.path();
}

QStringList TestMorvCardSafety::safetyCopies(const QString &library) const
{
    return QDir(library + "/Safety Copies").entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

void TestMorvCardSafety::setLimit(int limit) const
{
    QSettings settings(path("config/Selkanor/Morv Manager.conf"), QSettings::IniFormat);
    settings.setValue("version", 1);
    settings.setValue("safety_copies/limit", limit);
}

void TestMorvCardSafety::copyFirstAndRestoreIt_data()
{
    QTest::addColumn<QStringList>("command");
    QTest::addColumn<bool>("defaultLibrary");
    QTest::addColumn<QString>("copyPattern");
    QTest::addColumn<QString>("restoreCommand");
    QTest::addColumn<QString>("slot");

    // clang-format off
    QTest::newRow("restore")         << QStringList{"restore", "@other.mlad", "@card"}          << false << "Card 1 - before restore - *.mlad"                              << "restore"     << "";
    QTest::newRow("import-song")     << QStringList{"import-song", "@other.mlsd", "@card", "6"} << false << "Card 1 - song 06 Song 5 of card 1 - before import - *.mlsd"    << "import-song" << "6";
    QTest::newRow("clear song")      << QStringList{"clear", "@card", "2"}                      << false << "Card 1 - song 02 Song 1 of card 1 - before clearing - *.mlsd"  << "import-song" << "2";
    QTest::newRow("clear all")       << QStringList{"clear", "@card", "all"}                    << false << "Card 1 - before clearing all songs - *.mlad"                   << "restore"     << "";
    QTest::newRow("default library") << QStringList{"clear", "@card", "12"}                     << true  << "Card 1 - song 12 Song 11 of card 1 - before clearing - *.mlsd" << "import-song" << "12";
    // clang-format on
}

void TestMorvCardSafety::copyFirstAndRestoreIt()
{
    QFETCH(QStringList, command);
    QFETCH(bool, defaultLibrary);
    QFETCH(QString, copyPattern);
    QFETCH(QString, restoreCommand);
    QFETCH(QString, slot);

    command = expand(command);
    const QString library = defaultLibrary ? path("home/Documents/Morv+ Card Library") : path("library");
    QStringList arguments = command;
    arguments << "--yes";
    if (!defaultLibrary)
        arguments << "--safety-dir" << library;

    const FileSnapshot before(m_card);
    const Result result = morvCard(arguments);
    QVERIFY2(result.status == 0, result.err.constData());
    QVERIFY2(!before.changes().isEmpty(), "the command changed the card");

    const QStringList copies = safetyCopies(library);
    QCOMPARE(copies.size(), 1);
    QVERIFY2(QDir::match(copyPattern, copies.first()), qPrintable(copies.first()));
    const QString copy = library + "/Safety Copies/" + copies.first();
    QVERIFY2(result.out.startsWith("Safety copy: " + copy.toUtf8() + "\n"), result.out.constData());

    QStringList back{restoreCommand, copy, m_card};
    if (!slot.isEmpty())
        back << slot;
    back << "--yes"
         << "--no-safety-copy";
    const Result restored = morvCard(back);
    QVERIFY2(restored.status == 0, restored.err.constData());
    QCOMPARE(describe(before.changes()), QString());
    QCOMPARE(safetyCopies(library).size(), 1);
}

void TestMorvCardSafety::noSafetyCopy_data()
{
    QTest::addColumn<QStringList>("command");

    // clang-format off
    QTest::newRow("restore")     << QStringList{"restore", "@other.mlad", "@card"};
    QTest::newRow("import-song") << QStringList{"import-song", "@other.mlsd", "@card", "1"};
    QTest::newRow("clear all")   << QStringList{"clear", "@card", "all"};
    // clang-format on
}

void TestMorvCardSafety::noSafetyCopy()
{
    QFETCH(QStringList, command);

    command = expand(command);
    const FileSnapshot before(m_card);
    const Result result = morvCard(command + QStringList{"--yes", "--no-safety-copy"});
    QVERIFY2(result.status == 0, result.err.constData());
    QVERIFY(!result.out.contains("Safety copy"));
    QVERIFY(!before.changes().isEmpty());
    QVERIFY(!QFileInfo::exists(path("home/Documents/Morv+ Card Library")));
}

void TestMorvCardSafety::failedCopyChangesNothing_data()
{
    QTest::addColumn<QStringList>("command");
    QTest::addColumn<QString>("folder"); // "none": cannot be made, "full": takes no file, "link"
    QTest::addColumn<QString>("reason"); // the end of the message, after the prefix

    const QString full = "Could not create LIBRARY/Safety Copies/Card 1 - %1 - \\d{4}-\\d\\d-\\d\\d "
                         "\\d\\d\\.\\d\\d\\.\\d\\d\\.%2: Operation not permitted\\.";
    // clang-format off
    QTest::newRow("restore, no folder")      << QStringList{"restore", "@other.mlad", "@card"}          << "none" << "Could not create the folder LIBRARY/Safety Copies\\.";
    QTest::newRow("import-song, no folder")  << QStringList{"import-song", "@other.mlsd", "@card", "3"} << "none" << "Could not create the folder LIBRARY/Safety Copies\\.";
    QTest::newRow("clear song, no folder")   << QStringList{"clear", "@card", "3"}                      << "none" << "Could not create the folder LIBRARY/Safety Copies\\.";
    QTest::newRow("clear all, no folder")    << QStringList{"clear", "@card", "all"}                    << "none" << "Could not create the folder LIBRARY/Safety Copies\\.";
    QTest::newRow("restore, folder full")    << QStringList{"restore", "@other.mlad", "@card"}          << "full" << full.arg("before restore", "mlad");
    QTest::newRow("clear song, folder full") << QStringList{"clear", "@card", "3"}                      << "full" << full.arg("song 03 Song 2 of card 1 - before clearing", "mlsd");
    QTest::newRow("clear song, folder link") << QStringList{"clear", "@card", "3"}                      << "link" << "LIBRARY/Safety Copies is a symbolic link; safety copies are not written through links\\.";
    // clang-format on
}

void TestMorvCardSafety::failedCopyChangesNothing()
{
    QFETCH(QStringList, command);
    QFETCH(QString, folder);
    QFETCH(QString, reason);

    command = expand(command);
    QString library = path("library");
    std::unique_ptr<Immutable> guard;
    if (folder == "full") {
        QVERIFY(QDir().mkpath(library + "/Safety Copies"));
        guard = std::make_unique<Immutable>(library + "/Safety Copies");
        if (!guard->isSet())
            QSKIP("chattr +i is not available here");
    } else if (folder == "link") {
        QVERIFY(QDir().mkpath(library) && QDir().mkpath(path("elsewhere")));
        QVERIFY(QFile::link(path("elsewhere"), library + "/Safety Copies"));
    } else {
        // A folder cannot be made inside a file.
        library = path("plain-file/library");
        QFile file(path("plain-file"));
        QVERIFY(file.open(QIODevice::WriteOnly));
    }

    const FileSnapshot before(m_card);
    const Result result = morvCard(command + QStringList{"--yes", "--safety-dir", library});
    QCOMPARE(result.status, 1);
    const QRegularExpression message("^morv-card: could not make a safety copy, nothing was changed: " +
                                     reason.replace("LIBRARY", QRegularExpression::escape(library)) + "\n$");
    QVERIFY2(message.match(QString::fromUtf8(result.err)).hasMatch(), result.err.constData());
    QCOMPARE(describe(before.changes()), QString());
    guard.reset();
    QCOMPARE(safetyCopies(library), QStringList());
    QCOMPARE(QDir(path("elsewhere")).entryList(QDir::Files), QStringList());
}

// Names of 100 characters made a file name past the 255-byte limit: the copy failed and the
// command was refused. The names are cut now, and the copy restores the song.
void TestMorvCardSafety::longNamesFit()
{
    QDir().mkpath(path("long"));
    CardImage card(path("long"));
    card.create(QByteArray(100, 'C'));
    SongRecords song = sampleSong(4, 1);
    SongFields fields;
    fields.name = QByteArray(100, 'S');
    song.song = songData(fields);
    card.writeSong(4, song);
    const FileSnapshot before(card.path());

    const Result result = morvCard({"clear", card.path(), "5", "--yes", "--safety-dir", path("library")});
    QVERIFY2(result.status == 0, result.err.constData());
    const QStringList copies = safetyCopies(path("library"));
    QCOMPARE(copies.size(), 1);
    QVERIFY2(QDir::match(QString(88, 'C') + " - song 05 " + QString(88, 'S') + " - before clearing - *.mlsd",
                         copies.first()),
             qPrintable(copies.first()));
    const Result back = morvCard({"import-song", path("library/Safety Copies/") + copies.first(), card.path(),
                                  "5", "--yes", "--no-safety-copy"});
    QVERIFY2(back.status == 0, back.err.constData());
    QCOMPARE(describe(before.changes()), QString());
}

void TestMorvCardSafety::limitPrunesOldest()
{
    setLimit(2);
    const QString library = path("library");
    for (const char *slot : {"1", "2", "3"}) {
        const Result result = morvCard({"clear", m_card, slot, "--yes", "--safety-dir", library});
        QVERIFY2(result.status == 0, result.err.constData());
    }
    const QStringList copies = safetyCopies(library);
    QCOMPARE(copies.size(), 2);
    QVERIFY2(copies.at(0).startsWith("Card 1 - song 02 "), qPrintable(copies.at(0)));
    QVERIFY2(copies.at(1).startsWith("Card 1 - song 03 "), qPrintable(copies.at(1)));
}

void TestMorvCardSafety::optionsBelongToTheirCommands_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("error");

    // clang-format off
    QTest::newRow("clear --no-verify")       << QStringList{"clear", "@card", "1", "--yes", "--no-verify"}                     << 2 << QByteArray("morv-card: clear does not take --no-verify; usage: morv-card clear");
    QTest::newRow("archive --safety-dir")    << QStringList{"archive", "@card", "@x.mlad", "--safety-dir", "@lib"}             << 2 << QByteArray("morv-card: archive does not take --safety-dir; usage: morv-card archive");
    QTest::newRow("rename --no-safety-copy") << QStringList{"rename", "@card", "New", "--no-safety-copy"}                      << 2 << QByteArray("morv-card: rename does not take --no-safety-copy; usage: morv-card rename");
    QTest::newRow("both safety options")     << QStringList{"clear", "@card", "1", "--no-safety-copy", "--safety-dir", "@lib"} << 2 << QByteArray("morv-card: --no-safety-copy and --safety-dir exclude each other; usage: morv-card clear");
    QTest::newRow("archive --no-verify")     << QStringList{"archive", "@card", "@x.mlad", "--no-verify"}                      << 0 << QByteArray();
    QTest::newRow("export --no-verify")      << QStringList{"export-song", "@card", "2", "@x.mlsd", "--no-verify"}             << 0 << QByteArray();
    // clang-format on
}

void TestMorvCardSafety::optionsBelongToTheirCommands()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(QByteArray, error);

    arguments = expand(arguments);
    const FileSnapshot before(m_card);
    const Result result = morvCard(arguments);
    QCOMPARE(result.status, status);
    QVERIFY2(result.err.startsWith(error), result.err.constData());
    QCOMPARE(describe(before.changes()), QString());
    QVERIFY(!QFileInfo::exists(path("lib")));
}

QTEST_GUILESS_MAIN(TestMorvCardSafety)
#include "tst_morvcardsafety.moc"
