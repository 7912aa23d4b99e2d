// morv-card: the command-line librarian for Morv+ cards. Shows, checks, archives, restores,
// copies, renames and clears songs through the same objects and transfer worker as the window.
#include "cardtool.h"
#include "commandline.h"
#include "commandtable.h"
#include "messagelog.h"
#include "toolerror.h"
#include "tooloutput.h"

#include "domain/configurationmanager.h"

#include <QCoreApplication>
#include <QJsonObject>

#include <cstdio>
#include <exception>
#include <memory>

using namespace ZovaZode;

namespace {

// Asked for before the command line is understood, so that a usage error is answered in JSON too.
bool wantsJson(const QStringList &arguments)
{
    for (const QString &argument : arguments) {
        if (argument == QLatin1String("--"))
            return false;
        if (argument == QLatin1String("--json"))
            return true;
    }
    return false;
}

bool wantsVerbose(const QStringList &arguments)
{
    for (const QString &argument : arguments) {
        if (argument == QLatin1String("--"))
            return false;
        if (argument == QLatin1String("--verbose") || argument == QLatin1String("-v"))
            return true;
    }
    return false;
}

// The line on standard error, and for a script that asked for JSON one object on standard
// output as well, so that it always has an object to read.
int fail(const QString &message, int status, bool json)
{
    ToolOutput::printError(message);
    if (json) {
        try {
            ToolOutput::writeJson(QJsonObject{{QStringLiteral("error"), ToolOutput::libraryText(message)}});
        } catch (const ToolError &) {
            return ExitFailure;
        }
    }
    return status;
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
    if (line.version()) {
        ToolOutput::writeOut(QByteArrayLiteral("morv-card " MORV_VERSION "\n"));
        return ExitSuccess;
    }
    if (line.help()) {
        const CommandTable::CommandInfo *command = CommandTable::findCommand(line.command());
        ToolOutput::writeOut(
            (command ? CommandTable::commandHelp(*command) : CommandTable::usage()).toUtf8());
        return ExitSuccess;
    }
    MessageLog log(line.verbose());
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
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("morv-card"));

    QStringList arguments = QCoreApplication::arguments();
    arguments.removeFirst();
    const bool json = wantsJson(arguments);
    ToolOutput::setVerbose(wantsVerbose(arguments));

    int status = ExitSuccess;
    try {
        status = runTool(arguments);
    } catch (const ToolError &error) {
        return fail(error.message(), error.status(), json);
    } catch (const std::exception &error) {
        return fail(QString::fromLocal8Bit(error.what()), ExitFailure, json);
    }
    // What is still buffered must reach its file too: a full disk is a failure of the command.
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        ToolOutput::printError(QStringLiteral("cannot write to standard output"));
        return ExitFailure;
    }
    return status;
}
