#pragma once

#include <QApplication>

#include <functional>
#include <memory>
#include <vector>

#include "../BenchApplication.h"
#include "store/DataSaver.h"
#include "store/TimerManager.h"
#include "support/support/ClientSchema.h"

// The one application, timers, data saver and settings types that every views benchmark runs
// in. `main` holds it, so that all of it goes before `main` returns: an application left to the
// static destructors outlives the toolkit's own statics and crashes on its way out.
class ViewsBenchApp
{
public:
    ViewsBenchApp()
    {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        mp_app = NewBenchApplication<QApplication>();
        mp_timers = std::make_unique<TimerManager>();
        mp_saver = std::make_unique<DataSaver>();
        DeclareSettingsTypes();
    }

    ~ViewsBenchApp()
    {
        for (auto l_release = Releases().rbegin(); l_release != Releases().rend(); ++l_release)
            (*l_release)();
        Releases().clear();
        mp_saver.reset();
        mp_timers.reset();
        mp_app.reset();
    }

    ViewsBenchApp(const ViewsBenchApp&) = delete;
    ViewsBenchApp& operator=(const ViewsBenchApp&) = delete;

    // What a benchmark keeps beyond its run (a form, a view) is freed here, before the
    // application, newest first.
    static void AtExit(std::function<void()> i_release) { Releases().push_back(std::move(i_release)); }

private:
    static std::vector<std::function<void()>>& Releases()
    {
        static std::vector<std::function<void()>> s_releases;
        return s_releases;
    }

    std::unique_ptr<QApplication> mp_app;
    std::unique_ptr<TimerManager> mp_timers;
    std::unique_ptr<DataSaver> mp_saver;
};
