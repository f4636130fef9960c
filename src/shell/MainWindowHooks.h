#pragma once

#include <QString>

// What the toolbars need of the main window: its icon, its tray balloons and whether the user is
// looking at it. The main window implements this and installs itself; tests install a fake.
class MainWindowHooks
{
public:
    virtual ~MainWindowHooks() = default;

    // Shows the icon at this resource path as the application's, the window's and the tray's.
    virtual void SetApplicationIcon(const QString& i_path) = 0;
    // Shows the icon of the current state: offline, online or away.
    virtual void ResetApplicationIcon() = 0;
    // A tray balloon with the text, when the desktop has a tray.
    virtual void PopupAlert(const QString& i_text) = 0;
    virtual bool IsMainWindowActive() const = 0;
};

// The installed hooks, or null. The caller keeps ownership; install null before deleting them.
void InstallMainWindowHooks(MainWindowHooks* ip_hooks);

// These reach the installed hooks; without any they do nothing, and no window counts as active.
void SetApplicationIcon(const QString& i_path);
void ResetApplicationIcon();
void PopupAlert(const QString& i_text);
bool IsMainWindowActive();
