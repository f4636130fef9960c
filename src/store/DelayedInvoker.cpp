#include "store/DelayedInvoker.h"

#include <QTimer>

DelayedInvoker* delayedInvoker = nullptr;

DelayedInvoker::DelayedInvoker(QObject* ip_parent) : QObject(ip_parent)
{
    delayedInvoker = this;
}

DelayedInvoker::~DelayedInvoker()
{
    // The pending timers are our children and go with us; their calls never happen. A target
    // destroyed while we are half torn down (one of our children, say) must not call back in.
    for (const auto& l_entry : m_pending)
        disconnect(l_entry.first.first, &QObject::destroyed, this,
                   &DelayedInvoker::OnTargetDestroyed);
    if (delayedInvoker == this)
        delayedInvoker = nullptr;
}

void DelayedInvoker::Invoke(QObject* ip_target, QString i_slot, int i_ms)
{
    if (ip_target == nullptr)
        return;
    const Key l_key(ip_target, i_slot);
    if (m_pending.count(l_key) != 0)
        return;

    QTimer* lp_timer = new QTimer(this);
    // Bookkeeping first, so that a request made from inside the target's slot is a new one.
    connect(lp_timer, SIGNAL(timeout()), this, SLOT(OnTimeout()));
    connect(lp_timer, SIGNAL(timeout()), ip_target, i_slot.toLatin1().constData());
    // A pointer freed and reused by a new object must not inherit a pending call that can no
    // longer reach anyone, so a destroyed target's entries go at once.
    connect(ip_target, &QObject::destroyed, this, &DelayedInvoker::OnTargetDestroyed,
            Qt::UniqueConnection);
    // A negative interval would never fire and block the key for good.
    lp_timer->setInterval(i_ms < 0 ? 0 : i_ms);
    lp_timer->setSingleShot(true);
    m_pending[l_key] = lp_timer;
    m_reverse[lp_timer] = l_key;
    lp_timer->start();
}

void DelayedInvoker::OnTimeout()
{
    QTimer* lp_timer = qobject_cast<QTimer*>(sender());
    if (lp_timer == nullptr)
        return;
    auto l_found = m_reverse.find(lp_timer);
    if (l_found != m_reverse.end())
    {
        const Key l_key = l_found->second;
        m_reverse.erase(l_found);
        m_pending.erase(l_key);
        // Entries only name live targets, so the target can still be disconnected from.
        if (!HasPending(l_key.first))
            disconnect(l_key.first, &QObject::destroyed, this, &DelayedInvoker::OnTargetDestroyed);
    }
    lp_timer->deleteLater();
}

void DelayedInvoker::OnTargetDestroyed(QObject* ip_target)
{
    auto l_it = m_pending.lower_bound(Key(ip_target, QString()));
    while (l_it != m_pending.end() && l_it->first.first == ip_target)
    {
        QTimer* lp_timer = l_it->second;
        m_reverse.erase(lp_timer);
        l_it = m_pending.erase(l_it);
        delete lp_timer;
    }
}

bool DelayedInvoker::HasPending(QObject* ip_target) const
{
    auto l_it = m_pending.lower_bound(Key(ip_target, QString()));
    return l_it != m_pending.end() && l_it->first.first == ip_target;
}
