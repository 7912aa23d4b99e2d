// The "Safety Copies" page: every copy that a destructive command made in the card library's
// "Safety Copies" folder, newest first, with when it was made ("today 14:03"), what it holds, its
// size, what was about to happen and the card it came from, and below them the room they take
// together. A copy is restored from here (a whole card onto the open card, a song onto
// the slot it came from) or dragged onto any slot or onto the card, shown in its folder, or
// deleted. What the page shows comes from each copy's file name and the names stored in it.
#pragma once

#include "domain/safetycopies.h"
#include "views/cardsession.h"

#include <QString>
#include <QWidget>

#include <optional>

class QAction;
class QLabel;
class QTreeWidget;

namespace ZovaZode {

class SafetyCopiesView : public QWidget
{
    Q_OBJECT

public:
    // What tells copies apart comes first; the card is most often the same for all.
    enum Column { WhenColumn, WhatColumn, SizeColumn, OccasionColumn, CardColumn, ColumnCount };

    explicit SafetyCopiesView(QWidget *parent = nullptr);

    // Lists the copies of the card library `cardLibrary` (again when it is the same).
    void setCardLibrary(const QString &cardLibrary);
    void reload();

    QTreeWidget *treeWidget() const { return m_tree; }
    // The number of copies and their size together, under the list.
    QLabel *totalLabel() const { return m_total; }
    // Counts "today" from `now` rather than from the clock (the screenshots' fixed moment).
    void setNow(const QDateTime &now);
    std::optional<SafetyCopies::Entry> selectedEntry() const;
    bool selectPath(const QString &path);

    QAction *restoreAction() const { return m_restoreAction; }
    QAction *showInFolderAction() const { return m_showInFolderAction; }
    QAction *deleteAction() const { return m_deleteAction; }

    // The texts of the columns for `entry`.
    static QString whatText(const SafetyCopies::Entry &entry);
    static QString occasionText(const SafetyCopies::Entry &entry);
    // "today 14:03", "yesterday 09:12", "2026-12-04": when `when` was, seen at `now`.
    static QString whenText(const QDateTime &when, const QDateTime &now);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

signals:
    void cardRestoreRequest(const QString &path);
    void songRestoreRequest(int slot, const QString &path);
    void selectionChanged();
    // How a delete ended, for the status bar.
    void outcome(ZovaZode::CardSession::Outcome outcome, const QString &text);

private:
    void fitColumns();
    void restoreSelected();
    void showSelectedInFolder();
    void deleteSelected();

    QString m_cardLibrary;
    QTreeWidget *m_tree;
    QLabel *m_total;
    QDateTime m_now;
    QVector<SafetyCopies::Entry> m_entries;
    QAction *m_restoreAction;
    QAction *m_showInFolderAction;
    QAction *m_deleteAction;
};

} // namespace ZovaZode
