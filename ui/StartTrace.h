// Start-up trace points for the benchmark's phase profile (bench/run-bench.py --phases). Built
// only with QUENLET_START_TRACE defined; then each point appends "<unix microseconds> <phase>" to
// the file that the environment variable QUENLET_START_TRACE names. Otherwise they are nothing,
// so the shipped exe has none of it.
#pragma once

#ifdef QUENLET_START_TRACE
#include <windows.h>

#include <cstdio>

inline void StartTrace(const char* phase)
{
    wchar_t path[MAX_PATH];
    const DWORD n = GetEnvironmentVariableW(L"QUENLET_START_TRACE", path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH)
        return;
    FILETIME ft;
    GetSystemTimePreciseAsFileTime(&ft);
    const unsigned long long ticks = (static_cast<unsigned long long>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
    const unsigned long long unixMicroseconds = ticks / 10 - 11644473600ULL * 1000000ULL;
    if (FILE* f = _wfopen(path, L"a")) {
        std::fprintf(f, "%llu %s\n", unixMicroseconds, phase);
        std::fclose(f);
    }
}
#else
inline void StartTrace(const char*) {}
#endif
