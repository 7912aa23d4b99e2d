// A panel between the card and a library that reports a mouse press on it, so that pressing
// it can bring its library to the front. Its owner fills it with a picture and a caption.
#pragma once

#include <QWidget>

namespace ZovaZode {

class TransferIndicator : public QWidget
{
    Q_OBJECT

public:
    explicit TransferIndicator(QWidget *parent = nullptr);

signals:
    void pressed();

protected:
    bool event(QEvent *event) override;
};

} // namespace ZovaZode
