// guidebuilder: renders the user guide's HTML source and its pictures to the PDF that ships with
// the program and, with --html, writes the HTML and pictures its guide window shows. Run by the
// build; a missing picture or a page left less than a third full is a warning, anything else an
// error. The PDF is the same for the same source: its creation date is SOURCE_DATE_EPOCH when
// that is set, and absent otherwise.
//
//   guidebuilder --source user-guide.html --images DIR [--images DIR...] --output GUIDE.pdf
//                [--html GUIDE.html] [--version X.Y.Z] [--product-logo PNG] [--maker-logo PNG]
//                [--icon PNG]
#include "guidesource.h"
#include "guidewriter.h"

#include <QCommandLineParser>
#include <QDateTime>
#include <QGuiApplication>
#include <QHash>
#include <QImage>

#include <cstdio>

using namespace ZovaZode;

namespace {

void report(const QString &line)
{
    std::fprintf(stderr, "guidebuilder: %s\n", qPrintable(line));
}

QImage titleImage(const QCommandLineParser &parser, const QString &option)
{
    if (!parser.isSet(option))
        return QImage();
    const QImage image(parser.value(option));
    if (image.isNull())
        report(QStringLiteral("warning: cannot read %1; the title page goes without it")
                   .arg(parser.value(option)));
    return image;
}

// The title page, with the version and pictures the command line names.
GuideWriter::TitlePage titlePage(const QCommandLineParser &parser)
{
    GuideWriter::TitlePage title;
    title.title = QStringLiteral("MORV Manager");
    title.subtitle = QStringLiteral("User Guide");
    title.tagline =
        QStringLiteral("The librarian for the SD card of your Morv+ backing band and looper pedal: "
                       "back up your card, keep a library of songs, and move songs between "
                       "pedal and computer.");
    title.version = parser.value(QStringLiteral("version"));
    title.productLogo = titleImage(parser, QStringLiteral("product-logo"));
    title.makerLogo = titleImage(parser, QStringLiteral("maker-logo"));
    title.icon = titleImage(parser, QStringLiteral("icon"));
    return title;
}

// The date SOURCE_DATE_EPOCH gives, so that two builds of one source make the same PDF; invalid
// when it is not set, false (said) when it is not a number of seconds.
bool sourceDate(QDateTime *date)
{
    const QByteArray epoch = qgetenv("SOURCE_DATE_EPOCH");
    if (epoch.isEmpty())
        return true;
    bool valid = false;
    const qint64 seconds = epoch.toLongLong(&valid);
    if (!valid || seconds < 0) {
        report(QStringLiteral("SOURCE_DATE_EPOCH is not a number of seconds: ") + QString::fromLatin1(epoch));
        return false;
    }
    *date = QDateTime::fromSecsSinceEpoch(seconds, Qt::UTC);
    return true;
}

// The options the build passes; their names are what the rest reads them by.
void addOptions(QCommandLineParser &parser)
{
    parser.setApplicationDescription(QStringLiteral("Renders the Morv Manager user guide to PDF."));
    parser.addHelpOption();
    const QCommandLineOption source(QStringLiteral("source"), QStringLiteral("The guide's HTML."),
                                    QStringLiteral("file"));
    const QCommandLineOption images(QStringLiteral("images"),
                                    QStringLiteral("A folder of pictures (repeatable)."),
                                    QStringLiteral("folder"));
    const QCommandLineOption output(QStringLiteral("output"), QStringLiteral("The PDF to write."),
                                    QStringLiteral("file"));
    const QCommandLineOption html(QStringLiteral("html"),
                                  QStringLiteral("The HTML to write for the guide window; its pictures "
                                                 "go beside it."),
                                  QStringLiteral("file"));
    const QCommandLineOption version(QStringLiteral("version"), QStringLiteral("The program version."),
                                     QStringLiteral("version"));
    const QCommandLineOption productLogo(QStringLiteral("product-logo"), QStringLiteral("Title page logo."),
                                         QStringLiteral("png"));
    const QCommandLineOption makerLogo(QStringLiteral("maker-logo"), QStringLiteral("Maker's logo."),
                                       QStringLiteral("png"));
    const QCommandLineOption icon(QStringLiteral("icon"), QStringLiteral("Program icon."),
                                  QStringLiteral("png"));
    parser.addOptions({source, images, output, html, version, productLogo, makerLogo, icon});
}

// Writes the PDF and, with --html, what the guide window shows; the exit status.
int writeGuide(GuideSource &guide, const QCommandLineParser &parser)
{
    GuideWriter writer(guide);
    writer.setDocumentTitle(QStringLiteral("MORV Manager User Guide"));
    writer.setTitlePage(titlePage(parser));
    QDateTime created;
    if (!sourceDate(&created))
        return 2;
    if (created.isValid())
        writer.setCreationDate(created);

    const QString output = parser.value(QStringLiteral("output"));
    if (!writer.write(output)) {
        report(writer.errorText());
        return 1;
    }
    for (const QString &warning : writer.warnings())
        report(QStringLiteral("warning: ") + warning);
    const QString html = parser.value(QStringLiteral("html"));
    if (parser.isSet(QStringLiteral("html")) && !guide.writeForBrowser(html)) {
        report(guide.errorText());
        return 1;
    }
    std::printf("Wrote %s (%d pages).\n", qPrintable(output), writer.pageCount());
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    // The HTML's pixel sizes are meant at 96 per inch; never take the screen's idea of it.
    QCoreApplication::setAttribute(Qt::AA_Use96Dpi);
    // The PDF writer embeds the fonts in the order of a hash; a fixed seed keeps that order, and
    // so the file, the same from one run to the next.
    qSetGlobalQHashSeed(0);
    QGuiApplication app(argc, argv);

    QCommandLineParser parser;
    addOptions(parser);
    parser.process(app);
    if (!parser.isSet(QStringLiteral("source")) || !parser.isSet(QStringLiteral("output"))) {
        report(QStringLiteral("--source and --output are required"));
        return 2;
    }

    GuideSource guide(parser.values(QStringLiteral("images")));
    if (!guide.loadFile(parser.value(QStringLiteral("source")))) {
        report(guide.errorText());
        return 1;
    }
    for (const QString &warning : guide.warnings())
        report(QStringLiteral("warning: ") + warning);
    return writeGuide(guide, parser);
}
