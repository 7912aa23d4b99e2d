// ActionRegistry: the window's commands by name. Each QAction is registered under an identifier
// with the rule that enables it, a condition on the window's state written next to it; menus,
// the pieces of the window and the tests ask for an action by its identifier, so that nothing
// depends on the order in which actions were made. The commands of the Card and Library menus
// are made here, in one table; the pieces of the window register their own actions (Undo, the
// context menus' commands) beside them.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

class QAction;
class QMenu;

namespace ZovaZode {

// What the enabling rules look at.
struct WindowState
{
    bool cardOpen = false;
    bool cardWritable = false;
    bool songSelected = false;    // a slot of the open card
    bool cardLibraryPage = false; // the page shown; the Safety Copies page is neither
    bool songLibraryPage = false;
    bool cardLibraryItem = false;  // anything selected on the card library page
    bool archiveSelected = false;  // a card archive selected there
    bool songLibraryItem = false;  // anything selected on the song library page
    bool songFileSelected = false; // a song file selected there
    bool cardLibraryFile = false;  // a file selected on the card library page, damaged or not
    bool songLibraryFile = false;  // a file selected on the song library page, damaged or not
    bool copySelected = false;     // a row of the Safety Copies page
};

class ActionRegistry : public QObject
{
    Q_OBJECT

public:
    using Rule = std::function<bool(const WindowState &)>;

    explicit ActionRegistry(QObject *parent = nullptr);

    // Registers `action` under `id`: `rule` enables it, or without a rule its owner does.
    QAction *add(const QString &id, QAction *action, Rule rule = {});
    // The action registered under `id`. An unknown identifier is a fault of the program, which
    // stops with its name rather than build a menu with a hole.
    QAction *action(const QString &id) const;
    // The rule of `id`, for an action that another one enables alike.
    Rule rule(const QString &id) const;
    // Every identifier, in the order registered.
    QStringList ids() const;
    // Adds the actions `ids` to `menu`, "-" being a separator.
    void addToMenu(QMenu *menu, const QStringList &ids) const;

    // Enables every action that has a rule by its rule.
    void update(const WindowState &state) const;

private:
    struct Entry
    {
        QString id;
        QAction *action;
        Rule rule;
    };
    const Entry &entry(const QString &id) const;

    std::vector<Entry> m_entries;
};

} // namespace ZovaZode
