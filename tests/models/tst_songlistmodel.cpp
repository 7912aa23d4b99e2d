// The card song list model: what each row, column and role holds, renaming with the name
// rules and what reaches the card file, the drag bytes, and which drops become restore
// requests.
#include "../domain/recordingnotifier.h"
#include "cardfixture.h"
#include "models/songlistmodel.h"
#include "support/filesnapshot.h"

#include <QMimeData>
#include <QtTest>

using namespace ZovaZode;
namespace TS = ZovaZode::TestSupport;

namespace {

const QString kTooLong = QStringLiteral("The name is too long.\n\nPlease choose a different name.");
const QString kForbidden =
    QStringLiteral("The name contains characters that are not permitted.\n\nPlease avoid punctuation.");
const QString kSongPath = QStringLiteral("application/selkanor.morvmanager.song_path");
const QString kItemList = QStringLiteral("application/selkanor.morvmanager.library_item_list");

struct Record
{
    qint32 kind;
    QString path;
};

QByteArray itemList(const QVector<Record> &records)
{
    QByteArray bytes;
    QDataStream stream(&bytes, QIODevice::WriteOnly);
    for (const Record &record : records)
        stream << record.kind << record.path;
    return bytes;
}

// (row, column) pairs.
using Cells = QVector<QPair<int, int>>;

QVariantList states(std::initializer_list<int> values)
{
    QVariantList list;
    for (int value : values)
        list << value;
    return list;
}

} // namespace

class TestSongListModel : public QObject
{
    Q_OBJECT

private slots:
    void noCardNoRows();
    void followsTheCard();
    void cells_data();
    void cells();
    void headers_data();
    void headers();
    void indexes();
    void flags_data();
    void flags();

    void rename_data();
    void rename();
    void describe();
    void saveWritesOnlyModifiedSongs();
    void readEntry();
    void isEmptySong_data();
    void isEmptySong();
    void unreadableCardLeavesEmptyList();

    void dragBytes_data();
    void dragBytes();
    void drop_data();
    void drop();
    void dropWithoutCard();
};

void TestSongListModel::noCardNoRows()
{
    TS::CardFixture fixture;
    SongListModel model(fixture.card);
    QCOMPARE(model.rowCount(), 0);
    QCOMPARE(model.columnCount(), 6);
    QVERIFY(!model.index(0, 0).isValid());

    const QHash<int, QByteArray> expected{{257, "name"}, {258, "description"}, {259, "parts"}};
    QCOMPARE(model.roleNames(), expected);
    QCOMPARE(model.mimeTypes(),
             QStringList{QStringLiteral("application/selkanor.morvmanager.card_song_list")});
    QCOMPARE(model.supportedDropActions(), Qt::DropActions(Qt::CopyAction));
}

void TestSongListModel::followsTheCard()
{
    TS::CardFixture fixture;
    fixture.writeSong(0, "Opener");
    SongListModel model(fixture.card);
    QSignalSpy resets(&model, &QAbstractItemModel::modelReset);

    QVERIFY(fixture.open());
    QCOMPARE(model.rowCount(), 12);
    QCOMPARE(model.songName(0), QStringLiteral("Opener"));
    QCOMPARE(resets.count(), 1);

    fixture.card->close();
    QCOMPARE(model.rowCount(), 0);
    QCOMPARE(resets.count(), 2);
}

void TestSongListModel::cells_data()
{
    QTest::addColumn<int>("column");
    QTest::addColumn<int>("role");
    QTest::addColumn<QVariant>("expected");

    const QVariant name = QStringLiteral("Gig Opener");
    const QVariant description = QStringLiteral("Loud start");
    const QVariant parts = states({1, 0, 3, 0, 2});

    // clang-format off
    QTest::newRow("0 display")        << 0 << int(Qt::DisplayRole) << name;
    QTest::newRow("0 edit")           << 0 << int(Qt::EditRole)    << name;
    QTest::newRow("1 display")        << 1 << int(Qt::DisplayRole) << description;
    QTest::newRow("1 edit")           << 1 << int(Qt::EditRole)    << description;
    QTest::newRow("2 display")        << 2 << int(Qt::DisplayRole) << parts;
    QTest::newRow("2 edit")           << 2 << int(Qt::EditRole)    << QVariant();
    QTest::newRow("3 active parts")   << 3 << int(Qt::DisplayRole) << QVariant(4);
    QTest::newRow("4 sequence parts") << 4 << int(Qt::DisplayRole) << QVariant(5);
    QTest::newRow("5 display")        << 5 << int(Qt::DisplayRole) << QVariant();
    QTest::newRow("name role")        << 4 << 257                  << name;
    QTest::newRow("description role") << 0 << 258                  << description;
    QTest::newRow("parts role")       << 5 << 259                  << parts;
    QTest::newRow("tooltip")          << 0 << int(Qt::ToolTipRole) << QVariant();
    QTest::newRow("role 260")         << 0 << 260                  << QVariant();
    // clang-format on
}

void TestSongListModel::cells()
{
    QFETCH(int, column);
    QFETCH(int, role);
    QFETCH(QVariant, expected);

    TS::CardFixture fixture;
    fixture.writeSong(3, "Gig Opener", "Loud start");
    fixture.writeStates(3, {1, 0, 3, 0, 2});
    // Part 3 is not in use but has a count, so it is active although its state is empty.
    TS::PartFields counted = TS::partWithState(0);
    counted.count = 2;
    fixture.image.writePartData(3, 3, TS::partData(counted));
    QVERIFY(fixture.open());
    SongListModel model(fixture.card);
    model.reload();

    const QVariant actual = model.data(model.index(3, column), role);
    QCOMPARE(actual, expected);
}

void TestSongListModel::headers_data()
{
    QTest::addColumn<int>("section");
    QTest::addColumn<int>("orientation");
    QTest::addColumn<int>("role");
    QTest::addColumn<QVariant>("expected");

    // clang-format off
    QTest::newRow("0") << 0 << int(Qt::Horizontal) << int(Qt::DisplayRole) << QVariant("Number");
    QTest::newRow("1") << 1 << int(Qt::Horizontal) << int(Qt::DisplayRole) << QVariant("Name");
    QTest::newRow("2") << 2 << int(Qt::Horizontal) << int(Qt::DisplayRole) << QVariant("Description");
    QTest::newRow("3") << 3 << int(Qt::Horizontal) << int(Qt::DisplayRole) << QVariant("PartState");
    QTest::newRow("4") << 4 << int(Qt::Horizontal) << int(Qt::DisplayRole) << QVariant("Active Parts");
    // clang-format on
    QTest::newRow("5 vertical") << 5 << int(Qt::Vertical) << int(Qt::DisplayRole)
                                << QVariant("Sequence Parts");
    // clang-format off
    QTest::newRow("6")         << 6  << int(Qt::Horizontal) << int(Qt::DisplayRole) << QVariant();
    QTest::newRow("-1")        << -1 << int(Qt::Horizontal) << int(Qt::DisplayRole) << QVariant();
    QTest::newRow("edit role") << 0  << int(Qt::Horizontal) << int(Qt::EditRole)    << QVariant();
    // clang-format on
}

void TestSongListModel::headers()
{
    QFETCH(int, section);
    QFETCH(int, orientation);
    QFETCH(int, role);
    QFETCH(QVariant, expected);

    TS::CardFixture fixture;
    SongListModel model(fixture.card);
    const QVariant actual = model.headerData(section, Qt::Orientation(orientation), role);
    QCOMPARE(actual.toString(), expected.toString());
    QCOMPARE(actual.isValid(), expected.isValid());
}

void TestSongListModel::indexes()
{
    TS::CardFixture fixture;
    QVERIFY(fixture.open());
    SongListModel model(fixture.card);
    model.reload();

    QVERIFY(model.index(11, 0).isValid());
    QVERIFY(model.index(0, 9).isValid());
    QVERIFY(!model.index(12, 0).isValid());
    QVERIFY(!model.index(-1, 0).isValid());
    QVERIFY(!model.index(0, 0, model.index(1, 0)).isValid());
    QVERIFY(!model.parent(model.index(4, 0)).isValid());
    QCOMPARE(model.rowCount(model.index(4, 0)), 0);
}

void TestSongListModel::flags_data()
{
    QTest::addColumn<bool>("writable");
    QTest::addColumn<int>("column");
    QTest::addColumn<bool>("editable");

    // clang-format off
    QTest::newRow("writable name")        << true  << 0 << true;
    QTest::newRow("writable description") << true  << 1 << false;
    QTest::newRow("read-only name")       << false << 0 << false;
    // clang-format on
}

void TestSongListModel::flags()
{
    QFETCH(bool, writable);
    QFETCH(int, column);
    QFETCH(bool, editable);

    TS::CardFixture fixture;
    QVERIFY(fixture.open(writable));
    QCOMPARE(fixture.card->isWritable(), writable);
    SongListModel model(fixture.card);
    model.reload();

    const Qt::ItemFlags flags = model.flags(model.index(2, column));
    const Qt::ItemFlags always =
        Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemIsDragEnabled | Qt::ItemIsDropEnabled;
    QCOMPARE(flags & always, always);
    QCOMPARE(flags.testFlag(Qt::ItemIsEditable), editable);
}

void TestSongListModel::rename_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QStringList>("boxes");

    const QString euro = QStringLiteral("\u20ac");
    // clang-format off
    QTest::newRow("128 bytes")           << QString(128, QLatin1Char('a'))           << true  << QStringList();
    QTest::newRow("129 bytes")           << QString(129, QLatin1Char('a'))           << false << QStringList{kTooLong};
    QTest::newRow("42 euros + 2")        << euro.repeated(42) + QStringLiteral("ab") << true  << QStringList();
    QTest::newRow("43 euros")            << euro.repeated(43)                        << false << QStringList{kTooLong};
    QTest::newRow("slash")               << QStringLiteral("A/B")                    << false << QStringList{kForbidden};
    QTest::newRow("tab")                 << QStringLiteral("A\tB")                   << false << QStringList{kForbidden};
    QTest::newRow("parenthesis")         << QStringLiteral("Take (2)")               << false << QStringList{kForbidden};
    QTest::newRow("too long first")      << QString(129, QLatin1Char('!'))           << false << QStringList{kTooLong};
    QTest::newRow("empty")               << QString()                                << false << QStringList();
    QTest::newRow("allowed punctuation") << QStringLiteral("Live - Take 2, A & B.")  << true  << QStringList();
    // clang-format on
}

void TestSongListModel::rename()
{
    QFETCH(QString, name);
    QFETCH(bool, accepted);
    QFETCH(QStringList, boxes);

    RecordingNotifier notifier;
    TS::CardFixture fixture;
    fixture.writeSong(5, "Old Name");
    QVERIFY(fixture.open());
    SongListModel model(fixture.card);
    model.reload();
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    const TS::FileSnapshot before(fixture.image.path());

    QCOMPARE(model.setData(model.index(5, 0), name, Qt::EditRole), accepted);

    QCOMPARE(notifier.texts(), boxes);
    for (const Notifier::Message &message : notifier.messages()) {
        QCOMPARE(message.icon, Notifier::Icon::Information);
        QCOMPARE(message.title, QString());
        QCOMPARE(message.buttons, Notifier::Buttons(Notifier::Ok));
    }
    const QString shown = accepted ? name : QStringLiteral("Old Name");
    QCOMPARE(model.songName(5), shown);
    QCOMPARE(fixture.storedSongName(5), shown.toUtf8());
    QCOMPARE(changed.count(), accepted ? 1 : 0);
    // Only the song's own record may change, and only when the name was accepted.
    const QVector<TS::ByteRange> outside = before.changesOutside({TS::CardImage::songDataRange(5)});
    QVERIFY2(outside.isEmpty(), qPrintable(TS::describe(outside)));
    QCOMPARE(before.changes().isEmpty(), !accepted);
}

void TestSongListModel::describe()
{
    RecordingNotifier notifier;
    TS::CardFixture fixture;
    fixture.writeSong(7, "Keep", "Old words");
    QVERIFY(fixture.open());
    SongListModel model(fixture.card);
    model.reload();

    QVERIFY(model.setData(model.index(7, 1), QStringLiteral("New words"), Qt::EditRole));
    QCOMPARE(fixture.storedSongDescription(7), QByteArray("New words"));
    QCOMPARE(fixture.storedSongName(7), QByteArray("Keep"));
    QCOMPARE(model.data(model.index(7, 0), 258).toString(), QStringLiteral("New words"));

    QVERIFY(!model.setData(model.index(7, 2), QStringLiteral("x"), Qt::EditRole));
    QVERIFY(!model.setData(model.index(7, 0), QStringLiteral("Other"), Qt::DisplayRole));
    QCOMPARE(fixture.storedSongName(7), QByteArray("Keep"));
    QVERIFY(notifier.texts().isEmpty());
}

void TestSongListModel::saveWritesOnlyModifiedSongs()
{
    TS::CardFixture fixture;
    fixture.writeSong(1, "One");
    fixture.writeSong(7, "Seven");
    QVERIFY(fixture.open());
    SongListModel model(fixture.card);
    model.reload();
    const TS::FileSnapshot before(fixture.image.path());

    QVERIFY(model.setSongName(1, QStringLiteral("Uno")));
    QVERIFY(model.setSongDescription(7, QStringLiteral("Siete")));
    // The setters keep the change in the list until save().
    QCOMPARE(fixture.storedSongName(1), QByteArray("One"));
    QVERIFY(before.changes().isEmpty());

    model.save();
    QCOMPARE(fixture.storedSongName(1), QByteArray("Uno"));
    QCOMPARE(fixture.storedSongDescription(7), QByteArray("Siete"));
    const QVector<TS::ByteRange> outside =
        before.changesOutside({TS::CardImage::songDataRange(1), TS::CardImage::songDataRange(7)});
    QVERIFY2(outside.isEmpty(), qPrintable(TS::describe(outside)));

    // Saved entries are no longer modified: a change written behind the model's back stays.
    fixture.writeSong(1, "Behind");
    model.save();
    QCOMPARE(fixture.storedSongName(1), QByteArray("Behind"));
}

void TestSongListModel::readEntry()
{
    TS::CardFixture fixture;
    fixture.writeSong(4, "Before");
    QVERIFY(fixture.open());
    SongListModel model(fixture.card);
    model.reload();
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);

    fixture.writeSong(4, "After");
    fixture.writeStates(4, {0, 3, 0, 0, 1});
    model.readEntry(4);

    QCOMPARE(model.songName(4), QStringLiteral("After"));
    QCOMPARE(model.data(model.index(4, 0), 259), QVariant(states({0, 3, 0, 0, 1})));
    QCOMPARE(changed.count(), 1);
    QCOMPARE(changed.at(0).at(0).toModelIndex(), model.index(4, 0));
    QCOMPARE(changed.at(0).at(1).toModelIndex(), model.index(4, 5));

    model.readEntry(12);
    model.readEntry(-1);
    QCOMPARE(changed.count(), 1);
}

void TestSongListModel::isEmptySong_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<bool>("empty");

    // clang-format off
    QTest::newRow("all parts empty") << 0  << true;
    QTest::newRow("one looper part") << 1  << false;
    QTest::newRow("last part only")  << 2  << false;
    QTest::newRow("row 12")          << 12 << true;
    QTest::newRow("row -1")          << -1 << true;
    // clang-format on
}

void TestSongListModel::isEmptySong()
{
    QFETCH(int, row);
    QFETCH(bool, empty);

    TS::CardFixture fixture;
    fixture.writeStates(1, {0, 0, 3, 0, 0});
    fixture.writeStates(2, {0, 0, 0, 0, 2});
    QVERIFY(fixture.open());
    SongListModel model(fixture.card);
    model.reload();
    QCOMPARE(model.isEmptySong(row), empty);
}

void TestSongListModel::unreadableCardLeavesEmptyList()
{
    TS::CardFixture fixture;
    QVERIFY(fixture.open());
    SongListModel model(fixture.card);
    model.reload();
    QCOMPARE(model.rowCount(), 12);
    QSignalSpy aboutToReset(&model, &QAbstractItemModel::modelAboutToBeReset);
    QSignalSpy reset(&model, &QAbstractItemModel::modelReset);

    // Song records 6 onwards now lie beyond the end of the file.
    QFile file(fixture.image.path());
    QVERIFY(file.resize(TS::CardImage::songDataPosition(6)));
    model.reload();

    QCOMPARE(model.rowCount(), 0);
    QCOMPARE(aboutToReset.count(), 1);
    QCOMPARE(reset.count(), 1);
    model.readEntry(7);
    QCOMPARE(model.rowCount(), 0);
}

void TestSongListModel::dragBytes_data()
{
    QTest::addColumn<Cells>("cells");
    QTest::addColumn<QByteArray>("bytes");

    QTest::newRow("2 then 5") << Cells{{2, 0}, {2, 1}, {2, 3}, {5, 0}, {5, 2}}
                              << QByteArray("\0\0\0\2\0\0\0\5", 8);
    // clang-format off
    QTest::newRow("order kept")      << Cells{{11, 0}, {0, 0}} << QByteArray("\0\0\0\x0b\0\0\0\0", 8);
    QTest::newRow("other columns")   << Cells{{3, 1}, {3, 4}}  << QByteArray();
    QTest::newRow("invalid skipped") << Cells{{12, 0}, {4, 0}} << QByteArray("\0\0\0\4", 4);
    // clang-format on
}

void TestSongListModel::dragBytes()
{
    QFETCH(Cells, cells);
    QFETCH(QByteArray, bytes);

    TS::CardFixture fixture;
    QVERIFY(fixture.open());
    SongListModel model(fixture.card);
    model.reload();
    QModelIndexList indexes;
    for (const auto &cell : cells)
        indexes << model.index(cell.first, cell.second);

    const std::unique_ptr<QMimeData> data(model.mimeData(indexes));
    QCOMPARE(data->formats(), QStringList{QStringLiteral("application/selkanor.morvmanager.card_song_list")});
    QCOMPARE(data->data(QStringLiteral("application/selkanor.morvmanager.card_song_list")), bytes);
}

void TestSongListModel::drop_data()
{
    QTest::addColumn<bool>("songPathFormat");
    QTest::addColumn<QByteArray>("list");
    QTest::addColumn<int>("action");
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("parentRow");
    QTest::addColumn<bool>("result");
    QTest::addColumn<int>("slot"); // -1: no request

    const QString path = QStringLiteral("/songs/Ballad.mlsd");
    const QByteArray one = itemList({{1, path}});
    const QByteArray two = itemList({{1, path}, {1, QStringLiteral("/songs/Other.mlsd")}});
    const QByteArray truncated = one.left(one.size() - 3);
    const int copy = Qt::CopyAction;

    // clang-format off
    QTest::newRow("onto row 5")         << true  << one                   << copy                  << -1 << 5  << true  << 5;
    QTest::newRow("between rows")       << true  << one                   << copy                  << 3  << -1 << true  << 3;
    QTest::newRow("parent wins")        << true  << one                   << copy                  << 3  << 9  << true  << 9;
    QTest::newRow("two records")        << true  << two                   << copy                  << -1 << 5  << false << -1;
    QTest::newRow("no records")         << true  << QByteArray()          << copy                  << -1 << 5  << false << -1;
    QTest::newRow("kind 0")             << true  << itemList({{0, path}}) << copy                  << -1 << 5  << false << -1;
    QTest::newRow("kind 2 archive")     << true  << itemList({{2, path}}) << copy                  << -1 << 5  << false << -1;
    QTest::newRow("truncated record")   << true  << truncated             << copy                  << -1 << 5  << false << -1;
    QTest::newRow("list format only")   << false << one                   << copy                  << -1 << 5  << false << -1;
    QTest::newRow("ignore action")      << true  << one                   << int(Qt::IgnoreAction) << -1 << 5  << true  << -1;
    QTest::newRow("below the last row") << true  << one                   << copy                  << -1 << -1 << false << -1;
    // clang-format on
}

void TestSongListModel::drop()
{
    QFETCH(bool, songPathFormat);
    QFETCH(QByteArray, list);
    QFETCH(int, action);
    QFETCH(int, row);
    QFETCH(int, parentRow);
    QFETCH(bool, result);
    QFETCH(int, slot);

    TS::CardFixture fixture;
    QVERIFY(fixture.open());
    SongListModel model(fixture.card);
    model.reload();
    QSignalSpy requests(&model, &SongListModel::songRestoreRequest);

    QMimeData data;
    if (songPathFormat)
        data.setData(kSongPath, QByteArray("/songs/Ballad.mlsd"));
    data.setData(kItemList, list);
    const QModelIndex parent = parentRow < 0 ? QModelIndex() : model.index(parentRow, 0);

    QCOMPARE(model.canDropMimeData(&data, Qt::DropAction(action), row, 0, parent), songPathFormat);
    QCOMPARE(model.dropMimeData(&data, Qt::DropAction(action), row, 0, parent), result);
    if (slot < 0) {
        QCOMPARE(requests.count(), 0);
    } else {
        QCOMPARE(requests.count(), 1);
        QCOMPARE(requests.at(0).at(0).toInt(), slot);
        QCOMPARE(requests.at(0).at(1).toString(), QStringLiteral("/songs/Ballad.mlsd"));
    }
}

void TestSongListModel::dropWithoutCard()
{
    TS::CardFixture fixture;
    SongListModel model(fixture.card);
    QSignalSpy requests(&model, &SongListModel::songRestoreRequest);
    QMimeData data;
    data.setData(kSongPath, QByteArray("/songs/Ballad.mlsd"));
    data.setData(kItemList, itemList({{1, QStringLiteral("/songs/Ballad.mlsd")}}));

    QVERIFY(!model.canDropMimeData(&data, Qt::CopyAction, 2, 0, QModelIndex()));
    QVERIFY(!model.dropMimeData(&data, Qt::CopyAction, 2, 0, QModelIndex()));
    QCOMPARE(requests.count(), 0);
}

QTEST_GUILESS_MAIN(TestSongListModel)
#include "tst_songlistmodel.moc"
