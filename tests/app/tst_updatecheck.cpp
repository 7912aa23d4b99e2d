// The window's update check against a manifest served on 127.0.0.1: silence when the start-up
// check fails, no check at start once the settings dialog turns it off, which version the manual
// check offers and its messages otherwise (a failure says why), and what the answer to an offer
// does (an address that is not a web address is refused with the manifest, never opened).
#include "../update/testhttpserver.h"
#include "app/mainwindow.h"
#include "domain/configurationmanager.h"
#include "update/updatemanager.h"
#include "app/settingsdialog.h"

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
const QString kFailed = QStringLiteral("Failed to check for new version of Morv Manager.\n");

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
    QTest::addColumn<QString>("text");         // of the box: the version offered, or the message (BASE: the server)
    QTest::addColumn<bool>("opened");          // the address went to the desktop, and the program quit
    QTest::addColumn<bool>("atStart");         // the settings dialog leaves the check at start on
    QTest::addColumn<int>("heads");            // size queries the manual check sent
    QTest::addColumn<QString>("manifestAt");   // its address; empty for the server's
    const QStringList old64 = QString("1.0.0 ").repeated(64).split(' ', Qt::SkipEmptyParts);
    // clang-format off
    //                                   versions                                  address                 answer      text                                opened   atStart  heads   manifestAt
    QTest::newRow("patch, yes")       << QStringList{"1.1.1"}                   << ""                   << "yes"    << "1.1.1"                          << true  << true  << 1  << "";
    QTest::newRow("same version")     << QStringList{"1.1.0"}                   << ""                   << ""       << kNoUpdates                       << false << true  << 1  << "";
    QTest::newRow("text verbatim")    << QStringList{"1.2.0-rc.1+build.7"}      << ""                   << "escape" << "1.2.0-rc.1+build.7"             << false << true  << 1  << "";
    QTest::newRow("first newer wins") << QStringList{"1.0.0", "1.3.0", "1.4.0"} << ""                   << "no"     << "1.3.0"                          << false << true  << 3  << "";
    QTest::newRow("bad one skipped")  << QStringList{"x.y", "1.2.0"}            << ""                   << "no"     << "1.2.0"                          << false << true  << 2  << "";
    QTest::newRow("newer for Mac")    << QStringList{"Mac:2.0.0"}               << ""                   << ""       << kNoUpdates                       << false << true  << 1  << "";
    QTest::newRow("no manifest")      << QStringList{}                          << ""                   << ""       << kFailed + "Error transferring BASE/manifest.xml - server replied: Canned" << false << true << 0 << "";
    QTest::newRow("not at start")     << QStringList{"1.2.0"}                   << ""                   << "no"     << "1.2.0"                          << false << false << 1  << "";
    QTest::newRow("64, 4 at a time")  << old64                                  << ""                   << ""       << kNoUpdates                       << false << true  << 64 << "";
    QTest::newRow("65 components")    << old64 + QStringList{"1.2.0"}           << ""                   << ""       << kFailed + "Line 1 of the update manifest: more than 64 components." << false << true << 0 << "";
    QTest::newRow("local file")       << QStringList{"1.2.0"}                   << "file:///etc/passwd" << ""       << kFailed + "Line 1 of the update manifest: the address \"file:///etc/passwd\" is not an https address." << false << true << 0 << "";
    QTest::newRow("ftp manifest")     << QStringList{"1.2.0"}                   << ""                   << ""       << kFailed + "The manifest address \"ftp://127.0.0.1/m.xml\" is not an https address." << false << true << 0 << "ftp://127.0.0.1/m.xml";
    QTest::newRow("file manifest")    << QStringList{"1.2.0"}                   << ""                   << ""       << kFailed + "The manifest address \"file:///dev/zero\" is not an https address." << false << true << 0 << "file:///dev/zero";
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
    QFETCH(int, heads);
    QFETCH(QString, manifestAt);

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
    if (!manifestAt.isEmpty())
        configuration.setManifestUrl(QUrl(manifestAt));
    QSignalSpy rejected(&window, &MainWindow::appUpdatesRejected);
    for (QAction *action : window.menuBar()->actions().first()->menu()->actions()) {
        if (action->text() == "Check for Morv Manager &Updates")
            action->trigger();
    }
    QTRY_COMPARE(boxes().size(), 1);
    QCOMPARE(server.count("HEAD"), heads);
    QVERIFY(server.mostOpen() <= UpdateManager::MaximumSizeQueries);
    QMessageBox *box = boxes().first();
    QCOMPARE(box->windowTitle(), QString("Morv Manager Update"));
    if (answer.isEmpty()) {
        QCOMPARE(box->text().replace(server.url("").toString(), "BASE"), text);
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
