// The card header: how it follows the card's state, renaming the card in place, telling a
// click from a double click on the name, dragging the card out and dropping archives in.
#include "../domain/recordingnotifier.h"
#include "../models/cardfixture.h"
#include "views/cardbox.h"
#include "views/cardname.h"
#include "views/sdcarddetailview.h"
#include "views/sdcardheaderview.h"

#include <QAction>
#include <QDrag>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QToolButton>
#include <QtTest>

using namespace ZovaZode;
namespace TS = ZovaZode::TestSupport;

namespace {

const QString kTooLong = QStringLiteral("The name is too long.\n\nPlease choose a different name.");
const QString kForbidden =
    QStringLiteral("The name contains characters that are not permitted.\n\nPlease avoid punctuation.");
const QString kArchivePath = QStringLiteral("application/selkanor.morvmanager.archive_path");
const QString kSongPath = QStringLiteral("application/selkanor.morvmanager.song_path");
const QString kItemList = QStringLiteral("application/selkanor.morvmanager.library_item_list");

enum class CardState { None, ReadOnly, Writable };

QByteArray pathRecord(qint32 type, const QString &path)
{
    QByteArray bytes;
    QDataStream stream(&bytes, QIODevice::WriteOnly);
    stream << type << path;
    return bytes;
}

// Ends a drag the card box is about to run: the drag's event loop gives up on Escape.
void cancelDragSoon()
{
    QTimer::singleShot(0, qApp, [] {
        QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QCoreApplication::sendEvent(qApp, &escape);
    });
}

void sendMouse(QWidget *widget, QEvent::Type type, const QPoint &pos, Qt::MouseButton button,
               Qt::MouseButtons buttons)
{
    QMouseEvent event(type, pos, widget->mapToGlobal(pos), button, buttons, Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &event);
}

struct Header
{
    TS::CardFixture fixture;
    SdCardHeaderView view{fixture.card};
    CardBox *box = view.findChild<CardBox *>(QStringLiteral("cardBox"));
    CardName *name = view.findChild<CardName *>(QStringLiteral("nameLabel"));
    QLineEdit *editor = view.findChild<QLineEdit *>(QStringLiteral("nameEditor"));
    QLabel *path = view.findChild<QLabel *>(QStringLiteral("pathLabel"));
    QToolButton *button = view.findChild<QToolButton *>(QStringLiteral("openCloseButton"));

    explicit Header(const QByteArray &cardName = "Stage Card") : fixture(cardName) {}

    bool open(CardState state)
    {
        if (state == CardState::None)
            return true;
        return fixture.open(state == CardState::Writable);
    }

    bool show()
    {
        view.resize(400, 150);
        view.show();
        QApplication::setActiveWindow(&view);
        return QTest::qWaitForWindowActive(&view);
    }
};

} // namespace

Q_DECLARE_METATYPE(CardState)

class TestSdCardHeaderView : public QObject
{
    Q_OBJECT

private slots:
    void states_data();
    void states();
    void nameLabel_data();
    void nameLabel();
    void openCloseButton();

    void editing_data();
    void editing();
    void editingRefusedOnReadOnlyCard();
    void closingTheCardEndsEditing();
    void singleClickEdits();
    void doubleClickShowsDetails();

    void pressAndDragDistance_data();
    void pressAndDragDistance();
    void drops_data();
    void drops();
    void hoverPainting_data();
    void hoverPainting();
};

void TestSdCardHeaderView::states_data()
{
    QTest::addColumn<CardState>("state");
    QTest::addColumn<bool>("boxShown");
    QTest::addColumn<QString>("buttonText");
    QTest::addColumn<bool>("pathShown");
    QTest::addColumn<bool>("editNameEnabled");
    QTest::addColumn<bool>("detailsEnabled");

    // clang-format off
    QTest::newRow("no card")   << CardState::None     << false << "Open Card"  << false << false << false;
    QTest::newRow("read-only") << CardState::ReadOnly << true  << "Close Card" << true  << false << true;
    QTest::newRow("writable")  << CardState::Writable << true  << "Close Card" << true  << true  << true;
    // clang-format on
}

void TestSdCardHeaderView::states()
{
    QFETCH(CardState, state);
    QFETCH(bool, boxShown);
    QFETCH(QString, buttonText);
    QFETCH(bool, pathShown);
    QFETCH(bool, editNameEnabled);
    QFETCH(bool, detailsEnabled);

    Header header;
    QVERIFY(header.open(state));

    QCOMPARE(!header.box->isHidden(), boxShown);
    QCOMPARE(header.button->text(), buttonText);
    QCOMPARE(header.path->text(), pathShown ? header.fixture.image.path() : QStringLiteral("No card open."));
    QCOMPARE(header.view.editNameAction()->isEnabled(), editNameEnabled);
    QCOMPARE(header.view.detailsAction()->isEnabled(), detailsEnabled);
    QCOMPARE(header.view.archiveAction()->isEnabled(), detailsEnabled);
    QCOMPARE(header.view.contextMenuPolicy(), Qt::ActionsContextMenu);
    QCOMPARE(header.view.actions(),
             (QList<QAction *>{header.view.editNameAction(), header.view.detailsAction(),
                               header.view.archiveAction()}));

    // Closing brings every state back to "no card".
    header.fixture.card->close();
    QVERIFY(header.box->isHidden());
    QCOMPARE(header.button->text(), QStringLiteral("Open Card"));
    QCOMPARE(header.path->text(), QStringLiteral("No card open."));
    QVERIFY(!header.view.editNameAction()->isEnabled());
    QVERIFY(!header.view.detailsAction()->isEnabled());
    QVERIFY(!header.view.archiveAction()->isEnabled());
}

void TestSdCardHeaderView::nameLabel_data()
{
    QTest::addColumn<QByteArray>("cardName");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("enabled");

    // clang-format off
    QTest::newRow("named")   << QByteArray("Stage Card") << "Stage Card"     << true;
    QTest::newRow("unnamed") << QByteArray()             << "(Unnamed Card)" << false;
    // clang-format on
}

void TestSdCardHeaderView::nameLabel()
{
    QFETCH(QByteArray, cardName);
    QFETCH(QString, text);
    QFETCH(bool, enabled);

    Header header(cardName);
    QCOMPARE(header.name->text(), QString());
    QVERIFY(header.open(CardState::Writable));
    QCOMPARE(header.name->text(), text);
    QCOMPARE(header.name->isEnabled(), enabled);
    QCOMPARE(header.name->palette().color(QPalette::Active, QPalette::WindowText), QColor(Qt::white));
    QCOMPARE(header.name->palette().color(QPalette::Disabled, QPalette::WindowText), QColor(Qt::white));

    header.fixture.card->setName(QStringLiteral("Renamed"));
    QCOMPARE(header.name->text(), QStringLiteral("Renamed"));
    QVERIFY(header.name->isEnabled());

    header.fixture.card->close();
    QCOMPARE(header.name->text(), QString());
}

void TestSdCardHeaderView::openCloseButton()
{
    Header header;
    QSignalSpy openRequests(&header.view, &SdCardHeaderView::openCardRequest);
    QTest::mouseClick(header.button, Qt::LeftButton);
    QCOMPARE(openRequests.count(), 1);

    QVERIFY(header.open(CardState::Writable));
    QTest::mouseClick(header.button, Qt::LeftButton);
    QVERIFY(!header.fixture.card->isOpen());
    QCOMPARE(openRequests.count(), 1);
    QCOMPARE(header.button->text(), QStringLiteral("Open Card"));
}

void TestSdCardHeaderView::editing_data()
{
    QTest::addColumn<bool>("type");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("key");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QStringList>("boxes");

    const QString old = QStringLiteral("Stage Card");
    QTest::newRow("enter, nothing typed")
        << false << QString() << int(Qt::Key_Return) << old << QStringList();
    QTest::newRow("new name") << true << QStringLiteral("Tour 2024") << int(Qt::Key_Return) << "Tour 2024"
                              << QStringList();
    QTest::newRow("128 bytes") << true << QString(128, QLatin1Char('n')) << int(Qt::Key_Enter)
                               << QString(128, QLatin1Char('n')) << QStringList();
    QTest::newRow("129 bytes") << true << QString(129, QLatin1Char('n')) << int(Qt::Key_Return) << old
                               << QStringList{kTooLong};
    QTest::newRow("colon") << true << QStringLiteral("Set: One") << int(Qt::Key_Return) << old
                           << QStringList{kForbidden};
    QTest::newRow("emptied") << true << QString() << int(Qt::Key_Return) << old << QStringList();
    QTest::newRow("escape") << true << QStringLiteral("Discarded") << int(Qt::Key_Escape) << old
                            << QStringList();
}

void TestSdCardHeaderView::editing()
{
    QFETCH(bool, type);
    QFETCH(QString, typed);
    QFETCH(int, key);
    QFETCH(QString, name);
    QFETCH(QStringList, boxes);

    RecordingNotifier notifier;
    Header header;
    QVERIFY(header.open(CardState::Writable));
    QVERIFY(header.show());
    QSignalSpy renamed(header.fixture.card.get(), &SdCard::nameChanged);

    header.view.editName();
    QVERIFY(header.editor->isVisible());
    QVERIFY(header.name->isHidden());
    QCOMPARE(header.editor->text(), QStringLiteral("Stage Card"));
    QCOMPARE(header.editor->placeholderText(), QStringLiteral("Enter card name"));
    QTRY_VERIFY(header.editor->hasFocus());

    if (type) {
        header.editor->selectAll();
        if (typed.isEmpty())
            QTest::keyClick(header.editor, Qt::Key_Backspace);
        else
            QTest::keyClicks(header.editor, typed);
    }
    QTest::keyClick(header.editor, Qt::Key(key));
    // Whatever the key, losing the focus afterwards must not apply anything more.
    header.button->setFocus();

    QVERIFY(header.editor->isHidden());
    QVERIFY(!header.name->isHidden());
    QCOMPARE(header.fixture.card->name(), name);
    QCOMPARE(renamed.count(), name == QStringLiteral("Stage Card") ? 0 : 1);
    QCOMPARE(notifier.texts(), boxes);
    for (const Notifier::Message &message : notifier.messages()) {
        QCOMPARE(message.icon, Notifier::Icon::Information);
        QCOMPARE(message.title, QString());
    }
}

void TestSdCardHeaderView::editingRefusedOnReadOnlyCard()
{
    Header header;
    QVERIFY(header.open(CardState::ReadOnly));
    QVERIFY(header.show());
    header.view.editName();
    QVERIFY(header.editor->isHidden());
    QVERIFY(!header.name->isHidden());
}

void TestSdCardHeaderView::closingTheCardEndsEditing()
{
    RecordingNotifier notifier;
    Header header;
    QVERIFY(header.open(CardState::Writable));
    QVERIFY(header.show());
    header.view.editName();
    header.editor->selectAll();
    QTest::keyClicks(header.editor, QStringLiteral("Half typed"));

    header.fixture.card->close();
    QVERIFY(header.editor->isHidden());
    QVERIFY(header.fixture.open(true));
    QCOMPARE(header.fixture.card->name(), QStringLiteral("Stage Card"));
    QVERIFY(notifier.texts().isEmpty());
}

void TestSdCardHeaderView::singleClickEdits()
{
    Header header;
    QVERIFY(header.open(CardState::Writable));
    QVERIFY(header.show());
    auto *timer = header.name->findChild<QTimer *>();
    QVERIFY(timer);
    QVERIFY(timer->isSingleShot());
    QCOMPARE(timer->interval(), QApplication::doubleClickInterval() + 50);

    QTest::mouseClick(header.name, Qt::LeftButton);
    QVERIFY(timer->isActive());
    QVERIFY(header.editor->isHidden());
    QTRY_VERIFY(header.editor->isVisible());
}

void TestSdCardHeaderView::doubleClickShowsDetails()
{
    Header header;
    QVERIFY(header.open(CardState::Writable));
    QVERIFY(header.show());
    auto *timer = header.name->findChild<QTimer *>();
    auto *details = header.view.findChild<SdCardDetailView *>();
    QVERIFY(details);

    const QPoint centre = header.name->rect().center();
    sendMouse(header.name, QEvent::MouseButtonPress, centre, Qt::LeftButton, Qt::LeftButton);
    sendMouse(header.name, QEvent::MouseButtonRelease, centre, Qt::LeftButton, Qt::NoButton);
    sendMouse(header.name, QEvent::MouseButtonDblClick, centre, Qt::LeftButton, Qt::LeftButton);
    sendMouse(header.name, QEvent::MouseButtonRelease, centre, Qt::LeftButton, Qt::NoButton);

    QVERIFY(details->isVisible());
    QVERIFY(!timer->isActive());
    QVERIFY(header.editor->isHidden());
    details->reject();
}

void TestSdCardHeaderView::pressAndDragDistance_data()
{
    QTest::addColumn<int>("dx");
    QTest::addColumn<int>("dy");
    QTest::addColumn<bool>("opened");
    QTest::addColumn<bool>("dragged");

    const int d = QApplication::startDragDistance();
    // clang-format off
    QTest::newRow("one short, diagonal") << d - 1 - (d - 1) / 2 << (d - 1) / 2 << true  << false;
    QTest::newRow("one short, across")   << d - 1               << 0           << true  << false;
    QTest::newRow("just far enough")     << d - d / 2           << d / 2       << true  << true;
    QTest::newRow("far, no card")        << d + 20              << 0           << false << false;
    // clang-format on
}

void TestSdCardHeaderView::pressAndDragDistance()
{
    QFETCH(int, dx);
    QFETCH(int, dy);
    QFETCH(bool, opened);
    QFETCH(bool, dragged);

    Header header;
    QVERIFY(header.open(opened ? CardState::ReadOnly : CardState::None));
    QVERIFY(header.show());
    header.box->show();
    QSignalSpy pressed(&header.view, &SdCardHeaderView::pressed);
    QSignalSpy drags(&header.view, &SdCardHeaderView::cardDragStarted);
    QByteArray payload("not empty");
    QStringList formats;
    connect(&header.view, &SdCardHeaderView::cardDragStarted, this, [&] {
        if (auto *drag = header.box->findChild<QDrag *>()) {
            formats = drag->mimeData()->formats();
            payload = drag->mimeData()->data(QStringLiteral("application/selkanor.morvmanager.card"));
        }
        cancelDragSoon();
    });

    const QPoint start(5, 5);
    sendMouse(header.box, QEvent::MouseButtonPress, start, Qt::LeftButton, Qt::LeftButton);
    QCOMPARE(pressed.count(), 1);
    sendMouse(header.box, QEvent::MouseMove, start + QPoint(dx, dy), Qt::NoButton, Qt::LeftButton);
    QCOMPARE(drags.count(), dragged ? 1 : 0);
    if (dragged) {
        QCOMPARE(formats, QStringList{QStringLiteral("application/selkanor.morvmanager.card")});
        QCOMPARE(payload, QByteArray());
    }

    // Without the left button held, moving never drags.
    sendMouse(header.box, QEvent::MouseMove, start + QPoint(dx + 30, dy), Qt::NoButton, Qt::NoButton);
    QCOMPARE(drags.count(), dragged ? 1 : 0);
}

void TestSdCardHeaderView::drops_data()
{
    QTest::addColumn<bool>("opened");
    QTest::addColumn<QStringList>("formats");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<bool>("enterAccepted");
    QTest::addColumn<bool>("restore");

    const QByteArray archive = pathRecord(2, QStringLiteral("/cards/Gig.mlad"));
    const QByteArray song = pathRecord(1, QStringLiteral("/cards/Gig.mlad"));
    const QStringList archiveFormat{kArchivePath};
    QTest::newRow("card archive") << true << archiveFormat << archive << true << true;
    QTest::newRow("archive and list")
        << true << QStringList{kArchivePath, kItemList} << archive << true << true;
    // clang-format off
    QTest::newRow("type 1 in archive") << true << archiveFormat                     << song             << true  << false;
    QTest::newRow("truncated")         << true << archiveFormat                     << archive.left(10) << true  << false;
    QTest::newRow("song path")         << true << QStringList{kSongPath, kItemList} << song             << false << false;
    // clang-format on
    QTest::newRow("two library items")
        << true << QStringList{kItemList} << archive + archive << false << false;
    QTest::newRow("no card") << false << archiveFormat << archive << false << false;
}

void TestSdCardHeaderView::drops()
{
    QFETCH(bool, opened);
    QFETCH(QStringList, formats);
    QFETCH(QByteArray, payload);
    QFETCH(bool, enterAccepted);
    QFETCH(bool, restore);

    Header header;
    QVERIFY(header.open(opened ? CardState::Writable : CardState::None));
    QSignalSpy requests(&header.view, &SdCardHeaderView::cardRestoreRequest);
    QMimeData data;
    for (const QString &format : formats)
        data.setData(format, payload);

    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(header.box, &enter);
    QCOMPARE(enter.isAccepted(), enterAccepted);

    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(header.box, &drop);
    QCOMPARE(drop.isAccepted(), restore);
    QCOMPARE(requests.count(), restore ? 1 : 0);
    if (restore)
        QCOMPARE(requests.at(0).at(0).toString(), QStringLiteral("/cards/Gig.mlad"));
}

void TestSdCardHeaderView::hoverPainting_data()
{
    QTest::addColumn<bool>("opened");
    QTest::addColumn<bool>("hovered");
    QTest::addColumn<QColor>("colour");

    const QColor base(190, 76, 53);
    // clang-format off
    QTest::newRow("open, hovered")   << true  << true  << QColor(base.lighter(115).rgb());
    QTest::newRow("open, away")      << true  << false << base;
    QTest::newRow("closed, hovered") << false << true  << base;
    // clang-format on
}

void TestSdCardHeaderView::hoverPainting()
{
    QFETCH(bool, opened);
    QFETCH(bool, hovered);
    QFETCH(QColor, colour);

    Header header;
    QVERIFY(header.open(opened ? CardState::Writable : CardState::None));
    header.box->resize(300, 80);
    QEvent enter(QEvent::Enter);
    QCoreApplication::sendEvent(header.box, &enter);
    if (!hovered) {
        QEvent leave(QEvent::Leave);
        QCoreApplication::sendEvent(header.box, &leave);
    }
    const QImage image = header.box->grab().toImage();
    QCOMPARE(image.pixelColor(2, 2), colour);
    QCOMPARE(image.pixelColor(image.width() - 3, image.height() - 3), colour);
}

QTEST_MAIN(TestSdCardHeaderView)
#include "tst_sdcardheaderview.moc"
