// The librarian view's transfers: the four kinds started from their commands and from drops,
// each ending with the card or the library item brought up to date; the name prompts; the
// confirmations; cancelling from the progress dialog; failed transfers to the card and to the
// library.
#include "tst_librarianfixture.h"

#include "views/archiveview.h"
#include "views/libraryview.h"
#include "views/sdcardheaderview.h"
#include "views/transferdialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QMimeData>
#include <QPushButton>
#include <QTabWidget>

using namespace ZovaZode;
using namespace ZovaZode::TestSupport;

namespace {

const QString kCancel = QStringLiteral("<cancel>");
const QString kCardFormat = QStringLiteral("application/selkanor.morvmanager.card");
const QString kSongsFormat = QStringLiteral("application/selkanor.morvmanager.card_song_list");
const QString kItemsFormat = QStringLiteral("application/selkanor.morvmanager.library_item_list");
const QString kSongPathFormat = QStringLiteral("application/selkanor.morvmanager.song_path");

QString archiveExists(const QString &file)
{
    return QStringLiteral("A file named \"%1\" already exists in this card library folder.\n\nPlease enter a "
                          "different name for the new archive:")
        .arg(file);
}
QString songExists(const QString &file)
{
    return QStringLiteral("A file named \"%1\" already exists in this song library folder.\n\nPlease enter a "
                          "different name for the new song:")
        .arg(file);
}
const QString kArchiveForbidden = QStringLiteral("This archive name contains characters that are not "
                                                 "permitted.\n\nPlease enter a different name and avoid "
                                                 "punctuation:");
const QString kArchiveTooLong =
    QStringLiteral("This archive name is too long.\n\nPlease enter a shorter name:");
const QString kSongForbidden = QStringLiteral(
    "This song name contains characters that are not permitted.\n\nPlease enter a different name and avoid "
    "punctuation:");

QByteArray songNumbers(const QList<qint32> &songs)
{
    QByteArray bytes;
    QDataStream stream(&bytes, QIODevice::WriteOnly);
    for (qint32 song : songs)
        stream << song;
    return bytes;
}

// Counts the requests the worker ran; waiting for a request that does nothing proves that every
// request submitted before it has been run.
struct RequestLog
{
    SongTransfer *transfer;
    QSignalSpy started{transfer, &SongTransfer::started};
    QSignalSpy finished{transfer, &SongTransfer::finished};
    QSignalSpy failed{transfer, &SongTransfer::error};

    // The destination names of the requests, as the worker got them.
    QStringList names;

    explicit RequestLog(SongTransfer *t) : transfer(t)
    {
        QObject::connect(transfer, &SongTransfer::started, transfer,
                         [this](SongTransfer::Request *request) { names << request->destination.name; });
    }

    // The number of requests run before this call.
    int drain()
    {
        auto nothing = std::make_shared<SongTransfer::Request>();
        nothing->source.kind = SongTransfer::Endpoint::Card;
        nothing->destination.kind = SongTransfer::Endpoint::Card;
        transfer->submit(nothing);
        const auto done = [this, &nothing] {
            for (const QList<QVariant> &arguments : finished) {
                if (arguments.at(0).value<SongTransfer::Request *>() == nothing.get())
                    return true;
            }
            return false;
        };
        if (!QTest::qWaitFor(done))
            return -1;
        finished.removeLast();
        return started.count() - 1;
    }
};

// Counts the log lines that start with a text, from any thread, while it lives.
class LogCounter
{
public:
    explicit LogCounter(QString start) : m_start(std::move(start))
    {
        s_counter = this;
        m_previous = qInstallMessageHandler(&LogCounter::handle);
    }
    ~LogCounter()
    {
        qInstallMessageHandler(m_previous);
        s_counter = nullptr;
    }
    int count() const { return m_count.loadRelaxed(); }

private:
    static void handle(QtMsgType type, const QMessageLogContext &context, const QString &message)
    {
        if (message.startsWith(s_counter->m_start))
            s_counter->m_count.fetchAndAddRelaxed(1);
        s_counter->m_previous(type, context, message);
    }

    QString m_start;
    QAtomicInt m_count;
    QtMessageHandler m_previous = nullptr;
    static inline LogCounter *s_counter = nullptr;
};

SongRecords namedSampleSong(int song, const QByteArray &name)
{
    SongRecords records = sampleSong(song, 1);
    SongFields fields;
    fields.name = name;
    records.song = songData(fields);
    return records;
}

} // namespace

class TestLibrarianTransfers : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void transfers_data();
    void transfers();
    void namePrompts_data();
    void namePrompts();
    void confirmations_data();
    void confirmations();
    void emptySongDrop();
    void cancelFromDialog();
    void warningsAfterTransfer();
    void failures_data();
    void failures();

private:
    std::unique_ptr<ConfigurationManager> m_configuration;
};

void TestLibrarianTransfers::initTestCase()
{
    m_configuration = librarianConfiguration("Morv Manager Librarian Transfers Test");
}

void TestLibrarianTransfers::transfers_data()
{
    QTest::addColumn<QString>("transfer");
    QTest::addColumn<bool>("drop");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("destination");
    QTest::addColumn<QStringList>("boxes");

    const QStringList restoreBox(
        "W Restore Morv+ Card: Are you sure you want to overwrite the entire card with the contents of the "
        "archive?\n\nWARNING: This operation can not be undone.");
    // clang-format off
    QTest::newRow("archive card")           << "archive"   << false << "Archiving Card"          << "Card: %card"                      << "Archive: %cards/Gig.mlad"        << QStringList();
    QTest::newRow("drop card on folder")    << "archive"   << true  << "Archiving Card"          << "Card: %card"                      << "Archive: %cards/Sets/Gig.mlad"   << QStringList();
    QTest::newRow("restore card")           << "restore"   << false << "Restoring Card"          << "Archive: %cards/Backup.mlad"      << "Card: %card"                     << restoreBox;
    QTest::newRow("drop archive on card")   << "restore"   << true  << "Restoring Card"          << "Archive: %cards/Backup.mlad"      << "Card: %card"                     << restoreBox;
    QTest::newRow("copy song to library")   << "toLibrary" << false << "Copying Song to Library" << "Song 3 on card: %card"            << "Archive: %songs/Verse.mlsd"      << QStringList();
    QTest::newRow("drop three card songs")  << "toLibrary" << true  << "Copying Song to Library" << "Song 3 on card: %card"            << "Archive: %songs/Sets/Verse.mlsd" << QStringList();
    QTest::newRow("copy song to card")      << "toCard"    << false << "Copying Song to Card"    << "Song 1 in archive: %songs/x.mlsd" << "Song 4 on card: %card"           << QStringList();
    QTest::newRow("drop song on card slot") << "toCard"    << true  << "Copying Song to Card"    << "Song 1 in archive: %songs/x.mlsd" << "Song 4 on card: %card"           << QStringList();
    // clang-format on
}

void TestLibrarianTransfers::transfers()
{
    QFETCH(QString, transfer);
    QFETCH(bool, drop);
    QFETCH(QString, title);
    QFETCH(QString, source);
    QFETCH(QString, destination);
    QFETCH(QStringList, boxes);

    Librarian librarian("Stale");
    LibrarianView &view = *librarian.view;
    auto expand = [&librarian](QString text) {
        return text.replace(QLatin1String("%cards"), librarian.cardLibrary)
            .replace(QLatin1String("%songs"), librarian.songLibrary)
            .replace(QLatin1String("%card"), librarian.image.path());
    };
    librarian.image.writeSong(0, sampleSong(0, 1));
    librarian.image.writeSong(1, namedSampleSong(1, "Chorus"));
    librarian.image.writeSong(2, namedSampleSong(2, "Verse"));
    QDir(librarian.cardLibrary).mkdir(QStringLiteral("Sets"));
    QDir(librarian.songLibrary).mkdir(QStringLiteral("Sets"));
    const QString backup = librarian.cardLibrary + "/Backup.mlad";
    writeArchive(backup, "Backup");
    const QString songFile = librarian.songLibrary + "/x.mlsd";
    writeSongFile(songFile, "Intro");
    librarian.openCard();
    // A new name stays in memory until the card is flushed; the worker reads the file.
    view.card()->setName(QStringLiteral("Gig"));
    RequestLog log(view.songTransfer());
    const LogCounter lostItems(QStringLiteral("Librarian: Could not get index"));

    SongListModel *songs = view.songListModel();
    LibraryDataModel *cardLibrary = view.cardLibraryModel()->libraryModel();
    LibraryDataModel *songLibrary = view.songLibraryModel()->libraryModel();
    if (transfer == QLatin1String("archive")) {
        view.tabs()->setCurrentIndex(0);
        if (drop) {
            QTRY_VERIFY(librarian.item(true, librarian.cardLibrary + "/Sets").isValid());
            QMimeData data;
            data.setData(kCardFormat, QByteArray());
            QVERIFY(cardLibrary->dropMimeData(&data, Qt::CopyAction, -1, -1,
                                              cardLibrary->index(librarian.cardLibrary + "/Sets")));
        } else {
            view.action(LibrarianView::ArchiveCardAction)->trigger();
        }
    } else if (transfer == QLatin1String("restore")) {
        librarian.notifier.prepareAnswer(Notifier::Ok);
        QTRY_VERIFY(librarian.item(true, backup).isValid());
        if (drop) {
            emit view.headerView()->cardRestoreRequest(backup);
        } else {
            view.archiveView()->selectPath(backup);
            view.action(LibrarianView::RestoreCardAction)->trigger();
        }
    } else if (transfer == QLatin1String("toLibrary")) {
        view.tabs()->setCurrentIndex(1);
        if (drop) {
            QTest::ignoreMessage(QtWarningMsg, "Only archiving the first song in the list.");
            QTRY_VERIFY(librarian.item(false, librarian.songLibrary + "/Sets").isValid());
            QMimeData data;
            data.setData(kSongsFormat, songNumbers({2, 0, 1}));
            QVERIFY(songLibrary->dropMimeData(&data, Qt::CopyAction, -1, -1,
                                              songLibrary->index(librarian.songLibrary + "/Sets")));
        } else {
            librarian.selectCardSong(2);
            view.action(LibrarianView::CopyCardSongToLibraryAction)->trigger();
        }
    } else {
        view.tabs()->setCurrentIndex(1);
        QTRY_VERIFY(librarian.item(false, songFile).isValid());
        if (drop) {
            QMimeData data;
            data.setData(kItemsFormat, itemRecord(LibraryDataModel::SongItem, songFile));
            data.setData(kSongPathFormat, itemRecord(LibraryDataModel::SongItem, songFile));
            QVERIFY(songs->dropMimeData(&data, Qt::CopyAction, -1, -1, songs->index(3, 0)));
        } else {
            view.libraryView()->selectPath(songFile);
            librarian.selectCardSong(3);
            view.action(LibrarianView::OverwriteCardSongAction)->trigger();
        }
    }

    QTRY_COMPARE(log.finished.count() + log.failed.count(), 1);
    QCOMPARE(log.failed.count(), 0);
    QCOMPARE(librarian.boxes(), boxes);
    QVERIFY(librarian.prompter.questions.isEmpty());
    QCOMPARE(view.transferDialog()->windowTitle(), title);
    QCOMPARE(view.transferDialog()->sourceLabel()->text(), expand(source));
    QCOMPARE(view.transferDialog()->destinationLabel()->text(), expand(destination));
    QCOMPARE(view.transferDialog()->statusLabel()->text(), QStringLiteral("Finished."));

    if (transfer == QLatin1String("archive") || transfer == QLatin1String("toLibrary")) {
        const bool cards = transfer == QLatin1String("archive");
        const QString path = expand(destination.mid(destination.indexOf(QLatin1Char('%'))));
        const QString name = cards ? QStringLiteral("Gig") : QStringLiteral("Verse");
        QCOMPARE(storedName(path), name);
        QVERIFY(librarian.library(cards)->hiddenPaths().isEmpty());
        QTRY_VERIFY(librarian.item(cards, path).isValid());
        QTRY_COMPARE(librarian.item(cards, path).data().toString(), name);
        QVERIFY(!QFileInfo::exists(path + ".partial"));
        QCOMPARE(lostItems.count(), 0);
    } else if (transfer == QLatin1String("restore")) {
        QTRY_COMPARE(view.card()->name(), QStringLiteral("Backup"));
        QTRY_COMPARE(songs->songName(0), QStringLiteral("Song 1"));
        QCOMPARE(songs->songName(11), QStringLiteral("Song 12"));
    } else {
        QTRY_COMPARE(songs->songName(3), QStringLiteral("Intro"));
        QCOMPARE(songs->songName(2), QStringLiteral("Verse"));
    }
}

void TestLibrarianTransfers::namePrompts_data()
{
    QTest::addColumn<QByteArray>("cardName");
    QTest::addColumn<int>("slot"); // -1: archive the card
    QTest::addColumn<QStringList>("existing");
    QTest::addColumn<QStringList>("answers");
    QTest::addColumn<QStringList>("labels");
    QTest::addColumn<QStringList>("proposals");
    QTest::addColumn<QString>("created");
    QTest::addColumn<QString>("requestName"); // the name the request asks the new file to take

    using L = QStringList;
    const QString tooLong(129, QLatin1Char('x'));
    // clang-format off
    QTest::newRow("free card name")       << QByteArray("Gig") << -1 << L()                         << L()                            << L()                                                              << L()                       << "Gig.mlad"        << "";
    QTest::newRow("unnamed card")         << QByteArray()      << -1 << L()                         << L()                            << L()                                                              << L()                       << "Morv+ Card.mlad" << "Morv+ Card";
    QTest::newRow("taken, renamed")       << QByteArray("Gig") << -1 << L{"Gig.mlad"}               << L{"Gig 2"}                     << L{archiveExists("Gig.mlad")}                                     << L{"Gig"}                  << "Gig 2.mlad"      << "Gig 2";
    QTest::newRow("taken twice")          << QByteArray("Gig") << -1 << L{"Gig.mlad", "Gig 2.mlad"} << L{"Gig 2", "Gig 3"}            << L{archiveExists("Gig.mlad"), archiveExists("Gig 2.mlad")}        << L{"Gig", "Gig 2"}         << "Gig 3.mlad"      << "Gig 3";
    QTest::newRow("every refusal")        << QByteArray("Gig") << -1 << L{"Gig.mlad"}               << L{"Gig?", tooLong, "Gig live"} << L{archiveExists("Gig.mlad"), kArchiveForbidden, kArchiveTooLong} << L{"Gig", "Gig?", tooLong} << "Gig live.mlad"   << "Gig live";
    QTest::newRow("taken, cancelled")     << QByteArray("Gig") << -1 << L{"Gig.mlad"}               << L{kCancel}                     << L{archiveExists("Gig.mlad")}                                     << L{"Gig"}                  << QString()         << QString();
    QTest::newRow("taken, empty answer")  << QByteArray("Gig") << -1 << L{"Gig.mlad"}               << L{""}                          << L{archiveExists("Gig.mlad")}                                     << L{"Gig"}                  << QString()         << QString();
    QTest::newRow("free song name")       << QByteArray("Gig") << 2  << L()                         << L()                            << L()                                                              << L()                       << "Verse.mlsd"      << "";
    QTest::newRow("unnamed song")         << QByteArray("Gig") << 4  << L()                         << L()                            << L()                                                              << L()                       << "Song 05.mlsd"    << "Song 05";
    QTest::newRow("song taken, renamed")  << QByteArray("Gig") << 2  << L{"Verse.mlsd"}             << L{"Verse 2"}                   << L{songExists("Verse.mlsd")}                                      << L{"Verse"}                << "Verse 2.mlsd"    << "Verse 2";
    QTest::newRow("song, then cancelled") << QByteArray("Gig") << 2  << L{"Verse.mlsd"}             << L{"Verse!", kCancel}           << L{songExists("Verse.mlsd"), kSongForbidden}                      << L{"Verse", "Verse!"}      << QString()         << QString();
    // clang-format on
}

void TestLibrarianTransfers::namePrompts()
{
    QFETCH(QByteArray, cardName);
    QFETCH(int, slot);
    QFETCH(QStringList, existing);
    QFETCH(QStringList, answers);
    QFETCH(QStringList, labels);
    QFETCH(QStringList, proposals);
    QFETCH(QString, created);
    QFETCH(QString, requestName);

    Librarian librarian(cardName);
    LibrarianView &view = *librarian.view;
    librarian.image.writeSong(2, namedSampleSong(2, "Verse"));
    const bool song = slot >= 0;
    const QString folder = song ? librarian.songLibrary : librarian.cardLibrary;
    for (const QString &file : existing) {
        if (song)
            writeSongFile(folder + QLatin1Char('/') + file, "Other");
        else
            writeArchive(folder + QLatin1Char('/') + file, "Other");
    }
    // Opened directly: opening through the command would name the unnamed card and song.
    QVERIFY(view.card()->open(librarian.image.path(), 1));
    for (const QString &answer : answers)
        librarian.prompter.textAnswers << (answer == kCancel ? QString() : answer);
    RequestLog log(view.songTransfer());

    if (song) {
        librarian.selectCardSong(slot);
        view.action(LibrarianView::CopyCardSongToLibraryAction)->trigger();
    } else {
        view.action(LibrarianView::ArchiveCardAction)->trigger();
    }

    QStringList askedLabels;
    QStringList askedProposals;
    for (const ScriptedPrompter::Question &question : librarian.prompter.questions) {
        QCOMPARE(question.title,
                 song ? QStringLiteral("Copy Song To Library") : QStringLiteral("Archive Card"));
        askedLabels << question.label;
        askedProposals << question.proposal;
    }
    QCOMPARE(askedLabels, labels);
    QCOMPARE(askedProposals, proposals);
    QCOMPARE(log.drain(), created.isEmpty() ? 0 : 1);
    QCOMPARE(log.failed.count(), 0);
    QCOMPARE(log.names.mid(0, log.names.size() - 1),
             created.isEmpty() ? QStringList() : QStringList(requestName));

    QStringList files = existing;
    if (!created.isEmpty())
        files << created;
    files.sort();
    QCOMPARE(fileNames(folder), files);
    QVERIFY(librarian.library(!song)->hiddenPaths().isEmpty());
    if (!created.isEmpty())
        QCOMPARE(storedName(folder + QLatin1Char('/') + created), created.chopped(5));
    // A new name goes to the archive only, never to the card.
    QCOMPARE(text(librarian.image.read(CardImage::headerRange()), 8, 128), cardName);
}

void TestLibrarianTransfers::confirmations_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<int>("answer");
    QTest::addColumn<QStringList>("boxes");
    QTest::addColumn<int>("requests");

    const QStringList copy("W Copy Song: You are about to overwrite a non-empty song on card. Are you sure?");
    const QStringList restore(
        "W Restore Morv+ Card: Are you sure you want to overwrite the entire card with the contents of the "
        "archive?\n\nWARNING: This operation can not be undone.");
    // clang-format off
    QTest::newRow("song onto empty slot")    << "copyEmpty" << int(Notifier::Cancel) << QStringList() << 1;
    QTest::newRow("song onto used slot, OK") << "copyUsed"  << int(Notifier::Ok)     << copy          << 1;
    QTest::newRow("song onto used slot, no") << "copyUsed"  << int(Notifier::Cancel) << copy          << 0;
    QTest::newRow("restore, cancelled")      << "restore"   << int(Notifier::Cancel) << restore       << 0;
    // clang-format on
}

void TestLibrarianTransfers::confirmations()
{
    QFETCH(QString, command);
    QFETCH(int, answer);
    QFETCH(QStringList, boxes);
    QFETCH(int, requests);

    Librarian librarian;
    LibrarianView &view = *librarian.view;
    librarian.image.writeSong(5, namedSampleSong(5, "Used"));
    const QString songFile = librarian.songLibrary + "/x.mlsd";
    writeSongFile(songFile, "Intro");
    const QString backup = librarian.cardLibrary + "/Backup.mlad";
    writeArchive(backup, "Backup");
    librarian.openCard();
    RequestLog log(view.songTransfer());
    librarian.notifier.prepareAnswer(Notifier::Button(answer));

    if (command == QLatin1String("restore")) {
        emit view.headerView()->cardRestoreRequest(backup);
    } else {
        const int slot = command == QLatin1String("copyUsed") ? 5 : 6;
        emit view.songListModel()->songRestoreRequest(slot, songFile);
    }
    QCOMPARE(librarian.boxes(), boxes);
    QCOMPARE(log.drain(), requests);
    QCOMPARE(log.failed.count(), 0);
}

void TestLibrarianTransfers::emptySongDrop()
{
    Librarian librarian;
    librarian.openCard();
    RequestLog log(librarian.view->songTransfer());
    QTest::ignoreMessage(QtCriticalMsg, "Can not archive songs: song list empty.");
    emit librarian.view->songLibraryModel()->libraryModel()->songArchiveRequest(librarian.songLibrary, {});
    QCOMPARE(log.drain(), 0);
    QVERIFY(librarian.prompter.questions.isEmpty());
    QCOMPARE(fileNames(librarian.songLibrary), QStringList());
}

void TestLibrarianTransfers::cancelFromDialog()
{
    Librarian librarian;
    LibrarianView &view = *librarian.view;
    // Long recordings (the audio itself may stay a hole) make the archive run long enough for
    // the Cancel to reach it before it ends.
    for (int song = 0; song < 12; ++song) {
        for (int part = 0; part < 5; ++part) {
            librarian.image.writePartData(song, part, partData(PartFields()));
            librarian.image.writeLooper(song, part, looperRecord(recording(4000, quint32(song * 5 + part))));
        }
    }
    librarian.openCard();
    RequestLog log(view.songTransfer());
    TransferDialog *dialog = view.transferDialog();
    connect(view.songTransfer(), &SongTransfer::started, dialog,
            [dialog] { dialog->buttonBox()->button(QDialogButtonBox::Cancel)->click(); });

    view.action(LibrarianView::ArchiveCardAction)->trigger();
    QTRY_COMPARE(log.failed.count(), 1);
    QCOMPARE(log.finished.count(), 0);
    QCOMPARE(dialog->statusLabel()->text(), QStringLiteral("Cancelled."));
    QVERIFY(dialog->buttonBox()->button(QDialogButtonBox::Ok)->isVisibleTo(dialog));
    QVERIFY(!dialog->buttonBox()->button(QDialogButtonBox::Cancel)->isVisibleTo(dialog));
    QCOMPARE(fileNames(librarian.cardLibrary), QStringList());
    QVERIFY(view.cardLibraryModel()->hiddenPaths().isEmpty());
}

// What the worker noted about the records it copied reaches the user in one box.
void TestLibrarianTransfers::warningsAfterTransfer()
{
    Librarian librarian;
    librarian.openCard();
    auto request = std::make_shared<SongTransfer::Request>();
    request->source.kind = SongTransfer::Endpoint::Card;
    request->destination.kind = SongTransfer::Endpoint::Card;
    request->warnings =
        QStringList{"song 3: the song data would be refused by a restore", "user prefs: out of range"};
    emit librarian.view->songTransfer()->finished(request.get());
    QCOMPARE(librarian.boxes(),
             QStringList{"W Copied With Warnings: The copy is complete, but note the following:\n\n"
                         "song 3: the song data would be refused by a restore\n"
                         "user prefs: out of range"});
    request->warnings.clear();
    emit librarian.view->songTransfer()->finished(request.get());
    QCOMPARE(librarian.boxes().size(), 1);
}

void TestLibrarianTransfers::failures_data()
{
    QTest::addColumn<bool>("toCard");
    QTest::addColumn<QString>("status");

    const QString kWriteProtection = QStringLiteral("An error occured.\nThis may be due to SD card write "
                                                    "protection.\nPlease check the card and try again.");

    // clang-format off
    QTest::newRow("copy to a write-protected card") << true  << kWriteProtection;
    QTest::newRow("archive into a locked folder")   << false << "An error occured.";
    // clang-format on
}

void TestLibrarianTransfers::failures()
{
    QFETCH(bool, toCard);
    QFETCH(QString, status);

    Librarian librarian;
    LibrarianView &view = *librarian.view;
    const QString songFile = librarian.songLibrary + "/x.mlsd";
    writeSongFile(songFile, "Intro");
    librarian.openCard();
    // Locked after opening, as when the card's switch is moved while the card is open.
    if (!(toCard ? librarian.protectCard() : librarian.makeImmutable(librarian.cardLibrary)))
        QSKIP("chattr +i is not available here, so nothing can be made unwritable for root.");
    RequestLog log(view.songTransfer());

    if (toCard)
        emit view.songListModel()->songRestoreRequest(3, songFile);
    else
        view.action(LibrarianView::ArchiveCardAction)->trigger();

    QTRY_COMPARE(log.failed.count(), 1);
    QCOMPARE(log.finished.count(), 0);
    QCOMPARE(view.transferDialog()->statusLabel()->text(), status);
    QVERIFY(view.transferDialog()->isVisible());
    if (toCard) {
        QCOMPARE(view.songListModel()->songName(3), QStringLiteral("Song 04"));
    } else {
        QCOMPARE(fileNames(librarian.cardLibrary), QStringList());
        QVERIFY(view.cardLibraryModel()->hiddenPaths().isEmpty());
    }
}

QTEST_MAIN(TestLibrarianTransfers)
#include "tst_librariantransfers.moc"
