#pragma once
// One running copy per user. Two monitors on one database would record every batch twice, and an
// autostart launch followed by a manual one is the usual way to get there. The first copy holds a
// lock file and listens on a local socket next to it; a later copy finds the lock taken, asks the
// first one to show its window and ends.

#include <QObject>
#include <QString>

#include <chrono>
#include <memory>

class QLocalServer;
class QLockFile;

namespace pv {

class SingleInstance : public QObject {
    Q_OBJECT
public:
    enum class Outcome {
        primary,     // this copy runs; activationRequested() reports later launches
        handedOver,  // another copy runs and was asked to show itself: end this one
        failed,      // neither: errorString() says why
    };

    // folder: where the lock file and the socket live; it is created when missing.
    explicit SingleInstance(QString folder, QObject* parent = nullptr);
    ~SingleInstance() override;

    // The user's runtime folder (XDG_RUNTIME_DIR) with a folder of ours inside.
    static QString defaultFolder();

    // Claims the lock or hands over to its holder. A holder that is still starting is given up to
    // `patience` to begin listening; one that never answers in that time is reported as failed.
    Outcome claim(std::chrono::milliseconds patience = std::chrono::seconds(3));
    QString errorString() const { return error_; }
    QString lockPath() const;
    QString socketPath() const;

Q_SIGNALS:
    // A later launch asked this copy to show its window.
    void activationRequested();

private:
    bool listen();
    bool askHolderToActivate(std::chrono::milliseconds timeout) const;

    QString folder_;
    QString error_;
    std::unique_ptr<QLockFile> lock_;
    QLocalServer* server_ = nullptr;
};

} // namespace pv
