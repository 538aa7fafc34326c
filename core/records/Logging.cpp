#include "core/records/Logging.h"

namespace pv::log {
#define PV_CATEGORY(fn, name)                                                                                          \
    const QLoggingCategory& fn()                                                                                       \
    {                                                                                                                  \
        static const QLoggingCategory category("com.tovarhelm.polvarine." name);                                      \
        return category;                                                                                               \
    }
PV_CATEGORY(bootstrap, "bootstrap")
PV_CATEGORY(storage, "storage")
PV_CATEGORY(probe, "probe")
PV_CATEGORY(icmp, "icmp")
PV_CATEGORY(dns, "dns")
PV_CATEGORY(http, "http")
PV_CATEGORY(topology, "topology")
PV_CATEGORY(path, "pathmonitor")
PV_CATEGORY(wifi, "wifi")
PV_CATEGORY(preferences, "preferences")
PV_CATEGORY(update, "update")
PV_CATEGORY(monitoring, "monitoring")
PV_CATEGORY(loadtest, "loadtest")
PV_CATEGORY(reports, "reports")
PV_CATEGORY(ui, "ui")
#undef PV_CATEGORY
} // namespace pv::log
