// morv-card: the command-line librarian for Morv+ cards. Shows, checks, archives, restores,
// copies, renames and clears songs through the same objects and transfer worker as the window.
#include "cardtool.h"
#include "commandline.h"
#include "messagelog.h"
#include "toolerror.h"

#include <QCoreApplication>

#include <cstdio>
#include <exception>

using namespace ZovaZode;

namespace {

void printError(const QString &message)
{
    const QByteArray line = "morv-card: " + message.toUtf8() + '\n';
    std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
    std::fflush(stderr);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("morv-card"));

    QStringList arguments = QCoreApplication::arguments();
    arguments.removeFirst();

    try {
        const CommandLine line = CommandLine::parse(arguments);
        if (line.help()) {
            const QByteArray text = CommandLine::usage().toUtf8();
            std::fwrite(text.constData(), 1, size_t(text.size()), stdout);
            return ExitSuccess;
        }
        MessageLog log(line.verbose());
        CardTool tool(line);
        return tool.run();
    } catch (const ToolError &error) {
        printError(error.message());
        return error.status();
    } catch (const std::exception &error) {
        printError(QString::fromLocal8Bit(error.what()));
        return ExitFailure;
    }
}
