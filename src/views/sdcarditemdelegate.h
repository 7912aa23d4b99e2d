// Paints one card song row as a dark bar: the slot number, coloured dots for the five part
// states and the song name, and places the name editor over the name area.
#pragma once

#include <QStyledItemDelegate>

namespace ZovaZode {

class SdCardItemDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    // The three areas of a row, in the row's own coordinates.
    struct RowGeometry
    {
        QRect numberArea;
        QRect partStateArea;
        QRect nameArea;
    };

    explicit SdCardItemDelegate(QObject *parent = nullptr);

    static RowGeometry rowGeometry(const QRect &row, const QFontMetrics &metrics);

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    void updateEditorGeometry(QWidget *editor, const QStyleOptionViewItem &option,
                              const QModelIndex &index) const override;
};

} // namespace ZovaZode
