// ElidedLabel: a path label that elides in the middle.
#include "views/elidedlabel.h"

#include <QPainter>
#include <QStyle>

namespace ZovaZode {

namespace {

// Room for a few characters on each side of the ellipsis.
constexpr int kMinimumCharacters = 8;

} // namespace

ElidedLabel::ElidedLabel(QWidget *parent) : QLabel(parent)
{
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
}

void ElidedLabel::setFullText(const QString &text)
{
    setText(text);
    setToolTip(text);
}

QString ElidedLabel::shownText() const
{
    return fontMetrics().elidedText(text(), Qt::ElideMiddle, contentsRect().width());
}

QSize ElidedLabel::sizeHint() const
{
    return minimumSizeHint();
}

QSize ElidedLabel::minimumSizeHint() const
{
    const QMargins margins = contentsMargins();
    return QSize(fontMetrics().averageCharWidth() * kMinimumCharacters + margins.left() + margins.right(),
                 fontMetrics().height() + margins.top() + margins.bottom());
}

void ElidedLabel::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    style()->drawItemText(&painter, contentsRect(), int(alignment()) | Qt::TextSingleLine, palette(),
                          isEnabled(), shownText(), foregroundRole());
}

} // namespace ZovaZode
