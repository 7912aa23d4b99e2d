// The card details window: the checks and their joined message, what reaches the card,
// Cancel restoring the card's texts, read-only cards, and following the card as it closes.
#include "../domain/recordingnotifier.h"
#include "../models/cardfixture.h"
#include "views/sdcarddetailview.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QtTest>

using namespace ZovaZode;
namespace TS = ZovaZode::TestSupport;

namespace {

const QString kHeading = QStringLiteral("Please correct the following:\n");
const QString kEmpty = QStringLiteral("The card name is empty.");
const QString kNameTooLong = QStringLiteral("The card name is too long.");
const QString kForbidden =
    QStringLiteral("The card name contains characters that are not permitted. Please avoid punctuation.");
const QString kDescriptionTooLong = QStringLiteral("The card description is too long.");

struct Dialog
{
    TS::CardFixture fixture{"Stage Card", "Saturday set"};
    SdCardDetailView view{fixture.card};
    QLabel *path = view.findChild<QLabel *>(QStringLiteral("pathLabel"));
    QLineEdit *name = view.findChild<QLineEdit *>(QStringLiteral("nameEdit"));
    QPlainTextEdit *description = view.findChild<QPlainTextEdit *>(QStringLiteral("descriptionEdit"));
    QDialogButtonBox *buttons = view.findChild<QDialogButtonBox *>();

    QPushButton *save() const { return buttons->button(QDialogButtonBox::Save); }
    QPushButton *cancel() const { return buttons->button(QDialogButtonBox::Cancel); }

    bool show()
    {
        view.show();
        return QTest::qWaitForWindowExposed(&view);
    }
};

} // namespace

class TestSdCardDetailView : public QObject
{
    Q_OBJECT

private slots:
    void fillsFromTheCard();
    void validation_data();
    void validation();
    void cancelRestores();
    void readOnlyCard();
    void closingTheCardEmptiesAndCloses();
};

void TestSdCardDetailView::fillsFromTheCard()
{
    Dialog dialog;
    QCOMPARE(dialog.view.windowTitle(), QStringLiteral("Morv+ Card"));
    QVERIFY(dialog.view.isModal());
    QCOMPARE(dialog.name->text(), QString());

    QVERIFY(dialog.fixture.open(true));
    QCOMPARE(dialog.path->text(), dialog.fixture.image.path());
    QCOMPARE(dialog.name->text(), QStringLiteral("Stage Card"));
    QCOMPARE(dialog.description->toPlainText(), QStringLiteral("Saturday set"));
    QVERIFY(!dialog.name->isReadOnly());
    QVERIFY(!dialog.description->isReadOnly());
    QVERIFY(dialog.save()->isEnabled());
}

void TestSdCardDetailView::validation_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("description");
    QTest::addColumn<QStringList>("problems"); // empty: saved

    const QString name128(128, QLatin1Char('n'));
    const QString description384(384, QLatin1Char('d'));
    QTest::newRow("valid") << "Tour Card"
                           << "New words" << QStringList();
    QTest::newRow("at the limits") << name128 << description384 << QStringList();
    QTest::newRow("empty name") << ""
                                << "New words" << QStringList{kEmpty};
    QTest::newRow("long and punctuated")
        << QString(129, '?') << "New words" << QStringList{kNameTooLong, kForbidden};
    QTest::newRow("forbidden only") << "Card <1>"
                                    << "New words" << QStringList{kForbidden};
    QTest::newRow("description 385") << "Tour Card" << description384 + "d"
                                     << QStringList{kDescriptionTooLong};
    QTest::newRow("empty name, long words")
        << "" << description384 + "d" << QStringList{kEmpty, kDescriptionTooLong};
    QTest::newRow("everything wrong") << QString(129, '|') << description384 + "d"
                                      << QStringList{kNameTooLong, kForbidden, kDescriptionTooLong};
}

void TestSdCardDetailView::validation()
{
    QFETCH(QString, name);
    QFETCH(QString, description);
    QFETCH(QStringList, problems);

    RecordingNotifier notifier;
    Dialog dialog;
    QVERIFY(dialog.fixture.open(true));
    QVERIFY(dialog.show());
    QSignalSpy renamed(dialog.fixture.card.get(), &SdCard::nameChanged);

    dialog.name->setText(name);
    dialog.description->setPlainText(description);
    QTest::mouseClick(dialog.save(), Qt::LeftButton);

    if (problems.isEmpty()) {
        QVERIFY(notifier.texts().isEmpty());
        QVERIFY(!dialog.view.isVisible());
        QCOMPARE(dialog.view.result(), int(QDialog::Accepted));
        QCOMPARE(dialog.fixture.card->name(), name);
        QCOMPARE(dialog.fixture.card->description(), description);
        return;
    }
    QCOMPARE(notifier.texts(),
             QStringList{kHeading + QStringLiteral("\n") + problems.join(QLatin1Char('\n'))});
    const Notifier::Message &box = notifier.messages().first();
    QCOMPARE(box.icon, Notifier::Icon::Information);
    QCOMPARE(box.title, QString());
    QCOMPARE(box.parent, &dialog.view);
    QVERIFY(dialog.view.isVisible());
    QCOMPARE(dialog.name->text(), name);
    QCOMPARE(dialog.description->toPlainText(), description);
    QCOMPARE(dialog.fixture.card->name(), QStringLiteral("Stage Card"));
    QCOMPARE(dialog.fixture.card->description(), QStringLiteral("Saturday set"));
    QCOMPARE(renamed.count(), 0);
}

void TestSdCardDetailView::cancelRestores()
{
    Dialog dialog;
    QVERIFY(dialog.fixture.open(true));
    QVERIFY(dialog.show());
    dialog.fixture.card->setName(QStringLiteral("Renamed Elsewhere"));

    dialog.name->setText(QStringLiteral("Typed"));
    dialog.description->setPlainText(QStringLiteral("Typed words"));
    QTest::mouseClick(dialog.cancel(), Qt::LeftButton);

    QVERIFY(!dialog.view.isVisible());
    QCOMPARE(dialog.name->text(), QStringLiteral("Renamed Elsewhere"));
    QCOMPARE(dialog.description->toPlainText(), QStringLiteral("Saturday set"));
    QCOMPARE(dialog.fixture.card->name(), QStringLiteral("Renamed Elsewhere"));

    // Escape is a cancel too.
    QVERIFY(dialog.show());
    dialog.name->setText(QStringLiteral("Typed again"));
    QTest::keyClick(&dialog.view, Qt::Key_Escape);
    QVERIFY(!dialog.view.isVisible());
    QCOMPARE(dialog.name->text(), QStringLiteral("Renamed Elsewhere"));
}

void TestSdCardDetailView::readOnlyCard()
{
    RecordingNotifier notifier;
    Dialog dialog;
    QVERIFY(dialog.fixture.open(false));
    QVERIFY(dialog.show());

    QVERIFY(dialog.name->isReadOnly());
    QVERIFY(dialog.description->isReadOnly());
    QVERIFY(!dialog.save()->isEnabled());

    // Even if a save got through, nothing may change and nothing is asked.
    dialog.name->setText(QString());
    emit dialog.buttons->accepted();
    QVERIFY(notifier.texts().isEmpty());
    QVERIFY(dialog.view.isVisible());
    QCOMPARE(dialog.fixture.card->name(), QStringLiteral("Stage Card"));
}

void TestSdCardDetailView::closingTheCardEmptiesAndCloses()
{
    Dialog dialog;
    QVERIFY(dialog.fixture.open(true));
    QVERIFY(dialog.show());
    dialog.name->setText(QStringLiteral("Unsaved"));

    dialog.fixture.card->close();
    QVERIFY(!dialog.view.isVisible());
    QCOMPARE(dialog.name->text(), QString());
    QCOMPARE(dialog.description->toPlainText(), QString());
    QCOMPARE(dialog.path->text(), QString());

    // Reopening fills it again, with what the card holds.
    QVERIFY(dialog.fixture.open(true));
    QCOMPARE(dialog.name->text(), QStringLiteral("Stage Card"));
}

QTEST_MAIN(TestSdCardDetailView)
#include "tst_sdcarddetailview.moc"
