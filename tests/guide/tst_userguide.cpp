// The user guide as it ships: built beside the morv-manager executable with all of its text
// (every heading on the page its table of contents names, every paragraph's first words
// somewhere, read back with pdftotext) and opened from the Help menu at exactly that path; a
// guide that cannot be written leaves no file.
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
#include <QTextDocumentFragment>
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

// The text of every page between the running header and the footer, pages split at form feeds.
// In points of the A4 page: the text area runs from 24 mm to 273 mm.
QStringList pdfPages(const QString &mode, QString *error)
{
    QProcess pdftotext;
    pdftotext.start("pdftotext",
                    QStringList{mode, "-x", "0", "-y", "60", "-W", "595", "-H", "720", kGuide, "-"});
    if (!pdftotext.waitForFinished(60000) || pdftotext.exitStatus() != QProcess::NormalExit ||
        pdftotext.exitCode()) {
        *error = "pdftotext (Debian package poppler-utils) failed: " + pdftotext.readAllStandardError();
        return {};
    }
    return QString::fromUtf8(pdftotext.readAllStandardOutput()).split('\f');
}

} // namespace

class TestUserGuide : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void headingsOnTheirContentsPages_data();
    void headingsOnTheirContentsPages();
    void everyParagraphPrinted();
    void helpMenuOpensTheBuiltGuide();
    void failedWriteLeavesNoFile();

private:
    QString m_html;
    QStringList m_headings; // the chapter and section titles of the source, in order
    QString m_pdfError;
    QStringList m_layoutPages; // pdftotext -layout: lines as they stand on the page
    QString m_rawText;         // pdftotext -raw: text in the order it was drawn
};

void TestUserGuide::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QFile source(MORV_SOURCE_DIR "/docs/guide/user-guide.html");
    QVERIFY(source.open(QIODevice::ReadOnly));
    m_html = QString::fromUtf8(source.readAll())
                 .remove(QRegularExpression("<!--.*?-->", QRegularExpression::DotMatchesEverythingOption));
    const QRegularExpression heading(R"re(<h([12])\b[^>]*>(.*?)</h\1\s*>)re",
                                     QRegularExpression::DotMatchesEverythingOption |
                                         QRegularExpression::CaseInsensitiveOption);
    for (QRegularExpressionMatchIterator it = heading.globalMatch(m_html); it.hasNext();)
        m_headings << normalised(QTextDocumentFragment::fromHtml(it.next().captured(2)).toPlainText());
    m_layoutPages = pdfPages("-layout", &m_pdfError);
    if (m_pdfError.isEmpty())
        m_rawText = normalised(pdfPages("-raw", &m_pdfError).join(' '));
}

void TestUserGuide::headingsOnTheirContentsPages_data()
{
    QTest::addColumn<QString>("title");
    for (const QString &title : qAsConst(m_headings))
        QTest::newRow(qPrintable(title)) << title;
}

void TestUserGuide::headingsOnTheirContentsPages()
{
    QFETCH(QString, title);
    QVERIFY2(m_pdfError.isEmpty(), qPrintable(m_pdfError));
    // The contents fill the pages after the title page up to the first chapter, one entry a line:
    // the title, then its page number at the right.
    const QRegularExpression entry(R"re(^\s*(\S.*?)\s{2,}(\d+)\s*$)re");
    int page = 0;
    for (int index = 1; index < m_layoutPages.size(); ++index) {
        if (normalised(m_layoutPages[index]).startsWith(m_headings.value(0) + ' '))
            break;
        for (const QString &line : m_layoutPages[index].split('\n')) {
            const QRegularExpressionMatch match = entry.match(line);
            if (match.hasMatch() && normalised(match.captured(1)) == title)
                page = match.captured(2).toInt();
        }
    }
    QVERIFY2(page > 1 && page <= m_layoutPages.size(), qPrintable("not in the table of contents: " + title));
    QStringList lines;
    for (const QString &line : m_layoutPages[page - 1].split('\n'))
        lines << normalised(line);
    QVERIFY2(lines.contains(title), qPrintable(QString("not on page %1:\n").arg(page) + lines.join('\n')));
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
