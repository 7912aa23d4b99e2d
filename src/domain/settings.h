// Settings: what the window and morv-card read of the user's settings, and what the window
// stores there: the library folders, the card files opened last and the safety copies. The
// program's entry points own the store (ConfigurationManager) and hand it down as this
// interface, so that nothing below them reaches for a global or depends on where the values live.
#pragma once

#include <QString>
#include <QStringList>

namespace ZovaZode {

class Settings
{
public:
    virtual ~Settings() = default;

    virtual QString cardLibraryLocation() const = 0;
    virtual QString songLibraryLocation() const = 0;
    virtual void setCardLibraryLocation(const QString &location) = 0;
    virtual void setSongLibraryLocation(const QString &location) = 0;

    // The card file opened last, and the few before it, newest first.
    virtual QString sdCardLocation() const = 0;
    virtual void setSdCardLocation(const QString &location) = 0;
    virtual QStringList recentCards() const = 0;
    virtual void addRecentCard(const QString &path) = 0;

    // Copies of what a destructive card operation overwrites, kept in the card library.
    virtual bool safetyCopiesEnabled() const = 0;
    virtual int safetyCopyLimit() const = 0;

    // Whether a restore writes every byte of the archive, as before, instead of only the bytes
    // the card does not hold already.
    virtual bool writesEveryByte() const = 0;
};

} // namespace ZovaZode
