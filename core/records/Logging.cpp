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
// Its debug lines (one at each batch's start and end) are off unless QT_LOGGING_RULES asks for
// them: com.tovarhelm.polvarine.probe.debug=true.
const QLoggingCategory& probe()
{
    static const QLoggingCategory category("com.tovarhelm.polvarine.probe", QtInfoMsg);
    return category;
}
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
