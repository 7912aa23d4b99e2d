// The user guide as it ships. Its PDF read back with pdftotext (Debian's poppler-utils): every
// chapter and section in the contents, in order, and on the page the contents give; every
// paragraph's first words somewhere; no page under 60 words but a chapter's last; no text beyond
// the text area (where a line drawn on two pages hides, clipped from sight but not from the
// text). F1 opens the guide window; Print the Guide hands the PDF to the desktop or says why not.
// A guide that cannot be written leaves no file, and the PDF carries no date but the one given.
#include "app/mainwindow.h"
#include "domain/configurationmanager.h"
#include "domain/recordingnotifier.h"
#include "guidesource.h"
#include "guidewriter.h"
#include "views/guidewindow.h"

#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextDocument>
#include <QTextDocumentFragment>
#include <QTreeWidget>
#include <QtTest>

using namespace ZovaZode;

namespace {

const QString kGuide = QStringLiteral(MORV_MANAGER_DIR "/guide/MORV Manager User Guide.pdf");
// How many words of a paragraph must be found together in the PDF: few enough to stand on its
// first line, which a page break never splits.
constexpr int kFirstWords = 4;
constexpr int kMinimumWords = 60;
// In points from the top of the A4 page: the text area, and the ends of the running header and
// footer around it.
constexpr double kMm = 72 / 25.4;
constexpr double kTextTop = 24 * kMm - 0.5, kTextBottom = 273 * kMm + 0.5;
constexpr double kHeaderBottom = 20 * kMm, kFooterTop = 280 * kMm;

// Ligatures as the letters they stand for, any run of white space as one blank.
QString normalised(QString text)
{
    return text.normalized(QString::NormalizationForm_KC)
        .remove(QChar::ObjectReplacementCharacter)
        .simplified();
}

QString pdftotext(const QString &mode)
{
    QProcess process;
    process.start("pdftotext", {mode, kGuide, "-"});
    const bool done = process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit;
    return done && !process.exitCode() ? QString::fromUtf8(process.readAllStandardOutput()) : QString();
}

struct Page
{
    int words = 0;       // in the text area
    QStringList lines;   // of the text area, top to bottom, words left to right
    QStringList outside; // words beyond the text area, the header and the footer
};

// The pages of `pdftotext -bbox` output: each word with its box.
QList<Page> readPages(const QString &boxes)
{
    static const QRegularExpression word(
        R"re(<word xMin="([\d.]+)" yMin="([\d.]+)" xMax="[\d.]+" yMax="([\d.]+)">([^<]*)</word>)re");
    QList<Page> pages;
    for (const QString &text : boxes.split("<page ").mid(1)) {
        Page page;
        QMap<int, QMap<double, QString>> lines; // by top, then by left
        for (auto it = word.globalMatch(text); it.hasNext();) {
            const QRegularExpressionMatch match = it.next();
            const double top = match.captured(2).toDouble(), bottom = match.captured(3).toDouble();
            const QString value = QTextDocumentFragment::fromHtml(match.captured(4)).toPlainText();
            if (top >= kTextTop && bottom <= kTextBottom) {
                ++page.words;
                lines[qRound(top)].insert(match.captured(1).toDouble(), value);
            } else if (bottom > kHeaderBottom && top < kFooterTop) {
                page.outside << QString("%1 at %2 mm").arg(value).arg(top / kMm, 0, 'f', 1);
            }
        }
        for (const auto &line : qAsConst(lines))
            page.lines << normalised(QStringList(line.values()).join(' '));
        pages << page;
    }
    return pages;
}

} // namespace

class TestUserGuide : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void headingsOnTheirContentsPages_data();
    void headingsOnTheirContentsPages();
    void pagesFullAndInside_data();
    void pagesFullAndInside();
    void everyParagraphPrinted();
    void guideWindow();
    void printTheGuide_data();
    void printTheGuide();
    void writes_data();
    void writes();

private:
    QTextDocument m_source;
    QStringList m_headings; // the chapter and section titles of the source, in order
    QStringList m_chapters;
    QList<QPair<QString, int>> m_contents; // the entries of the PDF's contents
    QList<Page> m_pages;
    QString m_rawText; // pdftotext -raw: the text in the order it was drawn
    std::unique_ptr<ConfigurationManager> m_configuration;
};

void TestUserGuide::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QCoreApplication::setOrganizationName("Selkanor tst_userguide");
    m_configuration = std::make_unique<ConfigurationManager>();
    m_configuration->setManifestUrl(QUrl("http://127.0.0.1:1/manifest.xml"));
    // The source as the builder reads it: figures whose pictures are missing are left out.
    GuideSource source({MORV_MANAGER_DIR "/guide"});
    QVERIFY(source.loadFile(MORV_SOURCE_DIR "/docs/guide/user-guide.html"));
    m_source.setHtml(source.html());
    for (QTextBlock block = m_source.begin(); block.isValid(); block = block.next()) {
        const int level = block.blockFormat().headingLevel();
        if (level == 1 || level == 2)
            m_headings << normalised(block.text());
        if (level == 1)
            m_chapters << m_headings.last();
    }
    m_pages = readPages(pdftotext("-bbox"));
    m_rawText = normalised(pdftotext("-raw"));
    QVERIFY2(!m_pages.isEmpty() && !m_rawText.isEmpty(), "pdftotext (Debian package poppler-utils) failed");
    // The drawn title page comes first.
    const Page &title = m_pages.first();
    QVERIFY2((title.lines + title.outside).join(' ').startsWith("MORV Manager User Guide"), "no title page");
    // The contents follow the title page, one entry a line: the title, then its page number.
    const QRegularExpression entry(R"re(^(.*\S) (\d+)$)re");
    for (int page = 1; page < m_pages.size() && m_contents.size() < m_headings.size(); ++page) {
        for (const QString &line : qAsConst(m_pages[page].lines)) {
            const QRegularExpressionMatch match = entry.match(line);
            if (match.hasMatch())
                m_contents << qMakePair(match.captured(1), match.captured(2).toInt());
        }
    }
}

void TestUserGuide::headingsOnTheirContentsPages_data()
{
    QTest::addColumn<int>("index");
    for (int index = 0; index < m_headings.size(); ++index)
        QTest::newRow(qPrintable(m_headings[index])) << index;
}

void TestUserGuide::headingsOnTheirContentsPages()
{
    QFETCH(int, index);
    QCOMPARE(m_contents.value(index).first, m_headings[index]);
    const int page = m_contents[index].second;
    QVERIFY2(m_pages.value(page - 1).lines.contains(m_headings[index]),
             qPrintable(QString("not on page %1:\n").arg(page) + m_pages.value(page - 1).lines.join('\n')));
}

void TestUserGuide::pagesFullAndInside_data()
{
    QTest::addColumn<int>("page");
    QTest::addColumn<bool>("chapterEnds");
    for (int page = 2; page <= m_pages.size(); ++page) {
        bool chapterEnds = page == m_pages.size();
        for (const auto &entry : qAsConst(m_contents))
            chapterEnds = chapterEnds || (entry.second == page + 1 && m_chapters.contains(entry.first));
        QTest::newRow(qPrintable(QString("page %1").arg(page))) << page << chapterEnds;
    }
}

// A page break leaves no page nearly empty, and nothing is drawn past the text area.
void TestUserGuide::pagesFullAndInside()
{
    QFETCH(int, page);
    QFETCH(bool, chapterEnds);
    const Page &text = m_pages[page - 1];
    QVERIFY2(text.outside.isEmpty(), qPrintable("beyond the text area: " + text.outside.join(", ")));
    QVERIFY2(chapterEnds || text.words >= kMinimumWords,
             qPrintable(QString("%1 words:\n").arg(text.words) + text.lines.join('\n')));
}

void TestUserGuide::everyParagraphPrinted()
{
    int checked = 0;
    QStringList missing;
    for (QTextBlock block = m_source.begin(); block.isValid(); block = block.next()) {
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

// F1 opens the guide in a window of its own: contents that jump to their heading, a find bar and
// the pictures. This test runs from the executable's folder, as the program would.
void TestUserGuide::guideWindow()
{
    MainWindow window;
    window.show();
    QApplication::setActiveWindow(&window);
    QVERIFY(QTest::qWaitForWindowActive(&window));
    QTest::keyClick(&window, Qt::Key_F1);
    GuideWindow *guide = window.guideWindow();
    QVERIFY(guide && QTest::qWaitForWindowActive(guide));
    QTextBrowser *browser = guide->browser();
    QVERIFY(!browser->loadResource(QTextDocument::ImageResource, QUrl("main-window-card.png")).isNull());

    QTreeWidget *contents = guide->contents();
    QCOMPARE(contents->topLevelItemCount(), m_chapters.size());
    QTreeWidgetItem *section = contents->topLevelItem(m_chapters.size() - 3)->child(0);
    contents->scrollToItem(section);
    QTest::mouseClick(contents->viewport(), Qt::LeftButton, {}, contents->visualItemRect(section).center());
    QTRY_COMPARE(browser->cursorForPosition({4, 4}).block().text(), section->text(0));

    // Find from the heading on; what is nowhere says so, and Esc puts the bar away.
    QApplication::setActiveWindow(guide);
    QTest::keyClick(guide, Qt::Key_F, Qt::ControlModifier);
    QVERIFY(guide->findBar()->isVisible() && guide->findField()->hasFocus());
    QTest::keyClicks(guide->findField(), "safety copy");
    QCOMPARE(browser->textCursor().selectedText().toLower(), QString("safety copy"));
    const int first = browser->textCursor().position();
    QTest::keyClick(guide->findField(), Qt::Key_Return);
    QVERIFY(browser->textCursor().position() != first);
    QTest::keyClick(guide->findField(), Qt::Key_Return, Qt::ShiftModifier);
    QCOMPARE(browser->textCursor().position(), first);
    QTest::keyClicks(guide->findField(), "zzyzx");
    QCOMPARE(guide->findStatus()->text(), QString("Not found"));
    QTest::keyClick(guide->findField(), Qt::Key_Escape);
    QVERIFY(!guide->findBar()->isVisible());
}

void TestUserGuide::printTheGuide_data()
{
    QTest::addColumn<bool>("opens"); // what the desktop's opener answers
    QTest::newRow("opened") << true;
    QTest::newRow("refused") << false;
}

// Help > Print the Guide hands the PDF to the desktop; when that fails, a box says where it is.
void TestUserGuide::printTheGuide()
{
    QFETCH(bool, opens);
    RecordingNotifier notifier;
    QList<QUrl> opened;
    MainWindow::setUrlOpener([&](const QUrl &url) { return opened << url, opens; });
    MainWindow window;
    for (QAction *menu : window.menuBar()->actions())
        for (QAction *item : menu->menu()->actions())
            if (item->text() == "&Print the Guide...")
                item->trigger();
    MainWindow::setUrlOpener({});
    QCOMPARE(opened.size(), 1);
    QCOMPARE(QFileInfo(opened.first().toLocalFile()).canonicalFilePath(),
             QFileInfo(kGuide).canonicalFilePath());
    QCOMPARE(
        notifier.texts(),
        opens
            ? QStringList()
            : QStringList{
                  "Sorry, there was a problem opening the User Guide.\n\nNo PDF viewer could open " + kGuide +
                  ". Install one to print the guide; Help > User Guide shows it in a window of its own."});
}

void TestUserGuide::writes_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QDateTime>("date");
    QTest::addColumn<QByteArray>("stamp"); // the creation date in the PDF's information, if any
    const QDateTime date(QDate(2026, 12, 6), QTime(10, 33, 27), Qt::UTC);
    // clang-format off
    QTest::newRow("missing folder") << "missing/guide.pdf" << QDateTime() << QByteArray();
    QTest::newRow("no date")        << "guide.pdf"         << QDateTime() << QByteArray();
    QTest::newRow("date given")     << "guide.pdf"         << date        << QByteArray("/CreationDate (D:20261206103327Z)");
    // clang-format on
}

// A guide that cannot be written (its folder is missing) leaves no file; a written one carries
// the date it is given, or none, never the time it was made.
void TestUserGuide::writes()
{
    QFETCH(QString, file);
    QFETCH(QDateTime, date);
    QFETCH(QByteArray, stamp);
    QTemporaryDir out;
    GuideSource source(QStringList{});
    source.setHtml("<p>text</p>");
    GuideWriter writer(source);
    writer.setCreationDate(date);
    QFile pdf(out.filePath(file));
    QCOMPARE(writer.write(pdf.fileName()), !file.contains('/'));
    if (file.contains('/')) {
        QVERIFY2(writer.errorText().contains(pdf.fileName()), qPrintable(writer.errorText()));
        QVERIFY(QDir(out.path()).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden));
        return;
    }
    QVERIFY(pdf.open(QIODevice::ReadOnly));
    const QByteArray bytes = pdf.readAll();
    const int at = bytes.indexOf("/CreationDate");
    QCOMPARE(at < 0 ? QByteArray() : bytes.mid(at, bytes.indexOf(')', at) + 1 - at), stamp);
}

MORV_TEST_MAIN(TestUserGuide)
#include "tst_userguide.moc"
