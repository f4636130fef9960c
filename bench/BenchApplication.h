#pragma once

#include <QCoreApplication>

#include <memory>

// The one application object a benchmark program needs for its event loop and sockets; none is
// made when the program already has one. Qt keeps a reference to argc and argv for the life of
// the application, so they live as long as the program.
template <class Application = QCoreApplication>
std::unique_ptr<Application> NewBenchApplication()
{
    static int s_argc = 1;
    static char s_name[] = "tarnwick_bench";
    static char* s_argv[] = {s_name, nullptr};
    if (QCoreApplication::instance())
        return nullptr;
    return std::make_unique<Application>(s_argc, s_argv);
}
