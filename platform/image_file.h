#ifndef PLATFORM_IMAGE_FILE_H
#define PLATFORM_IMAGE_FILE_H

namespace platform {

// Opens a file that a person named for reading, without waiting: opening a named pipe would wait
// for a writer, perhaps for ever. A file descriptor for read(), fstat() and close(), or -1 with
// errno saying why. A folder opens where the system allows it (fstat() then says so) and gives
// EISDIR where it does not (Windows). Binary, and not handed to programs this one starts.
int openForReading(const char *path);

} // namespace platform

#endif // PLATFORM_IMAGE_FILE_H
