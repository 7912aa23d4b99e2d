// The card song list model on a card image: what a row shows, renaming with the name rules and
// what reaches the card file, the drag bytes, and which drops become restore requests.
#include "models/songlistmodel.h"
#include "support/filesnapshot.h"
#include "support/libraryfixture.h"

using namespace ZovaZode;
using namespace ZovaZode::TestSupport;

namespace {

const QString kSongPath = QStringLiteral("application/selkanor.morvmanager.song_path");
const QString kItemList = QStringLiteral("application/selkanor.morvmanager.library_item_list");

QByteArray itemList(const QVector<QPair<qint32, QString>> &records)
{
    QByteArray bytes;
    QDataStream stream(&bytes, QIODevice::WriteOnly);
    for (const auto &record : records)
        stream << record.first << record.second;
    return bytes;
}

} // namespace

class TestSongListModel : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void row();
    void rename_data();
    void rename();
    void dragBytes();
    void drop_data();
    void drop();

private:
    QTemporaryDir m_dir;
    CardImage m_image{m_dir.path()};
    std::shared_ptr<SdCard> m_card;
    std::unique_ptr<SongListModel> m_model;
};

void TestSongListModel::init()
{
    m_image.create();
    SongFields song;
    song.name = "Gig Opener";
    song.description = "Loud start";
    m_image.writeSongData(3, songData(song));
    // Part states normal, empty, looper, empty, intense; the fourth part is not in use but has a
    // count, so it is active although its state is empty.
    for (int part = 0; part < 5; ++part) {
        const int state = QVector<int>{1, 0, 3, 0, 2}.at(part);
        PartFields fields;
        fields.inUse = state != 0;
        fields.count = state != 0 ? 3 : part == 3 ? 2 : 0;
        fields.intense = state == 2;
        fields.looperFlag = state == 3;
        m_image.writePartData(3, part, partData(fields));
    }
    m_card = std::make_shared<SdCard>();
    m_model = std::make_unique<SongListModel>(m_card);
    QCOMPARE(m_model->rowCount(), 0);
    QVERIFY(m_card->open(m_image.path(), 1));
    QCOMPARE(m_model->rowCount(), 12);
}

void TestSongListModel::row()
{
    const auto cell = [this](int column, int role) { return m_model->data(m_model->index(3, column), role); };
    QCOMPARE(cell(0, Qt::DisplayRole), QVariant("Gig Opener"));
    QCOMPARE(cell(1, Qt::EditRole), QVariant("Loud start"));
    QCOMPARE(cell(2, Qt::DisplayRole), QVariant(QVariantList({1, 0, 3, 0, 2})));
    QCOMPARE(cell(3, Qt::DisplayRole), QVariant(4)); // active parts
    QCOMPARE(cell(4, Qt::DisplayRole), QVariant(5)); // sequence parts
    QCOMPARE(QStringList({m_model->headerData(0, Qt::Horizontal).toString(),
                          m_model->headerData(4, Qt::Horizontal).toString()}),
             QStringList({"Number", "Active Parts"}));
    QVERIFY(m_model->flags(m_model->index(3, 0)).testFlag(Qt::ItemIsEditable));
    QVERIFY(!m_model->flags(m_model->index(3, 1)).testFlag(Qt::ItemIsEditable));
    QVERIFY(!m_model->isEmptySong(3) && m_model->isEmptySong(4));
    m_card->close();
    QCOMPARE(m_model->rowCount(), 0);
}

void TestSongListModel::rename_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("box"); // the refusal reported; the name is kept when there is none
    // The rules themselves are the domain's; here only that the model keeps to them.
    // clang-format off
    //                                     name                              box
    QTest::newRow("accepted")           << "Live - Take 2, A & B."        << "";
    QTest::newRow("129 bytes")          << QString(129, 'a')              << "The name is too long.\n\nPlease choose a different name.";
    QTest::newRow("empty")              << ""                             << "-";
    // clang-format on
}

// Only the song's own record changes, and only when the name is accepted. The slot was never
// written: the snapshot must see a change made in a hole of the card file.
void TestSongListModel::rename()
{
    QFETCH(QString, name);
    QFETCH(QString, box);

    QSignalSpy refusals(m_model.get(), &SongListModel::nameRefused);
    const FileSnapshot before(m_image.path());
    const bool accepted = box.isEmpty();
    QCOMPARE(m_model->setData(m_model->index(7, 0), name, Qt::EditRole), accepted);
    QCOMPARE(refusals.count() ? refusals.first().first().toString() : QString(),
             box == "-" ? QString() : box);
    QCOMPARE(text(m_image.read(CardImage::songDataRange(7)), 4, 128), (accepted ? name : QString()).toUtf8());
    QCOMPARE(describe(before.changesOutside({CardImage::songDataRange(7)})), describe({}));
    QCOMPARE(before.changes().isEmpty(), !accepted);
}

void TestSongListModel::dragBytes()
{
    const QModelIndexList indexes{m_model->index(11, 0), m_model->index(11, 1), m_model->index(0, 0),
                                  m_model->index(4, 2), m_model->index(12, 0)};
    const std::unique_ptr<QMimeData> data(m_model->mimeData(indexes));
    QCOMPARE(data->formats(), QStringList{"application/selkanor.morvmanager.card_song_list"});
    QCOMPARE(data->data(data->formats().value(0)), QByteArray("\0\0\0\x0b\0\0\0\0", 8));
}

void TestSongListModel::drop_data()
{
    QTest::addColumn<QByteArray>("list");
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("parentRow");
    QTest::addColumn<int>("slot"); // of the request, -1 for none
    const QString path = "/songs/Ballad.mlsd";
    const QByteArray one = itemList({{1, path}});
    // clang-format off
    //                                    list                                        row   parentRow  slot
    QTest::newRow("onto row 5")        << one                                     << -1 << 5     << 5;
    QTest::newRow("between rows")      << one                                     << 3  << -1    << 3;
    QTest::newRow("parent wins")       << one                                     << 3  << 9     << 9;
    QTest::newRow("two records")       << itemList({{1, path}, {1, "/o.mlsd"}})  << -1 << 5     << -1;
    QTest::newRow("an archive")        << itemList({{2, path}})                   << -1 << 5     << -1;
    QTest::newRow("truncated record")  << one.left(one.size() - 3)                << -1 << 5     << -1;
    QTest::newRow("below the last row")<< one                                     << -1 << -1    << -1;
    // clang-format on
}

void TestSongListModel::drop()
{
    QFETCH(QByteArray, list);
    QFETCH(int, row);
    QFETCH(int, parentRow);
    QFETCH(int, slot);

    QSignalSpy requests(m_model.get(), &SongListModel::songRestoreRequest);
    QMimeData data;
    data.setData(kSongPath, "/songs/Ballad.mlsd");
    data.setData(kItemList, list);
    const QModelIndex parent = parentRow < 0 ? QModelIndex() : m_model->index(parentRow, 0);
    QVERIFY(m_model->canDropMimeData(&data, Qt::CopyAction, row, 0, parent));
    QCOMPARE(m_model->dropMimeData(&data, Qt::CopyAction, row, 0, parent), slot >= 0);
    QCOMPARE(requests.count(), slot < 0 ? 0 : 1);
    if (slot >= 0)
        QCOMPARE(requests.at(0), QVariantList({slot, "/songs/Ballad.mlsd"}));
}

MORV_TEST_MAIN(TestSongListModel)
#include "tst_songlistmodel.moc"
