// The card songs list: the row painter's geometry and colours, sampled from rows painted into
// images, the editor placement, and the view's context actions and drag signal.
#include "../models/cardfixture.h"
#include "models/songlistmodel.h"
#include "views/cardsongsview.h"
#include "views/sdcarditemdelegate.h"

#include <QAction>
#include <QDrag>
#include <QLineEdit>
#include <QPainter>
#include <QStandardItemModel>
#include <QtTest>

using namespace ZovaZode;
namespace TS = ZovaZode::TestSupport;

namespace {

constexpr int kRowWidth = 400;
constexpr int kRowHeight = 32;
const QColor kUntouched(255, 0, 255);
const QColor kGrey(150, 150, 150);
const QColor kBlue(86, 180, 233);
const QColor kVermillion(213, 94, 0);
const QColor kYellow(240, 228, 66);
const QColor kBar(90, 90, 90);
const QColor kNumber(30, 30, 30);
const QColor kHighlight(190, 76, 53);

// The left edge of the part-state area, worked out from the row layout: 10 pixels margin, the
// number area ("99" plus 10), 10 pixels gap.
int partStateLeft(const QFont &font)
{
    return 10 + QFontMetrics(font).horizontalAdvance(QStringLiteral("99")) + 10 + 10;
}

QStandardItem *songItem(const QString &name, const QVariantList &states)
{
    auto *item = new QStandardItem;
    item->setData(name, 257);
    item->setData(states, 259);
    return item;
}

QVariantList states(std::initializer_list<int> values)
{
    QVariantList list;
    for (int value : values)
        list << value;
    return list;
}

QImage paintRow(const QModelIndex &index, QStyle::State state = QStyle::State_Enabled)
{
    QImage image(kRowWidth, kRowHeight, QImage::Format_ARGB32);
    image.fill(kUntouched);
    QStyleOptionViewItem option;
    option.rect = QRect(0, 0, kRowWidth, kRowHeight);
    option.font = QFont();
    option.fontMetrics = QFontMetrics(option.font);
    option.state = state;
    QPainter painter(&image);
    SdCardItemDelegate().paint(&painter, option, index);
    painter.end();
    return image;
}

QColor pixel(const QImage &image, int x, int y)
{
    return image.pixelColor(x, y);
}

// The largest red, green and blue values met anywhere in the rectangle.
QColor brightest(const QImage &image, const QRect &area)
{
    int red = 0, green = 0, blue = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            const QColor colour = image.pixelColor(x, y);
            red = qMax(red, colour.red());
            green = qMax(green, colour.green());
            blue = qMax(blue, colour.blue());
        }
    }
    return QColor(red, green, blue);
}

// Ends the drag that the view is about to run: the drag's event loop gives up on Escape.
void cancelDragSoon()
{
    QTimer::singleShot(0, qApp, [] {
        QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QCoreApplication::sendEvent(qApp, &escape);
    });
}

// startDrag is protected; the view's drag code calls it when the pointer has moved far enough.
class DragProbe : public CardSongsView
{
public:
    using CardSongsView::startDrag;
};

} // namespace

class TestCardSongsView : public QObject
{
    Q_OBJECT

private slots:
    void dotColours_data();
    void dotColours();
    void rowColours_data();
    void rowColours();
    void areas();
    void names_data();
    void names();
    void sizeHint();
    void editorGeometry();

    void actions();
    void actionsFollowSelection();
    void editNameAction_data();
    void editNameAction();
    void dragSignalComesFirst();
};

void TestCardSongsView::dotColours_data()
{
    QTest::addColumn<QVariantList>("states");
    QTest::addColumn<QVector<QColor>>("colours");

    QTest::newRow("1 0 3 0 2") << states({1, 0, 3, 0, 2})
                               << QVector<QColor>{kBlue, kGrey, kYellow, kGrey, kVermillion};
    QTest::newRow("all empty") << states({0, 0, 0, 0, 0})
                               << QVector<QColor>{kGrey, kGrey, kGrey, kGrey, kGrey};
    // clang-format off
    QTest::newRow("unknown 7") << states({7, 2}) << QVector<QColor>{kGrey, kVermillion};
    QTest::newRow("no parts")  << QVariantList() << QVector<QColor>{};
    // clang-format on
}

void TestCardSongsView::dotColours()
{
    QFETCH(QVariantList, states);
    QFETCH(QVector<QColor>, colours);

    QStandardItemModel model;
    model.appendRow(songItem(QStringLiteral("Song"), states));
    const QImage image = paintRow(model.index(0, 0));

    const int left = partStateLeft(QFont());
    const int centreY = kRowHeight / 2;
    for (int i = 0; i < 5; ++i) {
        const int centreX = left + 16 * i + 7;
        const QColor expected = i < colours.size() ? colours.at(i) : kBar;
        // A part is a filled dot with its letter in the middle, an empty one a hollow ring.
        const bool ring = expected == kGrey;
        QCOMPARE(pixel(image, centreX, centreY - 5), ring ? kBar : expected);
        if (ring) {
            const QColor edge = pixel(image, centreX, centreY - 7);
            QVERIFY(qAbs(edge.red() - kGrey.red()) < 8 && edge.red() == edge.blue());
        }
        // Between two dots and above a dot the bar shows.
        QCOMPARE(pixel(image, left + 16 * i + 15, centreY), kBar);
        QCOMPARE(pixel(image, centreX, centreY - 9), kBar);
    }
}

void TestCardSongsView::rowColours_data()
{
    QTest::addColumn<int>("state");
    QTest::addColumn<QColor>("colour");

    const int selected = QStyle::State_Enabled | QStyle::State_Selected;
    // clang-format off
    QTest::newRow("plain")             << int(QStyle::State_Enabled)                           << kBar;
    QTest::newRow("hovered")           << int(QStyle::State_Enabled | QStyle::State_MouseOver) << QColor(70, 70, 70);
    QTest::newRow("selected, focus")   << (selected | QStyle::State_HasFocus)                  << kHighlight;
    QTest::newRow("selected, editing") << (selected | QStyle::State_Editing)                   << kHighlight;
    QTest::newRow("selected only")     << selected                                             << QColor(kHighlight.darker(170).rgb());
    // clang-format on
    QTest::newRow("selected, hovered")
        << (selected | QStyle::State_MouseOver) << QColor(kHighlight.darker(170).rgb());
}

void TestCardSongsView::rowColours()
{
    QFETCH(int, state);
    QFETCH(QColor, colour);

    QStandardItemModel model;
    model.appendRow(songItem(QStringLiteral("Song"), states({1})));
    const QImage image = paintRow(model.index(0, 0), QStyle::State(state));

    const int left = partStateLeft(QFont());
    QCOMPARE(pixel(image, left - 9, 6), colour);
    QCOMPARE(pixel(image, kRowWidth - 11, kRowHeight - 5), colour);
    // The number area keeps its own colour whatever the state.
    QCOMPARE(pixel(image, 11, 5), kNumber);
}

void TestCardSongsView::areas()
{
    QStandardItemModel model;
    model.appendRow(songItem(QStringLiteral("Song"), states({1})));
    const QImage image = paintRow(model.index(0, 0));
    const int left = partStateLeft(QFont());
    const int numberRight = left - 10; // first pixel after the number area

    // Left margin, right margin, and the 4 pixels above and below the bar stay unpainted.
    QCOMPARE(pixel(image, 9, 16), kUntouched);
    QCOMPARE(pixel(image, 10, 16), kNumber);
    QCOMPARE(pixel(image, numberRight - 1, 4), kNumber);
    QCOMPARE(pixel(image, numberRight, 4), kBar);
    QCOMPARE(pixel(image, kRowWidth - 11, 16), kBar);
    QCOMPARE(pixel(image, kRowWidth - 10, 16), kUntouched);
    QCOMPARE(pixel(image, 100, 3), kUntouched);
    QCOMPARE(pixel(image, 100, 28), kUntouched);
    QCOMPARE(pixel(image, 100, 27), kBar);

    // The slot number is drawn in white inside the number area.
    QCOMPARE(brightest(image, QRect(10, 4, numberRight - 10, 24)), QColor(Qt::white));
}

void TestCardSongsView::names_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QColor>("brightest");

    // clang-format off
    QTest::newRow("named")     << QStringLiteral("Blue Monday")     << QColor(Qt::white);
    QTest::newRow("unnamed")   << QString()                         << QColor(200, 200, 200);
    QTest::newRow("very long") << QStringLiteral("W").repeated(200) << QColor(Qt::white);
    // clang-format on
}

void TestCardSongsView::names()
{
    QFETCH(QString, name);
    QFETCH(QColor, brightest);

    QStandardItemModel model;
    model.appendRow(songItem(name, states({0})));
    const QImage image = paintRow(model.index(0, 0));
    const int nameLeft = partStateLeft(QFont()) + 80 + 10;
    const int nameRight = kRowWidth - 20;

    QCOMPARE(::brightest(image, QRect(nameLeft, 4, nameRight - nameLeft, 24)), brightest);
    // Nothing of the name reaches into the last 10 pixels of the bar: long names are elided.
    QCOMPARE(::brightest(image, QRect(nameRight, 4, 10, 24)), kBar);
}

void TestCardSongsView::sizeHint()
{
    QStandardItemModel model;
    model.appendRow(songItem(QStringLiteral("Song"), states({1})));
    QStyleOptionViewItem option;
    option.font = QFont();
    option.font.setPointSize(17);
    const QRect text = QFontMetrics(option.font).boundingRect(QStringLiteral("HEHE"));

    const QSize hint = SdCardItemDelegate().sizeHint(option, model.index(0, 0));
    QCOMPARE(hint, QSize(text.width(), text.height() + 16));
}

void TestCardSongsView::editorGeometry()
{
    QStandardItemModel model;
    model.appendRow(songItem(QStringLiteral("Song"), states({1})));
    QStyleOptionViewItem option;
    option.rect = QRect(0, 40, kRowWidth, kRowHeight);
    option.font = QFont();
    option.fontMetrics = QFontMetrics(option.font);
    QLineEdit editor;

    SdCardItemDelegate().updateEditorGeometry(&editor, option, model.index(0, 0));
    const int nameLeft = partStateLeft(QFont()) + 80 + 10;
    QCOMPARE(editor.geometry(), QRect(nameLeft - 5, 44, (kRowWidth - 20) - nameLeft + 10, kRowHeight - 8));
}

void TestCardSongsView::actions()
{
    CardSongsView view;
    QStringList texts;
    for (const QAction *action : view.actions())
        texts << action->text();
    QCOMPARE(texts, (QStringList{"Edit Name...", "Details...", "Copy to Library",
                                 "Overwrite with Selected Library Song", "Clear", "Clear All Songs"}));
    QCOMPARE(view.actions(),
             (QList<QAction *>{view.editNameAction(), view.detailsAction(), view.copyToLibraryAction(),
                               view.overwriteAction(), view.clearAction(), view.clearAllAction()}));
    QCOMPARE(view.contextMenuPolicy(), Qt::ActionsContextMenu);
}

void TestCardSongsView::actionsFollowSelection()
{
    TS::CardFixture fixture;
    QVERIFY(fixture.open());
    SongListModel model(fixture.card);
    model.reload();
    CardSongsView view;
    view.setModel(&model);

    QVERIFY(!view.detailsAction()->isEnabled());
    QVERIFY(!view.copyToLibraryAction()->isEnabled());
    for (QAction *action :
         {view.editNameAction(), view.overwriteAction(), view.clearAction(), view.clearAllAction()})
        QVERIFY(action->isEnabled());

    view.selectionModel()->select(model.index(3, 0), QItemSelectionModel::ClearAndSelect);
    QVERIFY(view.detailsAction()->isEnabled());
    QVERIFY(view.copyToLibraryAction()->isEnabled());

    view.selectionModel()->clearSelection();
    QVERIFY(!view.detailsAction()->isEnabled());
    QVERIFY(!view.copyToLibraryAction()->isEnabled());

    // A second model gets its own selection model, which must drive the actions as well.
    SongListModel other(fixture.card);
    other.reload();
    view.setModel(&other);
    view.selectionModel()->select(other.index(1, 0), QItemSelectionModel::ClearAndSelect);
    QVERIFY(view.detailsAction()->isEnabled());
}

void TestCardSongsView::editNameAction_data()
{
    QTest::addColumn<int>("current");
    QTest::addColumn<bool>("editing");

    // clang-format off
    QTest::newRow("no current index") << -1 << false;
    QTest::newRow("row 2 current")    << 2  << true;
    // clang-format on
}

void TestCardSongsView::editNameAction()
{
    QFETCH(int, current);
    QFETCH(bool, editing);

    TS::CardFixture fixture;
    fixture.writeSong(2, "Two");
    QVERIFY(fixture.open());
    SongListModel model(fixture.card);
    model.reload();
    CardSongsView view;
    view.setItemDelegate(new SdCardItemDelegate(&view));
    view.setModel(&model);
    view.resize(400, 500);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    if (current >= 0)
        view.setCurrentIndex(model.index(current, 0));
    else
        view.setCurrentIndex(QModelIndex());

    view.editNameAction()->trigger();
    auto *editor = view.viewport()->findChild<QLineEdit *>();
    QCOMPARE(editor != nullptr && editor->isVisible(), editing);
    if (editing)
        QCOMPARE(editor->text(), QStringLiteral("Two"));
}

void TestCardSongsView::dragSignalComesFirst()
{
    TS::CardFixture fixture;
    QVERIFY(fixture.open());
    SongListModel model(fixture.card);
    model.reload();
    DragProbe view;
    view.setModel(&model);
    view.setDragEnabled(true);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    view.selectionModel()->select(model.index(4, 0), QItemSelectionModel::ClearAndSelect);

    int emitted = 0;
    bool dragRunning = true;
    connect(&view, &CardSongsView::songDragStarted, this, [&] {
        ++emitted;
        dragRunning = view.findChild<QDrag *>() != nullptr;
        cancelDragSoon();
    });
    view.startDrag(Qt::CopyAction);

    QCOMPARE(emitted, 1);
    QVERIFY(!dragRunning);
}

QTEST_MAIN(TestCardSongsView)
#include "tst_cardsongsview.moc"
