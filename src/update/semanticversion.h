// SemanticVersion: the version value with which the application compares itself with the versions
// announced in the update manifest. Parsing is lenient about what follows the digits of a number
// (1.2.3rc and 1.2.3+build.5 both read as 1.2.3) but strict about the number of parts; ordering
// follows the semantic-versioning precedence rules.
#pragma once

#include <QByteArray>
#include <QString>
#include <QVector>

#include <exception>

namespace ZovaZode {

class SemanticVersion
{
public:
    // Raised by the parsing constructor for any malformed text.
    class error : public std::exception
    {
    public:
        const char *what() const noexcept override { return "malformed semantic version"; }
    };

    struct Identifier
    {
        bool numeric = false;
        qint32 number = 0;
        QByteArray text;
    };

    SemanticVersion() = default;
    explicit SemanticVersion(const QString &text);

    qint32 major() const { return m_major; }
    qint32 minor() const { return m_minor; }
    qint32 patch() const { return m_patch; }
    const QVector<Identifier> &identifiers() const { return m_identifiers; }

    bool operator<(const SemanticVersion &other) const;

    QString toString() const;

private:
    qint32 m_major = 0;
    qint32 m_minor = 0;
    qint32 m_patch = 0;
    QVector<Identifier> m_identifiers;
};

} // namespace ZovaZode
