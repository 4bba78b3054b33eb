#ifndef PLATFORM_NEW_FILE_H
#define PLATFORM_NEW_FILE_H

// Writing a file the tool keeps for the person (a backup, an export) without ever writing through
// something planted at its name: a name the tool made up is only ever created new, and a file the
// person named is replaced by a rename, which takes the place of a symbolic link instead of
// following it.

#include <string>

namespace platform {

enum class WriteOutcome {
    Written, // the file holds the data, whole
    Exists,  // something (a file, a folder, a link) already has the name: nothing was written
    Failed   // `error` says why; nothing is left behind under the name
};

struct WriteResult {
    WriteOutcome outcome = WriteOutcome::Failed;
    std::string error; // the system's words, for Failed
};

// Creates `path` new and writes `data` whole, flushed to the disk. Never opens an existing file
// and never follows a symbolic link at `path` (O_CREAT|O_EXCL|O_NOFOLLOW or its equivalent).
// A write that fails removes the file it created. `path` is in the system's file-name encoding.
WriteResult writeNewFile(const std::string &path, const std::string &data);

// Puts a file holding `data` at `path`, whether or not something has the name: the data goes to a
// new temporary file beside it, which is then renamed over `path`. A symbolic link at `path` is
// replaced by the file, never followed; a folder there is not replaced (Failed).
WriteResult replaceFile(const std::string &path, const std::string &data);

} // namespace platform

#endif // PLATFORM_NEW_FILE_H
