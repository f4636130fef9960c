#pragma once

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QPersistentModelIndex>
#include <QTimer>

#include <cstddef>
#include <functional>
#include <optional>
#include <unordered_map>
#include <utility>
#include <vector>

class QTreeWidget;
class QTreeWidgetItem;

// The new rows of one transfer list, built apart from it while it is shown and already long, and
// put in together at most a tenth of a second later. A shown tree lays all its open rows out once
// in every turn of the event loop in which rows came under an open one, and requests come from
// sockets a few to a turn: at thousands of rows those layouts cost far more than the rows.
//
// A row held back has its place already: it answers for its parent, its expansion and the rows
// below it as it will in the list. A key or an action puts the held rows in first, so nobody acts
// on a list that lacks a row the store holds. The pointer acts on the list as it was painted:
// held rows were never painted, so a press leaves them to their time, and none join between the
// two clicks of a double click, when a list with nothing to scroll could not keep the clicked row
// in place.
//
// Rows that join a shown list, held or not, never move what the user sees: the row under the
// pointer, or the first row shown, stays where it was painted, and the list scrolls by whatever
// joined above it.
class HeldTransferRows : public QObject
{
    Q_OBJECT

public:
    // The list's count of file rows, held ones included, tells when it is long.
    HeldTransferRows(QTreeWidget* ip_list, std::function<std::size_t()> i_fileRows);
    ~HeldTransferRows() override;
    HeldTransferRows(const HeldTransferRows&) = delete;
    HeldTransferRows& operator=(const HeldTransferRows&) = delete;

    // A list of this many file rows holds its new rows while it is shown.
    static constexpr std::size_t LongList = 1000;
    static constexpr int JoinAfterMs = 100;

    // A new row under the parent, or at the top level for none: held back with a held parent or
    // while the list holds rows back, otherwise in the list at once, after those held so far.
    QTreeWidgetItem* NewRow(QTreeWidgetItem* ip_parent);
    // A held row opens as it joins the list, a listed one at once.
    void Open(QTreeWidgetItem* ip_row);
    // Held back whatever the list is like, as rows built in one go are, until the next Join.
    void HoldAll(bool i_all) { m_holdAll = i_all; }

    // As the list will answer once the row has joined it.
    QTreeWidgetItem* Parent(QTreeWidgetItem* ip_row) const;
    bool IsOpen(QTreeWidgetItem* ip_row) const;
    int ChildCount(QTreeWidgetItem* ip_row) const;

    // A held row whose parent is still to come leaves the rows to join, with those below it, for
    // the caller to delete; false for any other row.
    bool Take(QTreeWidgetItem* ip_row);
    // Every held row into the list, each parent's in the order they were made, and then opened as
    // asked, with what the user sees kept in place. The rows put in, without those below them.
    QList<QTreeWidgetItem*> Join();

protected:
    bool eventFilter(QObject* ip_watched, QEvent* ip_event) override;

private:
    // A row the user sees and where it was painted, before rows joined the list.
    struct Shown
    {
        QPersistentModelIndex row;
        int top;
    };

    // The rows waiting for one parent; a row taken back leaves a gap.
    struct Waiting
    {
        QTreeWidgetItem* parent;
        std::vector<QTreeWidgetItem*> rows;
        int left = 0;
    };

    bool Holds() const;
    // While a second click could still make a double click of the last press.
    qint64 QuietMsLeft() const;
    void JoinWhenQuiet();
    // What the user sees, noted before the first rows of a turn join, and kept once they have.
    void NoteShownRow(bool i_hiding = false);
    void KeepShownRow();

    QTreeWidget* mp_list;
    std::function<std::size_t()> m_fileRows;
    bool m_holdAll = false;
    QTimer m_timer;
    std::vector<Waiting> m_waiting;
    std::unordered_map<QTreeWidgetItem*, std::size_t> m_waitingOf;
    // Each row held with no parent yet: its group and place there.
    std::unordered_map<QTreeWidgetItem*, std::pair<std::size_t, std::size_t>> m_places;
    // The rows apart from the list that open once they join it.
    std::unordered_map<QTreeWidgetItem*, bool> m_open;
    std::optional<Shown> m_shown;
    QElapsedTimer m_pressed;
};
