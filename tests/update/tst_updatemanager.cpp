// UpdateManager against a local HTTP server: the whole discovery (manifest GET, parse, one HEAD
// per component), every way it fails, and the rule that each accepted discovery ends with exactly
// one signal and leaves no half-filled table behind.
#include "domain/configurationmanager.h"
#include "testhttpserver.h"
#include "update/updatemanager.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QtTest>

#include <memory>

using ZovaZode::ConfigurationManager;
using ZovaZode::UpdateManager;
using ZovaZode::UpdateManifestParser;

namespace {

QStringList s_log;
QtMessageHandler s_previousHandler = nullptr;

void recordMessage(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    s_log << message;
    if (s_previousHandler)
        s_previousHandler(type, context, message);
}

bool logged(const QString &text)
{
    for (const QString &line : qAsConst(s_log)) {
        if (line.contains(text))
            return true;
    }
    return false;
}

// MORV+ carries /c3 as its firmware; Morv Manager carries /c1 (Win) and /c2 (Mac). The table orders
// products by code, so the size queries go out as /c3, /c1, /c2.
QByteArray manifestWithThreeComponents(const TestHttpServer &server)
{
    return QStringLiteral(
               "<?xml version=\"1.0\"?>\n"
               "<Family Name=\"MORV\">\n"
               " <Product Name=\"Morv Manager\"><Components>\n"
               "  <Component Name=\"Win\" Version=\"1.2.0\" ReleaseDate=\"2021-05-01\" URL=\"%1\"/>\n"
               "  <Component Name=\"Mac\" Version=\"1.2.0\" ReleaseDate=\"2021-05-01\" URL=\"%2\"/>\n"
               " </Components></Product>\n"
               " <Product Name=\"MORV+\"><Components>\n"
               "  <Component Name=\"MP\" Version=\"3.0.1\" ReleaseDate=\"2021-04-01\" URL=\"%3\"/>\n"
               " </Components></Product>\n"
               "</Family>\n")
        .arg(server.url(QStringLiteral("/c1")).toString(), server.url(QStringLiteral("/c2")).toString(),
             server.url(QStringLiteral("/c3")).toString())
        .toUtf8();
}

QByteArray manifestBody(const QString &kind, const TestHttpServer &server)
{
    if (kind == QLatin1String("three") || kind == QLatin1String("404"))
        return manifestWithThreeComponents(server);
    if (kind == QLatin1String("unknown"))
        return "<Family Name=\"MORV\"><Product Name=\"Morv Pedal\"><Components>"
               "<Component Name=\"Win\" Version=\"1\" ReleaseDate=\"d\" URL=\"http://h/x\"/>"
               "</Components></Product></Family>";
    if (kind == QLatin1String("other"))
        return "<Family Name=\"ZOVA\"/>";
    if (kind == QLatin1String("broken"))
        return "<Family Name=\"MORV\"><Product>";
    return "<Family Name=\"MORV\"><Product Name=\"MORV+\"><Components>"
           "<Component Name=\"Win\" Version=\"1\" ReleaseDate=\"d\" URL=\"http://h/x\"/>"
           "</Components></Product></Family>";
}

// "product:kind=size" for every component in table order.
QString describeSizes(const UpdateManifestParser &parser)
{
    QStringList rows;
    const UpdateManifestParser::ComponentTable &table = parser.componentTable();
    for (auto it = table.cbegin(); it != table.cend(); ++it) {
        for (const UpdateManifestParser::Component &c : it.value())
            rows << QStringLiteral("%1:%2=%3").arg(it.key()).arg(c.kind).arg(c.size);
    }
    return rows.join(QLatin1Char(' '));
}

} // namespace

class TestUpdateManager : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();

    void discovery_data();
    void discovery();
    void unreachableThenRetry();
    void busyWhileDiscovering();
    void folderCannotBeCreated();

private:
    void setManifest(int status, const QByteArray &body);

    std::unique_ptr<ConfigurationManager> m_configuration;
    std::unique_ptr<TestHttpServer> m_server;
};

void TestUpdateManager::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QCoreApplication::setOrganizationName(QStringLiteral("Selkanor"));
    QCoreApplication::setApplicationName(QStringLiteral("Morv Manager"));
    QVERIFY(
        QStandardPaths::writableLocation(QStandardPaths::CacheLocation).contains(QStringLiteral(".qttest")));
    QDir(QStandardPaths::writableLocation(QStandardPaths::CacheLocation)).removeRecursively();
    m_configuration = std::make_unique<ConfigurationManager>();
    s_previousHandler = qInstallMessageHandler(recordMessage);
}

void TestUpdateManager::init()
{
    s_log.clear();
    m_server = std::make_unique<TestHttpServer>();
    QVERIFY(m_server->listen());
    m_configuration->setManifestUrl(m_server->url(QStringLiteral("/manifest.xml")));
}

void TestUpdateManager::cleanup()
{
    m_server.reset();
    QDir(QStandardPaths::writableLocation(QStandardPaths::CacheLocation)).removeRecursively();
}

void TestUpdateManager::cleanupTestCase()
{
    qInstallMessageHandler(s_previousHandler);
    m_configuration.reset();
}

void TestUpdateManager::setManifest(int status, const QByteArray &body)
{
    m_server->setRoute(QStringLiteral("/manifest.xml"), status, body);
}

void TestUpdateManager::discovery_data()
{
    // clang-format off
    QTest::addColumn<QString>("manifest");  // see manifestBody(); "404" answers the GET with 404
    QTest::addColumn<QString>("c2");        // how /c2 answers its HEAD: sized, unsized or 404
    QTest::addColumn<bool>("done");         // updateDiscoveryDone(), else failure()
    QTest::addColumn<int>("heads");         // HEAD requests the server saw; -1: not checked
    QTest::addColumn<QString>("sizes");     // product:kind=size, table order
    QTest::addColumn<QString>("log");       // one line that must appear; {base} is the server

    QTest::newRow("all sized")         << "three"   << "sized"   << true  << 3  << "1:0=300 3:4=1234 3:5=77"
                                       << "Size for component:  \"Windows Application\" = 1234";
    QTest::newRow("no Content-Length") << "three"   << "unsized" << true  << 3  << "1:0=300 3:4=1234 3:5=0"
                                       << "Size for component:  \"Mac OS X Application\" = 0";
    QTest::newRow("second HEAD 404")   << "three"   << "404"     << false << -1 << ""
                                       << "Component size reply aborted: QUrl(\"{base}/c3\")";
    QTest::newRow("manifest 404")      << "404"     << "sized"   << false << 0  << ""
                                       << "DownloadAgent: Downloading:";
    QTest::newRow("unknown product")   << "unknown" << "sized"   << true  << 0  << ""
                                       << "UpdateManager: Manifest parsed.";
    QTest::newRow("other family")      << "other"   << "sized"   << true  << 0  << ""
                                       << "UpdateManager: Manifest parsed.";
    QTest::newRow("malformed XML")     << "broken"  << "sized"   << false << 0  << ""
                                       << "Failed to parse manifest.";
    QTest::newRow("invalid component") << "badname" << "sized"   << false << 0  << ""
                                       << "Invalid component name";
    // clang-format on
}

void TestUpdateManager::discovery()
{
    QFETCH(QString, manifest);
    QFETCH(QString, c2);
    QFETCH(bool, done);
    QFETCH(int, heads);
    QFETCH(QString, sizes);
    QFETCH(QString, log);

    setManifest(manifest == QLatin1String("404") ? 404 : 200, manifestBody(manifest, *m_server));
    m_server->setRoute(QStringLiteral("/c1"), 200, QByteArray(1234, 'w'));
    m_server->setRoute(QStringLiteral("/c3"), 200, QByteArray(300, 'f'));
    if (c2 == QLatin1String("404")) {
        // /c2 fails only once the other two are in flight; /c3 never answers, so it is still pending.
        TestHttpServer::Route route;
        route.status = 404;
        route.afterRequests = 4;
        m_server->setRoute(QStringLiteral("/c2"), route);
        m_server->setHanging(QStringLiteral("/c3"));
    } else {
        m_server->setRoute(QStringLiteral("/c2"), 200, QByteArray(77, 'm'), c2 == QLatin1String("sized"));
    }

    UpdateManager manager;
    QSignalSpy doneSpy(&manager, &UpdateManager::updateDiscoveryDone);
    QSignalSpy failureSpy(&manager, &UpdateManager::failure);
    manager.discoverUpdates();
    QCOMPARE(manager.state(), UpdateManager::Busy);
    QTRY_COMPARE(doneSpy.count() + failureSpy.count(), 1);
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

    QCOMPARE(doneSpy.count(), done ? 1 : 0);
    QCOMPARE(failureSpy.count(), done ? 0 : 1);
    QCOMPARE(manager.state(), UpdateManager::Idle);
    QCOMPARE(m_server->count(QStringLiteral("GET")), 1);
    if (heads >= 0) {
        QCOMPARE(m_server->count(QStringLiteral("HEAD")), heads);
        QCOMPARE(s_log.filter(QStringLiteral("Requesting component size for url:")).size(), heads);
    }
    QCOMPARE(describeSizes(manager.manifest()), sizes);
    log.replace(QStringLiteral("{base}"), m_server->url(QString()).toString());
    QVERIFY2(logged(log), qPrintable(log));
    QVERIFY(logged(QStringLiteral("UpdateManager: Starting download to:")));
    if (done)
        QVERIFY(logged(QStringLiteral("UpdateManager: Manifest file opened.")));
    if (c2 == QLatin1String("404"))
        QVERIFY(logged("Component size reply ERROR: QUrl(\"" +
                       m_server->url(QStringLiteral("/c2")).toString() + "\")"));
}

void TestUpdateManager::unreachableThenRetry()
{
    QUrl unreachable = m_server->url(QStringLiteral("/manifest.xml"));
    unreachable.setPort(TestHttpServer::unusedPort());
    m_configuration->setManifestUrl(unreachable);

    UpdateManager manager;
    QSignalSpy doneSpy(&manager, &UpdateManager::updateDiscoveryDone);
    QSignalSpy failureSpy(&manager, &UpdateManager::failure);
    manager.discoverUpdates();
    QVERIFY(failureSpy.wait());
    QCoreApplication::processEvents();
    QCOMPARE(failureSpy.count(), 1);
    QCOMPARE(manager.state(), UpdateManager::Idle);

    // The address is read again at each discovery.
    m_configuration->setManifestUrl(m_server->url(QStringLiteral("/manifest.xml")));
    setManifest(200, manifestWithThreeComponents(*m_server));
    for (const char *path : {"/c1", "/c2", "/c3"})
        m_server->setRoute(path, 200, QByteArrayLiteral("x"));
    manager.discoverUpdates();
    QVERIFY(doneSpy.wait());
    QCOMPARE(failureSpy.count(), 1);
    QCOMPARE(manager.components(UpdateManifestParser::ProductMorvManager).size(), 2);
    QCOMPARE(manager.components(UpdateManifestParser::ProductMorvManager).at(0).version,
             QStringLiteral("1.2.0"));
}

void TestUpdateManager::busyWhileDiscovering()
{
    setManifest(200, manifestWithThreeComponents(*m_server));
    for (const char *path : {"/c1", "/c2", "/c3"})
        m_server->setRoute(path, 200, QByteArrayLiteral("x"));

    UpdateManager manager;
    QSignalSpy doneSpy(&manager, &UpdateManager::updateDiscoveryDone);
    QSignalSpy failureSpy(&manager, &UpdateManager::failure);
    manager.discoverUpdates();
    manager.discoverUpdates();
    QVERIFY(logged(QStringLiteral("UpdateManager: Busy.")));
    QVERIFY(doneSpy.wait());
    QCoreApplication::processEvents();
    QCOMPARE(doneSpy.count(), 1);
    QCOMPARE(failureSpy.count(), 0);
    QCOMPARE(m_server->count(QStringLiteral("GET")), 1);
    QCOMPARE(m_server->count(QStringLiteral("HEAD")), 3);
}

void TestUpdateManager::folderCannotBeCreated()
{
    // The cache location already names the organisation and the program.
    const QString cache = QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
    QVERIFY(QDir().mkpath(QFileInfo(cache).path()));
    QDir(cache).removeRecursively();
    {
        QFile blocker(cache);
        QVERIFY(blocker.open(QIODevice::WriteOnly));
    }
    setManifest(200, QByteArrayLiteral("<Family Name=\"MORV\"/>"));

    UpdateManager manager;
    QCOMPARE(manager.manifestPath(), cache + "/update-manifest.xml");
    QSignalSpy doneSpy(&manager, &UpdateManager::updateDiscoveryDone);
    QSignalSpy failureSpy(&manager, &UpdateManager::failure);
    manager.discoverUpdates();
    QCOMPARE(failureSpy.count(), 1);
    QCOMPARE(manager.state(), UpdateManager::Idle);
    QVERIFY(logged("UpdateManager: Failed to create path: \"" + cache + "\""));
    QCoreApplication::processEvents();
    QCOMPARE(doneSpy.count(), 0);
    QCOMPARE(m_server->requests(), QStringList());
    QFile::remove(cache);
}

QTEST_GUILESS_MAIN(TestUpdateManager)
#include "tst_updatemanager.moc"
