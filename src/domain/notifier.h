// The one door through which every message box of the program passes. The domain objects
// have no widgets: they describe the box, and whatever notifier the window installed shows
// it. Tests install one that records the boxes and answers from a prepared list.
#pragma once

#include <QFlags>
#include <QString>

class QObject;

namespace ZovaZode {

class Notifier
{
public:
    enum class Icon { NoIcon, Information, Warning, Critical, Question };
    enum Button { NoButton = 0, Ok = 0x1, Cancel = 0x2, Yes = 0x4, No = 0x8 };
    Q_DECLARE_FLAGS(Buttons, Button)

    struct Message
    {
        Icon icon = Icon::NoIcon;
        QString title;
        QString text;
        Buttons buttons = Ok;
        QObject *parent = nullptr;
    };

    virtual ~Notifier();

    // Modal; answers the button pressed.
    virtual Button show(const Message &message) = 0;

    // The notifier is not owned; nullptr uninstalls.
    static void install(Notifier *notifier);
    static Notifier *installed();

    // Without an installed notifier the text is logged and the answer is the button that
    // goes on with nothing: No, else Cancel, else Ok.
    static Button notify(const Message &message);

    // A box with `buttons`; answers the button pressed.
    static Button ask(QObject *parent, Icon icon, const QString &title, const QString &text, Buttons buttons);
    // A box with an OK button.
    static void tell(QObject *parent, Icon icon, const QString &title, const QString &text);
    // An information box without a title, as every refusal of a name is shown.
    static void inform(QObject *parent, const QString &text);
};

Q_DECLARE_OPERATORS_FOR_FLAGS(Notifier::Buttons)

} // namespace ZovaZode
