// The name checks and their texts.
#include "domain/namecheck.h"

#include "domain/cardrecords.h"
#include "domain/libraryfilenames.h"

#include <QDir>
#include <QFileInfo>

namespace ZovaZode {

QString renameRefusal(const QString &name)
{
    if (!isValidCardName(name))
        return QStringLiteral("The name is too long.\n\nPlease choose a different name.");
    if (!hasNoForbiddenCharacters(name))
        return QStringLiteral(
            "The name contains characters that are not permitted.\n\nPlease avoid punctuation.");
    return QString();
}

QStringList detailProblems(const QString &thing, const QString &name, const QString &description)
{
    QStringList problems;
    if (name.isEmpty())
        problems << QStringLiteral("The %1 name is empty.").arg(thing);
    if (!isValidCardName(name))
        problems << QStringLiteral("The %1 name is too long.").arg(thing);
    if (!hasNoForbiddenCharacters(name))
        problems << QStringLiteral("The %1 name contains characters that are not permitted. Please avoid "
                                   "punctuation.")
                        .arg(thing);
    if (!isValidCardDescription(description))
        problems << QStringLiteral("The %1 description is too long.").arg(thing);
    return problems;
}

QString correctionText(const QStringList &problems)
{
    QString text = QStringLiteral("Please correct the following:\n");
    for (const QString &problem : problems)
        text += QLatin1Char('\n') + problem;
    return text;
}

NewFileName checkNewFileName(FileKind kind, const QString &name, const QString &folder)
{
    const bool archive = kind == FileKind::CardArchive;
    const QString thing = archive ? QStringLiteral("archive") : QStringLiteral("song");
    NewFileName check;
    if (!isValidCardName(name)) {
        check.message =
            QStringLiteral("This %1 name is too long.\n\nPlease enter a shorter name:").arg(thing);
        return check;
    }
    if (!hasNoForbiddenCharacters(name)) {
        check.message =
            QStringLiteral("This %1 name contains characters that are not permitted.\n\nPlease enter "
                           "a different name and avoid punctuation:")
                .arg(thing);
        return check;
    }
    const QString fileName = archive ? archiveFileName(name) : songFileName(name);
    const QString target = QDir(folder).filePath(fileName);
    if (QFileInfo::exists(target) || QFileInfo(target).isSymLink()) {
        check.message =
            QStringLiteral("A file named \"%1\" already exists in this %2 library folder.\n\nPlease "
                           "enter a different name for the new %3:")
                .arg(fileName, archive ? QStringLiteral("card") : QStringLiteral("song"), thing);
        return check;
    }
    check.passed = true;
    check.targetPath = target;
    return check;
}

} // namespace ZovaZode
