#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <optional>

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

namespace
{
// gtest runs a death test's statement in this program started again with this flag; that child
// dies before any destructor runs, so folders it made would stay behind.
bool IsDeathTestChild(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i)
        if (std::strncmp(argv[i], "--gtest_internal_run_death_test", 31) == 0)
            return true;
    return false;
}
} // namespace

int main(int argc, char** argv)
{
    // No test may read or write the home or runtime folder of whoever runs it: each test process
    // (listing its tests at build time included) gets fresh ones, gone when it ends. A fixture
    // may still move HOME to a folder of its own. A death test's child keeps those of the process
    // that started it, which it inherits and which that process removes.
    std::optional<QTemporaryDir> l_home, l_runtime;
    if (!IsDeathTestChild(argc, argv))
    {
        l_home.emplace();
        l_runtime.emplace();
        if (!l_home->isValid() || !l_runtime->isValid())
        {
            std::fprintf(stderr, "No temporary home or runtime folder for the tests.\n");
            return 1;
        }
        qputenv("HOME", QFile::encodeName(l_home->path()));
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(l_runtime->path()));
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    TestApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
