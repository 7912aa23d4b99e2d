// CardBox: painting, dragging the card out and taking a card archive in.
#include "views/cardbox.h"
#include "domain/filekinds.h"

#include "domain/sdcard.h"
#include "views/widgetutils.h"

#include <QApplication>
#include <QDataStream>
#include <QDebug>
#include <QDrag>
#include <QDragEnterEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>

namespace ZovaZode {

namespace {

const QColor kBoxColour(190, 76, 53);
constexpr int kHoverLightening = 115;
constexpr qint32 kCardArchiveType = 2;
constexpr int kDragPictureHeight = 40;

} // namespace

const QString CardBox::cardMimeType = FileKinds::cardMimeType();
const QString CardBox::archivePathMimeType = FileKinds::archivePathMimeType();

CardBox::CardBox(std::shared_ptr<SdCard> card, QWidget *parent) : QWidget(parent), m_card(std::move(card))
{
    setAcceptDrops(true);
    setFocusPolicy(Qt::ClickFocus);
}

CardBox::~CardBox() = default;

void CardBox::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const bool lit = m_hovered && m_card->isOpen();
    painter.fillRect(rect(), lit ? kBoxColour.lighter(kHoverLightening) : kBoxColour);
}

void CardBox::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        m_pressPosition = event->pos();
    emit pressed();
}

void CardBox::mouseDoubleClickEvent(QMouseEvent *)
{
    if (m_card->isOpen())
        emit cardDetailsRequest();
}

void CardBox::mouseMoveEvent(QMouseEvent *event)
{
    if (!m_card->isOpen() || !(event->buttons() & Qt::LeftButton))
        return;
    if ((event->pos() - m_pressPosition).manhattanLength() < QApplication::startDragDistance())
        return;
    auto *data = new QMimeData;
    data->setData(cardMimeType, QByteArray());
    auto *drag = new QDrag(this);
    drag->setMimeData(data);
    drag->setPixmap(
        WidgetUtils::picture(QStringLiteral(":/pictures/sd_card.svg"), QSize(0, kDragPictureHeight)));
    emit dragStarted();
    drag->exec(Qt::CopyAction);
}

void CardBox::enterEvent(QEvent *event)
{
    m_hovered = true;
    update();
    QWidget::enterEvent(event);
}

void CardBox::leaveEvent(QEvent *event)
{
    m_hovered = false;
    update();
    QWidget::leaveEvent(event);
}

void CardBox::dragEnterEvent(QDragEnterEvent *event)
{
    update();
    if (m_card->isOpen() && event->mimeData()->hasFormat(archivePathMimeType)) {
        event->acceptProposedAction();
        return;
    }
    QWidget::dragEnterEvent(event);
}

void CardBox::dragLeaveEvent(QDragLeaveEvent *event)
{
    update();
    QWidget::dragLeaveEvent(event);
}

void CardBox::dropEvent(QDropEvent *event)
{
    update();
    if (!event->mimeData()->hasFormat(archivePathMimeType)) {
        event->ignore();
        return;
    }
    QByteArray bytes = event->mimeData()->data(archivePathMimeType);
    QDataStream stream(&bytes, QIODevice::ReadOnly);
    qint32 type = 0;
    QString path;
    stream >> type >> path;
    if (stream.status() != QDataStream::Ok || type != kCardArchiveType) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    qDebug() << "Requesting card restore from file:" << path;
    emit cardRestoreRequest(path);
}

} // namespace ZovaZode
