#include "views/transfers/HeldTransferRows.h"

#include <QContextMenuEvent>
#include <QEvent>
#include <QMouseEvent>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QTreeWidget>

HeldTransferRows::HeldTransferRows(QTreeWidget* ip_list, std::function<std::size_t()> i_fileRows)
    : mp_list(ip_list), m_fileRows(std::move(i_fileRows))
{
    m_timer.setSingleShot(true);
    m_timer.setInterval(JoinAfterMs);
    connect(&m_timer, &QTimer::timeout, this, [this] { Join(); });
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
    return m_holdAll || (mp_list->isVisible() && m_fileRows() >= LongList);
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
        m_timer.start();
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
    return l_joined;
}

void HeldTransferRows::JoinUnder(const QPoint& i_point)
{
    if (m_waiting.empty())
        return;
    QTreeWidgetItem* lp_under = mp_list->itemAt(i_point);
    if (!lp_under)
        return;
    const int l_painted = mp_list->visualItemRect(lp_under).top();
    Join();
    // Rows that joined above it pushed it down by whole rows; the list scrolls them back. There
    // is always room: the list grew by at least as much as the row moved.
    QScrollBar* lp_bar = mp_list->verticalScrollBar();
    const QRect l_now = mp_list->visualItemRect(lp_under);
    const int l_moved = l_now.top() - l_painted;
    if (l_moved == 0 || l_now.height() <= 0)
        return;
    const bool l_perItem = mp_list->verticalScrollMode() == QAbstractItemView::ScrollPerItem;
    lp_bar->setValue(lp_bar->value() + (l_perItem ? l_moved / l_now.height() : l_moved));
}

// Before the list acts on the input, so that it finds every row, and the pointer the row the user
// saw under it.
bool HeldTransferRows::eventFilter(QObject* ip_watched, QEvent* ip_event)
{
    const auto l_inViewport = [this, ip_watched](const QPoint& i_point) {
        return ip_watched == mp_list->viewport() ? i_point : mp_list->viewport()->mapFrom(mp_list, i_point);
    };
    switch (ip_event->type())
    {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
        JoinUnder(l_inViewport(static_cast<QMouseEvent*>(ip_event)->pos()));
        break;
    case QEvent::ContextMenu:
        JoinUnder(l_inViewport(static_cast<QContextMenuEvent*>(ip_event)->pos()));
        break;
    case QEvent::KeyPress:
        Join();
        break;
    default:
        break;
    }
    return false;
}
