#include "exclusive_lock.h"

#include "system_text.h"

#include <windows.h>

namespace platform {

namespace {

// Holder text is a short line (a program name and a process id); more than this is not ours.
constexpr DWORD holderTextLimit = 512;
// Windows' locks are mandatory: a lock on the holder text would stop others reading who holds
// it. The lock is on one byte far beyond any text instead, which Windows allows past the end.
constexpr DWORD lockOffsetHigh = 0x7FFFFFFF;

HANDLE asHandle(std::intptr_t handle) {
    return reinterpret_cast<HANDLE>(handle);
}

// A regular file, reached without following a link or a junction at its own name.
bool plainFile(HANDLE file) {
    if (GetFileType(file) != FILE_TYPE_DISK) {
        return false;
    }
    BY_HANDLE_FILE_INFORMATION info;
    return GetFileInformationByHandle(file, &info) &&
           (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0;
}

HANDLE openFile(const std::string &path, DWORD access, DWORD disposition) {
    // Not inherited by started programs (no security attributes), so none keeps the lock.
    return CreateFileW(wideText(path).c_str(), access,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, disposition,
                       FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

} // namespace

ExclusiveLock::~ExclusiveLock() {
    release();
}

ExclusiveLock::ExclusiveLock(ExclusiveLock &&other) noexcept : handle_(other.handle_) {
    other.handle_ = invalid;
}

ExclusiveLock &ExclusiveLock::operator=(ExclusiveLock &&other) noexcept {
    if (this != &other) {
        release();
        handle_ = other.handle_;
        other.handle_ = invalid;
    }
    return *this;
}

ExclusiveLock::Outcome ExclusiveLock::take(const std::string &path, bool create) {
    release();
    if (path.empty()) {
        return Outcome::NoFile;
    }
    // A device (the unit's HID interface) cannot carry a file lock on Windows: only files are
    // locked here, and a device path is refused as a file that cannot be opened.
    const HANDLE file =
        openFile(path, GENERIC_READ | GENERIC_WRITE, create ? OPEN_ALWAYS : OPEN_EXISTING);
    if (file == INVALID_HANDLE_VALUE) {
        return Outcome::NoFile;
    }
    if (!plainFile(file)) {
        CloseHandle(file);
        return Outcome::NoFile;
    }
    OVERLAPPED where{};
    where.OffsetHigh = lockOffsetHigh;
    if (LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &where)) {
        // Windows gives the lock back when the handle closes, which it does when the process
        // ends in any way.
        handle_ = reinterpret_cast<std::intptr_t>(file);
        return Outcome::Taken;
    }
    const DWORD error = GetLastError();
    CloseHandle(file);
    return error == ERROR_LOCK_VIOLATION || error == ERROR_IO_PENDING ? Outcome::HeldByOther
                                                                      : Outcome::NoFile;
}

void ExclusiveLock::release() {
    if (handle_ == invalid) {
        return;
    }
    CloseHandle(asHandle(handle_));
    handle_ = invalid;
}

bool ExclusiveLock::writeHolder(const std::string &text) {
    if (handle_ == invalid) {
        return false;
    }
    const HANDLE file = asHandle(handle_);
    LARGE_INTEGER start{};
    if (!SetFilePointerEx(file, start, nullptr, FILE_BEGIN) || !SetEndOfFile(file)) {
        return false;
    }
    DWORD written = 0;
    return text.empty() ||
           (WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
            written == text.size());
}

std::string ExclusiveLock::readHolder(const std::string &path) {
    const HANDLE file = openFile(path, GENERIC_READ, OPEN_EXISTING);
    if (file == INVALID_HANDLE_VALUE) {
        return {};
    }
    std::string text;
    if (plainFile(file)) {
        char buffer[holderTextLimit];
        DWORD got = 0;
        if (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) {
            text.assign(buffer, got);
        }
    }
    CloseHandle(file);
    return text;
}

std::string lockFolder() {
    // The user's own local application data folder, which other users cannot enter; the
    // temporary folder (also the user's own) where there is none.
    wchar_t buffer[MAX_PATH + 1];
    DWORD length = GetEnvironmentVariableW(L"LOCALAPPDATA", buffer, MAX_PATH);
    std::wstring base;
    if (length > 0 && length < MAX_PATH) {
        base.assign(buffer, length);
    } else {
        length = GetTempPathW(MAX_PATH, buffer);
        if (length == 0 || length >= MAX_PATH) {
            return {};
        }
        base.assign(buffer, length);
    }
    while (!base.empty() && (base.back() == L'\\' || base.back() == L'/')) {
        base.pop_back();
    }
    const std::wstring folder = base + L"\\efis-config";
    if (!CreateDirectoryW(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
        return {};
    }
    const DWORD attributes = GetFileAttributesW(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
        (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        return {};
    }
    return utf8Text(folder);
}

} // namespace platform
