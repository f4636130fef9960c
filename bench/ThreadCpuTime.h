#pragma once

#include <time.h>

// The processor time the calling thread has used, kernel time included, in seconds: on a shared
// machine it tells the work done from the time spent waiting for a processor.
inline double ThreadCpuSeconds()
{
    timespec l_time{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &l_time);
    return double(l_time.tv_sec) + double(l_time.tv_nsec) / 1e9;
}
