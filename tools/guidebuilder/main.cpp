// guidebuilder: renders the user guide's HTML source and its pictures to the PDF that ships beside
// the program. Run by the build; a missing screenshot is a warning, anything else an error.
//
//   guidebuilder --source user-guide.html --images DIR [--images DIR...] --output GUIDE.pdf
//                [--version X.Y.Z] [--product-logo PNG] [--maker-logo PNG] [--icon PNG]
#include "guidesource.h"
#include "guidewriter.h"

#include <QCommandLineParser>
#include <QGuiApplication>
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

} // namespace

int main(int argc, char *argv[])
{
    // The HTML's pixel sizes are meant at 96 per inch; never take the screen's idea of it.
    QCoreApplication::setAttribute(Qt::AA_Use96Dpi);
    QGuiApplication app(argc, argv);

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Renders the Morv Manager user guide to PDF."));
    parser.addHelpOption();
    const QCommandLineOption source(QStringLiteral("source"), QStringLiteral("The guide's HTML."),
                                    QStringLiteral("file"));
    const QCommandLineOption images(QStringLiteral("images"),
                                    QStringLiteral("A folder of pictures (repeatable)."),
                                    QStringLiteral("folder"));
    const QCommandLineOption output(QStringLiteral("output"), QStringLiteral("The PDF to write."),
                                    QStringLiteral("file"));
    const QCommandLineOption version(QStringLiteral("version"), QStringLiteral("The program version."),
                                     QStringLiteral("version"));
    const QCommandLineOption productLogo(QStringLiteral("product-logo"), QStringLiteral("Title page logo."),
                                         QStringLiteral("png"));
    const QCommandLineOption makerLogo(QStringLiteral("maker-logo"), QStringLiteral("Maker's logo."),
                                       QStringLiteral("png"));
    const QCommandLineOption icon(QStringLiteral("icon"), QStringLiteral("Program icon."),
                                  QStringLiteral("png"));
    parser.addOptions({source, images, output, version, productLogo, makerLogo, icon});
    parser.process(app);

    if (!parser.isSet(source) || !parser.isSet(output)) {
        report(QStringLiteral("--source and --output are required"));
        return 2;
    }

    GuideSource guide(parser.values(images));
    if (!guide.loadFile(parser.value(source))) {
        report(guide.errorText());
        return 1;
    }
    for (const QString &warning : guide.warnings())
        report(QStringLiteral("warning: ") + warning);

    GuideWriter writer(guide);
    writer.setDocumentTitle(QStringLiteral("MORV Manager User Guide"));
    writer.setTitlePage(titlePage(parser));

    if (!writer.write(parser.value(output))) {
        report(writer.errorText());
        return 1;
    }
    std::printf("Wrote %s (%d pages).\n", qPrintable(parser.value(output)), writer.pageCount());
    return 0;
}
