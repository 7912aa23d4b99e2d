// SafetyCopies: naming, folder and pruning of the safety copies.
//
// Names carry the date and time to the second so that they sort and read in order; two copies
// in the same second get " (2)", " (3)"... rather than replacing one another.
#include "domain/safetycopies.h"

#include "domain/cardrecords.h"
#include "domain/defaultnames.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>

namespace ZovaZode {

namespace {

QString cardPart(const QString &cardName)
{
    const QString name = removeForbiddenCharacters(cardName).trimmed();
    return name.isEmpty() ? removeForbiddenCharacters(defaultCardName()) : name;
}

QString stamp(const QDateTime &when)
{
    return when.toString(QStringLiteral("yyyy-MM-dd HH.mm.ss"));
}

QString freePath(const QString &folder, const QString &base, const QString &suffix)
{
    QString path = folder + QLatin1Char('/') + base + suffix;
    for (int n = 2; QFileInfo::exists(path) || QFileInfo(path).isSymLink(); ++n)
        path = folder + QLatin1Char('/') + base + QStringLiteral(" (%1)").arg(n) + suffix;
    return path;
}

} // namespace

QString SafetyCopies::folder(const QString &cardLibrary)
{
    return cardLibrary + QStringLiteral("/Safety Copies");
}

QString SafetyCopies::cardCopyPath(const QString &cardLibrary, const QString &cardName, const QString &what,
                                   const QDateTime &when)
{
    const QString base = cardPart(cardName) + QStringLiteral(" - ") + removeForbiddenCharacters(what) +
                         QStringLiteral(" - ") + stamp(when);
    return freePath(folder(cardLibrary), base, QStringLiteral(".mlad"));
}

QString SafetyCopies::songCopyPath(const QString &cardLibrary, const QString &cardName, int slot,
                                   const QString &songName, const QString &what, const QDateTime &when)
{
    QString song = QStringLiteral("song %1").arg(slot + 1, 2, 10, QLatin1Char('0'));
    const QString name = removeForbiddenCharacters(songName).trimmed();
    if (!name.isEmpty())
        song += QLatin1Char(' ') + name;
    const QString base = cardPart(cardName) + QStringLiteral(" - ") + song + QStringLiteral(" - ") +
                         removeForbiddenCharacters(what) + QStringLiteral(" - ") + stamp(when);
    return freePath(folder(cardLibrary), base, QStringLiteral(".mlsd"));
}

bool SafetyCopies::ensureFolder(const QString &cardLibrary, QString *error)
{
    const QString path = folder(cardLibrary);
    const QFileInfo info(path);
    if (info.isDir())
        return true;
    if (info.exists()) {
        if (error)
            *error = QStringLiteral("%1 exists but is not a folder.").arg(QDir::toNativeSeparators(path));
        return false;
    }
    if (!QDir().mkpath(path)) {
        if (error)
            *error = QStringLiteral("Could not create the folder %1.").arg(QDir::toNativeSeparators(path));
        return false;
    }
    return true;
}

int SafetyCopies::prune(const QString &cardLibrary, int keep)
{
    if (keep < 0)
        keep = 0;
    QDir dir(folder(cardLibrary));
    if (!dir.exists())
        return 0;
    QFileInfoList copies = dir.entryInfoList({QStringLiteral("*.mlad"), QStringLiteral("*.mlsd")},
                                             QDir::Files | QDir::NoSymLinks);
    if (copies.size() <= keep)
        return 0;
    // Newest first; copies made in the same second fall back to their names, which carry the
    // time and the " (n)" counter.
    std::sort(copies.begin(), copies.end(), [](const QFileInfo &a, const QFileInfo &b) {
        const QDateTime ta = a.lastModified();
        const QDateTime tb = b.lastModified();
        if (ta != tb)
            return ta > tb;
        return a.fileName() > b.fileName();
    });
    int removed = 0;
    for (int i = keep; i < copies.size(); ++i) {
        if (QFile::remove(copies.at(i).absoluteFilePath()))
            ++removed;
    }
    return removed;
}

} // namespace ZovaZode
