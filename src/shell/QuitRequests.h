#pragma once

#include <QObject>

class QSocketNotifier;
class QWidget;

// Ends the event loop when the main window is closed, even while a dialog without a parent is
// still open, and when the process is asked to stop (SIGTERM, SIGINT), so that the window's
// destructor still saves the store and takes the engines down.
class QuitRequests : public QObject
{
    Q_OBJECT

public:
    explicit QuitRequests(QWidget* ip_mainWindow);
    ~QuitRequests() override;

    // Whether a quit was asked for; one that came before the event loop ran is only seen here.
    bool Requested() const { return m_requested; }

protected:
    bool eventFilter(QObject* ip_watched, QEvent* ip_event) override;

private slots:
    void OnSignalled();

private:
    void Quit();

    QWidget* mp_mainWindow;
    QSocketNotifier* mp_notifier = nullptr;
    bool m_requested = false;
};
