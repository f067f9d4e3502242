#include "platform/Programs.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <pthread.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace pelotest {

std::optional<std::string> openWithDesktop(const std::string& target) {
    const char* named = std::getenv("PELOTEST_OPENER");
    const std::string opener = named && *named ? named : "xdg-open";
    const pid_t child = ::fork();
    if (child < 0)
        return std::string(std::strerror(errno));
    if (child == 0) {
        // A grandchild runs the opener, so that nobody has to wait for it.
        ::setsid();
        if (::fork() != 0)
            ::_exit(0);
        const int null = ::open("/dev/null", O_RDWR);
        if (null >= 0) {
            ::dup2(null, 0);
            ::dup2(null, 1);
            ::dup2(null, 2);
        }
        // The server blocked the stop signals for itself; the opener gets them back.
        sigset_t none;
        sigemptyset(&none);
        pthread_sigmask(SIG_SETMASK, &none, nullptr);
        ::execlp(opener.c_str(), opener.c_str(), target.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::waitpid(child, nullptr, 0);
    return std::nullopt;
}

void openWithDesktopReporting(const std::string& target,
                              std::function<void(const std::optional<std::string>&)> reported) {
    const char* named = std::getenv("PELOTEST_OPENER");
    const std::string opener = named && *named ? named : "xdg-open";
    const pid_t child = ::fork();
    if (child < 0)
        return reported(std::string(std::strerror(errno)));
    if (child == 0) {
        // The opener is the child itself, so that its exit status tells whether a program
        // started; the thread below waits for it.
        ::setsid();
        const int null = ::open("/dev/null", O_RDWR);
        if (null >= 0) {
            ::dup2(null, 0);
            ::dup2(null, 1);
            ::dup2(null, 2);
        }
        sigset_t none;
        sigemptyset(&none);
        pthread_sigmask(SIG_SETMASK, &none, nullptr);
        ::execlp(opener.c_str(), opener.c_str(), target.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    std::thread([child, opener, reported = std::move(reported)] {
        int status = 0;
        if (::waitpid(child, &status, 0) != child)
            return;
        if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
            return reported(std::nullopt);
        reported(opener +
                 (WIFEXITED(status) && WEXITSTATUS(status) == 127 ? " was not found" : " failed"));
    }).detach();
}

bool runsAsSuperuser() {
    return ::geteuid() == 0;
}

std::string replaceProcessWith(const std::filesystem::path& program, int, char** argv) {
    argv[0] = const_cast<char*>(program.c_str());
    ::execv(program.c_str(), argv);
    return std::strerror(errno);
}

} // namespace pelotest
