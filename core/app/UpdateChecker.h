#pragma once
// The once-per-start look at the update feed: a small static JSON document that names the newest
// version and where to get it. There is no built-in feed: a packager who runs one names it at build
// time (the CMake cache variable POLVARINE_UPDATE_FEED_URL), or POLVARINE_UPDATE_FEED names one at
// run time; with neither, no request is ever sent.

#include "core/records/Runtime.h"

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <optional>

namespace pv {

// The configured feed: POLVARINE_UPDATE_FEED when set, otherwise the build's POLVARINE_UPDATE_FEED_URL;
// std::nullopt when the chosen text is empty or not a valid http(s) URL. Read anew on every call.
std::optional<QUrl> configuredUpdateFeedUrl();

struct AvailableUpdate {
    QString version;
    QString notes;
    QUrl downloadURL;
    bool operator==(const AvailableUpdate&) const = default;
};

class UpdateChecker : public rt::BlockingActor {
public:
    struct Feed {
        QString version;
        QString notes;
        QString url;
        std::optional<QString> minimumSystemVersion; // read, never consulted
        bool operator==(const Feed&) const = default;

        // Strict: a missing, null or mistyped required key throws json::DecodeError.
        static Feed decode(const QByteArray& body);
    };

    // An empty or invalid feed makes check() return nothing without sending a request.
    UpdateChecker(QUrl feed, QString currentVersion);
    ~UpdateChecker() override;

    const QUrl& feed() const { return feed_; }
    const QString& currentVersion() const { return currentVersion_; }

    // Fetches and judges the feed on the checker's own thread; never throws.
    rt::awaitable<std::optional<AvailableUpdate>> check();

    // Dotted numeric versions: is `candidate` newer than `current`?
    static bool isNewer(const QString& candidate, const QString& current);
    // The download link when its text is a URL whose scheme is exactly "https" (case-sensitive).
    static std::optional<QUrl> secureDownloadURL(const QString& text);

private:
    std::optional<AvailableUpdate> checkOnThisThread() const;

    QUrl feed_;
    QString currentVersion_;
};

} // namespace pv
