#pragma once
// Helpers shared by the tests.

#include <QString>

#include <chrono>
#include <functional>

namespace pv::test {

// Processes Qt events (and so queued coroutine steps) until pred() holds or the time runs out.
bool pumpUntil(const std::function<bool()>& pred, std::chrono::milliseconds timeout = std::chrono::seconds(10));

// A fresh temporary directory, removed at exit of the test program.
QString makeTempDir();

} // namespace pv::test
