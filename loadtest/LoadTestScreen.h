#pragma once
// The load-test screen as the program builds it: its own view model with the real service (its
// ICMP probe and load generator on `io`), its own topology reader for the interface to pin the
// echoes to, and the desktop's metered flag.

#include "core/records/LoadTestResult.h"

#include <asio/any_io_executor.hpp>

#include <functional>

class QWidget;

namespace pv {

QWidget* makeLoadTestScreen(asio::any_io_executor io, std::function<void()> onWillStart,
                            std::function<void()> onDidFinish,
                            std::function<void(const LoadTestResult&)> onFinished);

} // namespace pv
