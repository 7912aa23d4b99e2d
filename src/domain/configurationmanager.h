// ConfigurationManager: the one owner of the application's persistent settings (library folders,
// the last SD card location, the update manifest address and check, the safety copies). Start-up
// creates exactly one and hands it down as Settings; only the window's own code (app/) and
// morv-card's main reach it through instance(). It also versions the settings store and wipes
// stores written by an older layout.
#pragma once

#include "domain/safetycopies.h"
#include "domain/settings.h"

#include <QObject>
#include <QString>
#include <QUrl>

#include <exception>

class QSettings;

namespace ZovaZode {

class ConfigurationManager : public QObject, public Settings
{
    Q_OBJECT

public:
    // Raised when a second manager is constructed while one exists.
    class Error : public std::exception
    {
    public:
        const char *what() const noexcept override { return "configuration manager already exists"; }
    };

    static constexpr int SettingsVersion = 1;

    explicit ConfigurationManager(QObject *parent = nullptr);
    ~ConfigurationManager() override;

    static ConfigurationManager *instance();

    QString cardLibraryLocation() const override;
    QString songLibraryLocation() const override;
    QString sdCardLocation() const override;
    QUrl manifestUrl() const;

    void setCardLibraryLocation(const QString &location) override;
    void setSongLibraryLocation(const QString &location) override;
    void setSdCardLocation(const QString &location) override;
    void setManifestUrl(const QUrl &url);
    void resetManifestUrl();
    // Whether the window looks for a newer version as it opens; the menu command always can.
    bool checksForUpdatesAtStart() const;
    void setChecksForUpdatesAtStart(bool enabled);

    // Copies of what a destructive card operation overwrites, kept in the card library.
    bool safetyCopiesEnabled() const override;
    void setSafetyCopiesEnabled(bool enabled);
    int safetyCopyLimit() const override;
    void setSafetyCopyLimit(int limit);
    static constexpr int DefaultSafetyCopyLimit = SafetyCopies::DefaultLimit;

    bool writesEveryByte() const override;
    void setWritesEveryByte(bool enabled);

    // The card files opened last, newest first; at most RecentCardCount, files that are gone
    // left out.
    QStringList recentCards() const override;
    void addRecentCard(const QString &path) override;
    static constexpr int RecentCardCount = 5;

    static QString defaultCardLibraryLocation();
    static QString defaultSongLibraryLocation();
    static QUrl defaultManifestUrl();

private:
    QSettings *m_settings = nullptr;

    static ConfigurationManager *s_instance;
};

} // namespace ZovaZode
