// The update check at start, which the settings dialog turns off: a window that checks asks the
// manifest address (a closed port here) as it opens and fails silently; one that does not stays
// idle. The menu command checks in both.
#include "app/mainwindow.h"
#include "domain/configurationmanager.h"
#include "update/updatemanager.h"
#include "views/settingsdialog.h"

#include <QCheckBox>
#include <QSettings>

#include <QTcpServer>
#include <QtTest>

using namespace ZovaZode;

class TestUpdateAtStart : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QCoreApplication::setOrganizationName(QStringLiteral("Selkanor"));
        QCoreApplication::setApplicationName(QStringLiteral("Morv Manager Update At Start Test"));
        QSettings().clear(); // the last run's choice
        m_configuration = new ConfigurationManager(this);
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        m_configuration->setManifestUrl(QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(probe.serverPort())));
    }

    void checkAtStart_data()
    {
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<int>("failures");
        // clang-format off
        //                          set in the dialog   checks made at start
        QTest::newRow("default") << true             << 1;
        QTest::newRow("on")      << true             << 1;
        QTest::newRow("off")     << false            << 0;
        // clang-format on
    }
    void checkAtStart()
    {
        QFETCH(bool, enabled);
        QFETCH(int, failures);
        if (QByteArray(QTest::currentDataTag()) != "default") {
            SettingsDialog dialog;
            QVERIFY(dialog.updateCheckBox()->isChecked());
            dialog.updateCheckBox()->setChecked(enabled);
            dialog.accept();
        }
        QCOMPARE(m_configuration->checksForUpdatesAtStart(), enabled);
        MainWindow window;
        QSignalSpy failed(window.updateManager(), &UpdateManager::failure);
        QTest::qWait(300);
        QTRY_COMPARE(failed.count(), failures);
        QTRY_COMPARE(window.updateCheckState(), MainWindow::UpdateCheckState::Idle);
        QVERIFY(!window.isStartupCheck());
        emit window.checkAppUpdatesRequest();
        QTRY_COMPARE(failed.count(), failures + 1);
    }

private:
    ConfigurationManager *m_configuration = nullptr;
};

QTEST_MAIN(TestUpdateAtStart)
#include "tst_updateatstart.moc"
