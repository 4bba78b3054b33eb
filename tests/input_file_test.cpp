// Reading a file a person named: a regular file up to the limit, and every kind of file that is
// no settings file at all (a directory, a device that never ends, a pipe nobody writes), each
// refused with its reason instead of a hang or a read without end.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <thread>

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include "input_file.h"

using input_file::ReadStatus;

namespace {

class InputFile : public ::testing::Test {
protected:
    void SetUp() override {
        char name[] = "/tmp/efis_input_test.XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        dir = name;
    }
    void TearDown() override {
        std::remove((dir + "/ten").c_str());
        std::remove((dir + "/pipe").c_str());
        rmdir(dir.c_str());
    }
    std::string dir;
};

} // namespace

TEST_F(InputFile, RegularFileIsReadWholeUpToTheLimit) {
    const std::string path = dir + "/ten";
    std::FILE *f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fputs("0123456789", f);
    std::fclose(f);

    input_file::ReadResult r = input_file::readAll(path, 10);
    EXPECT_EQ(r.status, ReadStatus::Read);
    EXPECT_EQ(r.data, "0123456789");

    r = input_file::readAll(path, 9);
    EXPECT_EQ(r.status, ReadStatus::TooLarge);
    EXPECT_EQ(r.why, "it holds more than 9 bytes");
    EXPECT_TRUE(r.data.empty());
}

TEST_F(InputFile, WhatIsNoFileOrNeverEndsIsRefusedWithItsReason) {
    input_file::ReadResult r = input_file::readAll("/dev/zero", 1024 * 1024);
    EXPECT_EQ(r.status, ReadStatus::TooLarge);
    EXPECT_EQ(r.why, "it holds more than 1 MiB");

    r = input_file::readAll(dir, 1024);
    EXPECT_EQ(r.status, ReadStatus::Directory);
    EXPECT_EQ(r.why, "it is a directory");

    r = input_file::readAll(dir + "/missing", 1024);
    EXPECT_EQ(r.status, ReadStatus::CannotOpen);
    EXPECT_EQ(r.why, "No such file or directory");

    // A named pipe that nobody writes: opening it must not wait for a writer, and the read
    // gives up after the wait.
    const std::string fifo = dir + "/pipe";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    r = input_file::readAll(fifo, 1024, 100);
    EXPECT_EQ(r.status, ReadStatus::DidNotEnd);
    EXPECT_EQ(r.why, "it is a pipe or a device that did not end within 100 ms");
}

TEST_F(InputFile, PipeThatEndsIsReadAsAFile) {
    // As the shell hands over `<(cat settings.json)`: a pipe whose writer finishes.
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    std::thread writer([w = fds[1]] {
        const std::string text(70000, 'x'); // more than one pipe buffer
        std::size_t at = 0;
        while (at < text.size()) {
            const ssize_t n = write(w, text.data() + at, text.size() - at);
            if (n <= 0) {
                break;
            }
            at += static_cast<std::size_t>(n);
        }
        close(w);
    });
    const input_file::ReadResult r =
        input_file::readAll("/dev/fd/" + std::to_string(fds[0]), 1024 * 1024);
    writer.join();
    close(fds[0]);
    EXPECT_EQ(r.status, ReadStatus::Read) << r.why;
    EXPECT_EQ(r.data, std::string(70000, 'x'));
}
