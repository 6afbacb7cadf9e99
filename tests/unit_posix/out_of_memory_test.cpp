// The text splitter when memory runs out, in a child process under an
// address-space limit: "Memoire insuffisante" and exit status 1, since
// nothing was uploaded or written.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "SimPlatform.h"
#include "StringOperations.h"

namespace {

namespace sim = platform::sim;

// The process's address space in bytes, as the kernel counts it for the limit.
rlim_t addressSpaceInUse() {
    std::ifstream statm("/proc/self/statm");
    rlim_t pages = 0;
    statm >> pages;
    return pages * static_cast<rlim_t>(sysconf(_SC_PAGESIZE));
}

int consoleFd = -1;

TEST(OutOfMemory, TheSplitterEndsTheProcessWithStatus1) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer reserves the address space that the limit counts";
#endif
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    std::fflush(nullptr);
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(ends[0]);
        consoleFd = ends[1];
        sim::reset();
        sim::setTraceCallback([](const sim::Event& event) {
            if (event.kind == sim::EventKind::Console) {
                static_cast<void>(::write(consoleFd, event.text.data(), event.text.size()));
            }
        });
        // Four million pieces need a table of 64 MiB; 16 MiB more is all there is.
        std::string text;
        for (int i = 0; i < 4'000'000; ++i) {
            text += "a:";
        }
        const rlim_t limit = addressSpaceInUse() + 16 * 1024 * 1024;
        const rlimit addressSpace{limit, limit};
        setrlimit(RLIMIT_AS, &addressSpace);
        str_split(text.data(), ":");
        _exit(50);
    }
    ::close(ends[1]);
    std::string console;
    char buffer[256];
    for (ssize_t n = 0; (n = ::read(ends[0], buffer, sizeof buffer)) > 0;) {
        console.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(ends[0]);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_EQ(console, "Memoire insuffisante\n");
}

}  // namespace
