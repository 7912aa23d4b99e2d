// Keeps user input away from every window but one while a transfer runs: an application-wide
// event filter that swallows presses, moves, keys, drags, shortcuts and hovers aimed at other
// windows. Releases pass, so a press that started before the filter came ends normally. A box
// that asks something meanwhile (the close question) takes input as a modal window does, and so
// do the shortcuts of the actions allowed (quitting).
#pragma once

#include <QList>
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

    // `action`'s shortcut works whatever window is in front.
    void allow(QObject *action);
    void install();
    void remove();
    bool isInstalled() const { return m_installed; }

    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QPointer<QWidget> m_allowed;
    QList<QPointer<QObject>> m_allowedActions;
    bool m_installed = false;
};

} // namespace ZovaZode
