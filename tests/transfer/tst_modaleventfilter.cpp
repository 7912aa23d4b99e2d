// The modal event filter: which events it swallows on the way to other windows, that the
// allowed window gets everything, and that it acts only while installed.
#include "views/modaleventfilter.h"

#include <QDialog>
#include <QTimer>
#include <QWindow>
#include <QtTest>

using namespace ZovaZode;

class TestModalEventFilter : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void events_data();
    void events();
    void onlyWhileInstalled();

private:
    QWidget m_other;
    QDialog m_allowed;
    QWidget *m_allowedChild = nullptr;
};

void TestModalEventFilter::initTestCase()
{
    m_other.show();
    m_allowedChild = new QWidget(&m_allowed);
    m_allowed.show();
    QVERIFY(QTest::qWaitForWindowExposed(&m_other));
    QVERIFY(QTest::qWaitForWindowExposed(&m_allowed));
}

void TestModalEventFilter::events_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<bool>("swallowed");

    // clang-format off
    QTest::newRow("mouse button press")   << 2    << true;
    QTest::newRow("mouse button release") << 3    << false;
    QTest::newRow("mouse double click")   << 4    << true;
    QTest::newRow("mouse move")           << 5    << true;
    QTest::newRow("key press")            << 6    << true;
    QTest::newRow("key release")          << 7    << true;
    QTest::newRow("focus in")             << 8    << false;
    QTest::newRow("paint")                << 12   << false;
    QTest::newRow("close")                << 19   << false;
    QTest::newRow("wheel")                << 31   << false;
    QTest::newRow("drag enter")           << 60   << true;
    QTest::newRow("drag move")            << 61   << true;
    QTest::newRow("drag leave")           << 62   << true;
    QTest::newRow("drop")                 << 63   << true;
    QTest::newRow("shortcut")             << 117  << true;
    QTest::newRow("hover enter")          << 127  << true;
    QTest::newRow("hover leave")          << 128  << true;
    QTest::newRow("hover move")           << 129  << true;
    QTest::newRow("user")                 << 1000 << false;
    // clang-format on
}

void TestModalEventFilter::events()
{
    QFETCH(int, type);
    QFETCH(bool, swallowed);

    ModalEventFilter filter(m_allowedChild);
    QEvent event{QEvent::Type(type)};

    QCOMPARE(filter.eventFilter(&m_other, &event), swallowed);
    QCOMPARE(filter.eventFilter(m_other.windowHandle(), &event), swallowed);
    // Objects without a window of their own (a shortcut's owner, a timer) are not the allowed
    // window either.
    QTimer timer;
    QCOMPARE(filter.eventFilter(&timer, &event), swallowed);

    QVERIFY(!filter.eventFilter(&m_allowed, &event));
    QVERIFY(!filter.eventFilter(m_allowedChild, &event));
    QVERIFY(!filter.eventFilter(m_allowed.windowHandle(), &event));
}

void TestModalEventFilter::onlyWhileInstalled()
{
    ModalEventFilter filter(&m_allowed);
    QVERIFY(!filter.isInstalled());
    QTest::keyClick(&m_other, Qt::Key_A);

    int keys = 0;
    struct Counter : QObject
    {
        int *keys;
        explicit Counter(int *k) : keys(k) {}
        bool eventFilter(QObject *, QEvent *event) override
        {
            *keys += event->type() == QEvent::KeyPress ? 1 : 0;
            return false;
        }
    } counter(&keys);
    m_other.installEventFilter(&counter);

    QTest::keyClick(&m_other, Qt::Key_A);
    QCOMPARE(keys, 1);
    filter.install();
    filter.install();
    QVERIFY(filter.isInstalled());
    QTest::keyClick(&m_other, Qt::Key_A);
    QCOMPARE(keys, 1);
    filter.remove();
    QVERIFY(!filter.isInstalled());
    QTest::keyClick(&m_other, Qt::Key_A);
    QCOMPARE(keys, 2);
    m_other.removeEventFilter(&counter);
}

QTEST_MAIN(TestModalEventFilter)
#include "tst_modaleventfilter.moc"
