#pragma once

#include <QLineEdit>
#include <QTabWidget>

#include <memory>

#include "shell/ActionSetToolBar.h"
#include "shell/EventToolBar.h"
#include "shell/ShellFixture.h"
#include "shell/SizeManager.h"
#include "support/TestSupport.h"

// What the main window gives the views it holds, for a fixture that builds views without it:
// a home folder of the test's own, an inactive window, the context toolbar, the event bar, the
// size manager, and the window's tabs with a "Rooms" page shown first.
class ViewPages
{
protected:
    void BuildViewPages()
    {
        qputenv("HOME", QByteArray::fromStdString(m_home.Path()));
        m_window.m_active = false;
        mp_actions = std::make_unique<ActionSetToolBar>();
        mp_actions->Init();
        mp_events = std::make_unique<EventToolBar>();
        mp_sizes = std::make_unique<SizeManager>();
        mp_pages = std::make_unique<QTabWidget>();
        mp_pages->addTab(new QLineEdit, "Rooms");
    }

    TemporaryFolder m_home;
    FakeMainWindow m_window;
    std::unique_ptr<ActionSetToolBar> mp_actions;
    std::unique_ptr<EventToolBar> mp_events;
    std::unique_ptr<SizeManager> mp_sizes;
    std::unique_ptr<QTabWidget> mp_pages;
};
