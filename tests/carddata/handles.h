// Handles of the card data library that close themselves, opened by path.
#pragma once

#include "carddata/carddata.h"

#include <QFile>

#include <memory>

using CardPtr = std::unique_ptr<SdCardHandle, SdCardHandleCloser>;
using ArchivePtr = std::unique_ptr<ArchiveHandle, ArchiveHandleCloser>;

inline CardPtr openCard(const QString &path, int writable)
{
    return CardPtr(mlsdOpenSDCard(QFile::encodeName(path).constData(), writable));
}
// A new archive (`create`) replaces any file of that name.
inline ArchivePtr openArchive(const QString &path, int writable, int create = 0)
{
    if (create)
        QFile::remove(path);
    return ArchivePtr(mlsdOpenArchiveW(path.toStdWString().c_str(), writable, create));
}
