#include "Ondexa/app/Updates.h"

#include "Ondexa/editing/JobChain.h"
#include "Ondexa/model/Files.h"
#include "Ondexa/model/Log.h"
#include "Ondexa/model/OndexaError.h"
#include "Ondexa/recording/AppState.h"
#include "Ondexa/ui/Alert.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSettings>
#include <QTimer>
#include <QXmlStreamReader>

#include <algorithm>

#ifndef ONDEXA_VERSION
#define ONDEXA_VERSION "1"
#endif
#ifndef ONDEXA_DISPLAY_VERSION
#define ONDEXA_DISPLAY_VERSION "0.1"
#endif

namespace ondexa {

namespace {

constexpr const char* vetoMessage = "Felvétel közben nincs frissítés.";

// Where the program's own feed lies: installed beside the program's data,
// or, in a build folder, beside the program itself.
QUrl installedFeed()
{
    const QString dir = QCoreApplication::applicationDirPath();
    for (const QString& candidate : {dir + "/../share/vendalum/feed.xml", dir + "/feed.xml"}) {
        QFileInfo info(candidate);
        if (info.isFile()) return QUrl::fromLocalFile(info.canonicalFilePath());
    }
    return QUrl::fromLocalFile(QDir::cleanPath(dir + "/../share/vendalum/feed.xml"));
}

} // namespace

Updates::Environment Updates::Environment::system()
{
    Environment env;
    env.arguments = QCoreApplication::arguments();
    if (!env.arguments.isEmpty()) env.arguments.removeFirst();
    if (qEnvironmentVariableIsSet("VENDALUM_FEED")) env.feedVariable = qEnvironmentVariable("VENDALUM_FEED");
    env.defaultFeed = installedFeed();
    env.isRecording = [] { return AppState::shared().phase() == AppState::Phase::recording; };
    static QSettings settings("Vendalum", "Vendalum");
    env.settings = &settings;
    return env;
}

Updates& Updates::shared()
{
    // Never released: it lives as long as the process.
    static Updates* updates = new Updates(Environment::system());
    return *updates;
}

Updates::Updates(Environment environment, QObject* parent) : QObject(parent), env_(std::move(environment))
{
    // Runs with any other "--" flag (the self-tests) leave the updater off
    // and check nothing, "--updatecheck" among them or not.
    const auto& args = env_.arguments;
    started_ = std::none_of(args.begin(), args.end(),
                            [](const QString& a) { return a.startsWith("--") && a != "--updatecheck"; });
    if (!started_) return;
    if (args.contains("--updatecheck")) {
        QMetaObject::invokeMethod(this, [this] { check(nullptr, false); }, Qt::QueuedConnection);
        return;
    }
    automaticChecks_ = true;
    automaticDownloads_ = true;
    if (env_.settings) {
        env_.settings->setValue("updates/automaticChecks", true);
        env_.settings->setValue("updates/automaticDownloads", true);
    }
    QMetaObject::invokeMethod(this, [this] { checkForUpdatesInBackground(); }, Qt::QueuedConnection);
}

Updates::~Updates() = default;

QUrl Updates::feedURL() const
{
    if (env_.feedVariable) return QUrl::fromUserInput(*env_.feedVariable, QDir::currentPath(), QUrl::AssumeLocalFile);
    return env_.defaultFeed;
}

QString Updates::version() { return QStringLiteral(ONDEXA_VERSION); }
QString Updates::displayVersion() { return QStringLiteral(ONDEXA_DISPLAY_VERSION); }

int Updates::compareVersions(const QString& a, const QString& b)
{
    const QStringList pa = a.trimmed().split('.'), pb = b.trimmed().split('.');
    for (qsizetype i = 0; i < std::max(pa.size(), pb.size()); ++i) {
        const qlonglong x = i < pa.size() ? pa[i].toLongLong() : 0;
        const qlonglong y = i < pb.size() ? pb[i].toLongLong() : 0;
        if (x != y) return x < y ? -1 : 1;
    }
    return 0;
}

std::vector<Updates::Item> Updates::parseFeed(const QByteArray& data)
{
    std::vector<Item> items;
    QXmlStreamReader xml(data);
    bool sawRss = false;
    std::optional<Item> item;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement()) {
            const auto name = xml.name();
            if (name == u"rss") sawRss = true;
            else if (name == u"item") item = Item{};
            else if (item && name == u"version") item->version = xml.readElementText().trimmed();
            else if (item && name == u"displayVersion") item->displayVersion = xml.readElementText().trimmed();
            if (item && (item->version.size() > longestVersion || item->displayVersion.size() > longestVersion))
                throw OndexaError("A frissítési csatorna túl hosszú változatszámot ad meg.");
        } else if (xml.isEndElement() && xml.name() == u"item" && item) {
            if (!item->version.isEmpty()) {
                if (item->displayVersion.isEmpty()) item->displayVersion = item->version;
                items.push_back(*item);
            }
            item.reset();
        }
    }
    if (xml.hasError() || !sawRss)
        throw OndexaError("A frissítési csatorna nem érvényes RSS (" + xml.errorString().toStdString() + ").");
    return items;
}

void Updates::checkForUpdates(QWidget* parent)
{
    check(parent, true);
}

void Updates::checkForUpdatesInBackground()
{
    check(nullptr, false);
}

void Updates::whenIdle(std::function<void()> done)
{
    if (!checking_) return done();
    idleWaiters_.push_back(std::move(done));
}

void Updates::setChecking(bool checking)
{
    if (checking_ == checking) return;
    checking_ = checking;
    emit canCheckForUpdatesChanged();
}

void Updates::check(QPointer<QWidget> parent, bool interactive)
{
    if (checking_) return;
    if (env_.isRecording && env_.isRecording()) {
        const QString text = QString::fromUtf8(vetoMessage);
        return finish("Frissítés-keresés hiba: " + text, text, parent, interactive);
    }
    if (env_.feedVariable && env_.feedVariable->isEmpty()) {
        const QString text = "Nincs megadva frissítési csatorna.";
        return finish("Frissítés-keresés hiba: " + text, text, parent, interactive);
    }
    const QUrl feed = feedURL();
    running_ = Running{running_.id + 1, parent, interactive, feed, nullptr, {}};
    const quint64 id = running_.id;
    setChecking(true);

    if (!deadline_) {
        deadline_ = new QTimer(this);
        deadline_->setSingleShot(true);
        connect(deadline_, &QTimer::timeout, this, [this] {
            const QString feed = running_.feed.toDisplayString();
            conclude(running_.id, std::nullopt, QString("A frissítési csatorna nem érkezett meg időben: %1.").arg(feed));
        });
    }
    deadline_->start(env_.deadline);

    if (!feed.isLocalFile()) return request(id, feed);
    // Read on a pool thread: a file on a stalled network share must not
    // freeze the program. Pipes and devices are refused without waiting.
    if (!files_) files_ = std::make_unique<JobChain>();
    using Read = std::pair<std::optional<QByteArray>, QString>;
    files_->run<Read>(
        this,
        [path = feed.toLocalFile().toStdString()]() -> Read {
            try {
                const std::string bytes = readFile(path, std::uintmax_t(largestFeed));
                return {QByteArray::fromStdString(bytes), {}};
            } catch (const OndexaError& error) {
                return {std::nullopt, QString::fromStdString(error.what())};
            }
        },
        [this, id](Read read) { conclude(id, read.first, read.second); });
}

void Updates::request(quint64 id, const QUrl& feed)
{
    if (!network_) network_ = new QNetworkAccessManager(this);
    QNetworkRequest request(feed);
    request.setTransferTimeout(timeoutMs);
    QNetworkReply* reply = network_->get(request);
    // What arrives waits in our own bounded buffer, not in the reply's.
    reply->setReadBufferSize(64 * 1024);
    running_.reply = reply;
    const QString tooBig =
        QString("A frissítési csatorna túl nagy (több mint 1 MiB): %1.").arg(feed.toDisplayString());
    connect(reply, &QNetworkReply::metaDataChanged, this, [this, id, reply, tooBig] {
        const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
        if (length.isValid() && length.toLongLong() > largestFeed) conclude(id, std::nullopt, tooBig);
    });
    connect(reply, &QNetworkReply::readyRead, this, [this, id, tooBig] {
        readReply(id);
        if (id == running_.id && running_.body.size() > largestFeed) conclude(id, std::nullopt, tooBig);
    });
    connect(reply, &QNetworkReply::finished, this, [this, id, reply, feed, tooBig] {
        if (id != running_.id || !checking_) return;
        readReply(id);
        if (running_.body.size() > largestFeed) return conclude(id, std::nullopt, tooBig);
        if (reply->error() != QNetworkReply::NoError) {
            return conclude(id, std::nullopt,
                            QString("A frissítési csatorna nem olvasható: %1 (%2)")
                                .arg(feed.toDisplayString(), reply->errorString()));
        }
        conclude(id, running_.body);
    });
}

void Updates::readReply(quint64 id)
{
    if (id != running_.id || !running_.reply) return;
    // One byte beyond the bound is enough to know it is too big.
    const qint64 room = largestFeed + 1 - running_.body.size();
    if (room > 0) running_.body += running_.reply->read(room);
}

void Updates::conclude(quint64 id, const std::optional<QByteArray>& feed, const QString& failure)
{
    if (id != running_.id || !checking_) return;
    if (deadline_) deadline_->stop();
    if (QNetworkReply* reply = running_.reply) {
        disconnect(reply, nullptr, this, nullptr);
        reply->abort();
        reply->deleteLater();
    }
    Running done = std::move(running_);
    running_ = Running{done.id, {}, false, {}, nullptr, {}};

    QString line, text;
    if (!feed) {
        text = failure;
        line = "Frissítés-keresés hiba: " + text;
    } else {
        try {
            const auto items = parseFeed(*feed);
            const auto newest = std::max_element(items.begin(), items.end(), [](const Item& a, const Item& b) {
                return compareVersions(a.version, b.version) < 0;
            });
            if (newest != items.end() && compareVersions(newest->version, version()) > 0) {
                line = QString("Frissítés elérhető: %1 (%2)").arg(newest->displayVersion, newest->version);
                text = QString("Elérhető a Vendalum %1 (%2).").arg(newest->displayVersion, newest->version);
            } else {
                text = QString("A Vendalum %1 (%2) a legújabb változat.").arg(displayVersion(), version());
                line = "Nincs újabb verzió: " + text;
            }
        } catch (const OndexaError& error) {
            text = QString::fromStdString(error.what());
            line = "Frissítés-keresés hiba: " + text;
        }
    }
    setChecking(false);
    finish(line, text, done.parent, done.interactive);
}

void Updates::finish(const QString& line, const QString& message, QPointer<QWidget> parent, bool interactive)
{
    logLine(line.toStdString());
    if (interactive) {
        auto* box = new QMessageBox(QMessageBox::Information, "Frissítések", message, QMessageBox::Ok, parent);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setObjectName("updateMessage");
        ui::Alert::open(*box);
    }
    emit checkFinished(line);
    auto waiters = std::move(idleWaiters_);
    idleWaiters_.clear();
    for (auto& waiter : waiters) waiter();
}

CanCheckForUpdates::CanCheckForUpdates(Updates& updater, QObject* parent) : QObject(parent)
{
    canCheck_ = updater.canCheckForUpdates();
    connect(&updater, &Updates::canCheckForUpdatesChanged, this, [this, updater = QPointer<Updates>(&updater)] {
        if (!updater || canCheck_ == updater->canCheckForUpdates()) return;
        canCheck_ = updater->canCheckForUpdates();
        emit canCheckChanged();
    });
}

} // namespace ondexa
