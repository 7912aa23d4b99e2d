// ToolOutput: standard output and error of morv-card.
#include "tooloutput.h"

#include "domain/filenamecodec.h"
#include "toolerror.h"

#include "domain/error.h"

#include <QJsonDocument>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace ZovaZode {
namespace ToolOutput {

namespace {

bool g_verbose = false;

} // namespace

void setVerbose(bool verbose)
{
    g_verbose = verbose;
}

void writeOut(const QByteArray &bytes)
{
    errno = 0;
    const bool written =
        std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout) == size_t(bytes.size());
    if (!written || std::fflush(stdout) != 0) {
        const int error = errno;
        // Whatever is left in the buffer would fail again when the program ends.
        std::clearerr(stdout);
        throw ToolError(QStringLiteral("cannot write to standard output: %1")
                            .arg(QString::fromLocal8Bit(std::strerror(error ? error : EIO))));
    }
}

void writeJson(QJsonObject object)
{
    object.insert(QStringLiteral("schema"), kJsonSchema);
    writeOut(QJsonDocument(object).toJson(QJsonDocument::Indented));
}

QJsonObject merged(QJsonObject object, const QJsonObject &more)
{
    for (auto field = more.begin(); field != more.end(); ++field)
        object.insert(field.key(), field.value());
    return object;
}

void printError(const QString &message)
{
    // File names and texts from the card are in it: escaped, as a name is, so that a newline or
    // an escape sequence in them cannot forge a line or drive the terminal.
    const QByteArray line = "morv-card: " + printable(libraryText(message)).toUtf8() + '\n';
    std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
    std::fflush(stderr);
}

void printWarnings(const QStringList &warnings)
{
    for (const QString &warning : warnings) {
        const QByteArray line = "morv-card: warning: " + printable(libraryText(warning)).toUtf8() + '\n';
        std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
    }
    std::fflush(stderr);
}

QString libraryText(const QString &text)
{
    return g_verbose ? text : userText(text);
}

QString libraryText(const char *text)
{
    return libraryText(QString::fromLocal8Bit(text));
}

QString quoted(const QString &text)
{
    return QLatin1Char('"') + printable(text) + QLatin1Char('"');
}

} // namespace ToolOutput
} // namespace ZovaZode
