// UpdateManifestParser: turns a downloaded update manifest into a table of product code ->
// components (firmware, content, desktop applications) with version, release date, download
// address and, once the update manager has asked the server, size.
//
// The manifest comes from the network, so the parser bounds what it keeps and the work it does:
// it reads with QXmlStreamReader (no recursion) and refuses elements nested more than
// MaximumDepth deep, more than MaximumComponents components, a tag, text or comment longer than
// MaximumTokenBytes, a document type declaration (and with it every entity but XML's own), and
// any component address that allowedAddress() refuses. The worst megabyte found so far (4 KiB
// tags full of attributes) takes it about half a second.
#pragma once

#include <QList>
#include <QMap>
#include <QStack>
#include <QString>
#include <QUrl>

class QIODevice;
class QXmlStreamAttributes;

namespace ZovaZode {

class UpdateManifestParser
{
public:
    enum ProductCode { ProductMorv = 0, ProductMorvPlus = 1, ProductMorvUpdater = 2, ProductMorvManager = 3 };

    enum ComponentKind {
        KindMcuFirmware = 0,
        KindDspFirmware = 1,
        KindStyles = 2,
        KindEnsembleAudio = 3,
        KindWindowsApplication = 4,
        KindMacApplication = 5
    };

    enum class ParseState { Root = 0, Family = 1, Product = 2, Components = 3, Ignore = 4 };

    struct Component
    {
        qint32 kind = 0;
        QUrl address;
        QString version;
        QString releaseDate;
        qint64 size = 0;
    };

    using ComponentTable = QMap<int, QList<Component>>;

    static constexpr int MaximumDepth = 32;
    static constexpr int MaximumComponents = 64;
    static constexpr int MaximumTokenBytes = 4096;

    // Reads a whole manifest into the table, replacing what was there. False when the manifest
    // is malformed or refused: the table is then empty and errorString() says why, in one line
    // (it is empty exactly when the last parse succeeded). A parse on a thread whose
    // interruption is requested stops at the next tag.
    bool parse(QIODevice *device);
    bool parse(const QByteArray &bytes);
    QString errorString() const { return m_error; }

    const ComponentTable &componentTable() const { return m_table; }
    ComponentTable &componentTable() { return m_table; }
    // Every component of every product, products in ascending code order, each in manifest order.
    QList<Component> allComponents() const;
    QList<Component> components(int productCode) const;

    // Empties the component table and the state stack, ready for the next manifest.
    void reset();

    static QString kindName(int kind);

    // The only addresses the update check asks anything of: https, or http to a loopback address
    // (a server on this computer). Everything else (file:, ftp:, custom schemes) is refused
    // before anything is opened.
    static bool allowedAddress(const QUrl &url);

private:
    QString startElement(const QString &name, const QXmlStreamAttributes &attributes);
    QString addComponent(const QXmlStreamAttributes &attributes);

    QStack<ParseState> m_states;
    int m_product = ProductMorv;
    int m_componentCount = 0;
    ComponentTable m_table;
    QString m_error;
};

} // namespace ZovaZode
