// The settings store behind ConfigurationManager: the native per-user store of "Selkanor" /
// "Morv Manager". Getters fall back to defaults without writing them back, so a store only ever
// holds what the user chose (plus the layout version).
#include "domain/configurationmanager.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <QVariant>
#include <QtDebug>

namespace ZovaZode {

namespace {

const QString CardLibraryKey = QStringLiteral("card_library/location");
const QString SongLibraryKey = QStringLiteral("song_library/location");
const QString SdCardKey = QStringLiteral("sd_card/location");
const QString RecentCardsKey = QStringLiteral("sd_card/recent");
const QString ManifestUrlKey = QStringLiteral("update/manifest-url");
const QString UpdateAtStartKey = QStringLiteral("update/check-at-start");
const QString SafetyCopiesEnabledKey = QStringLiteral("safety_copies/enabled");
const QString SafetyCopyLimitKey = QStringLiteral("safety_copies/limit");
const QString WriteEveryByteKey = QStringLiteral("transfer/write-every-byte");
const QString VersionKey = QStringLiteral("version");

QString documentsFolderJoined(const QString &folderName)
{
    return QDir(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation)).filePath(folderName);
}

} // namespace

ConfigurationManager *ConfigurationManager::s_instance = nullptr;

ConfigurationManager::ConfigurationManager(QObject *parent) : QObject(parent)
{
    if (s_instance)
        throw Error();
    s_instance = this;

    m_settings = new QSettings(this);
    qDebug() << "Configuration manager: current version:" << SettingsVersion;
    const int existingVersion = m_settings->value(VersionKey, 0).toInt();
    qDebug() << "Configuration manager: existing version:" << existingVersion;
    // Stores from before the layout was versioned used other keys and meanings; nothing in them
    // can be trusted, so they start over.
    if (existingVersion < SettingsVersion)
        m_settings->clear();
    m_settings->setValue(VersionKey, SettingsVersion);
}

ConfigurationManager::~ConfigurationManager()
{
    if (s_instance == this)
        s_instance = nullptr;
}

ConfigurationManager *ConfigurationManager::instance()
{
    return s_instance;
}

QString ConfigurationManager::cardLibraryLocation() const
{
    const QString location = m_settings->value(CardLibraryKey).toString();
    return location.isEmpty() ? defaultCardLibraryLocation() : location;
}

QString ConfigurationManager::songLibraryLocation() const
{
    const QString location = m_settings->value(SongLibraryKey).toString();
    return location.isEmpty() ? defaultSongLibraryLocation() : location;
}

QString ConfigurationManager::sdCardLocation() const
{
    return m_settings->value(SdCardKey).toString();
}

QUrl ConfigurationManager::manifestUrl() const
{
    const QUrl url = m_settings->value(ManifestUrlKey).toUrl();
    return url.isEmpty() ? defaultManifestUrl() : url;
}

void ConfigurationManager::setCardLibraryLocation(const QString &location)
{
    m_settings->setValue(CardLibraryKey, location);
}

void ConfigurationManager::setSongLibraryLocation(const QString &location)
{
    m_settings->setValue(SongLibraryKey, location);
}

void ConfigurationManager::setSdCardLocation(const QString &location)
{
    m_settings->setValue(SdCardKey, location);
}

void ConfigurationManager::setManifestUrl(const QUrl &url)
{
    m_settings->setValue(ManifestUrlKey, url);
}

void ConfigurationManager::resetManifestUrl()
{
    m_settings->remove(ManifestUrlKey);
}

bool ConfigurationManager::checksForUpdatesAtStart() const
{
    return m_settings->value(UpdateAtStartKey, true).toBool();
}

void ConfigurationManager::setChecksForUpdatesAtStart(bool enabled)
{
    m_settings->setValue(UpdateAtStartKey, enabled);
}

QString ConfigurationManager::defaultCardLibraryLocation()
{
    return documentsFolderJoined(QStringLiteral("Morv+ Card Library"));
}

QString ConfigurationManager::defaultSongLibraryLocation()
{
    return documentsFolderJoined(QStringLiteral("Morv+ Song Library"));
}

QUrl ConfigurationManager::defaultManifestUrl()
{
    return QUrl(QStringLiteral("https://downloads.selkanor.com/morv-manager/update-manifest.xml"),
                QUrl::TolerantMode);
}

bool ConfigurationManager::safetyCopiesEnabled() const
{
    return m_settings->value(SafetyCopiesEnabledKey, true).toBool();
}

void ConfigurationManager::setSafetyCopiesEnabled(bool enabled)
{
    m_settings->setValue(SafetyCopiesEnabledKey, enabled);
}

bool ConfigurationManager::writesEveryByte() const
{
    return m_settings->value(WriteEveryByteKey, false).toBool();
}

void ConfigurationManager::setWritesEveryByte(bool enabled)
{
    m_settings->setValue(WriteEveryByteKey, enabled);
}

QStringList ConfigurationManager::recentCards() const
{
    QStringList cards;
    for (const QString &path : m_settings->value(RecentCardsKey).toStringList()) {
        if (QFileInfo(path).isFile() && !cards.contains(path) && cards.size() < RecentCardCount)
            cards << path;
    }
    return cards;
}

void ConfigurationManager::addRecentCard(const QString &path)
{
    QStringList cards = recentCards();
    cards.removeAll(path);
    cards.prepend(path);
    m_settings->setValue(RecentCardsKey, QStringList(cards.mid(0, RecentCardCount)));
}

int ConfigurationManager::safetyCopyLimit() const
{
    bool ok = false;
    const int limit = m_settings->value(SafetyCopyLimitKey, DefaultSafetyCopyLimit).toInt(&ok);
    // Keeping none would prune the copy just made before anyone could restore it.
    return ok && limit >= 1 ? limit : DefaultSafetyCopyLimit;
}

void ConfigurationManager::setSafetyCopyLimit(int limit)
{
    m_settings->setValue(SafetyCopyLimitKey, limit);
}

} // namespace ZovaZode
