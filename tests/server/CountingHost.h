#pragma once
// The headless host (classic colours), counting the change notifications.

#include "app/HeadlessHost.h"

namespace pelotest::test {

class CountingHost : public HeadlessHost {
  public:
    explicit CountingHost(const AppState& state) : HeadlessHost(state) {}
    void treeChanged() override { ++trees; }
    void variablesChanged() override { ++variables; }
    void logChanged() override { ++logs; }

    int trees = 0, variables = 0, logs = 0;
};

} // namespace pelotest::test
