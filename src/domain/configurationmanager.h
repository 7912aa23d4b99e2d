// ConfigurationManager: the one owner of the application's persistent settings (library folders,
// the last SD card location, the update manifest address and check, the safety copies). Start-up
// creates exactly one; everyone else reaches it through instance(). It also versions the settings
// store and wipes stores written by an older layout.
#pragma once

#include <QObject>
#include <QString>
#include <QUrl>

#include <exception>

class QSettings;

namespace ZovaZode {

class ConfigurationManager : public QObject
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

    QString cardLibraryLocation() const;
    QString songLibraryLocation() const;
    QString sdCardLocation() const;
    QUrl manifestUrl() const;

    void setCardLibraryLocation(const QString &location);
    void setSongLibraryLocation(const QString &location);
    void setSdCardLocation(const QString &location);
    void setManifestUrl(const QUrl &url);
    void resetManifestUrl();
    // Whether the window looks for a newer version as it opens; the menu command always can.
    bool checksForUpdatesAtStart() const;
    void setChecksForUpdatesAtStart(bool enabled);

    // Copies of what a destructive card operation overwrites, kept in the card library.
    bool safetyCopiesEnabled() const;
    void setSafetyCopiesEnabled(bool enabled);
    int safetyCopyLimit() const;
    void setSafetyCopyLimit(int limit);
    static constexpr int DefaultSafetyCopyLimit = 20;

    // Whether a restore writes every byte of the archive, as before, instead of only the bytes
    // the card does not hold already.
    bool writesEveryByte() const;
    void setWritesEveryByte(bool enabled);

    // The card files opened last, newest first; at most RecentCardCount, files that are gone
    // left out.
    QStringList recentCards() const;
    void addRecentCard(const QString &path);
    static constexpr int RecentCardCount = 5;

    static QString defaultCardLibraryLocation();
    static QString defaultSongLibraryLocation();
    static QUrl defaultManifestUrl();

private:
    QSettings *m_settings = nullptr;

    static ConfigurationManager *s_instance;
};

} // namespace ZovaZode
