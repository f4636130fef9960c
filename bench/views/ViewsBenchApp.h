#pragma once

#include <QApplication>

#include <memory>

#include "../BenchApplication.h"
#include "server/Server.h"
#include "store/DataSaver.h"
#include "store/TimerManager.h"
#include "support/support/ClientSchema.h"

// The one application, timers, data saver, settings and server types that every views
// benchmark runs in, made by whichever benchmark runs first.
inline void ViewsBenchApp()
{
    static std::unique_ptr<TimerManager> s_timers;
    static std::unique_ptr<DataSaver> s_saver;
    if (s_timers)
        return;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // Never destroyed: at exit it would go after the toolkit's own statics, which it still uses.
    static_cast<void>(NewBenchApplication<QApplication>().release());
    s_timers = std::make_unique<TimerManager>();
    s_saver = std::make_unique<DataSaver>();
    DeclareSettingsTypes();
    Server::CreateData();
}
