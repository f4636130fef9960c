#pragma once

#include <QObject>
#include <QTimer>

// Sends the enabled wish-list entries to the server as wish-list searches, one per period, in
// alphabetical order. The server sets the period; until it does, nothing is sent. There is one
// instance, `wishListSearcher`.
class WishListSearcher : public QObject
{
    Q_OBJECT

public:
    // The longest period whose milliseconds still fit the timer; longer waits are cut to it.
    static constexpr uint MaxWaitSeconds = 2147483;

    explicit WishListSearcher(QObject* ip_parent = nullptr);
    ~WishListSearcher() override;
    WishListSearcher(const WishListSearcher&) = delete;
    WishListSearcher& operator=(const WishListSearcher&) = delete;

    // Declares the wish-list entries and their enabled mark and keeps both in the store file.
    // The program's start-up calls it once, before the store is loaded.
    static void CreateData();

public slots:
    void OnWishListWait(uint i_waitPeriod);
    void OnSearchTimerTimeout();

private:
    QTimer m_timer;
};

extern WishListSearcher* wishListSearcher;
