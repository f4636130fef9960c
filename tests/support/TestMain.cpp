#include <gtest/gtest.h>

#ifdef TARNWICK_TEST_GUI
#include <QApplication>
using TestApplication = QApplication;

// The toolkit keeps some allocations for the process's life (offscreen screen, font caches). CTest
// also runs this program at build time to list its tests, where no environment can be set.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libQt5Gui\nleak:libQt5Widgets\nleak:libqoffscreen\nleak:libfontconfig\n";
}
#else
// Engine tests need an event loop for timers, sockets and queued signals, but no widgets.
#include <QCoreApplication>
using TestApplication = QCoreApplication;
#endif

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    TestApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
