// The card's name in the card header. A single click asks for the name editor once the
// double-click interval has passed; a double click goes on to the card box instead.
#pragma once

#include <QLabel>
#include <QTimer>

namespace ZovaZode {

class CardName : public QLabel
{
    Q_OBJECT

public:
    explicit CardName(QWidget *parent = nullptr);

signals:
    void editRequest();

protected:
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;

private:
    QTimer m_editTimer;
    // The release that ends a double click must not start the timer again.
    bool m_swallowRelease = false;
};

} // namespace ZovaZode
