#pragma once

#include <QObject>
#include <QString>

#include <map>
#include <utility>

class QTimer;

// Calls a slot of an object once after a delay. Requests for the same object and slot made
// while a call is pending are folded into that call, so a burst of events leads to a single call
// shortly after the burst began.
class DelayedInvoker : public QObject
{
    Q_OBJECT

public:
    explicit DelayedInvoker(QObject* ip_parent = nullptr);
    ~DelayedInvoker() override;

    // slot is a signature with its slot marker, as SLOT() writes it: "1Sort()".
    void Invoke(QObject* ip_target, QString i_slot, int i_ms);

public slots:
    void OnTimeout();

private slots:
    void OnTargetDestroyed(QObject* ip_target);

private:
    using Key = std::pair<QObject*, QString>;

    bool HasPending(QObject* ip_target) const;

    std::map<Key, QTimer*> m_pending;
    std::map<QTimer*, Key> m_reverse;
};

extern DelayedInvoker* delayedInvoker;
