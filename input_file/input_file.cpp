#include "input_file.h"

#include "input_stream.h"

namespace input_file {

namespace {

ReadResult failure(ReadStatus status, std::string why) {
    ReadResult result;
    result.status = status;
    result.why = std::move(why);
    return result;
}

ReadResult tooLarge(std::size_t limit) {
    return failure(ReadStatus::TooLarge, "it holds more than " + sizeText(limit));
}

// Reads the file to its end. A pipe, a socket or a device may take at most `wait_ms` to deliver
// all of it; a regular file is read at once.
ReadResult readToEnd(platform::InputStream &file, std::size_t limit, int wait_ms) {
    const platform::InputStream::Deadline deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(wait_ms);
    ReadResult result;
    result.status = ReadStatus::Read;
    char buffer[65536];
    for (;;) {
        std::size_t n = 0;
        std::string why;
        switch (file.read(buffer, sizeof(buffer), &n, deadline, &why)) {
        case platform::InputStream::Read::End:
            return result;
        case platform::InputStream::Read::Failed:
            return failure(ReadStatus::ReadFailed, why);
        case platform::InputStream::Read::TimedOut:
            return failure(ReadStatus::DidNotEnd,
                           "it is a pipe or a device that did not end within " +
                               (wait_ms % 1000 == 0 ? std::to_string(wait_ms / 1000) + " s"
                                                    : std::to_string(wait_ms) + " ms"));
        case platform::InputStream::Read::Data:
            break;
        }
        // A regular file may have grown since its size was taken.
        if (result.data.size() + n > limit) {
            return tooLarge(limit);
        }
        result.data.append(buffer, n);
    }
}

} // namespace

std::string sizeText(std::size_t bytes) {
    if (bytes >= 1024 * 1024 && bytes % (1024 * 1024) == 0) {
        return std::to_string(bytes / (1024 * 1024)) + " MiB";
    }
    if (bytes >= 1024 && bytes % 1024 == 0) {
        return std::to_string(bytes / 1024) + " KiB";
    }
    return std::to_string(bytes) + " bytes";
}

ReadResult readAll(const std::string &path, std::size_t limit, int wait_ms) {
    platform::InputStream file;
    std::string why;
    if (!file.open(path, &why)) {
        return failure(ReadStatus::CannotOpen, why);
    }
    if (file.kind() == platform::InputStream::Kind::Directory) {
        return failure(ReadStatus::Directory, "it is a directory");
    }
    // A regular file's size says at once whether it fits.
    if (file.kind() == platform::InputStream::Kind::Regular && file.size() > limit) {
        return tooLarge(limit);
    }
    return readToEnd(file, limit, wait_ms);
}

} // namespace input_file
