#pragma once
// A loopback speed-test endpoint that fails in a chosen way: the speed-test server in one of its
// modes, or (without server options) a port that refuses every connection.

#include "tests/probes/DnsHttpTestSupport.h"

#include <optional>

namespace pv::test {

class FailingEndpoint {
public:
    explicit FailingEndpoint(const QStringList& serverArgs)
    {
        if (serverArgs.isEmpty())
            refusing_.emplace();
        else
            server_.emplace(QStringLiteral("speedtest_server.py"), serverArgs);
    }
    int port() const { return server_ ? server_->port() : refusing_->port(); }
    // The server's running totals; empty for a refusing port.
    QString log() const { return server_ ? server_->log() : QString(); }

private:
    std::optional<LoopbackServer> server_;
    std::optional<RefusingLoopbackPort> refusing_;
};

} // namespace pv::test
