#include "new_file.h"

#include "system_text.h"

#include <windows.h>

#include <cstdio>
#include <random>

namespace platform {

namespace {

WriteResult failed(DWORD error) {
    WriteResult result;
    result.outcome = WriteOutcome::Failed;
    result.error = systemText(error);
    return result;
}

// Creates `path` new: CREATE_NEW fails on anything that already has the name, a file, a folder or
// a link (dangling or not), so nothing planted there is ever opened.
HANDLE createNew(const std::string &path) {
    return CreateFileW(wideText(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                       FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

// Writes all of `data` into the file just created at `path`, flushes and closes it; on failure
// the file is removed.
WriteResult fill(HANDLE file, const std::string &path, const std::string &data) {
    DWORD error = 0;
    std::size_t done = 0;
    while (error == 0 && done < data.size()) {
        const std::size_t left = data.size() - done;
        const DWORD chunk = left > 0x40000000u ? 0x40000000u : static_cast<DWORD>(left);
        DWORD written = 0;
        if (!WriteFile(file, data.data() + done, chunk, &written, nullptr) || written == 0) {
            error = GetLastError() != 0 ? GetLastError() : ERROR_WRITE_FAULT;
        }
        done += written;
    }
    if (error == 0 && !FlushFileBuffers(file)) {
        error = GetLastError();
    }
    if (!CloseHandle(file) && error == 0) {
        error = GetLastError();
    }
    if (error != 0) {
        DeleteFileW(wideText(path).c_str());
        return failed(error);
    }
    return {WriteOutcome::Written, {}};
}

} // namespace

WriteResult writeNewFile(const std::string &path, const std::string &data) {
    const HANDLE file = createNew(path);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) {
            return {WriteOutcome::Exists, {}};
        }
        return failed(error);
    }
    return fill(file, path, data);
}

WriteResult replaceFile(const std::string &path, const std::string &data) {
    const DWORD attributes = GetFileAttributesW(wideText(path).c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
        (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
        return failed(ERROR_DIRECTORY);
    }
    // A temporary beside the file, so that the move stays on one volume.
    std::random_device random;
    for (int attempt = 0; attempt < 16; ++attempt) {
        char suffix[32];
        std::snprintf(suffix, sizeof(suffix), ".%08x.tmp", static_cast<unsigned>(random()));
        const std::string temporary = path + suffix;
        const HANDLE file = createNew(temporary);
        if (file == INVALID_HANDLE_VALUE) {
            const DWORD error = GetLastError();
            if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) {
                continue;
            }
            return failed(error);
        }
        const WriteResult written = fill(file, temporary, data);
        if (written.outcome != WriteOutcome::Written) {
            return written;
        }
        // The move replaces a link at `path` by the file; it never writes to the link's target.
        if (!MoveFileExW(wideText(temporary).c_str(), wideText(path).c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            const DWORD error = GetLastError();
            DeleteFileW(wideText(temporary).c_str());
            return failed(error);
        }
        return {WriteOutcome::Written, {}};
    }
    return failed(ERROR_FILE_EXISTS);
}

} // namespace platform
