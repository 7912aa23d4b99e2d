// The user guide as it ships: built beside the morv-manager executable with all of its text
// (every paragraph's first words somewhere, read back with pdftotext) and opened from the Help
// menu at exactly that path; a guide that cannot be written leaves no file.
#include "app/mainwindow.h"
#include "domain/configurationmanager.h"
#include "guidesource.h"
#include "guidewriter.h"

#include <QMenu>
#include <QMenuBar>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTextBlock>
#include <QTextDocument>
#include <QtTest>

using namespace ZovaZode;

namespace {

const QString kGuide = QStringLiteral(MORV_MANAGER_DIR "/MORV Manager User Guide.pdf");
// How many words of a paragraph must be found together in the PDF: few enough to stand on its
// first line, which a page break never splits.
constexpr int kFirstWords = 4;

// Ligatures as the letters they stand for, any run of white space as one blank.
QString normalised(QString text)
{
    return text.normalized(QString::NormalizationForm_KC)
        .remove(QChar::ObjectReplacementCharacter)
        .simplified();
}

// The text of the guide in the order it was drawn, between the running header and the footer.
// In points of the A4 page: the text area runs from 24 mm to 273 mm.
QString pdfText(QString *error)
{
    QProcess pdftotext;
    pdftotext.start("pdftotext",
                    QStringList{"-raw", "-x", "0", "-y", "60", "-W", "595", "-H", "720", kGuide, "-"});
    if (!pdftotext.waitForFinished(60000) || pdftotext.exitStatus() != QProcess::NormalExit ||
        pdftotext.exitCode()) {
        *error = "pdftotext (Debian package poppler-utils) failed: " + pdftotext.readAllStandardError();
        return {};
    }
    return QString::fromUtf8(pdftotext.readAllStandardOutput());
}

} // namespace

class TestUserGuide : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void everyParagraphPrinted();
    void helpMenuOpensTheBuiltGuide();
    void failedWriteLeavesNoFile();

private:
    QString m_html;
    QString m_pdfError;
    QString m_rawText;
};

void TestUserGuide::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QFile source(MORV_SOURCE_DIR "/docs/guide/user-guide.html");
    QVERIFY(source.open(QIODevice::ReadOnly));
    m_html = QString::fromUtf8(source.readAll())
                 .remove(QRegularExpression("<!--.*?-->", QRegularExpression::DotMatchesEverythingOption));
    m_rawText = normalised(pdfText(&m_pdfError));
}

void TestUserGuide::everyParagraphPrinted()
{
    QVERIFY2(m_pdfError.isEmpty(), qPrintable(m_pdfError));
    // The paragraphs as the builder sees them: figures whose pictures are missing are left out.
    GuideSource source({MORV_SOURCE_DIR "/docs/screenshots", MORV_SOURCE_DIR "/docs/guide/images"});
    source.setHtml(m_html);
    QTextDocument document;
    document.setHtml(source.html());
    int checked = 0;
    QStringList missing;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        const QStringList words = normalised(block.text()).split(' ', Qt::SkipEmptyParts);
        checked += words.isEmpty() ? 0 : 1;
        if (!words.isEmpty() && !m_rawText.contains(words.mid(0, kFirstWords).join(' ')))
            missing << words.mid(0, kFirstWords).join(' ');
    }
    QVERIFY(checked > 100);
    QVERIFY2(missing.isEmpty(),
             qPrintable(QString("%1 of %2 paragraphs not in the PDF:\n").arg(missing.size()).arg(checked) +
                        missing.join('\n')));
}

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

QTEST_MAIN(TestUserGuide)
#include "tst_userguide.moc"
