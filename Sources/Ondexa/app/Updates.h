#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class QNetworkAccessManager;
class QNetworkReply;
class QSettings;
class QTimer;

namespace ondexa {

class JobChain;

// The software-update glue, the least its callers need: it decides once
// whether the updater runs, reads the update feed (an RSS file whose items
// carry a version and a display version) over file: or http:, compares the
// newest item with this build and says what it found in the log. It downloads
// and installs nothing, and checks nothing while a recording runs.
class Updates : public QObject {
    Q_OBJECT

public:
    // What the updater needs of the process.
    struct Environment {
        QStringList arguments;                 // after the program's name
        std::optional<QString> feedVariable;   // VENDALUM_FEED when set, even empty
        QUrl defaultFeed;                      // the feed installed with the program
        std::function<bool()> isRecording;     // vetoes checks
        QSettings* settings = nullptr;         // where the automatic settings go; none: not stored
        // The longest a whole check may take: a feed that trickles in keeps
        // within the transfer timeout, but not within this.
        std::chrono::milliseconds deadline = std::chrono::seconds(30);
        static Environment system();
    };

    // One item of the feed.
    struct Item {
        QString version;         // compared, "210"
        QString displayVersion;  // shown, "2.1"
    };

    // The one instance, made on first use with the process's environment.
    static Updates& shared();

    explicit Updates(Environment environment, QObject* parent = nullptr);
    ~Updates() override;

    bool started() const { return started_; }
    bool isChecking() const { return checking_; }
    // A user may ask for a check now.
    bool canCheckForUpdates() const { return started_ && !checking_; }
    // The feed address: the variable when set, else the installed one.
    QUrl feedURL() const;
    bool automaticallyChecksForUpdates() const { return automaticChecks_; }
    bool automaticallyDownloadsUpdates() const { return automaticDownloads_; }

    // The menu's check: the log line and a message box over `parent`.
    void checkForUpdates(QWidget* parent = nullptr);
    // A check whose outcome only reaches the log.
    void checkForUpdatesInBackground();
    // Runs `done` with the log line once the running check (or none) ends.
    void whenIdle(std::function<void()> done);

    // This build.
    static QString version();
    static QString displayVersion();
    // Numeric comparison of dotted versions, part by part ("10" > "9", "1.10" > "1.9").
    static int compareVersions(const QString& a, const QString& b);
    // The items of an RSS feed; throws OndexaError on a feed it can't read.
    static std::vector<Item> parseFeed(const QByteArray& data);

    static constexpr int timeoutMs = 15000;
    // A feed is a few KB; anything much bigger is not a feed, and holding it
    // whole would cost memory without end.
    static constexpr qsizetype largestFeed = 1024 * 1024;
    // Version texts are short numbers; a longer one is refused, not shown.
    static constexpr qsizetype longestVersion = 40;

signals:
    void canCheckForUpdatesChanged();
    // The outcome of a check, as written to the log.
    void checkFinished(const QString& logLine);

private:
    // The check under way.
    struct Running {
        quint64 id = 0;
        QPointer<QWidget> parent;
        bool interactive = false;
        QUrl feed;
        QPointer<QNetworkReply> reply;  // http: the request
        QByteArray body;                // http: what has arrived so far
    };

    void check(QPointer<QWidget> parent, bool interactive);
    void request(quint64 id, const QUrl& feed);
    void readReply(quint64 id);
    // Ends check `id` (if it is still the running one) with the feed's
    // bytes, or with the sentence saying why there are none.
    void conclude(quint64 id, const std::optional<QByteArray>& feed, const QString& failure = {});
    void finish(const QString& line, const QString& message, QPointer<QWidget> parent, bool interactive);
    void setChecking(bool checking);

    Environment env_;
    bool started_ = false;
    bool checking_ = false;
    bool automaticChecks_ = false;
    bool automaticDownloads_ = false;
    QNetworkAccessManager* network_ = nullptr;  // child of this
    QTimer* deadline_ = nullptr;                // child of this
    std::unique_ptr<JobChain> files_;           // reads file: feeds off the main thread
    Running running_;
    std::vector<std::function<void()>> idleWaiters_;
};

// The menu item's view of the updater: whether a check may start now.
class CanCheckForUpdates : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool canCheck READ canCheck NOTIFY canCheckChanged)

public:
    explicit CanCheckForUpdates(Updates& updater, QObject* parent = nullptr);
    bool canCheck() const { return canCheck_; }

signals:
    void canCheckChanged();

private:
    bool canCheck_ = false;
};

} // namespace ondexa
