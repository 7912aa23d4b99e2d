// The window's update check against a manifest served on 127.0.0.1: silence at start-up, the
// manual check's messages, which versions are offered, what Yes and No do, the refusal of update
// addresses that are not web addresses, and check requests outside Idle.
#include "../update/testhttpserver.h"
#include "app/mainwindow.h"
#include "domain/configurationmanager.h"
#include "support/logcapture.h"

#include <QAbstractButton>
#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QSettings>
#include <QStandardPaths>
#include <QtTest>

#include <memory>

using ZovaZode::ConfigurationManager;
using ZovaZode::MainWindow;
using State = ZovaZode::MainWindow::UpdateCheckState;
using ZovaZode::TestSupport::LogCapture;

Q_DECLARE_METATYPE(ZovaZode::MainWindow::UpdateCheckState)

namespace {

const QString ManifestPath = QStringLiteral("/manifest.xml");
const QString AppPath = QStringLiteral("/morv-manager-setup.exe");
const QString NoUpdates = QStringLiteral("No updates available for Morv Manager.");
const QString CheckFailed = QStringLiteral("Failed to check for new version of Morv Manager.");

QString offerText(const QString &version)
{
    return QStringLiteral("New Morv Manager version %1 is available.\n\nWould you like to quit the current "
                          "Morv Manager and update?\n\n")
        .arg(version);
}

// One "Win" component per entry; an entry may carry "Mac:" to make it the Mac application instead.
QByteArray manifest(const QStringList &versions, const QString &address)
{
    QString components;
    for (const QString &entry : versions) {
        const bool mac = entry.startsWith(QLatin1String("Mac:"));
        components += QStringLiteral("  <Component Name=\"%1\" Version=\"%2\" ReleaseDate=\"2024-01-01\" "
                                     "URL=\"%3\"/>\n")
                          .arg(mac ? QStringLiteral("Mac") : QStringLiteral("Win"),
                               mac ? entry.mid(4) : entry, address.toHtmlEscaped());
    }
    return QStringLiteral("<?xml version=\"1.0\"?>\n<Family Name=\"MORV\">\n"
                          " <Product Name=\"Morv Manager\"><Components>\n%1 </Components></Product>\n"
                          "</Family>\n")
        .arg(components)
        .toUtf8();
}

QList<QMessageBox *> visibleBoxes(const MainWindow &window)
{
    QList<QMessageBox *> boxes;
    for (QMessageBox *box : window.findChildren<QMessageBox *>()) {
        if (box->isVisible())
            boxes << box;
    }
    return boxes;
}

QAction *checkAction(const MainWindow &window)
{
    const QMenu *file = window.menuBar()->actions().first()->menu();
    for (QAction *action : file->actions()) {
        if (action->text() == QLatin1String("Check for Morv Manager &Updates"))
            return action;
    }
    return nullptr;
}

} // namespace

class TestUpdateCheck : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void silentAtStartup_data();
    void silentAtStartup();
    void offerAtStartup();
    void manualCheckMessages_data();
    void manualCheckMessages();
    void offer_data();
    void offer();
    void answer_data();
    void answer();
    void requestOutsideIdleIgnored_data();
    void requestOutsideIdleIgnored();

private:
    // Starts the window with a start-up check that fails silently, then serves `body`.
    void startSettled(const QByteArray &body);
    void manualCheck();

    std::unique_ptr<ConfigurationManager> m_configuration;
    std::unique_ptr<TestHttpServer> m_server;
    std::unique_ptr<MainWindow> m_window;
    QList<QUrl> m_opened;
    bool m_openerResult = true;
    int m_quits = 0;
};

void TestUpdateCheck::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QCoreApplication::setApplicationName(QStringLiteral("Morv Manager"));
    // A settings store of its own: other tests clear theirs while this one runs.
    QCoreApplication::setOrganizationName(QStringLiteral("Selkanor tst_updatecheck"));
    QSettings().clear();
    m_configuration = std::make_unique<ConfigurationManager>();
    MainWindow::setUrlOpener([this](const QUrl &url) {
        m_opened << url;
        return m_openerResult;
    });
    MainWindow::setQuitHandler([this]() { ++m_quits; });
}

void TestUpdateCheck::cleanupTestCase()
{
    MainWindow::setUrlOpener({});
    MainWindow::setQuitHandler({});
    m_configuration.reset();
    QSettings().clear();
}

void TestUpdateCheck::init()
{
    m_server = std::make_unique<TestHttpServer>();
    QVERIFY(m_server->listen());
    m_server->setRoute(AppPath, 200, QByteArray(1234, 'x'));
    m_configuration->setManifestUrl(m_server->url(ManifestPath));
    m_opened.clear();
    m_openerResult = true;
    m_quits = 0;
}

void TestUpdateCheck::cleanup()
{
    m_window.reset();
    m_server.reset();
}

void TestUpdateCheck::startSettled(const QByteArray &body)
{
    m_server->setRoute(ManifestPath, 404);
    m_window = std::make_unique<MainWindow>();
    QTRY_VERIFY(!m_window->isStartupCheck());
    QCOMPARE(m_server->count(QStringLiteral("GET")), 1);
    QVERIFY(visibleBoxes(*m_window).isEmpty());
    m_server->setRoute(ManifestPath, 200, body);
}

void TestUpdateCheck::manualCheck()
{
    QAction *action = checkAction(*m_window);
    QVERIFY(action);
    action->trigger();
}

void TestUpdateCheck::silentAtStartup_data()
{
    QTest::addColumn<bool>("reachable");
    QTest::addColumn<QStringList>("versions");

    // clang-format off
    QTest::newRow("no network") << false << QStringList{};
    QTest::newRow("up to date") << true  << QStringList{"1.1.0"};
    QTest::newRow("older")      << true  << QStringList{"1.0.9", "1.1.0-beta"};
    // clang-format on
}

void TestUpdateCheck::silentAtStartup()
{
    QFETCH(bool, reachable);
    QFETCH(QStringList, versions);

    if (reachable)
        m_server->setRoute(ManifestPath, 200, manifest(versions, m_server->url(AppPath).toString()));
    else
        m_configuration->setManifestUrl(
            QUrl(QStringLiteral("http://127.0.0.1:%1/manifest.xml").arg(TestHttpServer::unusedPort())));

    m_window = std::make_unique<MainWindow>();
    QVERIFY(m_window->isStartupCheck());
    QTRY_VERIFY(!m_window->isStartupCheck());
    QCOMPARE(m_window->updateCheckState(), State::Idle);
    QCOMPARE(m_server->count(QStringLiteral("GET")), reachable ? 1 : 0);
    QCOMPARE(m_server->count(QStringLiteral("HEAD")), versions.size());
    QTest::qWait(50);
    QVERIFY(visibleBoxes(*m_window).isEmpty());
}

void TestUpdateCheck::offerAtStartup()
{
    // The start-up flag silences only "nothing new" and failures, never an offer.
    m_server->setRoute(ManifestPath, 200, manifest({"1.2.0"}, m_server->url(AppPath).toString()));
    m_window = std::make_unique<MainWindow>();
    QTRY_COMPARE(visibleBoxes(*m_window).size(), 1);
    QCOMPARE(visibleBoxes(*m_window).first()->text(), offerText(QStringLiteral("1.2.0")));
    QCOMPARE(m_window->updateCheckState(), State::Offering);
}

void TestUpdateCheck::manualCheckMessages_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<bool>("garbled");
    QTest::addColumn<QStringList>("versions");
    QTest::addColumn<int>("icon");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("logged");

    const int info = QMessageBox::Information;
    const int critical = QMessageBox::Critical;
    // clang-format off
    QTest::newRow("up to date")            << 200 << false << QStringList{"1.1.0"}     << info     << NoUpdates   << "";
    QTest::newRow("no application listed") << 200 << false << QStringList{}            << info     << NoUpdates   << "";
    QTest::newRow("newer only for Mac")    << 200 << false << QStringList{"Mac:2.0.0"} << info     << NoUpdates   << "";
    QTest::newRow("unreadable version")    << 200 << false << QStringList{"one.two"}   << info     << NoUpdates
                                           << "Failed parsing app update version!";
    QTest::newRow("manifest missing")      << 404 << false << QStringList{"1.2.0"}     << critical << CheckFailed << "";
    QTest::newRow("manifest garbled")      << 200 << true  << QStringList{"1.2.0"}     << critical << CheckFailed
                                           << "Failed to parse manifest.";
    // clang-format on
}

void TestUpdateCheck::manualCheckMessages()
{
    QFETCH(int, status);
    QFETCH(bool, garbled);
    QFETCH(QStringList, versions);
    QFETCH(int, icon);
    QFETCH(QString, text);
    QFETCH(QString, logged);

    QByteArray body = manifest(versions, m_server->url(AppPath).toString());
    if (garbled)
        body.chop(body.size() / 2);
    startSettled(body);
    m_server->setRoute(ManifestPath, status, body);

    LogCapture log;
    manualCheck();
    QTRY_COMPARE(visibleBoxes(*m_window).size(), 1);
    QMessageBox *box = visibleBoxes(*m_window).first();
    QCOMPARE(box->text(), text);
    QCOMPARE(box->windowTitle(), QStringLiteral("Morv Manager Update"));
    QCOMPARE(int(box->icon()), icon);
    QCOMPARE(box->standardButtons(), QMessageBox::StandardButtons(QMessageBox::Ok));
    QVERIFY(box->isModal());
    QVERIFY(box->testAttribute(Qt::WA_DeleteOnClose));
    if (!logged.isEmpty())
        QVERIFY(log.contains(logged));

    // The message does not hold the machine: it is back in Idle and takes the next request.
    QTRY_COMPARE(m_window->updateCheckState(), State::Idle);
    const int gets = m_server->count(QStringLiteral("GET"));
    manualCheck();
    QTRY_COMPARE(m_server->count(QStringLiteral("GET")), gets + 1);
    QTRY_COMPARE(visibleBoxes(*m_window).size(), 2);
}

void TestUpdateCheck::offer_data()
{
    QTest::addColumn<QStringList>("versions");
    QTest::addColumn<QString>("offered");

    // clang-format off
    QTest::newRow("1.1.1")              << QStringList{"1.1.1"}                   << "1.1.1";
    QTest::newRow("1.2.0")              << QStringList{"1.2.0"}                   << "1.2.0";
    QTest::newRow("2.0.0")              << QStringList{"2.0.0"}                   << "2.0.0";
    QTest::newRow("1.1.0")              << QStringList{"1.1.0"}                   << "";
    QTest::newRow("1.1.0-beta")         << QStringList{"1.1.0-beta"}              << "";
    QTest::newRow("1.0.9")              << QStringList{"1.0.9"}                   << "";
    QTest::newRow("text kept verbatim") << QStringList{"1.2.0-rc.1+build.7"}      << "1.2.0-rc.1+build.7";
    QTest::newRow("first newer wins")   << QStringList{"1.0.0", "1.3.0", "1.4.0"} << "1.3.0";
    QTest::newRow("bad one skipped")    << QStringList{"x.y", "1.2.0"}            << "1.2.0";
    // clang-format on
}

void TestUpdateCheck::offer()
{
    QFETCH(QStringList, versions);
    QFETCH(QString, offered);

    startSettled(manifest(versions, m_server->url(AppPath).toString()));
    QSignalSpy rejected(m_window.get(), &MainWindow::appUpdatesRejected);
    manualCheck();
    QTRY_COMPARE(visibleBoxes(*m_window).size(), 1);
    QMessageBox *box = visibleBoxes(*m_window).first();
    QCOMPARE(box->windowTitle(), QStringLiteral("Morv Manager Update"));

    if (offered.isEmpty()) {
        QCOMPARE(box->text(), NoUpdates);
        QCOMPARE(rejected.count(), 1);
        QTRY_COMPARE(m_window->updateCheckState(), State::Idle);
        return;
    }
    QCOMPARE(box->text(), offerText(offered));
    QCOMPARE(box->icon(), QMessageBox::Information);
    QCOMPARE(box->standardButtons(), QMessageBox::Yes | QMessageBox::No);
    QVERIFY(box->isModal());
    QCOMPARE(rejected.count(), 0);
    QCOMPARE(m_window->updateCheckState(), State::Offering);
    QCOMPARE(m_window->appUpdateUrl(), m_server->url(AppPath));
}

void TestUpdateCheck::answer_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("answer");
    QTest::addColumn<bool>("openerSucceeds");
    QTest::addColumn<bool>("opened");
    QTest::addColumn<int>("quits");
    QTest::addColumn<QString>("logged");

    // clang-format off
    QTest::newRow("yes")                  << "server" << "yes"    << true  << true  << 1 << "";
    QTest::newRow("yes, opener fails")    << "server" << "yes"    << false << true  << 0
                                          << "Failed to open app update URL:";
    QTest::newRow("no")                   << "server" << "no"     << true  << false << 0 << "";
    QTest::newRow("escape")               << "server" << "escape" << true  << false << 0 << "";
    QTest::newRow("closed")               << "server" << "close"  << true  << false << 0 << "";
    QTest::newRow("local file refused")   << "file:///etc/passwd" << "yes" << true << false << 0
                                          << "App update URL invalid.";
    QTest::newRow("data address refused") << "data:text/plain,x"  << "yes" << true << false << 0
                                          << "App update URL invalid.";
    // clang-format on
}

void TestUpdateCheck::answer()
{
    QFETCH(QString, address);
    QFETCH(QString, answer);
    QFETCH(bool, openerSucceeds);
    QFETCH(bool, opened);
    QFETCH(int, quits);
    QFETCH(QString, logged);

    const QUrl target = address == QLatin1String("server") ? m_server->url(AppPath) : QUrl(address);
    startSettled(manifest({"1.2.0"}, target.toString()));
    m_openerResult = openerSucceeds;
    QSignalSpy confirmed(m_window.get(), &MainWindow::appUpdatesConfirmed);
    QSignalSpy rejected(m_window.get(), &MainWindow::appUpdatesRejected);
    manualCheck();
    QTRY_COMPARE(visibleBoxes(*m_window).size(), 1);
    QMessageBox *box = visibleBoxes(*m_window).first();
    QCOMPARE(box->text(), offerText(QStringLiteral("1.2.0")));
    QCOMPARE(m_window->appUpdateUrl(), target);

    LogCapture log;
    if (answer == QLatin1String("yes"))
        box->button(QMessageBox::Yes)->click();
    else if (answer == QLatin1String("no"))
        box->button(QMessageBox::No)->click();
    else if (answer == QLatin1String("escape"))
        QTest::keyClick(box, Qt::Key_Escape);
    else
        box->close();

    const bool yes = answer == QLatin1String("yes");
    QCOMPARE(confirmed.count(), yes ? 1 : 0);
    QCOMPARE(rejected.count(), yes ? 0 : 1);
    QTRY_COMPARE(m_window->updateCheckState(), State::Idle);
    QCOMPARE(m_opened, opened ? QList<QUrl>{target} : QList<QUrl>{});
    QCOMPARE(m_quits, quits);
    if (!logged.isEmpty())
        QVERIFY2(log.contains(logged), qPrintable(log.lines().join('\n')));
    // Whatever the answer, nothing further is shown.
    QTest::qWait(20);
    QVERIFY(visibleBoxes(*m_window).isEmpty());
}

void TestUpdateCheck::requestOutsideIdleIgnored_data()
{
    QTest::addColumn<State>("state");

    // clang-format off
    QTest::newRow("while checking") << State::Checking;
    QTest::newRow("while offering") << State::Offering;
    // clang-format on
}

void TestUpdateCheck::requestOutsideIdleIgnored()
{
    QFETCH(State, state);

    startSettled(manifest({"1.2.0"}, m_server->url(AppPath).toString()));
    if (state == State::Checking)
        m_server->setHanging(ManifestPath);
    manualCheck();
    QTRY_COMPARE(m_window->updateCheckState(), state);
    QTRY_COMPARE(m_server->count(QStringLiteral("GET")), 2);

    LogCapture log;
    manualCheck();
    manualCheck();
    QTest::qWait(50);
    QCOMPARE(m_window->updateCheckState(), state);
    QCOMPARE(m_server->count(QStringLiteral("GET")), 2);
    QVERIFY(!log.contains(QStringLiteral("UpdateManager: Busy.")));
    QCOMPARE(visibleBoxes(*m_window).size(), state == State::Offering ? 1 : 0);
}

QTEST_MAIN(TestUpdateCheck)
#include "tst_updatecheck.moc"
