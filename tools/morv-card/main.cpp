// morv-card: the command-line librarian for Morv+ cards. Shows, checks, archives, restores,
// copies, renames and clears songs through the same objects and transfer worker as the window.
#include "cardtool.h"
#include "commandline.h"
#include "messagelog.h"
#include "toolerror.h"
#include "tooloutput.h"

#include "domain/configurationmanager.h"
#include "domain/filenamecodec.h"

#include <QCoreApplication>
#include <QJsonObject>

#include <cstdio>
#include <exception>
#include <memory>

using namespace ZovaZode;

namespace {

// The line on standard error (and the usage of the command after a mistake in its command line),
// and for a script that asked for JSON one object on standard output as well, with what the
// command had done, so that it always has an object to read.
int fail(const ToolError &error, bool json)
{
    ToolOutput::printError(error.message());
    if (!error.hint().isEmpty()) {
        const QByteArray hint = error.hint().toUtf8() + '\n';
        std::fwrite(hint.constData(), 1, size_t(hint.size()), stderr);
    }
    if (json) {
        try {
            ToolOutput::writeJson(ToolOutput::merged(
                error.details(), {{QStringLiteral("error"), ToolOutput::libraryText(error.message())}}));
        } catch (const ToolError &) {
            return ExitFailure;
        }
    }
    return error.status();
}

// The window's settings store, so that both read one; the tool keeps its own name everywhere else.
std::unique_ptr<ConfigurationManager> windowConfiguration()
{
    const QString organisation = QCoreApplication::organizationName();
    const QString application = QCoreApplication::applicationName();
    QCoreApplication::setOrganizationName(QStringLiteral("Selkanor"));
    QCoreApplication::setApplicationName(QStringLiteral("Morv Manager"));
    auto configuration = std::make_unique<ConfigurationManager>();
    QCoreApplication::setOrganizationName(organisation);
    QCoreApplication::setApplicationName(application);
    return configuration;
}

int runTool(const QStringList &arguments)
{
    const CommandLine line = CommandLine::parse(arguments);
    if (!line.command()) {
        ToolOutput::writeOut(QByteArrayLiteral("morv-card " MORV_VERSION "\n"));
        return ExitSuccess;
    }
    MessageLog log(line.has(CommandTable::Verbose));
    // Read the first time a command needs them (a safety copy).
    std::unique_ptr<ConfigurationManager> configuration;
    CardTool tool(line, [&configuration]() -> const Settings & {
        if (!configuration)
            configuration = windowConfiguration();
        return *configuration;
    });
    return tool.run();
}

} // namespace

int main(int argc, char *argv[])
{
    FileNameCodec::install();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("morv-card"));

    QStringList arguments = QCoreApplication::arguments();
    arguments.removeFirst();
    // Known before the command line is understood, so that a usage error is answered as asked.
    const int given = CommandLine::optionsIn(arguments);
    const bool json = given & CommandTable::Json;
    ToolOutput::setVerbose(given & CommandTable::Verbose);

    int status = ExitSuccess;
    try {
        status = runTool(arguments);
    } catch (const ToolError &error) {
        return fail(error, json);
    } catch (const std::exception &error) {
        return fail(ToolError(QString::fromLocal8Bit(error.what())), json);
    }
    // What is still buffered must reach its file too: a full disk is a failure of the command.
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        ToolOutput::printError(QStringLiteral("cannot write to standard output"));
        return ExitFailure;
    }
    return status;
}
