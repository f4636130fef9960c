#pragma once

#include <QApplication>

#include <memory>

#include "../BenchApplication.h"
#include "server/Server.h"
#include "store/DataSaver.h"
#include "store/TimerManager.h"
#include "support/support/ClientSchema.h"

// The one application, timers, data saver and settings types that every views benchmark runs
// in, made by whichever benchmark runs first. The application is never destroyed: at exit it
// would go after the toolkit's own statics, which its destructor still uses.
inline void ViewsBenchApp()
{
    static std::unique_ptr<TimerManager> s_timers;
    static std::unique_ptr<DataSaver> s_saver;
    if (s_timers)
        return;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static_cast<void>(NewBenchApplication<QApplication>().release());
    s_timers = std::make_unique<TimerManager>();
    s_saver = std::make_unique<DataSaver>();
    DeclareSettingsTypes();
}

// The server link's user and room types, which several views benchmarks need; declared once.
inline void ViewsBenchServerTypes()
{
    static const bool s_declared = (Server::CreateData(), true);
    static_cast<void>(s_declared);
}
