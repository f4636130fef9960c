#include "shell/QuitRequests.h"

#include <csignal>
#include <functional>

#include "ShellFixture.h"

// Each way of asking ends the event loop, also while a dialog without a parent stays open; a
// loop that did not end is cut off with status 1.
TEST(QuitRequestsTest, ClosingTheWindowOrAStopSignalEndsTheEventLoop)
{
    const std::pair<const char*, std::function<void(QWidget&)>> l_requests[] = {
        {"window closed", [](QWidget& io_window) { io_window.close(); }},
        {"SIGTERM", [](QWidget&) { std::raise(SIGTERM); }},
        {"SIGINT", [](QWidget&) { std::raise(SIGINT); }}};
    for (const auto& l_request : l_requests)
    {
        QWidget l_window;
        QDialog l_dialog;
        QuitRequests l_quit(&l_window);
        l_window.show();
        l_dialog.show();
        QTimer::singleShot(0, [&] { l_request.second(l_window); });
        QTimer::singleShot(20000, &l_window, [] { QCoreApplication::exit(1); });
        EXPECT_EQ(QCoreApplication::exec(), 0) << l_request.first;
        EXPECT_TRUE(l_quit.Requested()) << l_request.first;
    }
}
