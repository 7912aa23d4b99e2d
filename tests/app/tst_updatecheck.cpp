// The window's update check against a manifest served on 127.0.0.1: silence when the start-up
// check fails, no check at start once the settings dialog turns it off, which version the manual
// check offers and its messages otherwise, and what the answer to an offer does (never opening an
// address that is not a web address).
#include "../update/testhttpserver.h"
#include "app/mainwindow.h"
#include "domain/configurationmanager.h"
#include "views/settingsdialog.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QSettings>
#include <QtTest>

using namespace ZovaZode;

namespace {

const QString kNoUpdates = QStringLiteral("No updates available for Morv Manager.");

// One "Win" component per entry; "Mac:" before an entry makes it the Mac application instead.
QByteArray manifest(const QStringList &versions, const QString &address)
{
    QString components;
    for (const QString &entry : versions)
        components += QStringLiteral("<Component Name='%1' Version='%2' ReleaseDate='2024-01-01' URL='%3'/>")
                          .arg(entry.startsWith("Mac:") ? "Mac" : "Win", entry.section("Mac:", -1), address);
    return ("<Family Name='MORV'><Product Name='Morv Manager'><Components>" + components +
            "</Components></Product></Family>")
        .toUtf8();
}

} // namespace

class TestUpdateCheck : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void check_data();
    void check();
};

void TestUpdateCheck::initTestCase()
{
    QCoreApplication::setApplicationName("Morv Manager");
    // A settings store of its own: other tests clear theirs while this one runs.
    QCoreApplication::setOrganizationName("Selkanor tst_updatecheck");
    QSettings().clear();
}

void TestUpdateCheck::check_data()
{
    QTest::addColumn<QStringList>("versions"); // the application's versions in the manifest, in order
    QTest::addColumn<QString>("address");      // of the update; empty for the server's
    QTest::addColumn<QString>("answer");       // "yes", "no" or "escape" to an offer
    QTest::addColumn<QString>("text");         // of the box: the version offered, or the message
    QTest::addColumn<bool>("opened");          // the address went to the desktop, and the program quit
    QTest::addColumn<bool>("atStart");         // the settings dialog leaves the check at start on
    // clang-format off
    //                                   versions                                  address                 answer      text                                opened   atStart
    QTest::newRow("patch, yes")       << QStringList{"1.1.1"}                   << ""                   << "yes"    << "1.1.1"                          << true  << true;
    QTest::newRow("same version")     << QStringList{"1.1.0"}                   << ""                   << ""       << kNoUpdates                       << false << true;
    QTest::newRow("text verbatim")    << QStringList{"1.2.0-rc.1+build.7"}      << ""                   << "escape" << "1.2.0-rc.1+build.7"             << false << true;
    QTest::newRow("first newer wins") << QStringList{"1.0.0", "1.3.0", "1.4.0"} << ""                   << "no"     << "1.3.0"                          << false << true;
    QTest::newRow("bad one skipped")  << QStringList{"x.y", "1.2.0"}            << ""                   << "no"     << "1.2.0"                          << false << true;
    QTest::newRow("newer for Mac")    << QStringList{"Mac:2.0.0"}               << ""                   << ""       << kNoUpdates                       << false << true;
    QTest::newRow("no manifest")      << QStringList{}                          << ""                   << ""       << "Failed to check for new version of Morv Manager." << false << true;
    QTest::newRow("not at start")     << QStringList{"1.2.0"}                   << ""                   << "no"     << "1.2.0"                          << false << false;
    QTest::newRow("local file")       << QStringList{"1.2.0"}                   << "file:///etc/passwd" << "yes"    << "1.2.0"                          << false << true;
    // clang-format on
}

void TestUpdateCheck::check()
{
    QFETCH(QStringList, versions);
    QFETCH(QString, address);
    QFETCH(QString, answer);
    QFETCH(QString, text);
    QFETCH(bool, opened);
    QFETCH(bool, atStart);

    ConfigurationManager configuration;
    configuration.setChecksForUpdatesAtStart(true);
    SettingsDialog settings;
    QVERIFY(settings.updateCheckBox()->isChecked());
    settings.updateCheckBox()->setChecked(atStart);
    settings.accept();
    TestHttpServer server;
    QVERIFY(server.listen());
    configuration.setManifestUrl(server.url("/manifest.xml"));
    QList<QUrl> opener;
    int quits = 0;
    MainWindow::setUrlOpener([&](const QUrl &url) { return opener << url, true; });
    MainWindow::setQuitHandler([&] { ++quits; });
    MainWindow window;
    const auto boxes = [&] {
        QList<QMessageBox *> shown = window.findChildren<QMessageBox *>();
        shown.erase(
            std::remove_if(shown.begin(), shown.end(), [](QWidget *box) { return !box->isVisible(); }),
            shown.end());
        return shown;
    };
    QTRY_VERIFY(!window.isStartupCheck());
    QTest::qWait(atStart ? 0 : 300);
    QCOMPARE(server.count("GET"), atStart ? 1 : 0);
    QVERIFY2(boxes().isEmpty(), "a failed check at start-up says nothing");

    const QString target = address.isEmpty() ? server.url("/setup.exe").toString() : address;
    if (!versions.isEmpty())
        server.setRoute("/manifest.xml", 200, manifest(versions, target));
    server.setRoute("/setup.exe", 200, QByteArray(1234, 'x'));
    QSignalSpy rejected(&window, &MainWindow::appUpdatesRejected);
    for (QAction *action : window.menuBar()->actions().first()->menu()->actions()) {
        if (action->text() == "Check for Morv Manager &Updates")
            action->trigger();
    }
    QTRY_COMPARE(boxes().size(), 1);
    QMessageBox *box = boxes().first();
    QCOMPARE(box->windowTitle(), QString("Morv Manager Update"));
    if (answer.isEmpty()) {
        QCOMPARE(box->text(), text);
        QCOMPARE(box->standardButtons(), QMessageBox::StandardButtons(QMessageBox::Ok));
        QTRY_COMPARE(window.updateCheckState(), MainWindow::UpdateCheckState::Idle);
        return;
    }
    QCOMPARE(box->text(),
             "New Morv Manager version " + text +
                 " is available.\n\nWould you like to quit the current Morv Manager and update?\n\n");
    QCOMPARE(box->standardButtons(), QMessageBox::Yes | QMessageBox::No);
    QCOMPARE(window.updateCheckState(), MainWindow::UpdateCheckState::Offering);
    if (answer == "escape")
        QTest::keyClick(box, Qt::Key_Escape);
    else
        box->button(answer == "yes" ? QMessageBox::Yes : QMessageBox::No)->click();
    QCOMPARE(rejected.count(), answer == "yes" ? 0 : 1);
    QTRY_COMPARE(window.updateCheckState(), MainWindow::UpdateCheckState::Idle);
    QCOMPARE(opener, opened ? QList<QUrl>{QUrl(target)} : QList<QUrl>());
    QCOMPARE(quits, opened ? 1 : 0);
}

MORV_TEST_MAIN(TestUpdateCheck)
#include "tst_updatecheck.moc"
