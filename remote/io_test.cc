#include "remote/io.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <csignal>
#include <string>
#include <thread>

// A signal every 20 ms while a slow peer echoes 1 MiB: the write is cut
// midway and the read interrupted, yet every byte comes back.
TEST(Io, ASignalNeitherCutsAWriteNorFailsARead)
{
    struct sigaction interrupt = {};
    interrupt.sa_handler = [](int) {};  // no SA_RESTART: the calls see EINTR
    sigaction(SIGALRM, &interrupt, nullptr);
    int ends[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, ends), 0);
    const TFd ours(ends[0]);
    // The kernel hands a process's signal to its main thread first: here
    // this one, not the peer's.
    std::thread peer([theirs = TFd(ends[1])] {
        usleep(100000);
        const std::string echo = read_all(theirs.get());
        usleep(100000);
        write_all(theirs.get(), echo.data(), echo.size());
    });
    itimerval every_20ms = {{0, 20000}, {0, 20000}};
    setitimer(ITIMER_REAL, &every_20ms, nullptr);
    std::string sent(1 << 20, '\0');
    for (size_t i = 0; i < sent.size(); ++i)
        sent[i] = static_cast<char>(i % 251);
    write_all(ours.get(), sent.data(), sent.size());
    shutdown(ours.get(), SHUT_WR);
    const std::string got = read_all(ours.get());
    every_20ms = {};
    setitimer(ITIMER_REAL, &every_20ms, nullptr);
    peer.join();
    EXPECT_TRUE(got == sent) << got.size() << " bytes came back";
}
