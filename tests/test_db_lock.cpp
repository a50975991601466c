// The lock of a database directory in its try and timeout forms, against another process.
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>

#include "test_qspi_fixture.h"

namespace {

using qspi_test::QspiTest;

TEST_F(QspiTest, LockTriesOnceOrWaitsAtMostItsTimeoutWhileAnotherProcessHoldsIt) {
    int ready[2];
    int release[2];
    ASSERT_EQ(pipe(ready), 0);
    ASSERT_EQ(pipe(release), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        VORN_DB_LOCK held(custom.path());
        char byte = held.held() ? 'y' : 'n';
        if (write(ready[1], &byte, 1) != 1) _exit(2);
        if (read(release[0], &byte, 1) != 1) _exit(2);
        _exit(0);
    }
    char byte = 0;
    ASSERT_EQ(read(ready[0], &byte, 1), 1);
    ASSERT_EQ(byte, 'y');
    using clock = std::chrono::steady_clock;
    {
        const clock::time_point start = clock::now();
        VORN_DB_LOCK tried(custom.path(), 0);
        EXPECT_FALSE(tried.held());
        VORN_DB_LOCK waited(custom.path(), 150);
        EXPECT_FALSE(waited.held());
        const auto elapsed = clock::now() - start;
        EXPECT_GE(elapsed, std::chrono::milliseconds(150));
        EXPECT_LT(elapsed, std::chrono::seconds(5));
    }
    ASSERT_EQ(write(release[1], "x", 1), 1);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_EQ(status, 0);
    VORN_DB_LOCK free_now(custom.path(), 0);
    EXPECT_TRUE(free_now.held());
    VORN_DB_LOCK missing(custom.path() + "nonexistent/", 1000);
    EXPECT_FALSE(missing.held());
    for (int fd : {ready[0], ready[1], release[0], release[1]}) close(fd);
}

}  // namespace
