// The settings dialog: it shows the stored safety copy settings, OK stores what was changed,
// Cancel stores nothing, and the limit box follows the check box.
#include "domain/configurationmanager.h"
#include "views/settingsdialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>
#include <QStandardPaths>
#include <QtTest>

#include <memory>

using namespace ZovaZode;

class TestSettingsDialog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init() { QSettings().clear(); }
    void shows_data();
    void shows();
    void stores_data();
    void stores();

private:
    std::unique_ptr<ConfigurationManager> m_configuration;
};

void TestSettingsDialog::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QCoreApplication::setOrganizationName(QStringLiteral("Selkanor"));
    QCoreApplication::setApplicationName(QStringLiteral("tst_settingsdialog"));
    QSettings().clear();
    m_configuration = std::make_unique<ConfigurationManager>();
}

void TestSettingsDialog::shows_data()
{
    QTest::addColumn<bool>("store"); // false: nothing stored yet
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<int>("limit");
    QTest::addColumn<bool>("shownEnabled");
    QTest::addColumn<int>("shownLimit");
    // clang-format off
    QTest::newRow("defaults")  << false << false << 0   << true  << 20;
    QTest::newRow("stored")    << true  << true  << 7   << true  << 7;
    QTest::newRow("off")       << true  << false << 300 << false << 300;
    QTest::newRow("limit 1")   << true  << true  << 1   << true  << 1;
    // clang-format on
}

void TestSettingsDialog::shows()
{
    QFETCH(bool, store);
    QFETCH(bool, enabled);
    QFETCH(int, limit);
    QFETCH(bool, shownEnabled);
    QFETCH(int, shownLimit);
    if (store) {
        m_configuration->setSafetyCopiesEnabled(enabled);
        m_configuration->setSafetyCopyLimit(limit);
    }
    SettingsDialog dialog;
    QCOMPARE(dialog.safetyCopiesBox()->text(), QStringLiteral("Make a safety copy before changing the card"));
    QCOMPARE(dialog.safetyCopiesBox()->isChecked(), shownEnabled);
    QCOMPARE(dialog.limitBox()->value(), shownLimit);
    QCOMPARE(dialog.limitBox()->isEnabled(), shownEnabled);
    QCOMPARE(dialog.limitBox()->minimum(), 1);
    QCOMPARE(dialog.limitBox()->maximum(), 1000);
}

void TestSettingsDialog::stores_data()
{
    QTest::addColumn<bool>("check");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<int>("limit");
    // clang-format off
    QTest::newRow("turned off")          << false << "20"   << true  << false << 20;
    QTest::newRow("new limit")           << true  << "5"    << true  << true  << 5;
    QTest::newRow("limit above range")   << true  << "5000" << true  << true  << 500; // 500 typed, then 0 refused
    QTest::newRow("cancel keeps stored") << false << "3"    << false << true  << 20;
    // clang-format on
}

void TestSettingsDialog::stores()
{
    QFETCH(bool, check);
    QFETCH(QString, typed);
    QFETCH(bool, ok);
    QFETCH(bool, enabled);
    QFETCH(int, limit);

    SettingsDialog dialog;
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    if (dialog.safetyCopiesBox()->isChecked() != check)
        QTest::mouseClick(dialog.safetyCopiesBox(), Qt::LeftButton, Qt::NoModifier, QPoint(4, 4));
    QCOMPARE(dialog.limitBox()->isEnabled(), check);
    if (check) {
        dialog.limitBox()->selectAll();
        QTest::keyClicks(dialog.limitBox(), typed);
    }
    QTest::mouseClick(dialog.buttonBox()->button(ok ? QDialogButtonBox::Ok : QDialogButtonBox::Cancel),
                      Qt::LeftButton);
    QCOMPARE(dialog.result(), ok ? int(QDialog::Accepted) : int(QDialog::Rejected));
    QCOMPARE(m_configuration->safetyCopiesEnabled(), enabled);
    QCOMPARE(m_configuration->safetyCopyLimit(), limit);
    // Reopened, the dialog shows what was stored.
    SettingsDialog again;
    QCOMPARE(again.safetyCopiesBox()->isChecked(), enabled);
    QCOMPARE(again.limitBox()->value(), limit);
}

QTEST_MAIN(TestSettingsDialog)
#include "tst_settingsdialog.moc"
