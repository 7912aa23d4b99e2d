// The user guide as it ships: built beside the morv-manager executable as a complete PDF of more
// than one page, opened from the Help menu at exactly that path, and installed by `cmake --install`
// beside the programs together with the desktop entry, the AppStream file and the icons, all
// naming each other correctly.
#include "app/configurationmanager.h"
#include "app/mainwindow.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMenu>
#include <QMenuBar>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <QtTest>

#include <memory>

using ZovaZode::ConfigurationManager;
using ZovaZode::MainWindow;

namespace {

const QString GuideName = QStringLiteral("MORV Manager User Guide.pdf");
const QString AppId = QStringLiteral("com.selkanor.MorvManager");

QString builtGuidePath()
{
    return QDir(QStringLiteral(MORV_MANAGER_DIR)).filePath(GuideName);
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

int pdfPageObjects(const QByteArray &pdf)
{
    static const QRegularExpression page(QStringLiteral(R"re(/Type\s*/Page(?!s))re"));
    return int(QString::fromLatin1(pdf.constData(), pdf.size()).count(page));
}

// Key=value lines of the [Desktop Entry] group.
QMap<QString, QString> readDesktopEntry(const QString &path)
{
    QMap<QString, QString> entry;
    bool inGroup = false;
    const QList<QByteArray> lines = readAll(path).split('\n');
    for (const QByteArray &raw : lines) {
        const QString line = QString::fromUtf8(raw).trimmed();
        if (line.startsWith(QLatin1Char('['))) {
            inGroup = line == QLatin1String("[Desktop Entry]");
            continue;
        }
        const int equals = line.indexOf(QLatin1Char('='));
        if (inGroup && equals > 0 && !line.startsWith(QLatin1Char('#')))
            entry.insert(line.left(equals).trimmed(), line.mid(equals + 1).trimmed());
    }
    return entry;
}

// The text of the first element of that name in an XML file.
QString xmlElementText(const QString &path, const QString &name)
{
    QXmlStreamReader xml(readAll(path));
    while (xml.readNextStartElement() || !xml.atEnd()) {
        if (xml.isStartElement() && xml.name() == name)
            return xml.readElementText().trimmed();
        if (!xml.isStartElement())
            xml.readNext();
    }
    return QString();
}

QUrl unreachableManifest()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const quint16 port = probe.serverPort();
    probe.close();
    return QUrl(QStringLiteral("http://127.0.0.1:%1/manifest.xml").arg(port));
}

} // namespace

class TestUserGuide : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void builtGuideIsAPdfOfSeveralPages();
    void helpMenuOpensTheBuiltGuide();

    void installedFiles_data();
    void installedFiles();
    void installedGuideIsTheBuiltOne();
    void desktopEntry_data();
    void desktopEntry();
    void desktopFilesNameEachOther();

private:
    std::unique_ptr<ConfigurationManager> m_configuration;
    QTemporaryDir m_prefix;
    QString m_installLog;
    bool m_installed = false;
};

void TestUserGuide::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QCoreApplication::setApplicationName(QStringLiteral("Morv Manager"));
    QCoreApplication::setOrganizationName(QStringLiteral("Selkanor tst_userguide"));
    QSettings().clear();
    m_configuration = std::make_unique<ConfigurationManager>();
    // The window's start-up update check must not reach the network.
    m_configuration->setManifestUrl(unreachableManifest());
    MainWindow::setQuitHandler([]() { QFAIL("opening the guide must not quit the application"); });

    QVERIFY(m_prefix.isValid());
    QProcess install;
    install.setProcessChannelMode(QProcess::MergedChannels);
    install.start(QStringLiteral(MORV_CMAKE_COMMAND),
                  {QStringLiteral("--install"), QStringLiteral(MORV_BUILD_DIR), QStringLiteral("--prefix"),
                   m_prefix.path()});
    QVERIFY(install.waitForFinished(120000));
    m_installLog = QString::fromLocal8Bit(install.readAll());
    m_installed = install.exitStatus() == QProcess::NormalExit && install.exitCode() == 0;
}

void TestUserGuide::cleanupTestCase()
{
    MainWindow::setUrlOpener({});
    MainWindow::setQuitHandler({});
    m_configuration.reset();
    QSettings().clear();
}

void TestUserGuide::builtGuideIsAPdfOfSeveralPages()
{
    const QByteArray pdf = readAll(builtGuidePath());
    QVERIFY2(!pdf.isEmpty(), qPrintable(builtGuidePath()));
    QVERIFY(pdf.startsWith("%PDF-"));
    QVERIFY(pdf.trimmed().endsWith("%%EOF"));
    QVERIFY2(pdfPageObjects(pdf) > 1, qPrintable(QString::number(pdfPageObjects(pdf))));
}

void TestUserGuide::helpMenuOpensTheBuiltGuide()
{
    // This test runs from the executable's folder, as the program would.
    QCOMPARE(QDir(QCoreApplication::applicationDirPath()).canonicalPath(),
             QDir(QStringLiteral(MORV_MANAGER_DIR)).canonicalPath());

    QList<QUrl> opened;
    MainWindow::setUrlOpener([&opened](const QUrl &url) {
        opened << url;
        return true;
    });
    MainWindow window;
    QAction *guide = nullptr;
    for (QAction *menu : window.menuBar()->actions()) {
        if (menu->menu() && menu->text() == QLatin1String("&Help")) {
            for (QAction *item : menu->menu()->actions()) {
                if (item->text() == QLatin1String("User Guide"))
                    guide = item;
            }
        }
    }
    QVERIFY(guide);
    guide->trigger();
    MainWindow::setUrlOpener({});

    QCOMPARE(opened.size(), 1);
    QVERIFY(opened.first().isLocalFile());
    QCOMPARE(QFileInfo(opened.first().toLocalFile()).canonicalFilePath(),
             QFileInfo(builtGuidePath()).canonicalFilePath());
    QVERIFY(readAll(opened.first().toLocalFile()).startsWith("%PDF-"));
}

void TestUserGuide::installedFiles_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("executable");

    // clang-format off
    QTest::newRow("program")       << "bin/morv-manager"                                         << true;
    QTest::newRow("card tool")     << "bin/morv-card"                                            << true;
    QTest::newRow("user guide")    << "bin/" + GuideName                                         << false;
    QTest::newRow("desktop entry") << "share/applications/" + AppId + ".desktop"                 << false;
    QTest::newRow("metainfo")      << "share/metainfo/" + AppId + ".metainfo.xml"                << false;
    QTest::newRow("icon")          << "share/icons/hicolor/256x256/apps/" + AppId + ".png"       << false;
    QTest::newRow("scalable icon") << "share/icons/hicolor/scalable/apps/" + AppId + ".svg"      << false;
    // clang-format on
}

void TestUserGuide::installedFiles()
{
    QFETCH(QString, path);
    QFETCH(bool, executable);
    QVERIFY2(m_installed, qPrintable(m_installLog));

    const QFileInfo file(QDir(m_prefix.path()).filePath(path));
    QVERIFY2(file.isFile(), qPrintable(file.filePath()));
    QVERIFY(file.size() > 0);
    QCOMPARE(file.isExecutable(), executable);
}

void TestUserGuide::installedGuideIsTheBuiltOne()
{
    QVERIFY2(m_installed, qPrintable(m_installLog));
    const QByteArray installed = readAll(QDir(m_prefix.path()).filePath(QStringLiteral("bin/") + GuideName));
    QVERIFY(!installed.isEmpty());
    QVERIFY(installed == readAll(builtGuidePath()));
}

void TestUserGuide::desktopEntry_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");

    // clang-format off
    QTest::newRow("type")       << "Type"       << "Application";
    QTest::newRow("name")       << "Name"       << "Morv Manager";
    QTest::newRow("exec")       << "Exec"       << "morv-manager";
    QTest::newRow("icon")       << "Icon"       << AppId;
    QTest::newRow("categories") << "Categories" << "AudioVideo;Audio;Utility;";
    QTest::newRow("terminal")   << "Terminal"   << "false";
    // clang-format on
}

void TestUserGuide::desktopEntry()
{
    QFETCH(QString, key);
    QFETCH(QString, value);
    QVERIFY2(m_installed, qPrintable(m_installLog));

    const QMap<QString, QString> entry = readDesktopEntry(
        QDir(m_prefix.path()).filePath(QStringLiteral("share/applications/") + AppId + ".desktop"));
    QVERIFY2(entry.contains(key), qPrintable(key));
    QCOMPARE(entry.value(key), value);
}

void TestUserGuide::desktopFilesNameEachOther()
{
    QVERIFY2(m_installed, qPrintable(m_installLog));
    const QDir prefix(m_prefix.path());
    const QMap<QString, QString> entry =
        readDesktopEntry(prefix.filePath(QStringLiteral("share/applications/") + AppId + ".desktop"));

    // The menu entry starts a program that is installed and shows an icon that is installed.
    QVERIFY(QFileInfo(prefix.filePath(QStringLiteral("bin/") + entry.value(QStringLiteral("Exec"))))
                .isExecutable());
    QVERIFY(QFileInfo::exists(prefix.filePath(QStringLiteral("share/icons/hicolor/256x256/apps/") +
                                              entry.value(QStringLiteral("Icon")) + ".png")));

    // Software centres find the component by its id and launch it through the desktop entry.
    const QString metainfo = prefix.filePath(QStringLiteral("share/metainfo/") + AppId + ".metainfo.xml");
    QCOMPARE(xmlElementText(metainfo, QStringLiteral("id")), AppId);
    QCOMPARE(xmlElementText(metainfo, QStringLiteral("launchable")), AppId + ".desktop");
    QCOMPARE(xmlElementText(metainfo, QStringLiteral("name")), entry.value(QStringLiteral("Name")));
}

QTEST_MAIN(TestUserGuide)
#include "tst_userguide.moc"
