// The user guide as it ships: built beside the morv-manager executable and opened from the Help
// menu at exactly that path; a guide that cannot be written leaves no file.
#include "app/mainwindow.h"
#include "domain/configurationmanager.h"
#include "guidesource.h"
#include "guidewriter.h"

#include <QMenu>
#include <QMenuBar>
#include <QtTest>

using namespace ZovaZode;

namespace {

const QString kGuide = QStringLiteral(MORV_MANAGER_DIR "/MORV Manager User Guide.pdf");

} // namespace

class TestUserGuide : public QObject
{
    Q_OBJECT

private slots:
    void helpMenuOpensTheBuiltGuide();
    void failedWriteLeavesNoFile();
};

// This test runs from the executable's folder, as the program would.
void TestUserGuide::helpMenuOpensTheBuiltGuide()
{
    QCoreApplication::setOrganizationName("Selkanor tst_userguide");
    ConfigurationManager configuration;
    configuration.setManifestUrl(QUrl("http://127.0.0.1:1/manifest.xml"));
    QList<QUrl> opened;
    MainWindow::setUrlOpener([&opened](const QUrl &url) { return opened << url, true; });
    MainWindow window;
    for (QAction *menu : window.menuBar()->actions()) {
        for (QAction *item : menu->menu()->actions())
            if (menu->text() == "&Help" && item->text() == "&User Guide")
                item->trigger();
    }
    MainWindow::setUrlOpener({});
    QVERIFY2(QFileInfo(kGuide).size() > 0, qPrintable(kGuide));
    QCOMPARE(opened.size(), 1);
    QCOMPARE(QFileInfo(opened.first().toLocalFile()).canonicalFilePath(),
             QFileInfo(kGuide).canonicalFilePath());
}

void TestUserGuide::failedWriteLeavesNoFile()
{
    QTemporaryDir out;
    const QString path = out.filePath("missing folder/guide.pdf");
    GuideSource source(QStringList{});
    source.setHtml("<p>text</p>");
    GuideWriter writer(source);
    QVERIFY(!writer.write(path));
    QVERIFY2(writer.errorText().contains(path), qPrintable(writer.errorText()));
    QCOMPARE(QDir(out.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
             QStringList());
}

MORV_TEST_MAIN(TestUserGuide)
#include "tst_userguide.moc"
