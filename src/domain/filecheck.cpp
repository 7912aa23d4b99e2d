// FileCheck: the card data library's record checker, in Qt types.
#include "domain/filecheck.h"

#include "carddata/carddata.h"
#include "carddata/verify.h"
#include "domain/error.h"

#include <QFile>

namespace ZovaZode {

FileCheck FileCheck::records(const QString &path)
{
    VerifyReport report;
    if (mlsdVerifyFile(QFile::encodeName(path).constData(), &report) != 0)
        throw Error(mlsdGetErrorString());
    FileCheck check;
    switch (report.kind) {
    case VerifyKind::Unknown:
        check.kind = Kind::Unknown;
        break;
    case VerifyKind::Card:
        check.kind = Kind::Card;
        break;
    case VerifyKind::CardArchive:
        check.kind = Kind::CardArchive;
        break;
    case VerifyKind::SongFile:
        check.kind = Kind::SongFile;
        break;
    case VerifyKind::Archive:
        check.kind = Kind::Archive;
        break;
    }
    for (const VerifyProblem &problem : report.problems)
        check.problems.append({QString::fromStdString(problem.where), QString::fromStdString(problem.what)});
    return check;
}

FileCheck FileCheck::run(const QString &path)
{
    FileCheck check = records(path);
    if (!check.isArchive())
        return check;
    check.record = SumFile::check(path, true);
    if (check.record.state != SumFile::State::Changed)
        return check;
    const QString changed = SumFile::Check{SumFile::State::Changed, check.record.made, {}}.text();
    for (int song : check.record.songs)
        check.problems.append({QStringLiteral("song %1").arg(song), changed});
    if (check.record.songs.isEmpty())
        check.problems.append({QStringLiteral("the file"), changed});
    return check;
}

} // namespace ZovaZode
