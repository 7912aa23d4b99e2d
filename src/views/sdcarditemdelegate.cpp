// SdCardItemDelegate: the row painter of the card songs and of an archive's song list.
#include "views/sdcarditemdelegate.h"

#include "models/songlistmodel.h"

#include <QPainter>
#include <QStyle>

namespace ZovaZode {

namespace {

constexpr int kInset = 4;
constexpr int kLeftMargin = 10;
constexpr int kGap = 10;
constexpr int kPartStateWidth = 80;
constexpr int kRightMargin = 20;
constexpr int kDotSize = 10;
constexpr int kDotPitch = 16;
constexpr int kSizeHintPadding = 8;
constexpr int kEditorWidening = 5;

const QColor kNumberBackground(30, 30, 30);
const QColor kHighlight(190, 76, 53);
const QColor kHover(70, 70, 70);
const QColor kNormal(90, 90, 90);
const QColor kUnnamed(200, 200, 200);

QColor partStateColour(int state)
{
    switch (state) {
    case 1:
        return QColor(0, 255, 0);
    case 2:
        return QColor(255, 0, 0);
    case 3:
        return QColor(255, 240, 0);
    default:
        return QColor(150, 150, 150);
    }
}

QColor rowColour(QStyle::State state)
{
    if (state & QStyle::State_Selected) {
        if (state & (QStyle::State_HasFocus | QStyle::State_Editing))
            return kHighlight;
        return kHighlight.darker(170);
    }
    if (state & QStyle::State_MouseOver)
        return kHover;
    return kNormal;
}

} // namespace

SdCardItemDelegate::SdCardItemDelegate(QObject *parent) : QStyledItemDelegate(parent) {}

SdCardItemDelegate::RowGeometry SdCardItemDelegate::rowGeometry(const QRect &row, const QFontMetrics &metrics)
{
    const QRect inset = row.adjusted(0, kInset, 0, -kInset);
    RowGeometry geometry;
    geometry.numberArea = QRect(row.x() + kLeftMargin, inset.y(),
                                metrics.horizontalAdvance(QStringLiteral("99")) + kGap, inset.height());
    const int partStateLeft = geometry.numberArea.x() + geometry.numberArea.width() + kGap;
    geometry.partStateArea = QRect(partStateLeft, inset.y(), kPartStateWidth, inset.height());
    const int nameLeft = partStateLeft + kPartStateWidth + kGap;
    const int nameRight = row.x() + row.width() - kRightMargin;
    geometry.nameArea = QRect(nameLeft, inset.y(), qMax(0, nameRight - nameLeft), inset.height());
    return geometry;
}

void SdCardItemDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option,
                               const QModelIndex &index) const
{
    const QRect row = option.rect;
    const RowGeometry geometry = rowGeometry(row, option.fontMetrics);

    painter->save();
    painter->setFont(option.font);
    painter->setPen(Qt::NoPen);

    painter->fillRect(geometry.numberArea, kNumberBackground);
    const int barLeft = geometry.partStateArea.x() - kGap;
    const int barRight = geometry.nameArea.x() + geometry.nameArea.width() + kGap;
    painter->fillRect(
        QRect(barLeft, geometry.partStateArea.y(), barRight - barLeft, geometry.partStateArea.height()),
        rowColour(option.state));

    painter->setPen(Qt::white);
    painter->drawText(geometry.numberArea, Qt::AlignCenter, QString::number(index.row() + 1));

    const QString name = index.data(SongListModel::NameRole).toString();
    if (name.isEmpty()) {
        painter->setPen(kUnnamed);
        painter->drawText(geometry.nameArea, Qt::AlignLeft | Qt::AlignVCenter,
                          QStringLiteral("(Unnamed Song)"));
    } else {
        painter->setPen(Qt::white);
        const QString elided = option.fontMetrics.elidedText(name, Qt::ElideRight, geometry.nameArea.width());
        painter->drawText(geometry.nameArea, Qt::AlignLeft | Qt::AlignVCenter, elided);
    }

    painter->setRenderHint(QPainter::Antialiasing, true);
    painter->setPen(Qt::NoPen);
    const QVariantList states = index.data(SongListModel::PartsRole).toList();
    const int dotTop = row.y() + row.height() / 2 - kDotSize / 2;
    for (int i = 0; i < states.size(); ++i) {
        painter->setBrush(partStateColour(states.at(i).toInt()));
        painter->drawEllipse(QRect(geometry.partStateArea.x() + kDotPitch * i, dotTop, kDotSize, kDotSize));
    }
    painter->restore();
}

QSize SdCardItemDelegate::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &) const
{
    const QRect text = QFontMetrics(option.font).boundingRect(QStringLiteral("HEHE"));
    return text.adjusted(0, -kSizeHintPadding, 0, kSizeHintPadding).size();
}

void SdCardItemDelegate::updateEditorGeometry(QWidget *editor, const QStyleOptionViewItem &option,
                                              const QModelIndex &) const
{
    const QRect area = rowGeometry(option.rect, option.fontMetrics)
                           .nameArea.adjusted(-kEditorWidening, 0, kEditorWidening, 0);
    editor->resize(area.size());
    editor->move(area.topLeft());
}

} // namespace ZovaZode
