// Paints one card song row as a dark bar: the slot number, a dot for each of the five part states
// and the song name, and places the name editor over the name area. A dot says its state by a
// letter (an empty part is a hollow ring) as well as by its colour, and its tool tip names it.
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

    // State 0 empty, 1 normal, 2 intense, 3 looper; anything else shows as empty.
    static QColor partStateColour(int state);
    static QString partStateLetter(int state);
    static QString partStateName(int state);
    // The part (0 to 4) whose dot lies under the point of the row, or -1.
    static int partAt(const QRect &row, const QFontMetrics &metrics, const QPoint &point);

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    void updateEditorGeometry(QWidget *editor, const QStyleOptionViewItem &option,
                              const QModelIndex &index) const override;
    bool helpEvent(QHelpEvent *event, QAbstractItemView *view, const QStyleOptionViewItem &option,
                   const QModelIndex &index) override;
};

} // namespace ZovaZode
