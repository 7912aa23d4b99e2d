// The Verify command: the dialog's report for good, damaged and unreadable files, and the three
// places the window offers the command (the Card menu and the two library pages' menus).
#include "tst_librarianfixture.h"

#include "views/archiveview.h"
#include "views/libraryview.h"
#include "views/verifydialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTableWidget>
#include <QTreeView>

using namespace ZovaZode;
using namespace ZovaZode::TestSupport;

namespace {

// One recording whose checksum no longer matches, and a song record with a sequence too long.
void writeDamagedArchive(const QString &path)
{
    SongRecords records = sampleSong(0, 1);
    LooperFields looper = recording(25, 11);
    looper.checksumOverride = true;
    looper.checksum = 0x1234;
    records.loopers[0] = looperRecord(looper);
    SongFields fields;
    fields.sequence = QVector<qint32>(100, 1);
    records.song = songData(fields);
    ArchiveBuilder builder;
    builder.addSong(records);
    builder.write(path);
}

QStringList column(const QTableWidget *table, int column)
{
    QStringList texts;
    for (int row = 0; row < table->rowCount(); ++row)
        texts << table->item(row, column)->text();
    return texts;
}

} // namespace

class TestVerifyDialog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { m_configuration = librarianConfiguration("tst_verifydialog"); }

    void report_data();
    void report();
    void summaryCounts_data();
    void summaryCounts();
    void commands_data();
    void commands();
    void contextMenusOfferVerify();

private:
    std::unique_ptr<ConfigurationManager> m_configuration;
};

void TestVerifyDialog::report_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("summary");
    QTest::addColumn<QStringList>("problems"); // the start of each "what"
    QTest::addColumn<QString>("label");
    // clang-format off
    QTest::newRow("good song file")    << "good"    << "No problems found."  << QStringList{}                                    << "Song file: song.mlsd";
    QTest::newRow("good card archive") << "card"    << "No problems found."  << QStringList{}                                    << "Card archive: song.mlsd";
    QTest::newRow("damaged song file") << "damaged" << "2 problems found."   << QStringList{"sequence count is 100", "checksum 0x00001234 does not match"} << "Song file: song.mlsd";
    QTest::newRow("not an archive")    << "garbage" << "Could not check the file: " << QStringList{}                             << "song.mlsd";
    QTest::newRow("missing file")      << "missing" << "Could not check the file: " << QStringList{}                             << "song.mlsd";
    // clang-format on
}

void TestVerifyDialog::report()
{
    QFETCH(QString, file);
    QFETCH(QString, summary);
    QFETCH(QStringList, problems);
    QFETCH(QString, label);

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("song.mlsd"));
    if (file == QLatin1String("good"))
        writeSongFile(path, "Intro");
    else if (file == QLatin1String("card"))
        writeArchive(path, "Gig");
    else if (file == QLatin1String("damaged"))
        writeDamagedArchive(path);
    else if (file == QLatin1String("garbage"))
        writeGarbage(path);

    VerifyDialog dialog;
    QSignalSpy checked(&dialog, &VerifyDialog::checked);
    dialog.verify(path);
    QVERIFY(dialog.isVisible());
    QVERIFY(!dialog.buttonBox()->button(QDialogButtonBox::Close)->isEnabled());
    QTRY_COMPARE(checked.count(), 1);
    QVERIFY(!dialog.isRunning());
    QVERIFY(dialog.buttonBox()->button(QDialogButtonBox::Close)->isEnabled());
    QVERIFY2(dialog.summaryLabel()->text().startsWith(summary), qPrintable(dialog.summaryLabel()->text()));
    if (summary.startsWith(QLatin1String("Could")))
        QVERIFY(dialog.summaryLabel()->text().size() > summary.size());
    QCOMPARE(dialog.fileLabel()->text(), label);

    const QStringList whats = column(dialog.problemTable(), 1);
    QCOMPARE(whats.size(), problems.size());
    QCOMPARE(dialog.problemTable()->isVisibleTo(&dialog), !problems.isEmpty());
    for (int row = 0; row < problems.size(); ++row)
        QVERIFY2(whats.at(row).startsWith(problems.at(row)), qPrintable(whats.at(row)));
    for (const QString &where : column(dialog.problemTable(), 0))
        QVERIFY2(where.startsWith(QLatin1String("song 1")), qPrintable(where));

    // A second check replaces the first report rather than adding to it.
    writeSongFile(path, "Intro");
    dialog.verify(path);
    QTRY_COMPARE(checked.count(), 2);
    QCOMPARE(dialog.summaryLabel()->text(), QStringLiteral("No problems found."));
    QCOMPARE(dialog.problemTable()->rowCount(), 0);
}

void TestVerifyDialog::summaryCounts_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<QString>("text");
    QTest::newRow("none") << 0 << "No problems found.";
    QTest::newRow("one") << 1 << "1 problem found.";
    QTest::newRow("many") << 12 << "12 problems found.";
}

void TestVerifyDialog::summaryCounts()
{
    QFETCH(int, count);
    QFETCH(QString, text);
    QCOMPARE(VerifyDialog::summary(count), text);
}

void TestVerifyDialog::commands_data()
{
    QTest::addColumn<QString>("place");
    QTest::addColumn<QString>("label");
    QTest::addColumn<int>("problems");
    // clang-format off
    QTest::newRow("card menu")        << "card"    << "Card data file: ZOVAZODE.DAT" << 0;
    QTest::newRow("card library")     << "archive" << "Card archive: Set.mlad"       << 0;
    QTest::newRow("song library")     << "song"    << "Song file: Bad.mlsd"          << 2;
    // clang-format on
}

void TestVerifyDialog::commands()
{
    QFETCH(QString, place);
    QFETCH(QString, label);
    QFETCH(int, problems);

    Librarian librarian;
    LibrarianView &view = *librarian.view;
    QAction *action = nullptr;
    QString path;
    if (place == QLatin1String("card")) {
        QVERIFY(!view.verifyCardAction()->isEnabled());
        librarian.openCard();
        action = view.verifyCardAction();
        path = librarian.image.path();
    } else {
        const bool cards = place == QLatin1String("archive");
        path = cards ? librarian.cardLibrary + QStringLiteral("/Set.mlad")
                     : librarian.songLibrary + QStringLiteral("/Bad.mlsd");
        if (cards)
            writeArchive(path, "Set");
        else
            writeDamagedArchive(path);
        view.tabs()->setCurrentIndex(cards ? 0 : 1);
        action = cards ? view.verifyArchiveAction() : view.verifyLibrarySongAction();
        QVERIFY(!action->isEnabled());
        QTRY_VERIFY(librarian.item(cards, path).isValid());
        QTreeView *tree = cards ? view.archiveView()->treeView() : view.libraryView()->treeView();
        tree->selectionModel()->select(librarian.item(cards, path), QItemSelectionModel::ClearAndSelect);
    }
    QVERIFY(action->isEnabled());
    QSignalSpy checked(view.verifyDialog(), &VerifyDialog::checked);
    action->trigger();
    QTRY_COMPARE(checked.count(), 1);
    QCOMPARE(view.verifyDialog()->path(), path);
    QCOMPARE(view.verifyDialog()->fileLabel()->text(), label);
    QCOMPARE(view.verifyDialog()->problemTable()->rowCount(), problems);
    QVERIFY(librarian.notifier.messages().isEmpty() || place == QLatin1String("card"));
}

void TestVerifyDialog::contextMenusOfferVerify()
{
    Librarian librarian;
    LibrarianView &view = *librarian.view;
    auto texts = [](const QMenu *menu) {
        QStringList result;
        for (const QAction *action : menu->actions())
            result << action->text();
        return result;
    };
    QCOMPARE(texts(view.archiveView()->contextMenu()),
             (QStringList{"Edit Name...", "Details...", "Restore To Card", "Verify...", "Delete"}));
    QCOMPARE(
        texts(view.libraryView()->contextMenu()),
        (QStringList{"Edit Name...", "Details...", "Copy to Selected Slot on Card", "Verify...", "Delete"}));
    QCOMPARE(view.verifyCardAction()->text(), QStringLiteral("&Verify Card..."));
}

QTEST_MAIN(TestVerifyDialog)
#include "tst_verifydialog.moc"
