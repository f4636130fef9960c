#include <benchmark/benchmark.h>

#include "ViewsBenchApp.h"

int main(int i_argc, char** i_argv)
{
    ViewsBenchApp l_app;
    benchmark::Initialize(&i_argc, i_argv);
    if (benchmark::ReportUnrecognizedArguments(i_argc, i_argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
