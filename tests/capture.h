#ifndef TESTS_CAPTURE_H
#define TESTS_CAPTURE_H

// Captures what a piece of code writes to the standard output or error stream,
// at the file-descriptor level, so printf-style lines and the log handler's
// lines are seen exactly as a user would see them.

#include <cstdio>
#include <functional>
#include <string>

#include <unistd.h>

inline std::string captureFd(int fd, const std::function<void()> &body) {
    std::FILE *stream = fd == 1 ? stdout : stderr;
    std::fflush(stream);
    std::FILE *tmp = std::tmpfile();
    if (!tmp) {
        body();
        return "<capture failed>";
    }
    const int saved = dup(fd);
    dup2(fileno(tmp), fd);
    body();
    std::fflush(stream);
    dup2(saved, fd);
    close(saved);
    std::string out;
    std::rewind(tmp);
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof(buf), tmp)) > 0) {
        out.append(buf, n);
    }
    std::fclose(tmp);
    return out;
}

inline std::string captureStdout(const std::function<void()> &body) {
    return captureFd(1, body);
}
inline std::string captureStderr(const std::function<void()> &body) {
    return captureFd(2, body);
}

#endif // TESTS_CAPTURE_H
