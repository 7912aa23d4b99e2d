// ActionRegistry: the table of the window's menu commands, and the look-up by name.
#include "views/actionregistry.h"

#include <QAction>
#include <QCoreApplication>
#include <QMenu>

namespace ZovaZode {

namespace {

using S = WindowState;

struct Command
{
    const char *id;
    const char *text;
    int key;
    ActionRegistry::Rule rule;
};

// F2 and Delete act on the selection of the page that has the focus, whose list takes them itself;
// in the menus they only show the key. Ctrl+O and Ctrl+W work anywhere in the window.
// The texts carry their translation context by name: lupdate sees no class around this table.
const std::vector<Command> &commands()
{
    // clang-format off
    static const std::vector<Command> table = {
        {"OpenCard",               QT_TRANSLATE_NOOP("ActionRegistry", "&Open Card..."),                        Qt::CTRL | Qt::Key_O,
         [](const S &) { return true; }},
        {"CloseCard",              QT_TRANSLATE_NOOP("ActionRegistry", "&Close Card"),                          Qt::CTRL | Qt::Key_W,
         [](const S &s) { return s.cardOpen; }},
        {"EditCardName",           QT_TRANSLATE_NOOP("ActionRegistry", "Edit Card &Name..."),                   0,
         [](const S &s) { return s.cardWritable; }},
        {"ShowCardDetails",        QT_TRANSLATE_NOOP("ActionRegistry", "Show Card &Details..."),                0,
         [](const S &s) { return s.cardOpen; }},
        {"EditCardSongName",       QT_TRANSLATE_NOOP("ActionRegistry", "&Edit Selected Card Song Name..."),     Qt::Key_F2,
         [](const S &s) { return s.cardWritable && s.songSelected; }},
        {"ShowCardSongDetails",    QT_TRANSLATE_NOOP("ActionRegistry", "&Show Selected Card Song Details..."),  0,
         [](const S &s) { return s.songSelected; }},
        {"ClearCardSong",          QT_TRANSLATE_NOOP("ActionRegistry", "Clea&r Selected Card Song"),            Qt::Key_Delete,
         [](const S &s) { return s.cardWritable && s.songSelected; }},
        {"ClearAllCardSongs",      QT_TRANSLATE_NOOP("ActionRegistry", "Clear &All Card Songs"),                0,
         [](const S &s) { return s.cardWritable; }},
        {"VerifyCard",             QT_TRANSLATE_NOOP("ActionRegistry", "&Verify Card..."),                      0,
         [](const S &s) { return s.cardOpen; }},
        {"ArchiveCard",            QT_TRANSLATE_NOOP("ActionRegistry", "&Archive Card To Library"),             0,
         [](const S &s) { return s.cardOpen && s.cardLibraryPage; }},
        {"RestoreCard",            QT_TRANSLATE_NOOP("ActionRegistry", "&Restore Card From Selected Archive"),  0,
         [](const S &s) { return s.cardWritable && s.cardLibraryPage && s.archiveSelected; }},
        {"EditArchiveName",        QT_TRANSLATE_NOOP("ActionRegistry", "&Edit Selected Archive Name..."),       Qt::Key_F2,
         [](const S &s) { return s.cardLibraryPage && s.cardLibraryItem; }},
        {"ShowArchiveDetails",     QT_TRANSLATE_NOOP("ActionRegistry", "&Show Selected Archive Details..."),    0,
         [](const S &s) { return s.cardLibraryPage && s.cardLibraryItem; }},
        {"DeleteArchiveItem",      QT_TRANSLATE_NOOP("ActionRegistry", "&Delete Selected Archive Item"),        Qt::Key_Delete,
         [](const S &s) { return s.cardLibraryPage && s.cardLibraryItem; }},
        {"VerifyArchive",          QT_TRANSLATE_NOOP("ActionRegistry", "Verify..."),                            0,
         [](const S &s) { return s.cardLibraryFile; }},
        {"CopyCardSongToLibrary",  QT_TRANSLATE_NOOP("ActionRegistry", "&Copy Selected Card Song To Library"),  0,
         [](const S &s) { return s.songLibraryPage && s.songSelected; }},
        {"OverwriteCardSong",      QT_TRANSLATE_NOOP("ActionRegistry", "&Overwrite Selected Card Song with Selected Library Song"), 0,
         [](const S &s) { return s.cardWritable && s.songLibraryPage && s.songSelected && s.songFileSelected; }},
        {"EditLibraryItemName",    QT_TRANSLATE_NOOP("ActionRegistry", "Edit Selected &Library Item Name..."),  Qt::Key_F2,
         [](const S &s) { return s.songLibraryPage && s.songLibraryItem; }},
        {"ShowLibrarySongDetails", QT_TRANSLATE_NOOP("ActionRegistry", "Show Selected Library Song De&tails..."), 0,
         [](const S &s) { return s.songLibraryPage && s.songLibraryItem; }},
        {"DeleteLibraryItem",      QT_TRANSLATE_NOOP("ActionRegistry", "Delete Selected Library &Item"),        Qt::Key_Delete,
         [](const S &s) { return s.songLibraryPage && s.songLibraryItem; }},
        {"VerifyLibrarySong",      QT_TRANSLATE_NOOP("ActionRegistry", "Verify..."),                            0,
         [](const S &s) { return s.songLibraryFile; }},
    };
    // clang-format on
    return table;
}

} // namespace

ActionRegistry::ActionRegistry(QObject *parent) : QObject(parent)
{
    for (const Command &command : commands()) {
        auto *action = new QAction(QCoreApplication::translate("ActionRegistry", command.text), this);
        if (command.key) {
            action->setShortcut(QKeySequence(command.key));
            if (!(command.key & Qt::CTRL))
                action->setShortcutContext(Qt::WidgetWithChildrenShortcut);
        }
        add(QString::fromLatin1(command.id), action, command.rule);
    }
}

QAction *ActionRegistry::add(const QString &id, QAction *action, Rule rule)
{
    m_entries.push_back({id, action, std::move(rule)});
    return action;
}

const ActionRegistry::Entry &ActionRegistry::entry(const QString &id) const
{
    for (const Entry &entry : m_entries) {
        if (entry.id == id)
            return entry;
    }
    qFatal("No action is registered as \"%s\".", qPrintable(id));
}

QAction *ActionRegistry::action(const QString &id) const
{
    return entry(id).action;
}

ActionRegistry::Rule ActionRegistry::rule(const QString &id) const
{
    return entry(id).rule;
}

QStringList ActionRegistry::ids() const
{
    QStringList ids;
    for (const Entry &entry : m_entries)
        ids << entry.id;
    return ids;
}

void ActionRegistry::addToMenu(QMenu *menu, const QStringList &ids) const
{
    for (const QString &id : ids) {
        if (id == QLatin1String("-"))
            menu->addSeparator();
        else
            menu->addAction(action(id));
    }
}

void ActionRegistry::update(const WindowState &state) const
{
    for (const Entry &entry : m_entries) {
        if (entry.rule)
            entry.action->setEnabled(entry.rule(state));
    }
}

} // namespace ZovaZode
