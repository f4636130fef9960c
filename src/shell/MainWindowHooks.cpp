#include "shell/MainWindowHooks.h"

namespace
{
MainWindowHooks* gp_hooks = nullptr;
}

void InstallMainWindowHooks(MainWindowHooks* ip_hooks)
{
    gp_hooks = ip_hooks;
}

void SetApplicationIcon(const QString& i_path)
{
    if (gp_hooks)
        gp_hooks->SetApplicationIcon(i_path);
}

void ResetApplicationIcon()
{
    if (gp_hooks)
        gp_hooks->ResetApplicationIcon();
}

void PopupAlert(const QString& i_text)
{
    if (gp_hooks)
        gp_hooks->PopupAlert(i_text);
}

bool IsMainWindowActive()
{
    return gp_hooks && gp_hooks->IsMainWindowActive();
}
