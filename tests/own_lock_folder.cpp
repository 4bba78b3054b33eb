// Every test process is a machine of its own: its simulated units are its own, so the locks that
// keep two programs off one unit live in a lock folder of the process's own. Tests run in parallel
// would otherwise find each other's simulated unit "in use".
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <system_error>

namespace {

std::filesystem::path &folder() {
    static std::filesystem::path path;
    return path;
}

void removeFolder() {
    std::error_code ignored;
    if (!folder().empty()) {
        std::filesystem::remove_all(folder(), ignored);
    }
}

// The variable the lock folder is found under: the runtime folder on Linux, the per-user
// application data folder on Windows.
bool pointLocksAt(const std::string &path) {
#ifdef _WIN32
    return ::_putenv_s("LOCALAPPDATA", path.c_str()) == 0;
#else
    return ::setenv("XDG_RUNTIME_DIR", path.c_str(), 1) == 0;
#endif
}

const bool made = [] {
    std::error_code error;
    const std::filesystem::path temp = std::filesystem::temp_directory_path(error);
    if (error) {
        return false;
    }
    std::random_device random;
    for (int attempt = 0; attempt < 16; ++attempt) {
        const std::filesystem::path candidate =
            temp / ("efis-test-runtime-" + std::to_string(random()));
        if (std::filesystem::create_directory(candidate, error) && !error) {
            std::filesystem::permissions(candidate, std::filesystem::perms::owner_all,
                                         std::filesystem::perm_options::replace, error);
            folder() = candidate;
            std::atexit(removeFolder);
            return pointLocksAt(candidate.string());
        }
    }
    return false;
}();

} // namespace
