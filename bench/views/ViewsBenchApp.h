#pragma once

#include <QApplication>

#include <memory>

#include "store/DataSaver.h"
#include "store/TimerManager.h"
#include "support/support/ClientSchema.h"

// The one application, timers, data saver and settings types that every views benchmark runs
// in, made by whichever benchmark runs first.
inline void ViewsBenchApp()
{
    static int s_argc = 1;
    static char s_name[] = "views_bench";
    static char* s_argv[] = {s_name, nullptr};
    static std::unique_ptr<QApplication> s_app;
    static std::unique_ptr<TimerManager> s_timers;
    static std::unique_ptr<DataSaver> s_saver;
    if (s_app)
        return;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    s_app = std::make_unique<QApplication>(s_argc, s_argv);
    s_timers = std::make_unique<TimerManager>();
    s_saver = std::make_unique<DataSaver>();
    DeclareSettingsTypes();
}
