// What morv-card prints, and how: results on standard output (whose failure is an error of the
// command, as a full disk must not pass for success), messages on standard error, JSON objects
// with their schema number, and texts of the card data library in words for people.
#pragma once

#include <QJsonObject>
#include <QString>
#include <QStringList>

namespace ZovaZode {
namespace ToolOutput {

// The shape of every JSON object the tool prints; raised when a field changes meaning or goes.
constexpr int kJsonSchema = 1;

// Chooses what errors show: the card data library's function names only with --verbose.
void setVerbose(bool verbose);

// Throws ToolError when standard output cannot take the bytes.
void writeOut(const QByteArray &bytes);
// `object` with "schema" added, indented.
void writeJson(QJsonObject object);
// `object` with the fields of `more` added, or replaced.
QJsonObject merged(QJsonObject object, const QJsonObject &more);
// "morv-card: " + message on standard error, library function names removed unless verbose,
// control and reordering characters escaped (see printable()).
void printError(const QString &message);
// One "morv-card: warning: ..." line each; they go out even with --quiet or --json, as they are
// about the user's data.
void printWarnings(const QStringList &warnings);

// A text of the card data library or the domain, for people: "mlsdOpenSDCard: " and the like
// are dropped unless verbose.
QString libraryText(const QString &text);
QString libraryText(const char *text);

// A name for a terminal, in double quotes: control characters escaped (see printable()).
QString quoted(const QString &text);

} // namespace ToolOutput
} // namespace ZovaZode
