// The transfer indicator: a press on it or on what it holds is one pressed() signal; other
// mouse events are not.
#include "views/transferindicator.h"

#include <QLabel>
#include <QVBoxLayout>
#include <QtTest>

using namespace ZovaZode;

class TestTransferIndicator : public QObject
{
    Q_OBJECT

private slots:
    void presses_data();
    void presses();
};

void TestTransferIndicator::presses_data()
{
    QTest::addColumn<bool>("onCaption");
    QTest::addColumn<QString>("gesture");
    QTest::addColumn<int>("emitted");

    // clang-format off
    QTest::newRow("press")              << false << "press"   << 1;
    QTest::newRow("right press")        << false << "right"   << 1;
    QTest::newRow("release")            << false << "release" << 0;
    QTest::newRow("move")               << false << "move"    << 0;
    QTest::newRow("press on caption")   << true  << "press"   << 1;
    QTest::newRow("release on caption") << true  << "release" << 0;
    // clang-format on
}

void TestTransferIndicator::presses()
{
    QFETCH(bool, onCaption);
    QFETCH(QString, gesture);
    QFETCH(int, emitted);

    TransferIndicator indicator;
    auto *layout = new QVBoxLayout(&indicator);
    auto *caption = new QLabel(QStringLiteral("Drag to Copy"), &indicator);
    layout->addWidget(caption);
    indicator.resize(120, 80);
    indicator.show();
    QVERIFY(QTest::qWaitForWindowExposed(&indicator));

    QSignalSpy pressed(&indicator, &TransferIndicator::pressed);
    QWidget *target = onCaption ? static_cast<QWidget *>(caption) : &indicator;
    const QPoint point = target->rect().center();
    if (gesture == "press")
        QTest::mousePress(target, Qt::LeftButton, Qt::NoModifier, point);
    else if (gesture == "right")
        QTest::mousePress(target, Qt::RightButton, Qt::NoModifier, point);
    else if (gesture == "release")
        QTest::mouseRelease(target, Qt::LeftButton, Qt::NoModifier, point);
    else
        QTest::mouseMove(target, point);
    QCOMPARE(pressed.count(), emitted);
}

QTEST_MAIN(TestTransferIndicator)
#include "tst_transferindicator.moc"
