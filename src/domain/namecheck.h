// The checks every name and description passes before it is written, with the texts the user
// sees: an in-place rename, the fields of a details dialog, and the name of a new library file.
// The window shows the texts in message boxes and questions, morv-card on its error output.
#pragma once

#include "domain/filekinds.h"

#include <QString>
#include <QStringList>

namespace ZovaZode {

// Empty when an in-place rename (the card's name, a card song, a library item) may write `name`;
// else why not: "The name is too long.\n\nPlease choose a different name." or "The name contains
// characters that are not permitted.\n\nPlease avoid punctuation.".
QString renameRefusal(const QString &name);

// What stops a details dialog from saving the name and description of a `thing` ("song", "card"
// or "archive"), e.g. "The song name is empty."; empty when nothing does.
QStringList detailProblems(const QString &thing, const QString &name, const QString &description);
// The box that lists them: "Please correct the following:\n" followed by "\n" and each problem.
QString correctionText(const QStringList &problems);

// The name of a new library file of `kind`, made from `name` in `folder`.
struct NewFileName
{
    bool passed = false;
    // When it did not pass: the question that asks for another name.
    QString message;
    // When it passed: the file it makes.
    QString targetPath;
};
NewFileName checkNewFileName(FileKind kind, const QString &name, const QString &folder);

} // namespace ZovaZode
