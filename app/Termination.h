#pragma once
// SIGTERM and SIGINT (a session logout, systemd, Ctrl+C) end the event loop the normal way, so the
// model stops its work and the database is closed in order rather than cut off mid-write.

class QCoreApplication;

namespace pv {

void installTerminationHandler(QCoreApplication& app);

} // namespace pv
