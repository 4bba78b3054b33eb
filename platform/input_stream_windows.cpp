#include "input_stream.h"

#include "system_text.h"

#include <windows.h>

namespace platform {

namespace {

HANDLE asHandle(std::intptr_t handle) {
    return reinterpret_cast<HANDLE>(handle);
}

} // namespace

InputStream::~InputStream() {
    if (handle_ != -1) {
        CloseHandle(asHandle(handle_));
    }
    if (event_ != nullptr) {
        CloseHandle(static_cast<HANDLE>(event_));
    }
}

bool InputStream::open(const std::string &path, std::string *why) {
    // Overlapped, so that no read of a pipe or a device waits past its deadline; a named pipe
    // with no free instance is refused at once rather than waited for. Backup semantics let a
    // directory open, so that it is named as one.
    const HANDLE file =
        CreateFileW(wideText(path).c_str(), GENERIC_READ,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                    FILE_FLAG_OVERLAPPED | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        *why = lastErrorText();
        return false;
    }
    handle_ = reinterpret_cast<std::intptr_t>(file);
    event_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (event_ == nullptr) {
        *why = lastErrorText();
        return false;
    }
    if (GetFileType(file) != FILE_TYPE_DISK) {
        kind_ = Kind::Stream;
        return true;
    }
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(file, &info)) {
        *why = lastErrorText();
        return false;
    }
    kind_ =
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? Kind::Directory : Kind::Regular;
    size_ = (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    return true;
}

InputStream::Read InputStream::read(char *buffer, std::size_t capacity, std::size_t *got,
                                    Deadline deadline, std::string *why) {
    *got = 0;
    const HANDLE file = asHandle(handle_);
    OVERLAPPED request{};
    request.Offset = static_cast<DWORD>(offset_);
    request.OffsetHigh = static_cast<DWORD>(offset_ >> 32);
    request.hEvent = static_cast<HANDLE>(event_);
    const DWORD wanted = capacity > 0x10000000 ? 0x10000000 : static_cast<DWORD>(capacity);
    DWORD done = 0;
    if (!ReadFile(file, buffer, wanted, nullptr, &request)) {
        const DWORD error = GetLastError();
        if (error == ERROR_HANDLE_EOF || error == ERROR_BROKEN_PIPE) {
            return Read::End;
        }
        if (error != ERROR_IO_PENDING) {
            *why = systemText(error);
            return Read::Failed;
        }
        if (kind_ == Kind::Stream) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  deadline - std::chrono::steady_clock::now())
                                  .count();
            const DWORD wait = left > 0 ? static_cast<DWORD>(left) : 0;
            if (WaitForSingleObject(request.hEvent, wait) == WAIT_TIMEOUT) {
                CancelIoEx(file, &request);
                GetOverlappedResult(file, &request, &done, TRUE); // the buffer is free again
                return Read::TimedOut;
            }
        }
    }
    if (!GetOverlappedResult(file, &request, &done, TRUE)) {
        const DWORD error = GetLastError();
        if (error == ERROR_HANDLE_EOF || error == ERROR_BROKEN_PIPE) {
            return Read::End;
        }
        *why = systemText(error);
        return Read::Failed;
    }
    if (done == 0) {
        return Read::End;
    }
    offset_ += done;
    *got = done;
    return Read::Data;
}

} // namespace platform
