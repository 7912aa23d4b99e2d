// The user guide as it ships: built beside the morv-manager executable with all of its text
// (every heading on the page its table of contents names, every paragraph somewhere, read back
// with pdftotext), opened from the Help menu at exactly that path, and installed by
// `cmake --install` with the documentation, the desktop files and the icons.
#include "app/mainwindow.h"
#include "domain/configurationmanager.h"
#include "guidesource.h"

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
#include <QTextBlock>
#include <QTextDocument>
#include <QTextDocumentFragment>
#include <QtTest>

#include <memory>

using ZovaZode::ConfigurationManager;
using ZovaZode::GuideSource;
using ZovaZode::MainWindow;

namespace {

const QString GuideName = QStringLiteral("MORV Manager User Guide.pdf");
const QString AppId = QStringLiteral("com.selkanor.MorvManager");
const QString DocDir = QStringLiteral("share/doc/morv-manager/");
// How many words of a paragraph must be found together in the PDF: few enough to stand on its
// first line, which a page break never splits.
constexpr int FirstWords = 4;

QString builtGuidePath()
{
    return QDir(QStringLiteral(MORV_MANAGER_DIR)).filePath(GuideName);
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Ligatures as the letters they stand for, any run of white space as one blank.
QString normalised(const QString &text)
{
    QString plain = text.normalized(QString::NormalizationForm_KC);
    plain.remove(QChar::ObjectReplacementCharacter);
    return plain.simplified();
}

// The text of every page between the running header and the footer, pages split at form feeds.
QStringList pdfPages(const QString &pdf, const QString &mode, QString *error)
{
    // In points of the A4 page: the text area runs from 24 mm to 273 mm; the header sits above
    // 18 mm and the footer below 281 mm.
    QProcess pdftotext;
    pdftotext.start(QStringLiteral("pdftotext"),
                    {mode, QStringLiteral("-x"), QStringLiteral("0"), QStringLiteral("-y"),
                     QStringLiteral("60"), QStringLiteral("-W"), QStringLiteral("595"), QStringLiteral("-H"),
                     QStringLiteral("720"), pdf, QStringLiteral("-")});
    if (!pdftotext.waitForFinished(60000) || pdftotext.exitStatus() != QProcess::NormalExit ||
        pdftotext.exitCode() != 0) {
        *error = QStringLiteral("pdftotext (Debian package poppler-utils) failed: ") +
                 pdftotext.errorString() + QString::fromLocal8Bit(pdftotext.readAllStandardError());
        return {};
    }
    return QString::fromUtf8(pdftotext.readAllStandardOutput()).split(QLatin1Char('\f'));
}

// The chapter and section titles of the HTML source, in order.
QStringList headingTitles(const QString &html)
{
    static const QRegularExpression heading(QStringLiteral(R"re(<h([12])\b[^>]*>(.*?)</h\1\s*>)re"),
                                            QRegularExpression::DotMatchesEverythingOption |
                                                QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression comment(QStringLiteral("<!--.*?-->"),
                                            QRegularExpression::DotMatchesEverythingOption);
    QStringList titles;
    QRegularExpressionMatchIterator matches = heading.globalMatch(QString(html).remove(comment));
    while (matches.hasNext())
        titles << normalised(QTextDocumentFragment::fromHtml(matches.next().captured(2)).toPlainText());
    return titles;
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

    void headingsOnTheirContentsPages_data();
    void headingsOnTheirContentsPages();
    void everyParagraphPrinted();
    void helpMenuOpensTheBuiltGuide();

    void installedFiles_data();
    void installedFiles();
    void installedGuideIsTheBuiltOne();

private:
    std::unique_ptr<ConfigurationManager> m_configuration;
    QTemporaryDir m_prefix;
    QString m_installLog;
    bool m_installed = false;
    QString m_html;
    QString m_pdfError;
    QStringList m_layoutPages; // pdftotext -layout: lines as they stand on the page
    QString m_rawText;         // pdftotext -raw: text in the order it was drawn
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

    m_html = QString::fromUtf8(readAll(QStringLiteral(MORV_SOURCE_DIR "/docs/guide/user-guide.html")));
    QVERIFY(!m_html.isEmpty());
    m_layoutPages = pdfPages(builtGuidePath(), QStringLiteral("-layout"), &m_pdfError);
    if (m_pdfError.isEmpty())
        m_rawText = normalised(pdfPages(builtGuidePath(), QStringLiteral("-raw"), &m_pdfError).join(' '));

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

void TestUserGuide::headingsOnTheirContentsPages_data()
{
    QTest::addColumn<QString>("title");
    for (const QString &title : headingTitles(m_html))
        QTest::newRow(qPrintable(title)) << title;
}

void TestUserGuide::headingsOnTheirContentsPages()
{
    QFETCH(QString, title);
    QVERIFY2(m_pdfError.isEmpty(), qPrintable(m_pdfError));

    // The contents fill the pages after the title page up to the first chapter, one entry a
    // line: the title, then its page number at the right.
    const QString firstChapter = headingTitles(m_html).value(0);
    static const QRegularExpression entry(QStringLiteral(R"re(^\s*(\S.*?)\s{2,}(\d+)\s*$)re"));
    int page = 0;
    for (int index = 1; index < m_layoutPages.size(); ++index) {
        const QStringList lines = m_layoutPages.at(index).split(QLatin1Char('\n'));
        const QString text = normalised(m_layoutPages.at(index));
        if (text.startsWith(firstChapter + QLatin1Char(' ')))
            break;
        for (const QString &line : lines) {
            const QRegularExpressionMatch match = entry.match(line);
            if (match.hasMatch() && normalised(match.captured(1)) == title)
                page = match.captured(2).toInt();
        }
    }
    QVERIFY2(page > 1, qPrintable(QStringLiteral("not in the table of contents: ") + title));
    QVERIFY(page <= m_layoutPages.size());

    QStringList lines;
    for (const QString &line : m_layoutPages.at(page - 1).split(QLatin1Char('\n')))
        lines << normalised(line);
    QVERIFY2(lines.contains(title),
             qPrintable(QStringLiteral("not on page %1:\n").arg(page) + lines.join('\n')));
}

void TestUserGuide::everyParagraphPrinted()
{
    QVERIFY2(m_pdfError.isEmpty(), qPrintable(m_pdfError));

    // The paragraphs as the builder sees them: figures whose pictures are missing are left out.
    GuideSource source({QStringLiteral(MORV_SOURCE_DIR "/docs/screenshots"),
                        QStringLiteral(MORV_SOURCE_DIR "/docs/guide/images")});
    source.setHtml(m_html);
    QTextDocument document;
    document.setHtml(source.html());
    int checked = 0;
    QStringList missing;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        const QStringList words = normalised(block.text()).split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (words.isEmpty())
            continue;
        const QString start = words.mid(0, FirstWords).join(QLatin1Char(' '));
        ++checked;
        if (!m_rawText.contains(start))
            missing << start;
    }
    QVERIFY(checked > 100);
    QVERIFY2(
        missing.isEmpty(),
        qPrintable(QStringLiteral("%1 of %2 paragraphs not in the PDF:\n").arg(missing.size()).arg(checked) +
                   missing.join(QLatin1Char('\n'))));
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
                if (item->text() == QLatin1String("&User Guide"))
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

    const QString mimeIcons =
        QStringLiteral("share/icons/hicolor/scalable/mimetypes/application-vnd.selkanor.");
    // clang-format off
    QTest::newRow("program")       << "bin/morv-manager"                                    << true;
    QTest::newRow("card tool")     << "bin/morv-card"                                       << true;
    QTest::newRow("user guide")    << DocDir + GuideName                                    << false;
    QTest::newRow("copyright")     << DocDir + "copyright"                                  << false;
    QTest::newRow("changelog")     << DocDir + "changelog.Debian.gz"                        << false;
    QTest::newRow("desktop entry") << "share/applications/" + AppId + ".desktop"            << false;
    QTest::newRow("metainfo")      << "share/metainfo/" + AppId + ".metainfo.xml"           << false;
    QTest::newRow("file types")    << "share/mime/packages/" + AppId + ".xml"               << false;
    QTest::newRow("icon")          << "share/icons/hicolor/256x256/apps/" + AppId + ".png"  << false;
    QTest::newRow("scalable icon") << "share/icons/hicolor/scalable/apps/" + AppId + ".svg" << false;
    QTest::newRow("archive icon")  << mimeIcons + "morv-card-archive.svg"                   << false;
    QTest::newRow("song icon")     << mimeIcons + "morv-song.svg"                           << false;
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
    const QByteArray installed = readAll(QDir(m_prefix.path()).filePath(DocDir + GuideName));
    QVERIFY(!installed.isEmpty());
    QVERIFY(installed == readAll(builtGuidePath()));
}

QTEST_MAIN(TestUserGuide)
#include "tst_userguide.moc"
