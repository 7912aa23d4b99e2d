// The dialogs: the card, archive and song details (each one's name check in the user's words,
// saves reaching the card or the file, refusals that keep the dialog open) and the Verify report.
#include "domain/song.h"
#include "support/libraryfixture.h"
#include "views/archivedetailview.h"
#include "views/sdcarddetailview.h"
#include "views/songdetailview.h"
#include "views/verifydialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>

using namespace ZovaZode;
using namespace ZovaZode::TestSupport;

namespace {

const QString kCorrect = QStringLiteral("Please correct the following:\n\n");

} // namespace

class TestDialogs : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { m_configuration = librarianConfiguration("tst_dialogs"); }
    void details_data();
    void details();
    void verifyReport_data();
    void verifyReport();

private:
    std::unique_ptr<ConfigurationManager> m_configuration;
};

void TestDialogs::details_data()
{
    QTest::addColumn<QString>("dialog"); // "card", "archive", "archive link", "song on card" or "song file"
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("box");    // empty: saved
    QTest::addColumn<QString>("stored"); // the name the card or the file holds afterwards

    const QString failed = QStringLiteral("|An error occured when saving song data.");
    // clang-format off
    //                                          dialog            name                 box                                                                                                                                                                stored
    QTest::newRow("card, saved")             << "card"         << "Tour"            << ""                                                                                                                                                              << "Tour";
    QTest::newRow("card, slash")             << "card"         << "A/B"             << kCorrect + "The card name contains characters that are not permitted. Please avoid punctuation."                                                               << "Old";
    QTest::newRow("archive, renamed")        << "archive"      << "New"             << ""                                                                                                                                                              << "New";
    QTest::newRow("archive, other file's")   << "archive"      << "Taken"           << "A file named Taken.mlad already exists in this folder.\n\nPlease choose a different archive name."                                                             << "Old";
    QTest::newRow("archive, a link")         << "archive link" << "New"             << "Could not save the archive.\n\n\"Old.mlad\" is a symbolic link, which the library does not follow."                                                          << "Old";
    QTest::newRow("song on card, saved")     << "song on card" << "Encore"          << ""                                                                                                                                                              << "Encore";
    QTest::newRow("song on card, slash")     << "song on card" << "A/B"             << kCorrect + "The song name contains characters that are not permitted. Please avoid punctuation." + failed                                                       << "Old";
    QTest::newRow("song file, renamed")      << "song file"    << "New"             << ""                                                                                                                                                              << "New";
    QTest::newRow("song file, other file's") << "song file"    << "Taken"           << "A file named Taken.mlsd already exists in this folder.\n\nPlease choose a different song name." + failed                                                       << "Old";
    // clang-format on
}

void TestDialogs::details()
{
    QFETCH(QString, dialog);
    QFETCH(QString, name);
    QFETCH(QString, box);
    QFETCH(QString, stored);

    RecordingNotifier notifier;
    QTemporaryDir dir;
    CardImage image(dir.path());
    image.create("Old");
    SongFields song;
    song.name = "Old";
    image.writeSongData(2, songData(song));
    const auto card = std::make_shared<SdCard>();
    QVERIFY(card->open(image.path(), 1));
    const bool archive = dialog.startsWith(QLatin1String("archive"));
    const QString extension = archive ? QStringLiteral(".mlad") : QStringLiteral(".mlsd");
    const QString old = dir.filePath("Old" + extension);
    // An archive reached through a link is not the library's own: nothing is written through it.
    const QString real = dialog == QLatin1String("archive link") ? dir.filePath("Real.mlad") : old;
    for (const QString &file : {real, dir.filePath("Taken" + extension)})
        archive ? writeArchive(file, "Old") : writeSongFile(file, "Old");
    if (real != old)
        QVERIFY(QFile::link(real, old));

    std::unique_ptr<QDialog> view;
    if (dialog == QLatin1String("card"))
        view = std::make_unique<SdCardDetailView>(card);
    else if (archive)
        view = std::make_unique<ArchiveDetailView>();
    else
        view = std::make_unique<SongDetailView>();
    if (auto *song = qobject_cast<SongDetailView *>(view.get())) {
        if (dialog == QLatin1String("song on card"))
            song->song()->loadFromCard(card, 2);
        else
            song->song()->loadFromArchive(old, 0, true);
        song->setEditable(true);
    }
    auto *details = qobject_cast<ArchiveDetailView *>(view.get());
    if (details)
        details->setPath(old);
    // The archive dialog holds a song dialog of its own: its fields are found through it.
    (details ? details->nameEdit() : view->findChild<QLineEdit *>("nameEdit"))->setText(name);
    view->show();
    QVERIFY(QTest::qWaitForWindowExposed(view.get()));
    QTest::mouseClick(view->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Save), Qt::LeftButton);

    QCOMPARE(notifier.texts().join(QLatin1Char('|')), box);
    QCOMPARE(view->isVisible(), !box.isEmpty());
    if (!box.isEmpty())
        QCOMPARE(notifier.messages().last().parent, view.get());
    if (dialog == QLatin1String("card"))
        QCOMPARE(card->name(), stored);
    else if (dialog == QLatin1String("song on card"))
        QCOMPARE(QString::fromUtf8(text(image.read(CardImage::songDataRange(2)), 4, 128)), stored);
    else
        QCOMPARE(storedName(dir.filePath(stored + extension)), stored);
    QCOMPARE(QFileInfo::exists(old),
             stored == QLatin1String("Old") || dialog.contains(QLatin1String("card")));
}

void TestDialogs::verifyReport_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("summary");
    QTest::addColumn<QString>("label");
    QTest::addColumn<QString>("problem"); // "where | the start of what"
    // clang-format off
    //                                 file         summary                         label                        problem
    QTest::newRow("good song file") << "good"    << "No problems found."         << "Song file: song.mlsd"    << "";
    QTest::newRow("card archive")   << "card"    << "No problems found."         << "Card archive: song.mlsd" << "";
    QTest::newRow("damaged")        << "damaged" << "1 problem found."           << "Song file: song.mlsd"    << "song 1, part 1 looper record (byte 84,272) | checksum 0x00001234 does not match";
    QTest::newRow("not an archive") << "garbage" << "Could not check the file: " << "song.mlsd"               << "";
    // clang-format on
}

void TestDialogs::verifyReport()
{
    QFETCH(QString, file);
    QFETCH(QString, summary);
    QFETCH(QString, label);
    QFETCH(QString, problem);

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("song.mlsd"));
    // One recording whose checksum no longer matches.
    SongRecords damaged = sampleSong(0, 1);
    LooperFields looper = recording(25, 11);
    looper.checksumOverride = true;
    looper.checksum = 0x1234;
    damaged.loopers[0] = looperRecord(looper);
    ArchiveBuilder builder;
    builder.addSong(damaged);
    file == "good"      ? writeSongFile(path, "Intro")
    : file == "card"    ? writeArchive(path, "Gig")
    : file == "damaged" ? builder.write(path)
                        : writeRange(path, 0, "not an archive");

    VerifyDialog dialog;
    QSignalSpy checked(&dialog, &VerifyDialog::checked);
    dialog.verify(path);
    QTRY_COMPARE(checked.count(), 1);
    QVERIFY2(dialog.summaryLabel()->text().startsWith(summary), qPrintable(dialog.summaryLabel()->text()));
    QCOMPARE(dialog.fileLabel()->text(), label);
    QTableWidget *table = dialog.problemTable();
    QCOMPARE(table->rowCount(), problem.isEmpty() ? 0 : 1);
    const QString shown = problem.isEmpty() ? QString() : QString(table->item(0, 0)->text() + " | " + table->item(0, 1)->text());
    QVERIFY2(problem.isEmpty() || shown.startsWith(problem), qPrintable(shown));
}

MORV_TEST_MAIN(TestDialogs)
#include "tst_dialogs.moc"
