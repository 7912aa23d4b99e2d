// Keeps user input away from every window but one while a transfer runs: an application-wide
// event filter that swallows presses, moves, keys, drags, shortcuts and hovers aimed at other
// windows. Releases pass, so a press that started before the filter came ends normally.
#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>

namespace ZovaZode {

class ModalEventFilter : public QObject
{
    Q_OBJECT

public:
    // `allowed`'s window stays usable.
    ModalEventFilter(QWidget *allowed, QObject *parent = nullptr);
    ~ModalEventFilter() override;

    void install();
    void remove();
    bool isInstalled() const { return m_installed; }

    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QPointer<QWidget> m_allowed;
    bool m_installed = false;
};

} // namespace ZovaZode
