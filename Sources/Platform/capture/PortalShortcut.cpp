#include "Platform/capture/PortalShortcut.h"

#include "Platform/capture/PortalRequest.h"

#include <QDBusArgument>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QObject>

#include <utility>

namespace platform {

// The a(sa{sv}) list of BindShortcuts.
struct ShortcutEntry {
    QString id;
    QVariantMap properties;
};

} // namespace platform

Q_DECLARE_METATYPE(platform::ShortcutEntry)

namespace platform {

static QDBusArgument& operator<<(QDBusArgument& argument, const ShortcutEntry& entry)
{
    argument.beginStructure();
    argument << entry.id << entry.properties;
    argument.endStructure();
    return argument;
}

static const QDBusArgument& operator>>(const QDBusArgument& argument, ShortcutEntry& entry)
{
    argument.beginStructure();
    argument >> entry.id >> entry.properties;
    argument.endStructure();
    return argument;
}

class PortalShortcut::Impl : public QObject {
    Q_OBJECT

public:
    Impl(QDBusConnection bus, WantedShortcut wanted, std::function<void(PortalShortcutBinding)> bound,
         std::function<void()> activated, std::chrono::milliseconds deadline)
        : bus_(std::move(bus)), wanted_(std::move(wanted)), bound_(std::move(bound)), activated_(std::move(activated)),
          deadline_(deadline)
    {
        qDBusRegisterMetaType<ShortcutEntry>();
        qDBusRegisterMetaType<QList<ShortcutEntry>>();
        QVariantMap options;
        options.insert(QStringLiteral("session_handle_token"), portal::nextToken());
        portal::request(bus_, this, shortcuts::interface, "CreateSession", {options},
                        [this](portal::Answer answer) { created(std::move(answer)); }, deadline_);
    }

    ~Impl() override
    {
        if (listening_)
            bus_.disconnect(portal::service, portal::path, shortcuts::interface, QStringLiteral("Activated"), this,
                            SLOT(activated(QDBusObjectPath, QString, qulonglong, QVariantMap)));
        portal::closeSession(bus_, session_);
    }

private slots:
    void activated(const QDBusObjectPath& session, const QString& id, qulonglong, const QVariantMap&)
    {
        if (!isBound_ || session.path() != session_ || id != QString::fromStdString(wanted_.id)) return;
        if (activated_) activated_();
    }

private:
    void created(portal::Answer answer)
    {
        if (answer.timedOut) return settle(timedOut("CreateSession"));
        if (!answer.called)
            return settle(failure(answer, "A rendszer globális billentyűparancs-szolgáltatása nem érhető el."));
        session_ = answer.code == portal::responseSuccess ? portal::sessionHandle(answer.results) : QString();
        if (session_.isEmpty())
            return settle(failure(answer, "A rendszer globális billentyűparancs-szolgáltatása nem nyitott munkamenetet."));
        ShortcutEntry entry;
        entry.id = QString::fromStdString(wanted_.id);
        entry.properties.insert(QStringLiteral("description"), QString::fromStdString(wanted_.description));
        entry.properties.insert(QStringLiteral("preferred_trigger"), QString::fromStdString(wanted_.preferredTrigger));
        listening_ = bus_.connect(portal::service, portal::path, shortcuts::interface, QStringLiteral("Activated"),
                                  this, SLOT(activated(QDBusObjectPath, QString, qulonglong, QVariantMap)));
        portal::request(bus_, this, shortcuts::interface, "BindShortcuts",
                        {QVariant::fromValue(QDBusObjectPath(session_)), QVariant::fromValue(QList<ShortcutEntry>{entry}),
                         QString(), QVariantMap()},
                        [this](portal::Answer answer) { boundAnswer(std::move(answer)); }, deadline_);
    }

    void boundAnswer(portal::Answer answer)
    {
        PortalShortcutBinding binding;
        if (answer.timedOut) {
            // A bind that comes late must not take effect: the session goes.
            portal::closeSession(bus_, std::exchange(session_, QString()));
            return settle(timedOut("BindShortcuts"));
        }
        if (!answer.called) return settle(failure(answer, "A globális billentyűparancs nem állítható be."));
        if (answer.code != portal::responseSuccess) {
            binding.outcome = PortalShortcutBinding::Outcome::refused;
            return settle(binding);
        }
        // The desktop lists what it bound; ours missing means it was not granted.
        const auto granted = qdbus_cast<QList<ShortcutEntry>>(answer.results.value(QStringLiteral("shortcuts")));
        const QString id = QString::fromStdString(wanted_.id);
        bool found = !answer.results.contains(QStringLiteral("shortcuts"));
        for (const ShortcutEntry& entry : granted) {
            if (entry.id != id) continue;
            found = true;
            binding.trigger = entry.properties.value(QStringLiteral("trigger_description")).toString().toStdString();
        }
        binding.outcome = found ? PortalShortcutBinding::Outcome::bound : PortalShortcutBinding::Outcome::refused;
        settle(binding);
    }

    static PortalShortcutBinding failure(const portal::Answer& answer, const std::string& sentence)
    {
        PortalShortcutBinding binding;
        if (answer.called && answer.code == portal::responseCancelled) {
            binding.outcome = PortalShortcutBinding::Outcome::refused;
            return binding;
        }
        binding.error = answer.called ? sentence + " (válaszkód: " + std::to_string(answer.code) + ")"
                                      : portal::withDetail(sentence, answer.error);
        return binding;
    }

    static PortalShortcutBinding timedOut(const char* method)
    {
        PortalShortcutBinding binding;
        binding.error = std::string("A rendszer globális billentyűparancs-szolgáltatása nem válaszolt időben a "
                                    "kérésre: ")
                        + method + ".";
        return binding;
    }

    void settle(PortalShortcutBinding binding)
    {
        isBound_ = binding.outcome == PortalShortcutBinding::Outcome::bound;
        if (bound_) std::exchange(bound_, nullptr)(std::move(binding));
    }

    QDBusConnection bus_;
    WantedShortcut wanted_;
    std::function<void(PortalShortcutBinding)> bound_;
    std::function<void()> activated_;
    std::chrono::milliseconds deadline_;  // of each request
    QString session_;
    bool listening_ = false;
    bool isBound_ = false;  // presses count only once the desktop took the shortcut
};

PortalShortcut::PortalShortcut(QDBusConnection bus, WantedShortcut wanted,
                               std::function<void(PortalShortcutBinding)> bound, std::function<void()> activated,
                               std::chrono::milliseconds deadline)
    : impl_(std::make_unique<Impl>(std::move(bus), std::move(wanted), std::move(bound), std::move(activated),
                                   deadline))
{
}

PortalShortcut::~PortalShortcut() = default;

} // namespace platform

#include "PortalShortcut.moc"
