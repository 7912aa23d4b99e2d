// What the domain tests share: the text of the error an operation throws, and files the user
// cannot write.
#pragma once

#include "domain/error.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QString>

#include <functional>

#include <unistd.h>

namespace ZovaZode {

// The text of the domain error `operation` throws; empty when it throws none.
inline QString errorOf(const std::function<void()> &operation)
{
    try {
        operation();
    } catch (const Error &error) {
        return QString::fromUtf8(error.what());
    }
    return QString();
}

// Makes a file or folder read-only (`on`) or writable again; false when that cannot be done here.
// Root writes through permission bits; only the immutable flag stops it.
inline bool writeProtect(const QString &path, bool on)
{
    if (geteuid() == 0)
        return QProcess::execute(QStringLiteral("chattr"), {on ? QStringLiteral("+i") : QStringLiteral("-i"), path}) == 0;
    const QFileDevice::Permissions folder = QFileInfo(path).isDir() ? QFileDevice::ExeOwner : QFileDevice::Permissions();
    return QFile::setPermissions(path, QFileDevice::ReadOwner | folder | (on ? QFileDevice::Permissions() : QFileDevice::WriteOwner));
}

} // namespace ZovaZode
