// The archive details dialog: what it shows of an archive, the validation of name and
// description, saving with and without a new file name, refusals, and the song list's menu.
#include "views/archivedetailview.h"

#include "../domain/recordingnotifier.h"
#include "../models/libraryfixture.h"
#include "domain/song.h"
#include "models/songlistmodel.h"
#include "views/songdetailview.h"

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QtTest>

using namespace ZovaZode;
using namespace ZovaZode::TestSupport;

namespace {

const QString kCorrect = QStringLiteral("Please correct the following:\n");
const QString kEmpty = QStringLiteral("The archive name is empty.");
const QString kTooLong = QStringLiteral("The archive name is too long.");
const QString kPunctuation =
    QStringLiteral("The archive name contains characters that are not permitted. Please avoid punctuation.");
const QString kDescriptionTooLong = QStringLiteral("The archive description is too long.");

// Gig.mlad: a complete archive whose songs 0 and 1 have parts in every state, next to
// Taken.mlad.
struct ArchiveFolder
{
    QTemporaryDir dir;
    QString gig = dir.filePath(QStringLiteral("Gig.mlad"));

    ArchiveFolder()
    {
        ArchiveBuilder builder;
        builder.setNameField(textField("Gig", 128));
        builder.setDescriptionField(textField("Friday night", 384));
        builder.setUserPrefs(userPrefs());
        builder.addSong(namedSong(0, "Opener", "", {1, 0, 3, 0, 2}));
        builder.addSong(namedSong(1, "Ballad", "", {3, 3, 0, 0, 0}));
        for (int song = 2; song < 12; ++song)
            builder.addSong(namedSong(song, "Song " + QByteArray::number(song + 1)));
        builder.write(gig);
        writeArchive(dir.filePath(QStringLiteral("Taken.mlad")), "Taken");
    }

    QString path(const QString &name) const { return dir.filePath(name); }
};

void save(ArchiveDetailView &dialog)
{
    QTest::mouseClick(dialog.buttonBox()->button(QDialogButtonBox::Save), Qt::LeftButton);
}

} // namespace

class TestArchiveDetailView : public QObject
{
    Q_OBJECT

private slots:
    void showsTheArchive();
    void emptyPathShowsNothing();
    void validation_data();
    void validation();
    void saving_data();
    void saving();
    void cancelWritesNothing();
    void songMenuOnlyOnSongs_data();
    void songMenuOnlyOnSongs();
};

void TestArchiveDetailView::showsTheArchive()
{
    ArchiveFolder folder;
    ArchiveDetailView dialog;
    dialog.setPath(folder.gig);

    QCOMPARE(dialog.path(), folder.gig);
    QCOMPARE(dialog.locationLabel()->text(), folder.gig);
    QVERIFY(!dialog.dateLabel()->text().isEmpty());
    QCOMPARE(dialog.nameEdit()->text(), QStringLiteral("Gig"));
    QCOMPARE(dialog.descriptionEdit()->toPlainText(), QStringLiteral("Friday night"));
    QCOMPARE(dialog.sizeHint(), QSize(700, 520));

    QListWidget *songs = dialog.songList();
    QCOMPARE(songs->count(), 12);
    QCOMPARE(songs->item(0)->data(SongListModel::NameRole).toString(), QStringLiteral("Opener"));
    QCOMPARE(songs->item(0)->data(SongListModel::PartsRole).toList(), (QVariantList{1, 0, 3, 0, 2}));
    QCOMPARE(songs->item(1)->data(SongListModel::NameRole).toString(), QStringLiteral("Ballad"));
    QCOMPARE(songs->item(1)->data(SongListModel::PartsRole).toList(), (QVariantList{3, 3, 0, 0, 0}));
    QCOMPARE(songs->item(11)->data(SongListModel::NameRole).toString(), QStringLiteral("Song 12"));
    QCOMPARE(songs->item(5)->flags(), Qt::ItemFlags(Qt::ItemIsEnabled));
    QCOMPARE(songs->palette().color(QPalette::Inactive, QPalette::Base), QColor(245, 245, 245));

    // Another archive replaces everything.
    dialog.setPath(folder.path(QStringLiteral("Taken.mlad")));
    QCOMPARE(dialog.nameEdit()->text(), QStringLiteral("Taken"));
    QCOMPARE(songs->item(0)->data(SongListModel::NameRole).toString(), QStringLiteral("Song 1"));
    QCOMPARE(songs->count(), 12);
}

void TestArchiveDetailView::emptyPathShowsNothing()
{
    ArchiveFolder folder;
    ArchiveDetailView dialog;
    dialog.setPath(folder.gig);
    dialog.setPath(QString());

    QVERIFY(dialog.locationLabel()->text().isEmpty());
    QVERIFY(dialog.dateLabel()->text().isEmpty());
    QVERIFY(dialog.nameEdit()->text().isEmpty());
    QVERIFY(dialog.descriptionEdit()->toPlainText().isEmpty());
    QCOMPARE(dialog.songList()->count(), 0);

    RecordingNotifier notifier;
    QSignalSpy saved(&dialog, &ArchiveDetailView::saved);
    save(dialog);
    QCOMPARE(saved.count(), 0);
    QVERIFY(notifier.texts().isEmpty());
}

void TestArchiveDetailView::validation_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("description");
    QTest::addColumn<QStringList>("problems");

    const QString long129(129, 'n');
    // clang-format off
    QTest::newRow("empty name")                   << ""            << "Fine"            << QStringList{kEmpty};
    QTest::newRow("129 bytes")                    << long129       << "Fine"            << QStringList{kTooLong};
    QTest::newRow("punctuation")                  << "Gig!"        << "Fine"            << QStringList{kPunctuation};
    QTest::newRow("long with punctuation")        << long129 + "?" << "Fine"            << QStringList{kTooLong, kPunctuation};
    QTest::newRow("385-byte description")         << "Gig"         << QString(385, 'd') << QStringList{kDescriptionTooLong};
    QTest::newRow("empty name, long description") << ""            << QString(385, 'd') << QStringList{kEmpty, kDescriptionTooLong};
    QTest::newRow("all but empty")                << long129 + "(" << QString(385, 'd') << QStringList{kTooLong, kPunctuation, kDescriptionTooLong};
    // clang-format on
}

void TestArchiveDetailView::validation()
{
    QFETCH(QString, name);
    QFETCH(QString, description);
    QFETCH(QStringList, problems);

    ArchiveFolder folder;
    const QByteArray before = readRange(folder.gig, 0, 1 << 21);
    ArchiveDetailView dialog;
    dialog.setPath(folder.gig);
    dialog.show();
    dialog.nameEdit()->setText(name);
    dialog.descriptionEdit()->setPlainText(description);

    RecordingNotifier notifier;
    QSignalSpy saved(&dialog, &ArchiveDetailView::saved);
    save(dialog);

    QCOMPARE(notifier.texts(), QStringList(kCorrect + QLatin1Char('\n') + problems.join(QLatin1Char('\n'))));
    const Notifier::Message message = notifier.messages().first();
    QCOMPARE(message.icon, Notifier::Icon::Information);
    QCOMPARE(message.title, QString());
    QCOMPARE(message.buttons, Notifier::Buttons(Notifier::Ok));
    QCOMPARE(message.parent, &dialog);
    QCOMPARE(saved.count(), 0);
    QVERIFY(dialog.isVisible());
    QCOMPARE(dialog.nameEdit()->text(), name);
    QCOMPARE(fileNames(folder.dir.path()), (QStringList{"Gig.mlad", "Taken.mlad"}));
    QCOMPARE(readRange(folder.gig, 0, 1 << 21), before);
}

void TestArchiveDetailView::saving_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("description");
    QTest::addColumn<QString>("box");
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QString>("pathAfter");

    const QString exists = QStringLiteral("A file named %1 already exists in this folder.\n\n"
                                          "Please choose a different archive name.");
    // clang-format off
    QTest::newRow("new name")           << "Gig 2" << "Friday night" << ""                       << QStringList{"Gig 2.mlad", "Taken.mlad"} << "Gig 2.mlad";
    QTest::newRow("name and words")     << "Late"  << "Saturday"     << ""                       << QStringList{"Late.mlad", "Taken.mlad"}  << "Late.mlad";
    QTest::newRow("description only")   << "Gig"   << "Saturday"     << ""                       << QStringList{"Gig.mlad", "Taken.mlad"}   << "Gig.mlad";
    QTest::newRow("case only")          << "gig"   << "Friday night" << ""                       << QStringList{"Taken.mlad", "gig.mlad"}   << "gig.mlad";
    QTest::newRow("name of other file") << "Taken" << "Saturday"     << exists.arg("Taken.mlad") << QStringList{"Gig.mlad", "Taken.mlad"}   << "";
    // clang-format on
}

void TestArchiveDetailView::saving()
{
    QFETCH(QString, name);
    QFETCH(QString, description);
    QFETCH(QString, box);
    QFETCH(QStringList, files);
    QFETCH(QString, pathAfter);

    ArchiveFolder folder;
    const QByteArray before = readRange(folder.gig, 0, 1 << 21);
    const QByteArray taken = readRange(folder.path(QStringLiteral("Taken.mlad")), 0, 1 << 21);
    ArchiveDetailView dialog;
    dialog.setPath(folder.gig);
    dialog.show();
    dialog.nameEdit()->setText(name);
    dialog.descriptionEdit()->setPlainText(description);

    RecordingNotifier notifier;
    QSignalSpy saved(&dialog, &ArchiveDetailView::saved);
    save(dialog);

    QCOMPARE(notifier.texts(), box.isEmpty() ? QStringList() : QStringList(box));
    QCOMPARE(fileNames(folder.dir.path()), files);
    QCOMPARE(readRange(folder.path(QStringLiteral("Taken.mlad")), 0, 1 << 21), taken);
    if (pathAfter.isEmpty()) {
        QCOMPARE(saved.count(), 0);
        QVERIFY(dialog.isVisible());
        QCOMPARE(dialog.path(), folder.gig);
        QCOMPARE(readRange(folder.gig, 0, 1 << 21), before);
        return;
    }
    QCOMPARE(saved.count(), 1);
    QVERIFY(!dialog.isVisible());
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(dialog.path(), folder.path(pathAfter));
    QCOMPARE(storedName(folder.path(pathAfter)), name);
    QCOMPARE(storedDescription(folder.path(pathAfter)), description);
    // Only the header's name and description change.
    const QByteArray after = readRange(folder.path(pathAfter), 0, 1 << 21);
    QCOMPARE(after.size(), before.size());
    QCOMPARE(after.mid(520), before.mid(520));
    QCOMPARE(after.left(8), before.left(8));
}

void TestArchiveDetailView::cancelWritesNothing()
{
    ArchiveFolder folder;
    const QByteArray before = readRange(folder.gig, 0, 1 << 21);
    ArchiveDetailView dialog;
    dialog.setPath(folder.gig);
    dialog.show();
    dialog.nameEdit()->setText(QStringLiteral("Other"));
    QSignalSpy saved(&dialog, &ArchiveDetailView::saved);

    QTest::mouseClick(dialog.buttonBox()->button(QDialogButtonBox::Cancel), Qt::LeftButton);
    QVERIFY(!dialog.isVisible());
    QCOMPARE(dialog.result(), int(QDialog::Rejected));
    QCOMPARE(saved.count(), 0);
    QCOMPARE(readRange(folder.gig, 0, 1 << 21), before);
    QCOMPARE(fileNames(folder.dir.path()), (QStringList{"Gig.mlad", "Taken.mlad"}));
}

void TestArchiveDetailView::songMenuOnlyOnSongs_data()
{
    QTest::addColumn<int>("row"); // -1: empty space below the songs

    // clang-format off
    QTest::newRow("first song")  << 0;
    QTest::newRow("second song") << 1;
    QTest::newRow("empty space") << -1;
    // clang-format on
}

void TestArchiveDetailView::songMenuOnlyOnSongs()
{
    QFETCH(int, row);

    ArchiveFolder folder;
    // Two songs only, so that the list has empty space below them.
    ArchiveBuilder builder;
    builder.setNameField(textField("Short", 128));
    builder.addSong(namedSong(0, "Opener"));
    builder.addSong(namedSong(1, "Ballad"));
    const QString path = folder.path(QStringLiteral("Short.mlad"));
    builder.write(path);

    ArchiveDetailView dialog;
    dialog.setPath(path);
    dialog.resize(dialog.sizeHint());
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));

    QListWidget *songs = dialog.songList();
    QCOMPARE(songs->count(), 2);
    QWidget *viewport = songs->viewport();
    const QPoint position = row >= 0 ? songs->visualItemRect(songs->item(row)).center()
                                     : QPoint(viewport->width() / 2, viewport->height() - 5);
    QContextMenuEvent event(QContextMenuEvent::Mouse, position, viewport->mapToGlobal(position));
    QApplication::sendEvent(viewport, &event);
    QCOMPARE(dialog.contextMenu()->isVisible(), row >= 0);
    if (row < 0)
        return;

    QCOMPARE(dialog.contextMenu()->actions(), QList<QAction *>{dialog.detailsAction()});
    dialog.contextMenu()->close();
    dialog.detailsAction()->trigger();
    SongDetailView *details = dialog.songDetailView();
    QVERIFY(details->isVisible());
    QVERIFY(!details->isEditable());
    QCOMPARE(details->song()->source(), SongSource::CardArchive);
    QCOMPARE(details->song()->filePath(), path);
    QCOMPARE(details->song()->index(), row);
    QCOMPARE(details->song()->name(), row == 0 ? QStringLiteral("Opener") : QStringLiteral("Ballad"));
    details->close();
}

QTEST_MAIN(TestArchiveDetailView)
#include "tst_archivedetailview.moc"
