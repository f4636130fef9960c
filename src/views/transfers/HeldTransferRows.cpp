#include "views/transfers/HeldTransferRows.h"

#include <QCursor>
#include <QEvent>
#include <QGuiApplication>
#include <QMetaObject>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QStyleHints>
#include <QTreeWidget>

#include <algorithm>

HeldTransferRows::HeldTransferRows(QTreeWidget* ip_list, std::function<std::size_t()> i_fileRows)
    : mp_list(ip_list), m_fileRows(std::move(i_fileRows))
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &HeldTransferRows::JoinWhenQuiet);
    mp_list->installEventFilter(this);
    mp_list->viewport()->installEventFilter(this);
}

// The list no longer knows the rows held back.
HeldTransferRows::~HeldTransferRows()
{
    for (const Waiting& l_waiting : m_waiting)
        for (QTreeWidgetItem* lp_row : l_waiting.rows)
            delete lp_row;
}

bool HeldTransferRows::Holds() const
{
    return m_holdAll || (mp_list->isVisible() && (m_fileRows() >= LongList || QuietMsLeft() > 0));
}

qint64 HeldTransferRows::QuietMsLeft() const
{
    return m_pressed.isValid() ? QGuiApplication::styleHints()->mouseDoubleClickInterval() - m_pressed.elapsed() : 0;
}

// Looked at again every tenth of a second, so a quiet time cut short ends the wait with it.
void HeldTransferRows::JoinWhenQuiet()
{
    if (const qint64 l_left = QuietMsLeft(); l_left > 0)
        return m_timer.start(int(std::min<qint64>(l_left, JoinAfterMs)));
    Join();
}

QTreeWidgetItem* HeldTransferRows::NewRow(QTreeWidgetItem* ip_parent)
{
    if (ip_parent && !ip_parent->treeWidget())
    {
        auto* lp_row = new QTreeWidgetItem(ip_parent);
        m_open[lp_row] = false;
        return lp_row;
    }
    if (!Holds())
    {
        // After the rows held so far, as if they had come at once.
        Join();
        // The list lays itself out once the turn's rows are in; only then can it be scrolled back.
        if (!m_shown)
        {
            NoteShownRow();
            if (m_shown)
                QMetaObject::invokeMethod(this, [this] { KeepShownRow(); }, Qt::QueuedConnection);
        }
        return ip_parent ? new QTreeWidgetItem(ip_parent) : new QTreeWidgetItem(mp_list);
    }
    auto* lp_row = new QTreeWidgetItem;
    const auto [l_found, l_new] = m_waitingOf.emplace(ip_parent, m_waiting.size());
    if (l_new)
        m_waiting.push_back({ip_parent, {}});
    Waiting& l_waiting = m_waiting[l_found->second];
    m_places[lp_row] = {l_found->second, l_waiting.rows.size()};
    l_waiting.rows.push_back(lp_row);
    ++l_waiting.left;
    m_open[lp_row] = false;
    if (!m_holdAll && !m_timer.isActive())
        m_timer.start(JoinAfterMs);
    return lp_row;
}

void HeldTransferRows::Open(QTreeWidgetItem* ip_row)
{
    if (ip_row->treeWidget())
        ip_row->setExpanded(true);
    else
        m_open[ip_row] = true;
}

QTreeWidgetItem* HeldTransferRows::Parent(QTreeWidgetItem* ip_row) const
{
    if (QTreeWidgetItem* lp_parent = ip_row->parent())
        return lp_parent;
    const auto l_place = m_places.find(ip_row);
    return l_place == m_places.end() ? nullptr : m_waiting[l_place->second.first].parent;
}

bool HeldTransferRows::IsOpen(QTreeWidgetItem* ip_row) const
{
    if (ip_row->treeWidget())
        return ip_row->isExpanded();
    const auto l_open = m_open.find(ip_row);
    return l_open != m_open.end() && l_open->second;
}

int HeldTransferRows::ChildCount(QTreeWidgetItem* ip_row) const
{
    const auto l_waiting = m_waitingOf.find(ip_row);
    return ip_row->childCount() + (l_waiting == m_waitingOf.end() ? 0 : m_waiting[l_waiting->second].left);
}

bool HeldTransferRows::Take(QTreeWidgetItem* ip_row)
{
    const auto l_place = m_places.find(ip_row);
    if (l_place == m_places.end())
        return false;
    Waiting& l_waiting = m_waiting[l_place->second.first];
    l_waiting.rows[l_place->second.second] = nullptr;
    --l_waiting.left;
    m_places.erase(l_place);
    return true;
}

QList<QTreeWidgetItem*> HeldTransferRows::Join()
{
    m_timer.stop();
    QList<QTreeWidgetItem*> l_joined;
    if (m_waiting.empty())
        return l_joined;
    NoteShownRow();
    const std::vector<Waiting> l_waiting = std::exchange(m_waiting, {});
    m_waitingOf.clear();
    m_places.clear();
    for (const Waiting& l_rows : l_waiting)
    {
        QList<QTreeWidgetItem*> l_taken;
        for (QTreeWidgetItem* lp_row : l_rows.rows)
            if (lp_row)
                l_taken << lp_row;
        if (l_taken.isEmpty())
            continue;
        if (l_rows.parent)
            l_rows.parent->addChildren(l_taken);
        else
            mp_list->addTopLevelItems(l_taken);
        l_joined << l_taken;
    }
    // Whoever hears of rows opening heard of these as they were made. The list lays itself out
    // once for all of them, now that rows came under open ones.
    const QSignalBlocker l_quiet(mp_list);
    std::vector<QTreeWidgetItem*> l_rows(l_joined.begin(), l_joined.end());
    while (!l_rows.empty())
    {
        QTreeWidgetItem* lp_row = l_rows.back();
        l_rows.pop_back();
        const auto l_open = m_open.find(lp_row);
        if (l_open != m_open.end() && l_open->second)
            lp_row->setExpanded(true);
        for (int l_child = 0; l_child < lp_row->childCount(); ++l_child)
            l_rows.push_back(lp_row->child(l_child));
    }
    m_open.clear();
    KeepShownRow();
    return l_joined;
}

// The row under the pointer, wherever the pointer is over the rows; otherwise the first row shown.
// Rows that join a list out of sight move nothing until it is seen again: what it showed as it
// went is noted then, and kept as it comes back.
void HeldTransferRows::NoteShownRow(bool i_hiding)
{
    if (m_shown || !(i_hiding || mp_list->isVisible()))
        return;
    const QWidget* lp_viewport = mp_list->viewport();
    const QPoint l_pointer = lp_viewport->mapFromGlobal(QCursor::pos());
    QModelIndex l_row = lp_viewport->rect().contains(l_pointer) ? mp_list->indexAt(l_pointer) : QModelIndex();
    if (!l_row.isValid())
        l_row = mp_list->indexAt(QPoint(0, 0));
    if (l_row.isValid())
        m_shown = Shown{l_row, mp_list->visualRect(l_row).top()};
}

// Rows that joined above it pushed it down by whole rows; the list scrolls by as much. Where the
// list has too little to scroll, as when all its rows fit its window, rows above it still go in
// where they belong and push it down.
void HeldTransferRows::KeepShownRow()
{
    if (!m_shown || !mp_list->isVisible())
        return;
    const std::optional<Shown> l_shown = std::exchange(m_shown, std::nullopt);
    if (!l_shown->row.isValid())
        return;
    const QRect l_now = mp_list->visualRect(l_shown->row);
    const int l_moved = l_now.top() - l_shown->top;
    if (l_moved == 0 || l_now.height() <= 0)
        return;
    QScrollBar* lp_bar = mp_list->verticalScrollBar();
    const bool l_perItem = mp_list->verticalScrollMode() == QAbstractItemView::ScrollPerItem;
    lp_bar->setValue(lp_bar->value() + (l_perItem ? l_moved / l_now.height() : l_moved));
}

// Before the list acts on the input. A key acts on every row, held ones included; the pointer on
// the rows as they were painted, and a press opens the time in which a second click makes a
// double click, during which no row joins.
bool HeldTransferRows::eventFilter(QObject* ip_watched, QEvent* ip_event)
{
    // The list and its viewport come and go together.
    if (ip_watched != mp_list && (ip_event->type() == QEvent::Hide || ip_event->type() == QEvent::Show))
        return false;
    switch (ip_event->type())
    {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
        KeepShownRow();
        m_pressed.start();
        break;
    case QEvent::ContextMenu:
        KeepShownRow();
        break;
    case QEvent::KeyPress:
        KeepShownRow();
        Join();
        break;
    case QEvent::Hide:
        NoteShownRow(true);
        break;
    case QEvent::Show:
        KeepShownRow();
        break;
    default:
        break;
    }
    return false;
}
