#ifndef PLATFORM_IMAGE_FILE_H
#define PLATFORM_IMAGE_FILE_H

#include <cstdio>

namespace platform {

// Opens a file that a person named for buffered binary reading, without waiting: a named pipe
// would wait for a writer, perhaps for ever, and a device such as /dev/zero never ends. Only a
// regular file or a directory (whose first read fails) is opened; otherwise null, with what went
// wrong in `*failure` (valid until the next call on this thread).
std::FILE *openRegularFile(const char *path, const char **failure);

} // namespace platform

#endif // PLATFORM_IMAGE_FILE_H
