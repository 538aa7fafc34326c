#pragma once
// The location authorisation that gates the Wi-Fi network name and access point on some systems.
// Linux has no such gate (nl80211 reveals both to any user), so the service built by default
// reports "authorised always" and never prompts; the other states stay reachable through a
// substitute LocationManager, which is how the tests drive them.

#include <QMetaObject>
#include <QObject>

#include <functional>
#include <memory>

namespace pv {

// The platform's authorisation source and prompt.
class LocationManager {
public:
    virtual ~LocationManager() = default;
    virtual int authorizationStatus() const = 0;
    virtual void requestWhenInUseAuthorization() = 0;

    // Called, on any thread, after the status has changed.
    void setDelegate(std::function<void()> didChangeAuthorization) { delegate_ = std::move(didChangeAuthorization); }

protected:
    void notifyAuthorizationChanged()
    {
        if (delegate_)
            delegate_();
    }

private:
    std::function<void()> delegate_;
};

// Linux: always authorised, nothing to ask.
class LinuxLocationManager final : public LocationManager {
public:
    int authorizationStatus() const override;
    void requestWhenInUseAuthorization() override {}
};

class LocationPermissionService : public QObject {
    Q_OBJECT
public:
    // Raw values of the authorisation status.
    static constexpr int notDetermined = 0;
    static constexpr int restricted = 1;
    static constexpr int denied = 2;
    static constexpr int authorizedAlways = 3;
    static constexpr int authorizedWhenInUse = 4;

    // On the GUI thread. The default manager is the Linux one.
    explicit LocationPermissionService(QObject* parent = nullptr);
    explicit LocationPermissionService(std::unique_ptr<LocationManager> manager, QObject* parent = nullptr);
    ~LocationPermissionService() override;

    int authorizationStatus() const { return authorizationStatus_; }
    bool needsPrompt() const { return authorizationStatus_ == notDetermined; }
    bool ssidAccessAvailable() const
    {
        return authorizationStatus_ == authorizedAlways || authorizationStatus_ == authorizedWhenInUse;
    }

    // Asks for when-in-use authorisation while the status is not determined; otherwise nothing.
    void requestIfNeeded();

    // Delivers the current status and then every change to fn on context's thread, each through
    // that thread's event loop (so the first call comes on a later pass, never inside subscribe).
    // Ends with context or when the connection is disconnected.
    QMetaObject::Connection subscribe(QObject* context, std::function<void(int)> fn);

Q_SIGNALS:
    void authorizationStatusChanged(int status);

private:
    void setAuthorizationStatus(int status);

    std::unique_ptr<LocationManager> manager_;
    int authorizationStatus_ = notDetermined;
};

} // namespace pv
