#pragma once

#include <QStringList>
#include <QUrl>

#include "shell/MainWindowHooks.h"
#include "shell/Desktop.h"
#include "support/support/QtPrinters.h"

// Stands in for the main window: records icon changes and tray balloons as lines ("icon <path>",
// "reset", "popup <text>"), reports the activity the test chooses, and records opened addresses.
class FakeMainWindow : public MainWindowHooks
{
public:
    FakeMainWindow()
    {
        InstallMainWindowHooks(this);
        Desktop::SetOpenUrl([this](const QUrl& i_url) {
            m_urls << i_url.toString(QUrl::FullyEncoded);
            return true;
        });
    }
    ~FakeMainWindow() override
    {
        InstallMainWindowHooks(nullptr);
        Desktop::SetOpenUrl({});
    }

    void SetApplicationIcon(const QString& i_path) override { m_calls << "icon " + i_path; }
    void ResetApplicationIcon() override { m_calls << "reset"; }
    void PopupAlert(const QString& i_text) override { m_calls << "popup " + i_text; }
    bool IsMainWindowActive() const override { return m_active; }

    bool m_active = true;
    QStringList m_calls;
    QStringList m_urls;
};
