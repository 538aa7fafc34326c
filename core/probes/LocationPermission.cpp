#include "core/probes/LocationPermission.h"

namespace pv {

int LinuxLocationManager::authorizationStatus() const { return LocationPermissionService::authorizedAlways; }

LocationPermissionService::LocationPermissionService(QObject* parent)
    : LocationPermissionService(std::make_unique<LinuxLocationManager>(), parent)
{
}

LocationPermissionService::LocationPermissionService(std::unique_ptr<LocationManager> manager, QObject* parent)
    : QObject(parent), manager_(std::move(manager))
{
    LocationManager* m = manager_.get();
    // The new status is read at once, on the reporting thread; it is stored from the service's own
    // event loop, and not at all once the service is gone (Qt drops calls queued to a deleted object).
    manager_->setDelegate([this, m] {
        const int status = m->authorizationStatus();
        QMetaObject::invokeMethod(this, [this, status] { setAuthorizationStatus(status); }, Qt::QueuedConnection);
    });
    authorizationStatus_ = manager_->authorizationStatus();
}

LocationPermissionService::~LocationPermissionService() { manager_->setDelegate({}); }

void LocationPermissionService::requestIfNeeded()
{
    if (authorizationStatus_ == notDetermined)
        manager_->requestWhenInUseAuthorization();
}

QMetaObject::Connection LocationPermissionService::subscribe(QObject* context, std::function<void(int)> fn)
{
    // Both go through the event loop, so the replayed value can never overtake a later change.
    QMetaObject::invokeMethod(context, [fn, status = authorizationStatus_] { fn(status); }, Qt::QueuedConnection);
    return connect(this, &LocationPermissionService::authorizationStatusChanged, context, fn, Qt::QueuedConnection);
}

void LocationPermissionService::setAuthorizationStatus(int status)
{
    if (status == authorizationStatus_)
        return;
    authorizationStatus_ = status;
    Q_EMIT authorizationStatusChanged(status);
}

} // namespace pv
