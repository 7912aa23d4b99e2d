// The song details window: titles by source, the parts table in the pedal's words, read-only
// and editable modes, saving and its failures, and where showCentred puts a dialog.
#include "../domain/recordingnotifier.h"
#include "../models/cardfixture.h"
#include "domain/song.h"
#include "support/archivebuilder.h"
#include "views/songdetailview.h"
#include "views/widgetutils.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTreeWidget>
#include <QtTest>

using namespace ZovaZode;
namespace TS = ZovaZode::TestSupport;

Q_DECLARE_METATYPE(TS::PartFields)

namespace {

enum class Source { Card, Archive, File };
// Where a dialog's frame should end up along one axis.
enum class Place { Centre, Start, End };

using Rows = QList<QStringList>;
using Parts = QVector<TS::PartFields>;

TS::SongRecords songRecords(int song, const QByteArray &name)
{
    TS::SongRecords records = TS::emptySong(song, 3);
    TS::SongFields fields;
    fields.name = name;
    fields.description = "Words";
    records.song = TS::songData(fields);
    records.parts[1] = TS::partData(TS::partWithState(1));
    return records;
}

// A card part fields with its current loop record (bank 0, slot 0) set.
TS::PartFields normalPart(qint32 bars, qint32 beats, float duration)
{
    TS::PartFields fields = TS::partWithState(1);
    for (auto &loop : fields.loops) {
        loop.bars = bars;
        loop.beats = beats;
    }
    fields.duration = duration;
    return fields;
}

TS::PartFields emptyPart()
{
    return TS::partWithState(0);
}

TS::PartFields looperPart(float duration)
{
    TS::PartFields fields = TS::partWithState(3);
    fields.duration = duration;
    return fields;
}

struct Dialog
{
    TS::CardFixture fixture;
    SongDetailView view;
    QLabel *title = view.findChild<QLabel *>(QStringLiteral("titleLabel"));
    QLabel *heading = view.findChild<QLabel *>(QStringLiteral("pathHeading"));
    QLabel *path = view.findChild<QLabel *>(QStringLiteral("pathLabel"));
    QLabel *date = view.findChild<QLabel *>(QStringLiteral("dateLabel"));
    QLineEdit *name = view.findChild<QLineEdit *>(QStringLiteral("nameEdit"));
    QPlainTextEdit *description = view.findChild<QPlainTextEdit *>(QStringLiteral("descriptionEdit"));
    QTreeWidget *parts = view.findChild<QTreeWidget *>(QStringLiteral("partsTable"));
    QDialogButtonBox *buttons = view.findChild<QDialogButtonBox *>();

    QPushButton *button(QDialogButtonBox::StandardButton which) const { return buttons->button(which); }

    Rows rows() const
    {
        Rows result;
        for (int i = 0; i < parts->topLevelItemCount(); ++i) {
            QStringList texts;
            for (int column = 0; column < parts->columnCount(); ++column)
                texts << parts->topLevelItem(i)->text(column);
            result << texts;
        }
        return result;
    }
};

} // namespace

Q_DECLARE_METATYPE(Source)
Q_DECLARE_METATYPE(Place)

class TestSongDetailView : public QObject
{
    Q_OBJECT

private slots:
    void titles_data();
    void titles();
    void partsTable_data();
    void partsTable();
    void partsTableLayout();
    void modes_data();
    void modes();
    void save_data();
    void save();
    void readOnlySaveDoesNothing();
    void closingTheCardClosesTheDialog();
    void centring_data();
    void centring();
};

void TestSongDetailView::titles_data()
{
    QTest::addColumn<Source>("source");
    QTest::addColumn<int>("song");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("heading");

    QTest::newRow("card slot 0") << Source::Card << 0 << "Song #1 From Card"
                                 << "Card Path:";
    QTest::newRow("card slot 11") << Source::Card << 11 << "Song #12 From Card"
                                  << "Card Path:";
    QTest::newRow("archive song 1") << Source::Archive << 1 << "Song #2 From Archive"
                                    << "Archive Path:";
    QTest::newRow("song file") << Source::File << 0 << "Song From Library"
                               << "File Path:";
}

void TestSongDetailView::titles()
{
    QFETCH(Source, source);
    QFETCH(int, song);
    QFETCH(QString, title);
    QFETCH(QString, heading);

    Dialog dialog;
    dialog.fixture.writeSong(song, "Card Song", "On the card");
    dialog.fixture.image.writePartData(song, 1, TS::partData(TS::partWithState(1)));
    TS::ArchiveBuilder archive;
    archive.addSong(songRecords(0, "First"));
    archive.addSong(songRecords(1, "Second"));
    const QString archivePath = dialog.fixture.dir.filePath(QStringLiteral("Gig.mlad"));
    archive.write(archivePath);
    TS::ArchiveBuilder file;
    file.addSong(songRecords(0, "Ballad"));
    const QString filePath = dialog.fixture.dir.filePath(QStringLiteral("Ballad.mlsd"));
    file.write(filePath);

    QString path;
    QString name;
    switch (source) {
    case Source::Card:
        QVERIFY(dialog.fixture.open(false));
        dialog.view.song()->loadFromCard(dialog.fixture.card, song);
        path = dialog.fixture.image.path();
        name = QStringLiteral("Card Song");
        break;
    case Source::Archive:
        dialog.view.song()->loadFromArchive(archivePath, song, false);
        path = archivePath;
        name = QStringLiteral("Second");
        break;
    case Source::File:
        dialog.view.song()->loadFromArchive(filePath, song, true);
        path = filePath;
        name = QStringLiteral("Ballad");
        break;
    }

    QCOMPARE(dialog.title->text(), title);
    QCOMPARE(dialog.heading->text(), heading);
    QCOMPARE(dialog.path->text(), path);
    QVERIFY(!dialog.date->text().isEmpty());
    QCOMPARE(dialog.name->text(), name);
    QCOMPARE(dialog.parts->topLevelItemCount(), 1);
    QCOMPARE(dialog.parts->topLevelItem(0)->text(0), QStringLiteral("2"));

    // Forgetting the song empties everything the song filled in.
    dialog.view.song()->clear();
    QCOMPARE(dialog.title->text(), QString());
    QCOMPARE(dialog.path->text(), QString());
    QCOMPARE(dialog.date->text(), QString());
    QCOMPARE(dialog.name->text(), QString());
    QCOMPARE(dialog.description->toPlainText(), QString());
    QCOMPARE(dialog.parts->topLevelItemCount(), 0);
}

void TestSongDetailView::partsTable_data()
{
    QTest::addColumn<Parts>("parts");
    QTest::addColumn<Rows>("rows");

    const TS::PartFields e = emptyPart();

    TS::PartFields metal = normalPart(8, 4, 12.5f);
    metal.genre = 4;
    metal.style[8] = 6;
    metal.bassMode = 2; // stored 2 reads as 0: "Active"

    TS::PartFields fast = normalPart(8, 2, 4.0f);
    fast.genre = 0;
    fast.bassMode = 1; // stored 1 reads as 2: "Simple Root"

    TS::PartFields still = normalPart(8, 2, 0.0f);
    still.genre = 1;

    TS::PartFields odd = normalPart(8, 4, 12.5f);
    odd.genre = 12;
    odd.timeSlot = 2;
    odd.bassMode = 3; // stored 3 reads as 1: "Root Riff"

    TS::PartFields waltz = normalPart(2, 2, 6.0f);
    waltz.intense = 1;
    waltz.genre = 11;
    waltz.timeSlot = 1;
    waltz.altTime = 1;
    waltz.loops[3].bars = 4; // alternate time in 3/4 plays bank 1, slot 1
    waltz.loops[3].beats = 3;
    waltz.style[23] = 9;
    waltz.bassMode = 0;

    // clang-format off
    QTest::newRow("states 0 1 0 3 0")     << Parts{e, metal, e, looperPart(10.0f), e}
        << Rows{{"2", "Normal",  "Metal", "7",  "Active",      "153.6 bpm", "4/4", "Off", "8", "12.5 s"},
                {"4", "Looper",  "-",     "-",  "-",           "-",         "-",   "-",   "-", "10.0 s"}};
    QTest::newRow("240 bpm")              << Parts{fast, e, e, e, e}
        << Rows{{"1", "Normal",  "Blues", "1",  "Simple Root", "240.0 bpm", "4/4", "Off", "8", "4.0 s"}};
    QTest::newRow("zero duration")        << Parts{e, e, e, e, still}
        << Rows{{"5", "Normal",  "RnB",   "1",  "Active",      "0.0 bpm",   "4/4", "Off", "8", "0.0 s"}};
    QTest::newRow("genre 12, time 2")     << Parts{odd, e, e, e, e}
        << Rows{{"1", "Normal",  "",      "1",  "Root Riff",   "0.0 bpm",   "",    "Off", "0", "12.5 s"}};
    QTest::newRow("intense 3/4 alt time") << Parts{e, e, waltz, e, e}
        << Rows{{"3", "Intense", "Jazz",  "10", "Active",      "120.0 bpm", "3/4", "On",  "4", "6.0 s"}};
    QTest::newRow("all empty")            << Parts{e, e, e, e, e}
        << Rows{};
    // clang-format on
}

void TestSongDetailView::partsTable()
{
    QFETCH(Parts, parts);
    QFETCH(Rows, rows);

    Dialog dialog;
    for (int part = 0; part < parts.size(); ++part)
        dialog.fixture.image.writePartData(6, part, TS::partData(parts.at(part)));
    QVERIFY(dialog.fixture.open(false));
    dialog.view.song()->loadFromCard(dialog.fixture.card, 6);

    QCOMPARE(dialog.rows(), rows);
    for (int i = 0; i < dialog.parts->topLevelItemCount(); ++i)
        QCOMPARE(dialog.parts->topLevelItem(i)->data(0, Qt::DisplayRole).type(), QVariant::Int);
}

void TestSongDetailView::partsTableLayout()
{
    Dialog dialog;
    dialog.fixture.image.writePartData(0, 0, TS::partData(normalPart(8, 4, 12.5f)));
    QVERIFY(dialog.fixture.open(false));
    dialog.view.song()->loadFromCard(dialog.fixture.card, 0);

    QStringList headers;
    for (int column = 0; column < dialog.parts->columnCount(); ++column)
        headers << dialog.parts->headerItem()->text(column);
    QCOMPARE(headers, (QStringList{"#", "Type", "Genre", "Style", "Bass Mode", "Tempo", "Time", "Alt. Time",
                                   "Bars", "Duration"}));
    QVERIFY(!dialog.parts->rootIsDecorated());
    QVERIFY(!dialog.parts->itemsExpandable());

    const QTreeWidgetItem *row = dialog.parts->topLevelItem(0);
    for (int column = 0; column < 10; ++column) {
        const int horizontal = row->textAlignment(column) & Qt::AlignHorizontal_Mask;
        const int expected = column == 5 || column == 9 ? Qt::AlignRight : Qt::AlignHCenter;
        QCOMPARE(horizontal, expected);
    }
    QCOMPARE(dialog.view.sizeHint(), QSize(600, 600));
}

void TestSongDetailView::modes_data()
{
    QTest::addColumn<bool>("editable");
    // clang-format off
    QTest::newRow("editable")  << true;
    QTest::newRow("read-only") << false;
    // clang-format on
}

void TestSongDetailView::modes()
{
    QFETCH(bool, editable);

    Dialog dialog;
    dialog.view.setEditable(!editable);
    dialog.view.setEditable(editable);

    QCOMPARE(dialog.button(QDialogButtonBox::Save)->isHidden(), !editable);
    QCOMPARE(dialog.button(QDialogButtonBox::Cancel)->isHidden(), !editable);
    QCOMPARE(dialog.button(QDialogButtonBox::Close)->isHidden(), editable);
    QCOMPARE(dialog.name->isReadOnly(), !editable);
    QCOMPARE(dialog.name->hasFrame(), editable);
    QCOMPARE(dialog.description->isReadOnly(), !editable);
    QCOMPARE(dialog.description->frameShape(), editable ? QFrame::StyledPanel : QFrame::NoFrame);
    QCOMPARE(dialog.description->textInteractionFlags(),
             editable ? Qt::TextEditorInteraction : Qt::TextBrowserInteraction);

    const QColor grey(245, 245, 245);
    for (QWidget *widget : {static_cast<QWidget *>(dialog.name), static_cast<QWidget *>(dialog.description),
                            static_cast<QWidget *>(dialog.parts)}) {
        for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
            QCOMPARE(widget->palette().color(group, QPalette::Base) == grey, !editable);
    }
}

void TestSongDetailView::save_data()
{
    QTest::addColumn<Source>("source");
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("saved");
    QTest::addColumn<QStringList>("boxes");

    const QString failed = QStringLiteral("An error occured when saving song data.");
    const QString slash =
        QStringLiteral("Please correct the following:\n\nThe song name contains characters that "
                       "are not permitted. Please avoid punctuation.");
    const QString empty = QStringLiteral("Please correct the following:\n\nThe song name is empty.");
    const QString taken = QStringLiteral("A file named Taken.mlsd already exists in this folder.\n\nPlease "
                                         "choose a different song name.");
    // clang-format off
    QTest::newRow("card, new name")   << Source::Card << "Encore"  << true  << QStringList();
    QTest::newRow("card, slash")      << Source::Card << "A/B"     << false << QStringList{slash, failed};
    QTest::newRow("card, empty")      << Source::Card << ""        << false << QStringList{empty, failed};
    QTest::newRow("file, new name")   << Source::File << "Renamed" << true  << QStringList();
    QTest::newRow("file, name taken") << Source::File << "Taken"   << false << QStringList{taken, failed};
    // clang-format on
}

void TestSongDetailView::save()
{
    QFETCH(Source, source);
    QFETCH(QString, name);
    QFETCH(bool, saved);
    QFETCH(QStringList, boxes);

    RecordingNotifier notifier;
    Dialog dialog;
    dialog.fixture.writeSong(2, "Old");
    TS::ArchiveBuilder file;
    file.addSong(songRecords(0, "Old"));
    const QString filePath = dialog.fixture.dir.filePath(QStringLiteral("Old.mlsd"));
    file.write(filePath);
    file.write(dialog.fixture.dir.filePath(QStringLiteral("Taken.mlsd")));

    if (source == Source::Card) {
        QVERIFY(dialog.fixture.open(true));
        dialog.view.song()->loadFromCard(dialog.fixture.card, 2);
    } else {
        dialog.view.song()->loadFromArchive(filePath, 0, true);
    }
    dialog.view.setEditable(true);
    dialog.view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog.view));

    dialog.name->setText(name);
    dialog.description->setPlainText(QStringLiteral("New words"));
    QTest::mouseClick(dialog.button(QDialogButtonBox::Save), Qt::LeftButton);

    QCOMPARE(notifier.texts(), boxes);
    QCOMPARE(dialog.view.isVisible(), !saved);
    if (saved)
        QCOMPARE(dialog.view.result(), int(QDialog::Accepted));
    if (!boxes.isEmpty()) {
        const Notifier::Message &last = notifier.messages().last();
        QCOMPARE(last.icon, Notifier::Icon::Critical);
        QCOMPARE(last.title, QString());
        QCOMPARE(last.parent, &dialog.view);
        // The edits stay in the dialog for another try.
        QCOMPARE(dialog.name->text(), name);
    }

    const QString stored = saved ? name : QStringLiteral("Old");
    if (source == Source::Card) {
        QCOMPARE(QString::fromUtf8(dialog.fixture.storedSongName(2)), stored);
    } else {
        const QString expectedPath = dialog.fixture.dir.filePath(stored + QStringLiteral(".mlsd"));
        QVERIFY(QFileInfo::exists(expectedPath));
        QCOMPARE(QFileInfo::exists(filePath), !saved);
    }
}

void TestSongDetailView::readOnlySaveDoesNothing()
{
    RecordingNotifier notifier;
    Dialog dialog;
    dialog.fixture.writeSong(2, "Old");
    QVERIFY(dialog.fixture.open(true));
    dialog.view.song()->loadFromCard(dialog.fixture.card, 2);
    dialog.view.setEditable(false);
    dialog.view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog.view));

    dialog.name->setText(QStringLiteral("Sneaky"));
    emit dialog.buttons->accepted();

    QVERIFY(dialog.view.isVisible());
    QVERIFY(notifier.texts().isEmpty());
    QCOMPARE(dialog.fixture.storedSongName(2), QByteArray("Old"));

    QTest::mouseClick(dialog.button(QDialogButtonBox::Close), Qt::LeftButton);
    QVERIFY(!dialog.view.isVisible());
}

void TestSongDetailView::closingTheCardClosesTheDialog()
{
    Dialog dialog;
    dialog.fixture.writeSong(3, "Shown");
    QVERIFY(dialog.fixture.open(true));
    dialog.view.song()->loadFromCard(dialog.fixture.card, 3);
    dialog.view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog.view));
    QCOMPARE(dialog.name->text(), QStringLiteral("Shown"));

    dialog.fixture.card->close();
    QVERIFY(!dialog.view.isVisible());
    QCOMPARE(dialog.name->text(), QString());
    QCOMPARE(dialog.title->text(), QString());
}

void TestSongDetailView::centring_data()
{
    QTest::addColumn<QRect>("parent"); // null: no parent
    QTest::addColumn<QSize>("size");
    QTest::addColumn<Place>("horizontal");
    QTest::addColumn<Place>("vertical");

    // The offscreen screen is 800 x 600 and all of it is available.
    QTest::newRow("on the parent") << QRect(100, 100, 400, 300) << QSize(200, 100) << Place::Centre
                                   << Place::Centre;
    QTest::newRow("no parent") << QRect() << QSize(200, 100) << Place::Centre << Place::Centre;
    QTest::newRow("right edge") << QRect(600, 100, 400, 300) << QSize(200, 100) << Place::End
                                << Place::Centre;
    QTest::newRow("bottom edge") << QRect(100, 500, 400, 300) << QSize(200, 100) << Place::Centre
                                 << Place::End;
    QTest::newRow("top-left corner") << QRect(-300, -200, 400, 300) << QSize(200, 100) << Place::Start
                                     << Place::Start;
    QTest::newRow("larger than screen")
        << QRect(100, 100, 400, 300) << QSize(1000, 800) << Place::Start << Place::Start;
    QTest::newRow("wider than screen")
        << QRect(100, 100, 400, 300) << QSize(1000, 100) << Place::Start << Place::Centre;
}

void TestSongDetailView::centring()
{
    QFETCH(QRect, parent);
    QFETCH(QSize, size);
    QFETCH(Place, horizontal);
    QFETCH(Place, vertical);

    QWidget window;
    QDialog *dialog = parent.isNull() ? new QDialog : new QDialog(&window);
    const std::unique_ptr<QDialog> orphan(parent.isNull() ? dialog : nullptr);
    if (!parent.isNull()) {
        window.setGeometry(parent);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
    }
    dialog->resize(size);

    WidgetUtils::showCentred(dialog);
    QVERIFY(dialog->isVisible());

    const QRect available = dialog->screen()->availableGeometry();
    const QRect frame = dialog->frameGeometry();
    const QPoint centre = parent.isNull() ? available.center() : window.frameGeometry().center();
    const auto check = [](Place place, int start, int extent, int centre, int areaStart, int areaExtent) {
        switch (place) {
        case Place::Centre:
            return qAbs(start + extent / 2 - centre) <= 1;
        case Place::Start:
            return start == areaStart + 10;
        case Place::End:
            return start + extent == areaStart + areaExtent - 10;
        }
        return false;
    };
    QVERIFY2(check(horizontal, frame.x(), frame.width(), centre.x(), available.x(), available.width()),
             qPrintable(QStringLiteral("frame x %1, width %2").arg(frame.x()).arg(frame.width())));
    QVERIFY2(check(vertical, frame.y(), frame.height(), centre.y(), available.y(), available.height()),
             qPrintable(QStringLiteral("frame y %1, height %2").arg(frame.y()).arg(frame.height())));
}

QTEST_MAIN(TestSongDetailView)
#include "tst_songdetailview.moc"
