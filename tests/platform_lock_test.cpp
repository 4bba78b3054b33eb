// The lock every program of the tool honours on a unit, against the system's own locking: held by
// one open description at a time, refused at once to another, given back however its holder ends.
#include "exclusive_lock.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

using platform::ExclusiveLock;
using Outcome = ExclusiveLock::Outcome;

namespace {

class TempFolder {
public:
    TempFolder() {
        char pattern[] = "/tmp/efis-lock-test-XXXXXX";
        const char *made = ::mkdtemp(pattern);
        path_ = made ? made : "";
    }
    ~TempFolder() {
        const std::string command = "rm -rf '" + path_ + "'";
        if (!path_.empty())
            (void)std::system(command.c_str());
    }
    std::string operator/(const std::string &name) const { return path_ + "/" + name; }
    const std::string &path() const { return path_; }

private:
    std::string path_;
};

// Another process that takes the lock, says so through a pipe and holds it until killed.
struct Holder {
    pid_t pid = -1;
    Outcome outcome = Outcome::NoFile;

    explicit Holder(const std::string &path, const std::string &text) {
        int fds[2];
        if (::pipe(fds) != 0)
            return;
        pid = ::fork();
        if (pid == 0) {
            ::close(fds[0]);
            ExclusiveLock lock;
            const char result = static_cast<char>(lock.take(path, true));
            lock.writeHolder(text);
            (void)!::write(fds[1], &result, 1);
            for (;;)
                ::pause();
        }
        ::close(fds[1]);
        char result = 0;
        if (pid > 0 && ::read(fds[0], &result, 1) == 1)
            outcome = static_cast<Outcome>(result);
        ::close(fds[0]);
    }
    void end(int signal) {
        if (pid <= 0)
            return;
        ::kill(pid, signal);
        int status = 0;
        ::waitpid(pid, &status, 0);
        pid = -1;
    }
    ~Holder() { end(SIGKILL); }
};

} // namespace

TEST(ExclusiveLock, OneHolderAtATimeUntilReleaseOrEnd) {
    TempFolder folder;
    const std::string path = folder / "unit.lock";

    ExclusiveLock first;
    EXPECT_FALSE(first.held());
    ASSERT_EQ(first.take(path, true), Outcome::Taken);
    EXPECT_TRUE(first.held());

    // Another open description in the same process is refused, without waiting.
    ExclusiveLock second;
    EXPECT_EQ(second.take(path, true), Outcome::HeldByOther);
    EXPECT_FALSE(second.held());

    first.release();
    EXPECT_FALSE(first.held());
    EXPECT_EQ(second.take(path, true), Outcome::Taken);

    // A moved lock stays held by its new owner; its end gives it back.
    {
        ExclusiveLock moved(std::move(second));
        EXPECT_FALSE(second.held());
        EXPECT_TRUE(moved.held());
        EXPECT_EQ(first.take(path, true), Outcome::HeldByOther);
    }
    EXPECT_EQ(first.take(path, true), Outcome::Taken);

    // Taking another file gives back the one held before.
    EXPECT_EQ(first.take(folder / "other.lock", true), Outcome::Taken);
    EXPECT_EQ(second.take(path, true), Outcome::Taken);
}

TEST(ExclusiveLock, AnotherProcessIsRefusedAndLearnsWhoHoldsIt) {
    TempFolder folder;
    const std::string path = folder / "unit.lock";
    {
        Holder other(path, "efis-cli 4242\n");
        ASSERT_EQ(other.outcome, Outcome::Taken);
        ExclusiveLock mine;
        EXPECT_EQ(mine.take(path, true), Outcome::HeldByOther);
        EXPECT_EQ(ExclusiveLock::readHolder(path), "efis-cli 4242\n");

        // A process killed outright leaves nothing locked behind it.
        other.end(SIGKILL);
        ASSERT_EQ(mine.take(path, true), Outcome::Taken);
        ASSERT_TRUE(mine.writeHolder("x"));
        EXPECT_EQ(ExclusiveLock::readHolder(path), "x"); // the earlier, longer text is gone
    }
    {
        ExclusiveLock mine;
        ASSERT_EQ(mine.take(path, true), Outcome::Taken);
        Holder other(path, "never");
        EXPECT_EQ(other.outcome, Outcome::HeldByOther);
    }
}

TEST(ExclusiveLock, AProgramStartedWhileHoldingDoesNotKeepTheLock) {
    TempFolder folder;
    const std::string path = folder / "unit.lock";
    ExclusiveLock lock;
    ASSERT_EQ(lock.take(path, true), Outcome::Taken);

    // A program started from the holder (a browser opened from the window, say) outlives it.
    pid_t child = -1;
    char sleepName[] = "sleep";
    char seconds[] = "30";
    char *argv[] = {sleepName, seconds, nullptr};
    ASSERT_EQ(::posix_spawnp(&child, "sleep", nullptr, nullptr, argv, environ), 0);
    lock.release();
    ExclusiveLock next;
    EXPECT_EQ(next.take(path, true), Outcome::Taken);
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
}

TEST(ExclusiveLock, ExistingNodesAreLockedAndLinksAreNotFollowed) {
    TempFolder folder;
    // A node that exists is opened as it is (the way a unit's device node is).
    const std::string node = folder / "node";
    {
        ExclusiveLock create;
        ASSERT_EQ(create.take(node, true), Outcome::Taken);
    }
    ::chmod(node.c_str(), 0400);
    ExclusiveLock onNode;
    EXPECT_EQ(onNode.take(node, false), Outcome::Taken);
    ExclusiveLock again;
    EXPECT_EQ(again.take(node, false), Outcome::HeldByOther);

    // A missing node is never created when only an existing one is wanted.
    const std::string missing = folder / "missing";
    EXPECT_EQ(again.take(missing, false), Outcome::NoFile);
    EXPECT_NE(::access(missing.c_str(), F_OK), 0);

    // A link planted at a lock file's name is refused, and its target is left as it was.
    const std::string target = folder / "target";
    ASSERT_EQ(std::system(("printf keep > '" + target + "'").c_str()), 0);
    const std::string link = folder / "planted.lock";
    ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);
    EXPECT_EQ(again.take(link, true), Outcome::NoFile);
    EXPECT_FALSE(again.held());
    EXPECT_EQ(ExclusiveLock::readHolder(target), "keep");
    EXPECT_EQ(ExclusiveLock::readHolder(link), ""); // nor read through

    // A FIFO at the name does not hang the open.
    const std::string fifo = folder / "fifo.lock";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(again.take(fifo, true), Outcome::NoFile);

    EXPECT_FALSE(again.writeHolder("not held"));
}

TEST(ExclusiveLock, LockFolderIsPrivateAndPrefersTheRuntimeFolder) {
    TempFolder runtime;
    TempFolder temp;
    const char *savedRuntime = std::getenv("XDG_RUNTIME_DIR");
    const char *savedTmp = std::getenv("TMPDIR");
    const std::string keepRuntime = savedRuntime ? savedRuntime : "";
    const std::string keepTmp = savedTmp ? savedTmp : "";

    ::setenv("XDG_RUNTIME_DIR", runtime.path().c_str(), 1);
    ::setenv("TMPDIR", temp.path().c_str(), 1);
    const std::string underRuntime = platform::lockFolder();
    EXPECT_EQ(underRuntime, runtime / "efis-config");

    ::unsetenv("XDG_RUNTIME_DIR");
    const std::string underTemp = platform::lockFolder();
    EXPECT_EQ(underTemp, temp / ("efis-config-" + std::to_string(::geteuid())));
    struct stat st {};
    ASSERT_EQ(::stat(underTemp.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    // Loosened by someone, it is made private again; a link in its place is not used.
    ::chmod(underTemp.c_str(), 0777);
    EXPECT_EQ(platform::lockFolder(), underTemp);
    ASSERT_EQ(::stat(underTemp.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    ASSERT_EQ(std::system(("rm -rf '" + underTemp + "'").c_str()), 0);
    ASSERT_EQ(::symlink(runtime.path().c_str(), underTemp.c_str()), 0);
    EXPECT_EQ(platform::lockFolder(), "");

    if (savedRuntime)
        ::setenv("XDG_RUNTIME_DIR", keepRuntime.c_str(), 1);
    if (savedTmp)
        ::setenv("TMPDIR", keepTmp.c_str(), 1);
    else
        ::unsetenv("TMPDIR");
}
