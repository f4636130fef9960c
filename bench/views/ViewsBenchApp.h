#pragma once

#include <QApplication>

#include <memory>

#include "../BenchApplication.h"
#include "peer/PeerMessenger.h"
#include "server/Server.h"
#include "shares/SharedFoldersManager.h"
#include "store/DataSaver.h"
#include "store/TimerManager.h"
#include "support/support/ClientSchema.h"
#include "views/search/SharesForm.h"

// The one application, timers, data saver, settings and server types that every views
// benchmark runs in, made by whichever benchmark runs first. The application is never
// destroyed: at exit the toolkit's own globals, made after it, are gone before it would be.
inline void ViewsBenchApp()
{
    static std::unique_ptr<TimerManager> s_timers;
    static std::unique_ptr<DataSaver> s_saver;
    if (s_timers)
        return;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    NewBenchApplication<QApplication>().release();
    s_timers = std::make_unique<TimerManager>();
    s_saver = std::make_unique<DataSaver>();
    DeclareSettingsTypes();
    Server::CreateData();
}

// The peer messenger and the shares engine as the start-up makes them, once per program for every
// benchmark that needs them: each declares its types, which exist only once.
inline void ViewsBenchShareEngines()
{
    static std::unique_ptr<PeerMessenger> s_messenger;
    static std::unique_ptr<SharedFoldersManager> s_shares;
    if (s_shares)
        return;
    ViewsBenchApp();
    s_messenger = std::make_unique<PeerMessenger>();
    s_shares = std::make_unique<SharedFoldersManager>();
}

// The browse page's tab types over the share engines, once per program for every benchmark that
// makes a browse page: a page's Init declares them, and a second declaration throws.
inline void ViewsBenchBrowsePageTypes()
{
    static const bool s_declared = [] {
        ViewsBenchShareEngines();
        SharesForm().Init();
        return true;
    }();
    Q_UNUSED(s_declared);
}
