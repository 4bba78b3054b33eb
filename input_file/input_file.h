#ifndef INPUT_FILE_H
#define INPUT_FILE_H

// Reading a file that a person named, whatever it turns out to be: a regular file, a pipe, a
// device such as /dev/zero, or a directory. Nothing waits for ever and nothing grows without
// bound: a file larger than the limit, a directory, or a pipe or device that does not end
// within the wait is refused with a text that says which. Plain C++, no Qt.

#include <cstddef>
#include <string>

namespace input_file {

// How long a pipe or a device may take to deliver all of its data.
inline constexpr int STREAM_WAIT_MS = 1000;

enum class ReadStatus { Read, CannotOpen, Directory, TooLarge, DidNotEnd, ReadFailed };

struct ReadResult {
    ReadStatus status = ReadStatus::CannotOpen;
    std::string data; // the whole file when Read; empty otherwise
    std::string why;  // for every other status: what went wrong, as a person reads it
};

// Reads the file at `path` whole, refusing one that holds more than `limit` bytes.
ReadResult readAll(const std::string &path, std::size_t limit, int wait_ms = STREAM_WAIT_MS);

// "1 MiB", "64 KiB" or "100 bytes": a limit as the refusal names it.
std::string sizeText(std::size_t bytes);

} // namespace input_file

#endif // INPUT_FILE_H
