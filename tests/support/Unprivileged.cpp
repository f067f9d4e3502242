#include "support/Unprivileged.h"

#include <grp.h>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

namespace pelotest::test {

namespace {
// Exit codes of the child of runAs.
constexpr int kHeld = 0, kFailed = 1, kNoUser = 2;
} // namespace

std::optional<UnprivilegedUser> unprivilegedUser() {
    if (::geteuid() != 0)
        return std::nullopt;
    const passwd* entry = ::getpwnam("nobody");
    if (!entry || entry->pw_uid == 0)
        return std::nullopt;
    return UnprivilegedUser{entry->pw_uid, entry->pw_gid};
}

bool becomeUser(const UnprivilegedUser& user) {
    return ::setgroups(0, nullptr) == 0 && ::setresgid(user.gid, user.gid, user.gid) == 0 &&
           ::setresuid(user.uid, user.uid, user.uid) == 0 && ::geteuid() == user.uid;
}

std::optional<bool> runAs(const UnprivilegedUser& user, const std::function<bool()>& check) {
    const pid_t child = ::fork();
    if (child < 0)
        return std::nullopt;
    if (child == 0)
        ::_exit(!becomeUser(user) ? kNoUser : check() ? kHeld : kFailed);
    int status = 0;
    if (::waitpid(child, &status, 0) != child || !WIFEXITED(status) ||
        WEXITSTATUS(status) == kNoUser)
        return std::nullopt;
    return WEXITSTATUS(status) == kHeld;
}

} // namespace pelotest::test
