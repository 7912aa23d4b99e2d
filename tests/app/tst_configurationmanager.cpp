// ConfigurationManager on the test-mode settings store: defaults that are never written back, the
// wipe of unversioned stores, persistence through the setters, and the single-instance rule.
#include "domain/configurationmanager.h"

#include <QDir>
#include <QSettings>
#include <QStandardPaths>
#include <QtTest>

#include <memory>

using ZovaZode::ConfigurationManager;

namespace {

const QUrl DefaultManifest(QStringLiteral("https://downloads.selkanor.com/morv-manager/update-manifest.xml"));

QString documents(const QString &folder)
{
    return QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation) + QLatin1Char('/') + folder;
}

} // namespace

class TestConfigurationManager : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void firstRunDefaults();
    void migration_data();
    void migration();
    void settersPersist();
    void emptyValuesFallBack();
    void resetManifestUrl();
    void secondConstructionThrows();
};

void TestConfigurationManager::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QCoreApplication::setOrganizationName(QStringLiteral("Selkanor"));
    QCoreApplication::setApplicationName(QStringLiteral("Morv Manager"));
    // Refuse to run against the real user's settings.
    QVERIFY2(QSettings().fileName().contains(QStringLiteral(".qttest")), qPrintable(QSettings().fileName()));
}

void TestConfigurationManager::init()
{
    QSettings().clear();
}

void TestConfigurationManager::firstRunDefaults()
{
    QVERIFY(!ConfigurationManager::instance());
    {
        ConfigurationManager manager;
        QCOMPARE(ConfigurationManager::instance(), &manager);
        QCOMPARE(manager.cardLibraryLocation(), documents(QStringLiteral("Morv+ Card Library")));
        QCOMPARE(manager.songLibraryLocation(), documents(QStringLiteral("Morv+ Song Library")));
        QCOMPARE(manager.sdCardLocation(), QString());
        QCOMPARE(manager.manifestUrl(), DefaultManifest);
        QCOMPARE(ConfigurationManager::defaultManifestUrl(), DefaultManifest);
    }
    QVERIFY(!ConfigurationManager::instance());
    QSettings store;
    QCOMPARE(store.allKeys(), QStringList({"version"}));
    QCOMPARE(store.value(QStringLiteral("version")).toInt(), 1);
}

void TestConfigurationManager::migration_data()
{
    // clang-format off
    QTest::addColumn<QVariant>("version");   // invalid: no "version" key at all
    QTest::addColumn<bool>("kept");

    QTest::newRow("no version")    << QVariant()                  << false;
    QTest::newRow("version 0")     << QVariant(0)                 << false;
    QTest::newRow("negative")      << QVariant(-3)                << false;
    QTest::newRow("not a number")  << QVariant(QStringLiteral("one")) << false;
    QTest::newRow("version 1")     << QVariant(1)                 << true;
    QTest::newRow("newer version") << QVariant(2)                 << true;
    // clang-format on
}

void TestConfigurationManager::migration()
{
    QFETCH(QVariant, version);
    QFETCH(bool, kept);
    const QUrl manifest(QStringLiteral("http://example.com/m.xml"));
    {
        QSettings store;
        store.setValue(QStringLiteral("card_library/location"), QStringLiteral("/x/cards"));
        store.setValue(QStringLiteral("song_library/location"), QStringLiteral("/x/songs"));
        store.setValue(QStringLiteral("sd_card/location"), QStringLiteral("/media/sd"));
        store.setValue(QStringLiteral("update/manifest-url"), manifest);
        store.setValue(QStringLiteral("other/key"), 5);
        if (version.isValid())
            store.setValue(QStringLiteral("version"), version);
        store.sync();
    }

    ConfigurationManager manager;
    QCOMPARE(manager.cardLibraryLocation(),
             kept ? QStringLiteral("/x/cards") : documents(QStringLiteral("Morv+ Card Library")));
    QCOMPARE(manager.songLibraryLocation(),
             kept ? QStringLiteral("/x/songs") : documents(QStringLiteral("Morv+ Song Library")));
    QCOMPARE(manager.sdCardLocation(), kept ? QStringLiteral("/media/sd") : QString());
    QCOMPARE(manager.manifestUrl(), kept ? manifest : DefaultManifest);
    QSettings store;
    QCOMPARE(store.contains(QStringLiteral("other/key")), kept);
    QCOMPARE(store.value(QStringLiteral("version")).toInt(), 1);
}

void TestConfigurationManager::settersPersist()
{
    const QString missingFolder = QDir::tempPath() + QStringLiteral("/morv-no-such-folder/Card Library");
    const QUrl manifest(QStringLiteral("http://updates.example.org/feed.xml"));
    {
        ConfigurationManager manager;
        manager.setCardLibraryLocation(missingFolder);
        manager.setSongLibraryLocation(QStringLiteral("/songs"));
        manager.setSdCardLocation(QStringLiteral("/media/MORV/ZOVAZODE.DAT"));
        manager.setManifestUrl(manifest);
    }
    ConfigurationManager manager;
    QCOMPARE(manager.cardLibraryLocation(), missingFolder);
    QVERIFY(!QFileInfo::exists(missingFolder));
    QCOMPARE(manager.songLibraryLocation(), QStringLiteral("/songs"));
    QCOMPARE(manager.sdCardLocation(), QStringLiteral("/media/MORV/ZOVAZODE.DAT"));
    QCOMPARE(manager.manifestUrl(), manifest);
    QCOMPARE(QSettings().value(QStringLiteral("update/manifest-url")).toUrl(), manifest);
}

void TestConfigurationManager::emptyValuesFallBack()
{
    ConfigurationManager manager;
    manager.setCardLibraryLocation(QString());
    manager.setSongLibraryLocation(QString());
    manager.setManifestUrl(QUrl());
    QCOMPARE(manager.cardLibraryLocation(), ConfigurationManager::defaultCardLibraryLocation());
    QCOMPARE(manager.songLibraryLocation(), ConfigurationManager::defaultSongLibraryLocation());
    QCOMPARE(manager.manifestUrl(), DefaultManifest);
}

void TestConfigurationManager::resetManifestUrl()
{
    ConfigurationManager manager;
    manager.setManifestUrl(QUrl(QStringLiteral("http://example.com/other.xml")));
    QVERIFY(QSettings().contains(QStringLiteral("update/manifest-url")));
    manager.resetManifestUrl();
    QCOMPARE(manager.manifestUrl(), DefaultManifest);
    QVERIFY(!QSettings().contains(QStringLiteral("update/manifest-url")));
}

void TestConfigurationManager::secondConstructionThrows()
{
    auto first = std::make_unique<ConfigurationManager>();
    first->setSdCardLocation(QStringLiteral("/media/sd"));
    QObject parent;
    QVERIFY_EXCEPTION_THROWN(new ConfigurationManager(&parent), ConfigurationManager::Error);
    QVERIFY(parent.children().isEmpty());
    QCOMPARE(ConfigurationManager::instance(), first.get());
    QCOMPARE(first->sdCardLocation(), QStringLiteral("/media/sd"));

    first.reset();
    QVERIFY(!ConfigurationManager::instance());
    ConfigurationManager again;
    QCOMPARE(ConfigurationManager::instance(), &again);
    QCOMPARE(again.sdCardLocation(), QStringLiteral("/media/sd"));
}

QTEST_GUILESS_MAIN(TestConfigurationManager)
#include "tst_configurationmanager.moc"
