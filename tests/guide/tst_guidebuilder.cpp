// The user guide builder: figures whose pictures are missing are left out whole while everything
// else stays byte for byte, picture widths are capped at their pixels, figure pictures are framed,
// the table of contents is filled in, and the PDF gets its pages right: chapters that start a
// page, headings kept with what follows them, and no cut-off file when writing fails.
#include "guidesource.h"
#include "guidewriter.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

using ZovaZode::GuideSource;
using ZovaZode::GuideWriter;

Q_DECLARE_METATYPE(GuideSource::ContentsEntry)

namespace {

using Entries = QList<GuideSource::ContentsEntry>;

void writePicture(const QString &path, int width, int height)
{
    QImage picture(width, height, QImage::Format_RGB32);
    picture.fill(Qt::white);
    QVERIFY(picture.save(path));
}

int pdfPageObjects(const QByteArray &pdf)
{
    static const QRegularExpression page(QStringLiteral(R"re(/Type\s*/Page(?!s))re"));
    return int(QString::fromLatin1(pdf.constData(), pdf.size()).count(page));
}

QString figure(const QString &picture, const QString &caption)
{
    return QStringLiteral("<div class=\"figure\"><p><img src=\"%1\"></p><p>%2</p></div>")
        .arg(picture, caption);
}

} // namespace

class TestGuideBuilder : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void figures_data();
    void figures();
    void imageWidths_data();
    void imageWidths();
    void figurePicturesAreFramed_data();
    void figurePicturesAreFramed();
    void contents_data();
    void contents();

    void chaptersStartOnTheirOwnPages();
    void headingStaysWithWhatFollows_data();
    void headingStaysWithWhatFollows();
    void pdfIsCompleteAndCountsItsPages();
    void failedWriteLeavesNoFile();

private:
    GuideSource sourceFor(const QString &html) const;

    std::unique_ptr<QTemporaryDir> m_pictures;
};

void TestGuideBuilder::init()
{
    m_pictures = std::make_unique<QTemporaryDir>();
    QVERIFY(m_pictures->isValid());
}

GuideSource TestGuideBuilder::sourceFor(const QString &html) const
{
    GuideSource source({m_pictures->path()});
    source.setHtml(html);
    return source;
}

void TestGuideBuilder::figures_data()
{
    QTest::addColumn<QStringList>("present");
    QTest::addColumn<QString>("html");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<QStringList>("loaded");
    QTest::addColumn<QString>("warning");

    const QString a = figure(QStringLiteral("a.png"), QStringLiteral("Caption A"));
    const QString b = figure(QStringLiteral("b.png"), QStringLiteral("Caption B"));
    const QString both =
        QStringLiteral("<div class=\"figure\"><img src=\"a.png\"><img src=\"b.png\"><p>AB</p></div>");
    const QString shouting = QStringLiteral("<DIV CLASS=\"figure\"><IMG SRC=\"a.png\"><P>A</P></DIV>");
    const QString inlineIcon = QStringLiteral("<p>Press <img src=\"key.png\"> now</p>");
    const QString text = QStringLiteral("<p>x</p>");

    // clang-format off
    QTest::newRow("figure kept")            << QStringList{"a.png"}   << text + a        << text + a            << QStringList{"a.png"}   << QString();
    QTest::newRow("figure left out whole")  << QStringList{}          << text + a + text << text + text         << QStringList{}          << "a.png not found";
    QTest::newRow("only the missing one")   << QStringList{"b.png"}   << a + text + b    << text + b            << QStringList{"b.png"}   << "a.png not found";
    QTest::newRow("one picture of two")     << QStringList{"a.png"}   << text + both     << text                << QStringList{}          << "b.png not found";
    QTest::newRow("tags in capitals")       << QStringList{}          << shouting + text << text                << QStringList{}          << "a.png not found";
    QTest::newRow("inline picture missing") << QStringList{}          << inlineIcon      << "<p>Press  now</p>" << QStringList{}          << "key.png not found";
    QTest::newRow("inline picture kept")    << QStringList{"key.png"} << inlineIcon      << inlineIcon          << QStringList{"key.png"} << QString();
    QTest::newRow("unreadable picture")     << QStringList{"bad"}     << text + a        << text                << QStringList{}          << "cannot be read";
    // clang-format on
}

void TestGuideBuilder::figures()
{
    QFETCH(QStringList, present);
    QFETCH(QString, html);
    QFETCH(QString, expected);
    QFETCH(QStringList, loaded);
    QFETCH(QString, warning);

    for (const QString &name : present) {
        if (name == QLatin1String("bad")) {
            QFile junk(m_pictures->filePath(QStringLiteral("a.png")));
            QVERIFY(junk.open(QIODevice::WriteOnly));
            junk.write("not a picture");
        } else {
            writePicture(m_pictures->filePath(name), 40, 20);
        }
    }

    const GuideSource source = sourceFor(html);
    QCOMPARE(source.html(), expected);
    QCOMPARE(source.images().keys(), loaded);
    if (warning.isEmpty()) {
        QVERIFY2(source.warnings().isEmpty(), qPrintable(source.warnings().join(QLatin1Char('\n'))));
    } else {
        QCOMPARE(source.warnings().size(), 1);
        QVERIFY2(source.warnings().first().contains(warning), qPrintable(source.warnings().first()));
    }
}

void TestGuideBuilder::imageWidths_data()
{
    QTest::addColumn<QString>("tag");
    QTest::addColumn<QString>("expected");

    // The picture is 300 pixels wide.
    // clang-format off
    QTest::newRow("narrower kept")      << R"(<img src="p.png" width="200">)"  << R"(<img src="p.png" width="200">)";
    QTest::newRow("exact kept")         << R"(<img src="p.png" width="300">)"  << R"(<img src="p.png" width="300">)";
    QTest::newRow("wider capped")       << R"(<img src="p.png" width="600">)"  << R"(<img src="p.png" width="300">)";
    QTest::newRow("spaced attribute")   << R"(<img width = "900" src="p.png">)" << R"(<img width="300" src="p.png">)";
    QTest::newRow("no width untouched") << R"(<img src="p.png">)"              << R"(<img src="p.png">)";
    // clang-format on
}

void TestGuideBuilder::imageWidths()
{
    QFETCH(QString, tag);
    QFETCH(QString, expected);
    writePicture(m_pictures->filePath(QStringLiteral("p.png")), 300, 100);
    QCOMPARE(sourceFor(tag).html(), expected);
}

void TestGuideBuilder::figurePicturesAreFramed_data()
{
    QTest::addColumn<QString>("html");
    QTest::addColumn<bool>("framed");

    QTest::newRow("figure") << figure(QStringLiteral("p.png"), QStringLiteral("c")) << true;
    QTest::newRow("inline") << QStringLiteral("<p>x <img src=\"p.png\"></p>") << false;
}

void TestGuideBuilder::figurePicturesAreFramed()
{
    QFETCH(QString, html);
    QFETCH(bool, framed);
    writePicture(m_pictures->filePath(QStringLiteral("p.png")), 60, 40);

    const QImage picture = sourceFor(html).images().value(QStringLiteral("p.png"));
    QCOMPARE(picture.size(), QSize(60, 40));
    const QRgb edge = framed ? qRgb(190, 190, 190) : qRgb(255, 255, 255);
    // Two pixels of frame on every side, the inside untouched.
    for (const QPoint &point :
         {QPoint(0, 0), QPoint(59, 39), QPoint(30, 1), QPoint(1, 20), QPoint(58, 20), QPoint(30, 38)})
        QVERIFY2(picture.pixel(point) == edge,
                 qPrintable(QStringLiteral("%1,%2").arg(point.x()).arg(point.y())));
    for (const QPoint &point : {QPoint(2, 2), QPoint(57, 37), QPoint(30, 20)})
        QVERIFY2(picture.pixel(point) == qRgb(255, 255, 255),
                 qPrintable(QStringLiteral("%1,%2").arg(point.x()).arg(point.y())));
}

void TestGuideBuilder::contents_data()
{
    QTest::addColumn<Entries>("entries");
    QTest::addColumn<QStringList>("fragments");

    GuideSource::ContentsEntry chapter{QStringLiteral("Rock & Roll"), 1, 7};
    GuideSource::ContentsEntry section{QStringLiteral("<Intro>"), 2, 12};
    GuideSource::ContentsEntry unplaced{QStringLiteral("Later"), 1, 0};

    // clang-format off
    QTest::newRow("chapter")    << Entries{chapter}  << QStringList{R"(<td class="contents-chapter">Rock &amp; Roll</td>)",
                                                                    R"(<td class="contents-chapter-page" align="right">7</td>)"};
    QTest::newRow("section")    << Entries{section}  << QStringList{R"(<td class="contents-section">&lt;Intro&gt;</td>)",
                                                                    R"(<td class="contents-section-page" align="right">12</td>)"};
    QTest::newRow("no page yet") << Entries{unplaced} << QStringList{R"(align="right">&nbsp;</td>)"};
    // clang-format on
}

void TestGuideBuilder::contents()
{
    QFETCH(Entries, entries);
    QFETCH(QStringList, fragments);

    const QString html =
        QStringLiteral("<p>before</p>") + GuideSource::ContentsMarker + QStringLiteral("<p>after</p>");
    const QString filled = GuideSource::withContents(html, entries);
    QVERIFY(!filled.contains(GuideSource::ContentsMarker));
    QVERIFY(filled.startsWith(QStringLiteral("<p>before</p><table class=\"contents\"")));
    QVERIFY(filled.endsWith(QStringLiteral("</table><p>after</p>")));
    QCOMPARE(filled.count(QStringLiteral("<tr>")), entries.size());
    for (const QString &fragment : fragments)
        QVERIFY2(filled.contains(fragment), qPrintable(filled));

    const QString unmarked = QStringLiteral("<p>no contents here</p>");
    QCOMPARE(GuideSource::withContents(unmarked, entries), unmarked);
}

void TestGuideBuilder::chaptersStartOnTheirOwnPages()
{
    const QString chapter = QStringLiteral("<h1 style=\"page-break-before: always\">%1</h1><p>text</p>");
    const QString html = QStringLiteral("<p>Contents</p>") + GuideSource::ContentsMarker +
                         chapter.arg(QStringLiteral("One")) + chapter.arg(QStringLiteral("Two")) +
                         QStringLiteral("<h2>Two more</h2><p>text</p>") +
                         chapter.arg(QStringLiteral("Three"));
    GuideWriter writer(sourceFor(html));
    QTemporaryDir out;
    QVERIFY(writer.write(out.filePath(QStringLiteral("guide.pdf"))));

    // Title page, contents page, then one page per chapter; a chapter that sits exactly on a page
    // boundary must not be counted on the page before.
    QCOMPARE(writer.pageCount(), 5);
    const Entries placed = writer.contents();
    QCOMPARE(placed.size(), 4);
    const QStringList titles{"One", "Two", "Two more", "Three"};
    const QList<int> levels{1, 1, 2, 1};
    const QList<int> pages{3, 4, 4, 5};
    for (int i = 0; i < placed.size(); ++i) {
        QCOMPARE(placed.at(i).title, titles.at(i));
        QCOMPARE(placed.at(i).level, levels.at(i));
        QCOMPARE(placed.at(i).page, pages.at(i));
    }
}

void TestGuideBuilder::headingStaysWithWhatFollows_data()
{
    QTest::addColumn<int>("followingHeight");
    QTest::addColumn<int>("headingPage");
    QTest::addColumn<int>("pageCount");

    // A spacer leaves about 50 units at the foot of the first text page (PDF page 2): room for
    // the heading, and for a short line after it but not for a tall one.
    // clang-format off
    QTest::newRow("both fit")          << 10  << 2 << 2;
    QTest::newRow("follower moves on") << 120 << 3 << 3;
    // clang-format on
}

void TestGuideBuilder::headingStaysWithWhatFollows()
{
    QFETCH(int, followingHeight);
    QFETCH(int, headingPage);
    QFETCH(int, pageCount);

    writePicture(m_pictures->filePath(QStringLiteral("spacer.png")), 10, 10);
    const int spacer = int(GuideWriter::bodySize().height()) - 50;
    const QString line = QStringLiteral("<p style=\"margin-top: 0px; margin-bottom: 0px\">."
                                        "<img src=\"spacer.png\" width=\"10\" height=\"%1\"></p>");
    const QString html = line.arg(spacer) +
                         QStringLiteral("<h2 style=\"margin-top: 0px; margin-bottom: 0px\">Kept</h2>") +
                         line.arg(followingHeight);
    GuideWriter writer(sourceFor(html));
    QTemporaryDir out;
    QVERIFY(writer.write(out.filePath(QStringLiteral("guide.pdf"))));

    QCOMPARE(writer.contents().size(), 1);
    QCOMPARE(writer.contents().first().page, headingPage);
    QCOMPARE(writer.pageCount(), pageCount);
}

void TestGuideBuilder::pdfIsCompleteAndCountsItsPages()
{
    const QString html =
        QStringLiteral("<h1>A</h1><p>one</p><h1 style=\"page-break-before: always\">B</h1><p>two</p>");
    GuideWriter writer(sourceFor(html));
    writer.setDocumentTitle(QStringLiteral("Test Guide"));
    QTemporaryDir out;
    const QString path = out.filePath(QStringLiteral("guide.pdf"));
    QVERIFY(writer.write(path));
    QVERIFY(writer.errorText().isEmpty());

    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray pdf = file.readAll();
    QVERIFY(pdf.startsWith("%PDF-"));
    QVERIFY(pdf.trimmed().endsWith("%%EOF"));
    QCOMPARE(writer.pageCount(), 3);
    QCOMPARE(pdfPageObjects(pdf), writer.pageCount());
    // Written under a temporary name and renamed: nothing else is left in the folder.
    QCOMPARE(QDir(out.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"guide.pdf"});
}

void TestGuideBuilder::failedWriteLeavesNoFile()
{
    QTemporaryDir out;
    const QString path = out.filePath(QStringLiteral("missing folder/guide.pdf"));
    GuideWriter writer(sourceFor(QStringLiteral("<p>text</p>")));
    QVERIFY(!writer.write(path));
    QVERIFY2(writer.errorText().contains(path), qPrintable(writer.errorText()));
    QCOMPARE(writer.pageCount(), 0);
    QVERIFY(!QFile::exists(path));
    QCOMPARE(QDir(out.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
             QStringList{});
}

// The guide's pixel sizes mean 96 per inch, as in the builder itself.
int main(int argc, char *argv[])
{
    QCoreApplication::setAttribute(Qt::AA_Use96Dpi);
    QGuiApplication app(argc, argv);
    TestGuideBuilder test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_guidebuilder.moc"
