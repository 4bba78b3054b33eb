// Every test process is a machine of its own: its simulated units are its own, so the locks that
// keep two programs off one unit live in a lock folder of the process's own. Tests run in parallel
// would otherwise find each other's simulated unit "in use".
#include <cstdlib>
#include <ftw.h>
#include <string>
#include <unistd.h>

namespace {

std::string &folder() {
    static std::string path;
    return path;
}

int removeEntry(const char *path, const struct stat *, int, struct FTW *) {
    return ::remove(path);
}

void removeFolder() {
    if (!folder().empty()) {
        ::nftw(folder().c_str(), removeEntry, 8, FTW_DEPTH | FTW_PHYS);
    }
}

const bool made = [] {
    char pattern[] = "/tmp/efis-test-runtime-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) {
        return false;
    }
    folder() = pattern;
    ::setenv("XDG_RUNTIME_DIR", pattern, 1);
    std::atexit(removeFolder);
    return true;
}();

} // namespace
