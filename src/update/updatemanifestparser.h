// UpdateManifestParser: the event-driven XML handler that turns a downloaded update manifest into
// a table of product code -> components (firmware, content, desktop applications) with version,
// release date, download address and, once the update manager has asked the server, size.
//
// It plugs into QXmlSimpleReader, which Qt 5.15 marks deprecated; the warnings are silenced here
// and where the reader is used, because the handler interface is what the manifest code is built on.
#pragma once

#include <QList>
#include <QMap>
#include <QStack>
#include <QString>
#include <QUrl>
#include <QXmlDefaultHandler>

namespace ZovaZode {

QT_WARNING_PUSH
QT_WARNING_DISABLE_DEPRECATED

class UpdateManifestParser : public QXmlDefaultHandler
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

    bool startDocument() override;
    bool endDocument() override;
    bool startElement(const QString &namespaceURI, const QString &localName, const QString &qName,
                      const QXmlAttributes &attributes) override;
    bool endElement(const QString &namespaceURI, const QString &localName, const QString &qName) override;

    const ComponentTable &componentTable() const { return m_table; }
    ComponentTable &componentTable() { return m_table; }
    // Every component of every product, products in ascending code order, each in manifest order.
    QList<Component> allComponents() const;
    QList<Component> components(int productCode) const;

    // Empties the component table and the state stack, ready for the next manifest.
    void reset();

    static QString kindName(int kind);

private:
    bool addComponent(const QXmlAttributes &attributes);

    QStack<ParseState> m_states;
    int m_product = ProductMorv;
    ComponentTable m_table;
};

QT_WARNING_POP

} // namespace ZovaZode
