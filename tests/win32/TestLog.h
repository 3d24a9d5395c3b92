// TestLog.h - how the test stand-ins of the password components record calls.
//
// Each call appends one line to the file named by the environment variable
// GLIDESCAPE_TEST_LOG (a Windows path); the Wine suite reads it afterwards.
#pragma once

#include <windows.h>

#include <cstdarg>
#include <cstdio>

inline void TestLog(const char* format, ...) {
    char file[MAX_PATH] = {};
    if (GetEnvironmentVariableA("GLIDESCAPE_TEST_LOG", file, sizeof(file)) == 0) return;
    char line[512];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(line, sizeof(line), format, arguments);
    va_end(arguments);
    FILE* f = std::fopen(file, "ab");
    if (f == nullptr) return;
    std::fprintf(f, "%s\n", line);
    std::fclose(f);
}
