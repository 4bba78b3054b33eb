#include "stream_pipes.h"

#include <cstdio>

#include <fcntl.h>
#include <io.h>
#include <windows.h>

namespace platform {

namespace {

constexpr int STREAM_FD[2] = {1, 2};
constexpr DWORD PIPE_BYTES = 64 * 1024;
// Anonymous pipes cannot be waited on: the reader looks this often.
constexpr DWORD LOOK_EVERY_MS = 10;

HANDLE asHandle(std::intptr_t handle) {
    return reinterpret_cast<HANDLE>(handle);
}

void closeHandle(std::intptr_t &handle) {
    if (handle != -1) {
        CloseHandle(asHandle(handle));
        handle = -1;
    }
}

} // namespace

StreamPipes::~StreamPipes() {
    close();
}

bool StreamPipes::open() {
    std::fflush(stdout);
    std::fflush(stderr);
    const HANDLE wake = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    bool ok = wake != nullptr;
    wake_[0] = ok ? reinterpret_cast<std::intptr_t>(wake) : -1;
    int write_fd[2] = {-1, -1};
    for (int s = 0; ok && s < 2; ++s) {
        HANDLE read_end = nullptr;
        HANDLE write_end = nullptr;
        ok = CreatePipe(&read_end, &write_end, nullptr, PIPE_BYTES) != 0;
        if (!ok) {
            break;
        }
        read_[s] = reinterpret_cast<std::intptr_t>(read_end);
        write_fd[s] = _open_osfhandle(reinterpret_cast<intptr_t>(write_end), _O_BINARY);
        ok = write_fd[s] >= 0;
        if (!ok) {
            CloseHandle(write_end);
        }
    }
    // A program without a console has no streams to keep: what it writes is only read here.
    for (int s = 0; ok && s < 2; ++s) {
        saved_[s] = _dup(STREAM_FD[s]);
    }
    for (int s = 0; ok && s < 2; ++s) {
        ok = _dup2(write_fd[s], STREAM_FD[s]) == 0;
    }
    for (int s = 0; s < 2; ++s) {
        if (write_fd[s] >= 0) {
            _close(write_fd[s]); // the stream's descriptor is the write end now
        }
    }
    if (!ok) {
        restore();
        close();
        return false;
    }
    // The C runtime has no line buffering (it buffers fully instead): write each piece at once.
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    return true;
}

void StreamPipes::restore() {
    for (int s = 0; s < 2; ++s) {
        if (saved_[s] >= 0) {
            _dup2(saved_[s], STREAM_FD[s]);
        }
    }
}

void StreamPipes::close() {
    for (int s = 0; s < 2; ++s) {
        closeHandle(read_[s]);
        if (saved_[s] >= 0) {
            _close(saved_[s]);
            saved_[s] = -1;
        }
    }
    closeHandle(wake_[0]);
}

std::size_t StreamPipes::readNow(Stream stream, char *buffer, std::size_t capacity) {
    const HANDLE pipe = asHandle(read_[stream]);
    DWORD ready = 0;
    if (read_[stream] == -1 || !PeekNamedPipe(pipe, nullptr, 0, nullptr, &ready, nullptr) ||
        ready == 0) {
        return 0;
    }
    DWORD got = 0;
    const DWORD wanted = ready < capacity ? ready : static_cast<DWORD>(capacity);
    if (!ReadFile(pipe, buffer, wanted, &got, nullptr)) {
        return 0;
    }
    return got;
}

void StreamPipes::passOn(Stream stream, const char *bytes, std::size_t length) {
    const int fd = saved_[stream];
    while (fd >= 0 && length > 0) {
        const int n = _write(fd, bytes, static_cast<unsigned>(length));
        if (n <= 0) {
            return; // where the stream went is gone: the caller still has the bytes
        }
        bytes += n;
        length -= static_cast<std::size_t>(n);
    }
}

bool StreamPipes::wait() {
    for (;;) {
        if (WaitForSingleObject(asHandle(wake_[0]), LOOK_EVERY_MS) == WAIT_OBJECT_0) {
            return false;
        }
        for (const std::intptr_t pipe : read_) {
            DWORD ready = 0;
            if (PeekNamedPipe(asHandle(pipe), nullptr, 0, nullptr, &ready, nullptr) && ready > 0) {
                return true;
            }
        }
    }
}

void StreamPipes::wake() {
    SetEvent(asHandle(wake_[0]));
}

} // namespace platform
