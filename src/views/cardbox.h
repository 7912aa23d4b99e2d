// The card as a thing to drag and to drop onto: the coloured panel of the card header. Dragged
// onto the card library it archives the card; a card archive dropped on it restores the card.
#pragma once

#include <QPoint>
#include <QWidget>

#include <memory>

namespace ZovaZode {

class SdCard;

class CardBox : public QWidget
{
    Q_OBJECT

public:
    static const QString cardMimeType;
    static const QString archivePathMimeType;

    CardBox(std::shared_ptr<SdCard> card, QWidget *parent = nullptr);
    ~CardBox() override;

signals:
    void cardRestoreRequest(QString path);
    void cardDetailsRequest();
    void dragStarted();
    void pressed();

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void enterEvent(QEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragLeaveEvent(QDragLeaveEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    QPoint m_pressPosition;
    std::shared_ptr<SdCard> m_card;
    bool m_hovered = false;
};

} // namespace ZovaZode
