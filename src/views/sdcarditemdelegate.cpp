// SdCardItemDelegate: the row painter of the card songs and of an archive's song list.
#include "views/sdcarditemdelegate.h"

#include "models/songlistmodel.h"

#include <QAbstractItemView>
#include <QHelpEvent>
#include <QPainter>
#include <QStyle>
#include <QToolTip>

namespace ZovaZode {

namespace {

constexpr int kInset = 4;
constexpr int kLeftMargin = 10;
constexpr int kGap = 10;
constexpr int kPartStateWidth = 80;
constexpr int kRightMargin = 20;
constexpr int kDotSize = 14;
constexpr int kLetterPixelSize = 10;
constexpr qreal kRingWidth = 1.5;
constexpr int kDotPitch = 16;
constexpr int kPartCount = 5;
constexpr int kSizeHintPadding = 8;
constexpr int kEditorWidening = 5;

const QColor kNumberBackground(30, 30, 30);
const QColor kHighlight(190, 76, 53);
const QColor kHover(70, 70, 70);
const QColor kNormal(90, 90, 90);
const QColor kUnnamed(200, 200, 200);

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

// Blue, vermillion and yellow stay apart for the common colour-vision deficiencies (they differ
// in lightness as well as in hue); the letter carries the state for everyone else.
QColor SdCardItemDelegate::partStateColour(int state)
{
    switch (state) {
    case 1:
        return QColor(86, 180, 233);
    case 2:
        return QColor(213, 94, 0);
    case 3:
        return QColor(240, 228, 66);
    default:
        return QColor(150, 150, 150);
    }
}

QString SdCardItemDelegate::partStateLetter(int state)
{
    switch (state) {
    case 1:
        return tr("N", "part state letter: normal");
    case 2:
        return tr("I", "part state letter: intense");
    case 3:
        return tr("L", "part state letter: looper");
    default:
        return QString();
    }
}

QString SdCardItemDelegate::partStateName(int state)
{
    switch (state) {
    case 1:
        return tr("Normal");
    case 2:
        return tr("Intense");
    case 3:
        return tr("Looper");
    default:
        return tr("Empty");
    }
}

int SdCardItemDelegate::partAt(const QRect &row, const QFontMetrics &metrics, const QPoint &point)
{
    const QRect area = rowGeometry(row, metrics).partStateArea;
    if (!area.contains(point))
        return -1;
    const int part = (point.x() - area.x()) / kDotPitch;
    return part < kPartCount ? part : -1;
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
    QFont letterFont = option.font;
    letterFont.setBold(true);
    letterFont.setPixelSize(kLetterPixelSize);
    painter->setFont(letterFont);
    const QVariantList states = index.data(SongListModel::PartsRole).toList();
    const int dotTop = row.y() + row.height() / 2 - kDotSize / 2;
    for (int i = 0; i < states.size(); ++i) {
        const int state = states.at(i).toInt();
        const QRectF dot(geometry.partStateArea.x() + kDotPitch * i, dotTop, kDotSize, kDotSize);
        const QString letter = partStateLetter(state);
        if (letter.isEmpty()) {
            painter->setPen(QPen(partStateColour(state), kRingWidth));
            painter->setBrush(Qt::NoBrush);
            const qreal inset = kRingWidth / 2;
            painter->drawEllipse(dot.adjusted(inset, inset, -inset, -inset));
            continue;
        }
        painter->setPen(Qt::NoPen);
        painter->setBrush(partStateColour(state));
        painter->drawEllipse(dot);
        painter->setPen(Qt::black);
        painter->drawText(dot, Qt::AlignCenter, letter);
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

bool SdCardItemDelegate::helpEvent(QHelpEvent *event, QAbstractItemView *view,
                                   const QStyleOptionViewItem &option, const QModelIndex &index)
{
    const int part = event->type() == QEvent::ToolTip && index.isValid()
                         ? partAt(option.rect, option.fontMetrics, event->pos())
                         : -1;
    const QVariantList states = index.data(SongListModel::PartsRole).toList();
    if (part < 0 || part >= states.size())
        return QStyledItemDelegate::helpEvent(event, view, option, index);
    QToolTip::showText(event->globalPos(),
                       tr("Part %1: %2").arg(part + 1).arg(partStateName(states.at(part).toInt())), view);
    return true;
}

} // namespace ZovaZode
