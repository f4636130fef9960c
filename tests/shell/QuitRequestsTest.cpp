#include <QApplication>
#include <QDialog>
#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>

#include <csignal>
#include <functional>

#include "shell/QuitRequests.h"

// Each way of asking ends the event loop, also while a dialog without a parent stays open; a
// loop that did not end is cut off with status 1.
TEST(QuitRequestsTest, ClosingTheWindowOrAStopSignalEndsTheEventLoop)
{
    const std::pair<const char*, std::function<void(QWidget&)>> l_requests[] = {
        {"window closed", [](QWidget& io_window) { io_window.close(); }},
        {"SIGTERM", [](QWidget&) { std::raise(SIGTERM); }},
        {"SIGINT", [](QWidget&) { std::raise(SIGINT); }},
    };
    for (const auto& l_request : l_requests)
    {
        QWidget l_window;
        QDialog l_dialog;
        QuitRequests l_quit(&l_window);
        l_window.show();
        l_dialog.show();
        QTimer::singleShot(0, [&] { l_request.second(l_window); });
        QTimer l_cutOff;
        l_cutOff.setSingleShot(true);
        QObject::connect(&l_cutOff, &QTimer::timeout, [] { QCoreApplication::exit(1); });
        l_cutOff.start(20000);
        EXPECT_EQ(QCoreApplication::exec(), 0) << l_request.first;
        EXPECT_TRUE(l_quit.Requested()) << l_request.first;
    }
}
