// The headless program: command line, start, one "Listening on" line, saving on SIGTERM and
// SIGINT, and a port that cannot be bound. Runs the built executable.

#include "support/HttpTestClient.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <thread>

namespace pelotest::test {
namespace {

using namespace std::chrono_literals;

#ifndef PELOTEST_VERSION_TEXT
#define PELOTEST_VERSION_TEXT "0.1.0" // the project version of CMakeLists.txt
#endif

const std::string kProgram = std::string(PELOTEST_BINARY_DIR) + "/pelotest";

// A listening socket on a free port of 127.0.0.1 (closed by release() or at the end).
class PortHolder {
  public:
    PortHolder() : fd_(::socket(AF_INET, SOCK_STREAM, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(fd_, 1) != 0 ||
            ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            throw std::runtime_error("no free port");
        port_ = ntohs(address.sin_port);
    }
    ~PortHolder() { release(); }
    void release() {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }
    std::uint16_t port() const { return port_; }

  private:
    int fd_;
    std::uint16_t port_ = 0;
};

// The program started with arguments, its output read through pipes.
class Program {
  public:
    explicit Program(const std::vector<std::string>& arguments) {
        int out[2], err[2];
        if (::pipe(out) != 0 || ::pipe(err) != 0)
            throw std::runtime_error("pipe failed");
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(out[1], 1);
            ::dup2(err[1], 2);
            ::close(out[0]);
            ::close(err[0]);
            std::vector<char*> argv{const_cast<char*>(kProgram.c_str())};
            for (const auto& argument : arguments)
                argv.push_back(const_cast<char*>(argument.c_str()));
            argv.push_back(nullptr);
            ::execv(kProgram.c_str(), argv.data());
            ::_exit(127);
        }
        ::close(out[1]);
        ::close(err[1]);
        out_ = out[0];
        err_ = err[0];
    }
    ~Program() {
        if (pid_ > 0 && !exited_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        ::close(out_);
        ::close(err_);
    }

    // Standard output up to and including its first line end (empty on timeout or exit).
    std::string firstLine(std::chrono::milliseconds timeout) {
        const auto end = std::chrono::steady_clock::now() + timeout;
        while (stdout_.find('\n') == std::string::npos && std::chrono::steady_clock::now() < end)
            if (!readSome(out_, stdout_, 100ms) && hasExited())
                break;
        const auto lineEnd = stdout_.find('\n');
        return lineEnd == std::string::npos ? "" : stdout_.substr(0, lineEnd + 1);
    }

    void signal(int number) const { ::kill(pid_, number); }
    pid_t pid() const { return pid_; }

    // The exit code, or -1 when the program did not end in time or was killed.
    int wait(std::chrono::milliseconds timeout) {
        const auto end = std::chrono::steady_clock::now() + timeout;
        while (!hasExited() && std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(20ms);
        if (!exited_)
            return -1;
        while (readSome(out_, stdout_, 0ms)) {
        }
        while (readSome(err_, stderr_, 0ms)) {
        }
        return WIFEXITED(status_) ? WEXITSTATUS(status_) : -1;
    }

    const std::string& out() const { return stdout_; }
    const std::string& err() const { return stderr_; }

  private:
    bool hasExited() {
        if (!exited_ && ::waitpid(pid_, &status_, WNOHANG) == pid_)
            exited_ = true;
        return exited_;
    }
    static bool readSome(int fd, std::string& into, std::chrono::milliseconds timeout) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(timeout.count())) <= 0)
            return false;
        char buffer[4096];
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0)
            return false;
        into.append(buffer, static_cast<std::size_t>(n));
        return true;
    }

    pid_t pid_ = -1;
    int out_ = -1, err_ = -1;
    int status_ = 0;
    bool exited_ = false;
    std::string stdout_, stderr_;
};

// The "key=value" lines of one section of an INI text, in file order.
std::vector<std::string> sectionLines(const std::string& text, const std::string& section) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    bool inside = false;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!line.empty() && line.front() == '[')
            inside = line == "[" + section + "]";
        else if (inside && !line.empty())
            lines.push_back(line);
    }
    return lines;
}

class Headless : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(std::filesystem::exists(kProgram)) << kProgram << " is not built";
    }
    static std::string settings(std::uint16_t port, bool serverActive = true) {
        return "[Settings]\r\nPort=" + std::to_string(port) + "\r\nVariablesAutoSort=1\r\n" +
               "ServerActive=" + (serverActive ? "1" : "0") + "\r\n";
    }
    TempDir dir;
};

TEST_F(Headless, ServesAndSavesTheStateOnSigterm) {
    const std::uint16_t port = PortHolder().port();
    const auto file = dir.write("s.ini", settings(port) + "[Variables]\r\nAlpha=a\r\nBeta=b\r\n"
                                                          "Gamma=c\r\n");
    Program program({"--headless", "--settings", file.string()});
    ASSERT_EQ(program.firstLine(10s),
              "Listening on http://127.0.0.1:" + std::to_string(port) + "/\n")
        << program.err();

    httpGet(port, "/x.htm?Beta=1&Delta=2");
    program.signal(SIGTERM);
    ASSERT_EQ(program.wait(10s), 0) << program.err();
    EXPECT_EQ(program.out().find('\n'), program.out().size() - 1) << "one line only";

    const std::string saved = TempDir::read(file);
    EXPECT_EQ(sectionLines(saved, "Variables"),
              (std::vector<std::string>{"Beta=1", "Delta=2", "Alpha=a", "Gamma=c"}))
        << saved;
    // The server ran whatever the file said, and the file keeps what it said.
    const auto keys = sectionLines(saved, "Settings");
    EXPECT_NE(std::find(keys.begin(), keys.end(), "ServerActive=1"), keys.end()) << saved;
}

// SIGTERM while a request with a huge number of parameters is under way: the program ends
// within its shutdown deadline and saves the state it has, whatever the request does.
TEST_F(Headless, SigtermDuringAHugeRequestEndsWithinTheDeadline) {
    const std::uint16_t port = PortHolder().port();
    const auto file = dir.write("s.ini", settings(port) + "[Variables]\r\nAlpha=a\r\n");
    struct Joined {
        std::thread thread;
        ~Joined() {
            if (thread.joinable())
                thread.join();
        }
    } client; // joined after the program below has ended
    Program program({"--headless", "--settings", file.string()});
    ASSERT_FALSE(program.firstLine(10s).empty()) << program.err();
    httpGet(port, "/x.htm?Beta=1");

    std::string form = "p0=v";
    for (int i = 1; i < 60'000; ++i)
        form += "&p" + std::to_string(i) + "=v";
    client.thread = std::thread([port, form] { httpRequest(port, "POST", "/x.htm", form); });
    std::this_thread::sleep_for(500ms);
    const auto start = std::chrono::steady_clock::now();
    program.signal(SIGTERM);
    EXPECT_EQ(program.wait(12s), 0) << program.err();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 8s);
    const std::string saved = TempDir::read(file);
    const auto rows = sectionLines(saved, "Variables");
    ASSERT_FALSE(rows.empty()) << saved;
    EXPECT_EQ(rows.front(), "Beta=1") << saved;
}

// Whether SIGTERM is blocked in the process pid (its main thread), read from /proc.
bool blocksSigterm(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("SigBlk:", 0) == 0)
            return (std::stoull(line.substr(7), nullptr, 16) >> (SIGTERM - 1)) & 1;
    return false;
}

// SIGTERM while the settings file is still being loaded (the save at exit once deadlocked here):
// the program still starts, then ends cleanly within a bound, and the file keeps every row.
TEST_F(Headless, SigtermWhileLoadingEndsCleanlyAndKeepsTheFile) {
    const std::uint16_t port = PortHolder().port();
    constexpr int kRows = 200'000;
    std::string text = settings(port) + "[Variables]\r\n";
    for (int i = 0; i < kRows; ++i)
        text += "Name" + std::to_string(i) + "=value of row " + std::to_string(i) + "\r\n";
    const auto file = dir.write("s.ini", text);

    Program program({"--headless", "--settings", file.string()});
    // The signal is sent once the program has blocked it (it does so right before loading),
    // and before it reports that it listens, that is while it loads.
    const auto start = std::chrono::steady_clock::now();
    while (!blocksSigterm(program.pid()) && std::chrono::steady_clock::now() - start < 10s)
        std::this_thread::sleep_for(1ms);
    ASSERT_TRUE(blocksSigterm(program.pid()));
    program.signal(SIGTERM);
    const bool stillLoading = program.firstLine(0ms).empty();

    EXPECT_EQ(program.wait(60s), 0) << program.err();
    const auto rows = sectionLines(TempDir::read(file), "Variables");
    ASSERT_EQ(rows.size(), static_cast<std::size_t>(kRows));
    EXPECT_EQ(rows.front(), "Name0=value of row 0");
    EXPECT_EQ(rows.back(), "Name199999=value of row 199999");
    if (!stillLoading)
        GTEST_SKIP() << "the file was loaded before the signal came; nothing was tested here";
}

TEST_F(Headless, SigintSavesToo) {
    const std::uint16_t port = PortHolder().port();
    const auto file = dir.write("s.ini", settings(port, false));
    Program program({"--headless", "--settings=" + file.string()});
    ASSERT_FALSE(program.firstLine(10s).empty()) << program.err();
    httpGet(port, "/a.htm?Only=1");
    program.signal(SIGINT);
    ASSERT_EQ(program.wait(10s), 0) << program.err();
    const std::string saved = TempDir::read(file);
    EXPECT_EQ(sectionLines(saved, "Variables"), std::vector<std::string>{"Only=1"}) << saved;
    const auto keys = sectionLines(saved, "Settings");
    EXPECT_NE(std::find(keys.begin(), keys.end(), "ServerActive=0"), keys.end()) << saved;
}

// The settings file cannot be written at exit (its folder has become a file): the program says
// why and ends with 1.
TEST_F(Headless, AFailedSaveSaysWhyAndEndsWithCode1) {
    const std::uint16_t port = PortHolder().port();
    const auto file = dir.write("conf/s.ini", settings(port));
    Program program({"--headless", "--settings", file.string()});
    ASSERT_FALSE(program.firstLine(10s).empty()) << program.err();
    std::filesystem::rename(dir.path() / "conf", dir.path() / "gone");
    dir.write("conf", "a file now");
    program.signal(SIGTERM);
    EXPECT_EQ(program.wait(10s), 1);
    EXPECT_NE(
        program.err().find("cannot write the settings file " + file.string() + ": Not a directory"),
        std::string::npos)
        << program.err();
}

TEST_F(Headless, APortInUseEndsWithCode1AndAMessage) {
    const PortHolder taken;
    const std::string text = settings(taken.port());
    const auto file = dir.write("s.ini", text);
    Program program({"--headless", "--settings", file.string()});
    ASSERT_EQ(program.wait(10s), 1);
    EXPECT_EQ(program.out(), "");
    EXPECT_NE(program.err().find("Cannot listen on 127.0.0.1 port " + std::to_string(taken.port())),
              std::string::npos)
        << program.err();
    EXPECT_NE(program.err().find("in use"), std::string::npos) << program.err();
}

TEST_F(Headless, CommandLine) {
    struct Case {
        std::vector<std::string> arguments;
        int code;
        const char* out; // start of standard output
        const char* err; // part of standard error
    };
    const std::vector<Case> cases = {
        {{"--help"}, 0, "Usage: pelotest [--headless] [--settings FILE]\n", ""},
        {{"--version"}, 0, "pelotest " PELOTEST_VERSION_TEXT "\n", ""},
#ifdef PELOTEST_WITHOUT_WINDOW
        // A build without the window says so.
        {{}, 2, "", "the window is not part of this build"},
        {{"--settings", "x.ini"}, 2, "", "the window is not part of this build"},
#else
        // Without a display the window cannot open: a clear message instead of Qt's abort.
        {{}, 1, "", "no display to open the window on"},
        {{"--settings", "x.ini"}, 1, "", "no display to open the window on"},
#endif
        {{"--headless", "--settings"}, 2, "", "--settings needs a file name"},
        {{"--headless", "--bogus"}, 2, "", "unknown option --bogus"},
    };
    // The program inherits the environment: no display for it to find.
    struct Unset {
        std::string name;
        std::optional<std::string> value;
        explicit Unset(const char* variable) : name(variable) {
            if (const char* v = std::getenv(variable))
                value = v;
            ::unsetenv(variable);
        }
        ~Unset() {
            if (value)
                ::setenv(name.c_str(), value->c_str(), 1);
        }
    } display("DISPLAY"), wayland("WAYLAND_DISPLAY"), platform("QT_QPA_PLATFORM");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments.empty() ? "(none)" : c.arguments.back());
        Program program(c.arguments);
        EXPECT_EQ(program.wait(10s), c.code);
        EXPECT_TRUE(program.out().starts_with(c.out)) << program.out();
        EXPECT_NE(program.err().find(c.err), std::string::npos) << program.err();
    }
}

} // namespace
} // namespace pelotest::test
