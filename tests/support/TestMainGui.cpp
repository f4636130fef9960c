#include <QApplication>
#include <gtest/gtest.h>

// The toolkit keeps some allocations for the life of the process (the offscreen screen, font
// caches); LeakSanitizer is told so here, since CTest also runs this program at build time to
// list its tests, where no environment can be set.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libQt5Gui\nleak:libQt5Widgets\nleak:libqoffscreen\nleak:libfontconfig\n";
}

// Widget tests; CTest runs them with QT_QPA_PLATFORM=offscreen.
int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
