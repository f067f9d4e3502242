// The headless program: command line, start, one "Listening on" line, saving on SIGTERM and
// SIGINT, and a port that cannot be bound. Runs the built executable.

#include "app/HeadlessHost.h"
#include "support/HttpTestClient.h"
#include "support/TempDir.h"
#include "support/Unprivileged.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
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

// The body of GET target from address:port (HTTP/1.0, read to the end); empty when nothing
// answers.
std::string bodyFrom(const char* address, std::uint16_t port, const std::string& target) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    ::inet_pton(AF_INET, address, &to.sin_addr);
    std::string answer;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0) {
        const std::string request = "GET " + target + " HTTP/1.0\r\nHost: localhost\r\n\r\n";
        if (::write(fd, request.data(), request.size()) == static_cast<ssize_t>(request.size())) {
            char buffer[4096];
            for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;)
                answer.append(buffer, static_cast<std::size_t>(n));
        }
    }
    ::close(fd);
    const auto body = answer.find("\r\n\r\n");
    return body == std::string::npos ? "" : answer.substr(body + 4);
}

// The program started with arguments, its output read through pipes.
class Program {
  public:
    // As user when given (who must be able to reach the program and the files it is given).
    explicit Program(const std::vector<std::string>& arguments,
                     std::optional<UnprivilegedUser> user = std::nullopt) {
        int out[2], err[2];
        if (::pipe(out) != 0 || ::pipe(err) != 0)
            throw std::runtime_error("pipe failed");
        pid_ = ::fork();
        if (pid_ == 0) {
            if (user && !becomeUser(*user))
                ::_exit(126);
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

// A port held by a child process named port-holder: the error line names it with its pid.
TEST_F(Headless, APortInUseNamesTheProgramThatHoldsIt) {
    PortHolder taken;
    const pid_t holder = ::fork();
    if (holder == 0) {
        ::prctl(PR_SET_NAME, "port-holder");
        ::pause();
        ::_exit(0);
    }
    ASSERT_GT(holder, 0);
    const std::uint16_t port = taken.port();
    taken.release(); // the child's copy of the socket is now the only one
    const auto file = dir.write("s.ini", settings(port));
    Program program({"--headless", "--settings", file.string()});
    const int code = program.wait(10s);
    ::kill(holder, SIGKILL);
    ::waitpid(holder, nullptr, 0);
    EXPECT_EQ(code, 1);
    const std::string named = "Port " + std::to_string(port) + " is in use by port-holder (pid " +
                              std::to_string(holder) + ")";
    EXPECT_NE(program.err().find(named), std::string::npos) << program.err();
    EXPECT_EQ(std::count(program.err().begin(), program.err().end(), '\n'), 1) << program.err();
}

// Every wrong command line: one line on standard error that says what is wrong and points to
// --help, exit code 2, and no file written.
TEST_F(Headless, AWrongCommandLineEndsWithCode2AndOneLine) {
    const std::string file = (dir.path() / "s.ini").string();
    const std::string missing = (dir.path() / "missing").string();
    const std::string notAFolder = dir.write("plain.txt", "").string();
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--bogus"}, "unknown option --bogus"},
        {{"--port"}, "--port needs a number"},
        {{"--port", "80a"}, "--port needs a number, not \"80a\""},
        {{"--port=0"}, "--port 0 is out of range"},
        {{"--port", "65536"}, "--port 65536 is out of range"},
        {{"--port", "99999999999"}, "--port 99999999999 is out of range"},
        {{"--bind", "localhost"}, "--bind needs an IP address such as"},
        {{"--bind"}, "--bind needs an IP address"},
        {{"--static", missing}, "--static: the folder " + missing + " does not exist"},
        {{"--templates", notAFolder}, "--templates: the folder " + notAFolder + " is no folder"},
        {{"--static"}, "--static needs a folder"},
        {{"--virtual="}, "--virtual needs a folder name"},
        {{"--settings"}, "--settings needs a file name"},
        {{"--tray"}, "--tray goes with the window, not with --headless"},
    };
    for (const auto& [arguments, message] : cases) {
        SCOPED_TRACE(arguments.front());
        // Last, so that an option without its value ends the line.
        std::vector<std::string> all = {"--headless", "--settings", file};
        all.insert(all.end(), arguments.begin(), arguments.end());
        Program program(all);
        EXPECT_EQ(program.wait(10s), 2);
        EXPECT_EQ(program.out(), "");
        EXPECT_TRUE(program.err().starts_with("pelotest: " + message)) << program.err();
        EXPECT_TRUE(program.err().ends_with("(see pelotest --help)\n")) << program.err();
        EXPECT_EQ(std::count(program.err().begin(), program.err().end(), '\n'), 1);
        EXPECT_FALSE(std::filesystem::exists(file));
    }
    Program window({"--open", "--settings", file});
    EXPECT_EQ(window.wait(10s), 2);
    EXPECT_TRUE(window.err().starts_with("pelotest: --open goes with --headless")) << window.err();
}

// Values given for one run are served and bound, and the settings file keeps its own bytes.
TEST_F(Headless, RunOptionsApplyAndAreNeverWrittenBack) {
    for (const char* name : {"a", "b"}) {
        dir.write(std::string("static-") + name + "/x.htm", std::string("static ") + name);
        dir.write(std::string("tmpl-") + name + "/start.htm", std::string("template ") + name);
    }
    const std::uint16_t filePort = PortHolder().port(), runPort = PortHolder().port();
    const std::string folder = dir.path().string();
    const std::string relativeB =
        "./" + std::filesystem::relative(dir.path() / "static-b").string();
    struct Case {
        std::vector<std::string> arguments;
        const char* address; // where the program listens
        std::uint16_t port;
        const char* target;
        const char* body;
    };
    const std::vector<Case> cases = {
        {{}, "127.0.0.1", filePort, "/x.htm", "static a"},
        {{"--port", std::to_string(runPort)}, "127.0.0.1", runPort, "/x.htm", "static a"},
        {{"--static", folder + "/static-b"}, "127.0.0.1", filePort, "/x.htm", "static b"},
        {{"--static=" + relativeB}, "127.0.0.1", filePort, "/x.htm", "static b"},
        {{"--templates", folder + "/tmpl-b"}, "127.0.0.1", filePort, "/app/", "template b\r\n"},
        {{"--virtual", "site", "--live-reload"},
         "127.0.0.1",
         filePort,
         "/site/",
         "template a\r\n<script src=\"/$int/live.js\"></script>"},
        {{"--bind", "127.0.0.2", "--port", std::to_string(runPort)},
         "127.0.0.2",
         runPort,
         "/x.htm",
         "static a"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments.empty() ? "(none)" : c.arguments.front());
        const auto file = dir.write("s.ini", "[Settings]\r\nPort=" + std::to_string(filePort) +
                                                 "\r\nStaticPath=" + folder +
                                                 "/static-a\r\nDynamicPath=" + folder +
                                                 "/tmpl-a\r\nVirtualPath=app\r\n[Tree]\r\n"
                                                 "Node0=start.htm\r\n");
        {
            // A run without options writes the file in the program's own layout first.
            Program plain({"--headless", "--settings", file.string()});
            ASSERT_FALSE(plain.firstLine(10s).empty()) << plain.err();
            plain.signal(SIGTERM);
            ASSERT_EQ(plain.wait(10s), 0) << plain.err();
        }
        const std::string before = TempDir::read(file);
        std::vector<std::string> arguments = {"--headless", "--settings", file.string()};
        arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
        Program program(arguments);
        ASSERT_EQ(program.firstLine(10s), "Listening on http://" + std::string(c.address) + ":" +
                                              std::to_string(c.port) + "/\n")
            << program.err();
        EXPECT_EQ(bodyFrom(c.address, c.port, c.target), c.body);
        program.signal(SIGTERM);
        ASSERT_EQ(program.wait(10s), 0) << program.err();
        EXPECT_EQ(TempDir::read(file), before);
    }
}

// --open hands the start page to the opener once the server listens, by the name the window
// shows it with, and says so when no browser started (the opener failed or is missing).
TEST_F(Headless, OpenHandsTheStartPageToTheBrowser) {
    struct Case {
        const char* what;
        const char* exitCode; // of the opener script; null: no opener at all
        const char* err;      // what standard error says after "no browser was started for URL"
    };
    const Case cases[] = {
        {"a browser started", "0", nullptr},
        {"the opener failed", "3", "opener.sh failed); open it in your browser yourself\n"},
        {"no opener", nullptr, "no-opener was not found); open it in your browser yourself\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto opened = dir.path() / "opened";
        std::filesystem::remove(opened);
        const auto opener =
            dir.write("opener.sh", "#!/bin/sh\necho \"$1\" > " + opened.string() + "\nexit " +
                                       (c.exitCode ? c.exitCode : "0") + "\n");
        std::filesystem::permissions(opener, std::filesystem::perms::owner_exec,
                                     std::filesystem::perm_options::add);
        ::setenv("PELOTEST_OPENER", c.exitCode ? opener.c_str() : "no-opener", 1);
        const std::uint16_t port = PortHolder().port();
        const std::string url = "http://localhost:" + std::to_string(port) + "/";
        const auto file = dir.write("s.ini", settings(port));
        Program program({"--headless", "--open", "--settings", file.string()});
        ::unsetenv("PELOTEST_OPENER");
        ASSERT_FALSE(program.firstLine(10s).empty()) << program.err();
        if (c.exitCode) {
            const auto end = std::chrono::steady_clock::now() + 10s;
            while (TempDir::read(opened).empty() && std::chrono::steady_clock::now() < end)
                std::this_thread::sleep_for(20ms);
            EXPECT_EQ(TempDir::read(opened), url + "\n");
        }
        std::this_thread::sleep_for(300ms); // the opener's end is noticed
        program.signal(SIGTERM);
        EXPECT_EQ(program.wait(10s), 0) << program.err();
        EXPECT_EQ(program.err(),
                  c.err ? "pelotest: no browser was started for " + url + " (" +
                              (c.exitCode
                                   ? opener.string().substr(0, opener.string().size() -
                                                                   std::string("opener.sh").size())
                                   : "") +
                              c.err
                        : "");
    }
}

// Only a static folder named (no templates folder anywhere): the quick start serves the folder's
// index, and the settings file stays as it was, byte for byte, also when it did not exist.
TEST_F(Headless, AStaticFolderAloneIsServedAndTheSettingsFileLeftAsItWas) {
    dir.write("site/index.htm", "<title>Start</title>index");
    dir.write("site/sub/index.html", "sub");
    const std::string site = (dir.path() / "site").string();
    for (const bool fileExists : {true, false}) {
        SCOPED_TRACE(fileExists ? "settings file" : "no settings file");
        const std::uint16_t port = PortHolder().port();
        const auto file = dir.path() / "s.ini";
        std::filesystem::remove(file);
        if (fileExists)
            dir.write("s.ini", settings(port) + "[Variables]\r\nAlpha=a\r\n");
        const std::string before = fileExists ? TempDir::read(file) : "";
        Program program({"--headless", "--static", site, "--port", std::to_string(port),
                         "--settings", file.string()});
        ASSERT_EQ(program.firstLine(10s),
                  "Listening on http://127.0.0.1:" + std::to_string(port) + "/\n")
            << program.err();
        EXPECT_EQ(bodyFrom("127.0.0.1", port, "/?Kunde=4711&PELO_EVENT=Login"),
                  "<title>Start</title>index");
        EXPECT_EQ(bodyFrom("127.0.0.1", port, "/sub/"), "sub");
        program.signal(SIGTERM);
        ASSERT_EQ(program.wait(10s), 0) << program.err();
        EXPECT_EQ(std::filesystem::exists(file), fileExists);
        if (fileExists) {
            EXPECT_EQ(TempDir::read(file), before);
        }
    }
}

// A settings file that cannot be read, or is no regular file, stops the start with one line and
// is never written (a FIFO must not hold the start, a link must not be followed); a read-only one
// is used, said once, and left as it is.
TEST_F(Headless, SettingsFilesThatAreNotWrittenBack) {
    namespace fs = std::filesystem;
    const std::uint16_t port = PortHolder().port();
    const std::string text = settings(port) + "[Variables]\r\nAlpha=a\r\n";
    struct Case {
        const char* what;
        std::function<void(const fs::path& settings, const fs::path& scratch)> make;
        int code;
        const char* err;
    };
    const auto write = [](const fs::path& at, const std::string& bytes) {
        std::ofstream(at, std::ios::binary) << bytes;
    };
    constexpr const char* kLinkRefused = ": it is a link (only a regular file is written, never "
                                         "what a link leads to); it is left as it is\n";
    const Case cases[] = {
        {"unreadable (mode 000)",
         [&](auto& settings, auto&) {
             write(settings, text);
             fs::permissions(settings, fs::perms::none);
         },
         1, ": it cannot be read: Permission denied; it is left as it is\n"},
        {"a FIFO", [](auto& settings, auto&) { ::mkfifo(settings.c_str(), 0666); }, 1,
         ": it is a FIFO, not a regular file; it is left as it is\n"},
        {"a link to a FIFO (as a link to a device would be)",
         [](auto& settings, auto& scratch) {
             ::mkfifo(scratch.c_str(), 0666);
             fs::create_symlink(scratch, settings);
         },
         1, kLinkRefused},
        {"a link to a file",
         [&](auto& settings, auto& scratch) {
             write(scratch, text);
             fs::create_symlink(scratch, settings);
         },
         1, kLinkRefused},
        {"a folder", [](auto& settings, auto&) { fs::create_directory(settings); }, 1,
         ": Is a directory; it is left as it is\n"},
        {"read-only (mode 0444)",
         [&](auto& settings, auto&) {
             write(settings, text);
             fs::permissions(settings, fs::perms::owner_read | fs::perms::group_read |
                                           fs::perms::others_read);
         },
         0, " is used as it is (the file is read-only): changes will not be saved\n"},
        {"in a read-only folder",
         [&](auto& settings, auto&) {
             write(settings, text);
             fs::permissions(settings.parent_path(), fs::perms::owner_read | fs::perms::owner_exec |
                                                         fs::perms::others_exec);
         },
         0, " is used as it is (its folder is read-only): changes will not be saved\n"},
    };
    // Root reads a file of mode 000: that case runs as a user who cannot.
    const auto user = unprivilegedUser();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const bool unreadable = std::string_view(c.what).starts_with("unreadable");
        if (unreadable && ::geteuid() == 0 && !user) {
            ADD_FAILURE() << "root reads everything and there is no user who cannot: not tested";
            continue;
        }
        const TempDir scratchDir;
        const fs::path folder = scratchDir.path() / "conf";
        fs::create_directory(folder);
        const fs::path settingsFile = folder / "s.ini", scratch = scratchDir.path() / "scratch";
        c.make(settingsFile, scratch);
        // What stands at both names: its type, and its bytes when it is a regular file.
        const auto snapshot = [](const fs::path& at) {
            const auto type = fs::symlink_status(at).type();
            return std::to_string(static_cast<int>(type)) +
                   (type == fs::file_type::regular ? TempDir::read(at) : "");
        };
        const std::string before = snapshot(settingsFile) + snapshot(scratch);
        fs::permissions(scratchDir.path(), fs::perms::others_exec, fs::perm_options::add);
        Program program({"--headless", "--settings", settingsFile.string()},
                        unreadable ? user : std::nullopt);
        if (c.code == 0) {
            ASSERT_FALSE(program.firstLine(10s).empty()) << program.err();
            program.signal(SIGTERM);
        }
        EXPECT_EQ(program.wait(10s), c.code) << program.err();
        EXPECT_EQ(program.err(),
                  std::string(c.code == 0 ? "pelotest: the" : "pelotest: cannot use the") +
                      " settings file " + settingsFile.string() + c.err);
        EXPECT_EQ(snapshot(settingsFile) + snapshot(scratch), before);
        fs::permissions(folder, fs::perms::owner_all);
    }
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

// Live reload's notices about folders it cannot watch: one line when a folder becomes
// unwatchable, nothing while it stays so, one line when it is watched again.
TEST(HeadlessHost, SaysOnceWhichFolderLiveReloadCannotWatchAndWhenItWatchesItAgain) {
    AppState state;
    std::ostringstream out;
    HeadlessHost host(state, out);
    struct Step {
        std::vector<std::string> folders;
        std::string lines;
    };
    const Step steps[] = {
        {{"/srv/site (Permission denied)"},
         "pelotest: live reload cannot watch /srv/site (Permission denied); its changes reload no "
         "page until it can\n"},
        {{"/srv/site (Permission denied)"}, ""},
        {{"/srv/site (Permission denied)", "/srv/tmpl (No space left on device)"},
         "pelotest: live reload cannot watch /srv/tmpl (No space left on device); its changes "
         "reload no page until it can\n"},
        {{},
         "pelotest: live reload watches /srv/site again\n"
         "pelotest: live reload watches /srv/tmpl again\n"},
        {{}, ""},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(testing::PrintToString(step.folders));
        out.str("");
        host.liveFoldersUnwatched(step.folders);
        EXPECT_EQ(out.str(), step.lines);
    }
}

} // namespace
} // namespace pelotest::test
