#ifndef PLATFORM_THIS_PROCESS_H
#define PLATFORM_THIS_PROCESS_H

// Who this program is, as another program of the tool names it when it finds a unit held: the
// program's file name as it was started (no folder) and its process id.

#include <string>

#if defined(_WIN32)
#include <process.h>
#include <windows.h>
#else
#include <cerrno>
#include <cstdlib>
#include <unistd.h>
#endif

namespace platform {

inline unsigned long processId() {
#if defined(_WIN32)
    return static_cast<unsigned long>(GetCurrentProcessId());
#else
    return static_cast<unsigned long>(::getpid());
#endif
}

inline std::string programName() {
#if defined(_WIN32)
    char path[MAX_PATH] = {};
    const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string name(path, n < MAX_PATH ? n : 0);
    const std::size_t slash = name.find_last_of("\\/");
    if (slash != std::string::npos)
        name.erase(0, slash + 1);
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".exe") == 0)
        name.resize(name.size() - 4);
    return name;
#elif defined(__GLIBC__)
    return program_invocation_short_name;
#elif defined(__APPLE__) || defined(__FreeBSD__)
    return getprogname();
#else
    return {};
#endif
}

} // namespace platform

#endif // PLATFORM_THIS_PROCESS_H
