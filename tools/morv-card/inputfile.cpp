// InputFile: the system's word on a file before the card data library sees it.
#include "inputfile.h"

#include "domain/sdcard.h"
#include "toolerror.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ZovaZode {
namespace InputFile {

namespace {

QString described(const QString &path, Role role)
{
    switch (role) {
    case Role::Any:
        break;
    case Role::Card:
        return QStringLiteral("the card ") + path;
    case Role::Archive:
        return QStringLiteral("the archive ") + path;
    case Role::SongFile:
        return QStringLiteral("the song file ") + path;
    }
    return path;
}

QString systemReason(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

} // namespace

QByteArray requireReadable(const QString &path, Role role)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        if (error == EISDIR)
            throw ToolError(QStringLiteral("%1 is a directory").arg(path));
        throw ToolError(QStringLiteral("cannot open %1: %2").arg(described(path, role), systemReason(error)));
    }
    struct stat info;
    char bytes[4] = {};
    ssize_t got = 0;
    const bool statted = ::fstat(fd, &info) == 0;
    const bool regular = statted && S_ISREG(info.st_mode);
    if (regular)
        got = ::read(fd, bytes, sizeof bytes);
    ::close(fd);
    if (statted && S_ISDIR(info.st_mode))
        throw ToolError(QStringLiteral("%1 is a directory").arg(path));
    if (!regular)
        throw ToolError(QStringLiteral("cannot read %1: not a regular file").arg(described(path, role)));
    return QByteArray(bytes, got > 0 ? int(got) : 0);
}

void refuseExisting(const QString &path)
{
    const QFileInfo file(path);
    if (file.isDir() && !file.isSymLink())
        throw ToolError(QStringLiteral("%1 is a directory; give the name of the new file").arg(path));
    if (file.exists() || file.isSymLink())
        throw ToolError(QStringLiteral("%1 already exists; it is not replaced").arg(path));
}

void requireWritable(const QString &cardPath)
{
    if (::access(QFile::encodeName(cardPath).constData(), W_OK) != 0)
        throw ToolError(QStringLiteral("cannot write the card %1: %2").arg(cardPath, systemReason(errno)));
}

std::shared_ptr<SdCard> openCard(const QString &path, bool forWriting)
{
    requireReadable(path, Role::Card);
    auto card = std::make_shared<SdCard>();
    if (!card->open(path, 0))
        throw ToolError(QStringLiteral("cannot open the card %1: %2").arg(path, card->openError()));
    if (!forWriting)
        return card;
    card->close();
    requireWritable(path);
    if (!card->open(path, 1))
        throw ToolError(
            QStringLiteral("cannot open the card %1 for writing: %2").arg(path, card->openError()));
    return card;
}

std::unique_ptr<CardLock> lockCard(const QString &path, CardLock::Mode mode)
{
    try {
        return std::make_unique<CardLock>(path, mode);
    } catch (const SdCard::Busy &busy) {
        throw ToolError(lockRefusal(QString::fromLocal8Bit(busy.what())));
    }
}

std::shared_ptr<CardLock> lockForCommand(const QString &path)
{
    try {
        return CardLock::forCommand(path);
    } catch (const SdCard::Busy &busy) {
        throw ToolError(lockRefusal(QString::fromLocal8Bit(busy.what())));
    }
}

QString lockRefusal(const QString &text)
{
    if (!text.startsWith(QLatin1String(CardLock::UnlockablePrefix)))
        return text;
    return text + QStringLiteral(" --no-lock writes it all the same.");
}

QString songName(const SdCard &card, int song)
{
    try {
        return card.songInfo(song).name;
    } catch (const SdCard::Error &error) {
        throw ToolError(QStringLiteral("cannot read song %1: %2")
                            .arg(song + 1)
                            .arg(QString::fromLocal8Bit(error.what())));
    }
}

bool songHasData(const SdCard &card, int song)
{
    try {
        for (int part = 0; part < 5; ++part) {
            if (card.partInfo(song, part).hasData)
                return true;
        }
    } catch (const SdCard::Error &error) {
        throw ToolError(QStringLiteral("cannot read song %1: %2")
                            .arg(song + 1)
                            .arg(QString::fromLocal8Bit(error.what())));
    }
    return false;
}

} // namespace InputFile
} // namespace ZovaZode
