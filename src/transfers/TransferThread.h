#pragma once

#include <QMutex>
#include <QThread>

// The worker thread of one running upload or download. The GUI thread asks it to stop through
// an exit flag that only this thread's own mutex guards, so asking never waits on a transfer;
// the thread reads the flag before each block and ends its run when it is set. Whoever ends
// the transfer asks first and then waits for the run to return.
class TransferThread : public QThread
{
    Q_OBJECT

public:
    explicit TransferThread(QObject* ip_parent = nullptr);

    // Callable from any thread.
    void SignalExit();
    bool IsExitRequested() const;

private:
    mutable QMutex m_exitMutex;
    bool m_exitRequested = false;
};
