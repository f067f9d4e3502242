#pragma once
// A part of a test run as a user without privileges. The tests run as root in CI, and root reads
// a file of mode 000 and binds ports below 1024: the cases about those refusals run as "nobody".

#include <functional>
#include <optional>
#include <sys/types.h>

namespace pelotest::test {

struct UnprivilegedUser {
    uid_t uid;
    gid_t gid;
};

// "nobody" when this process runs as root and that user exists; nullopt otherwise.
std::optional<UnprivilegedUser> unprivilegedUser();

// For a forked child (before exec): leaves every supplementary group and becomes user for good.
// False when any step failed.
bool becomeUser(const UnprivilegedUser& user);

// Runs check in a forked child that became user; its answer comes back as the exit code.
// nullopt when the child could not become user or ended otherwise (a crash).
std::optional<bool> runAs(const UnprivilegedUser& user, const std::function<bool()>& check);

} // namespace pelotest::test
