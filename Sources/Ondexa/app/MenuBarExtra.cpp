#include "Ondexa/app/MenuBarExtra.h"

#include "Ondexa/model/TimeText.h"
#include "Ondexa/ui/Symbols.h"
#include "Ondexa/ui/Theme.h"

#include <QAction>
#include <QPainter>
#include <QSystemTrayIcon>

namespace ondexa {

MenuBarContent::MenuBarContent(AppState& state, QWidget* parent) : QMenu(parent), state_(state)
{
    record_ = addAction(QString());
    // Shown beside the item only: the global hot key itself is the controller's.
    record_->setShortcutContext(Qt::WidgetShortcut);
    connect(record_, &QAction::triggered, this, [this] { state_.toggleRecording(); });
    addSeparator();
    window_ = addAction("Vendalum ablak");
    connect(window_, &QAction::triggered, this, &MenuBarContent::recordWindowRequested);
    quit_ = addAction("Kilépés");
    connect(quit_, &QAction::triggered, this, &MenuBarContent::quitRequested);
    connect(&state_, &AppState::phaseChanged, this, &MenuBarContent::refresh);
    connect(&state_, &AppState::hotKeyChanged, this, &MenuBarContent::refresh);
    refresh();
}

void MenuBarContent::refresh()
{
    const auto phase = state_.phase();
    const QString title = phase == AppState::Phase::recording ? "Felvétel leállítása" : "Felvétel indítása";
    // The keys the desktop granted, in its words. Keys Qt reads back to the
    // same words are the item's shortcut, which a panel's own menu (the
    // status notifier's) shows too; other words follow a tab, where Qt's
    // menu puts the shortcut column.
    const QString keys = QString::fromStdString(state_.hotKeyText());
    const QKeySequence sequence = QKeySequence::fromString(keys, QKeySequence::NativeText);
    const bool readable = sequence.count() == 1 && sequence.toString(QKeySequence::NativeText) == keys;
    record_->setShortcut(readable ? sequence : QKeySequence());
    record_->setText(readable || keys.isEmpty() ? title : title + '\t' + keys);
    record_->setEnabled(phase != AppState::Phase::starting && phase != AppState::Phase::finishing);
}

QIcon MenuBarLabel::makeDot(const QColor& color)
{
    // A 10-pixel dot in the middle of 14, at one and two pixels per point.
    QIcon dot;
    for (const int scale : {1, 2}) {
        QPixmap picture(14 * scale, 14 * scale);
        picture.fill(Qt::transparent);
        QPainter painter(&picture);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(color);
        painter.scale(scale, scale);
        painter.drawEllipse(QRectF(2, 2, 10, 10));
        painter.end();
        dot.addPixmap(picture);
    }
    return dot;
}

const QIcon& MenuBarLabel::dotOn()
{
    static const QIcon dot = makeDot(Theme::red());
    return dot;
}

const QIcon& MenuBarLabel::dotOff()
{
    static const QIcon dot = [] {
        QColor faint = Theme::red();
        faint.setAlphaF(0.25f);
        return makeDot(faint);
    }();
    return dot;
}

QIcon MenuBarLabel::icon(const AppState& state)
{
    if (state.phase() != AppState::Phase::recording) return Symbols::icon("record.circle");
    return state.blinkOn() ? dotOn() : dotOff();
}

QString MenuBarLabel::toolTip(const AppState& state)
{
    if (state.phase() != AppState::Phase::recording) return QStringLiteral("Vendalum");
    return QString::fromStdString(formatTime(state.elapsed(), false));
}

Tray::Tray(AppState& state, QObject* parent)
    : QObject(parent), state_(state), menu_(std::make_unique<MenuBarContent>(state)), icon_(new QSystemTrayIcon(this))
{
    icon_->setContextMenu(menu_.get());
    // A left click on a Linux tray activates: it brings the record window, as
    // the menu's item does; the right click keeps the menu.
    connect(icon_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger) menu_->windowAction()->trigger();
    });
    for (auto signal : {&AppState::phaseChanged, &AppState::elapsedChanged, &AppState::blinkOnChanged})
        connect(&state_, signal, this, &Tray::refresh);
    refresh();
}

Tray::~Tray() { icon_->setContextMenu(nullptr); }

void Tray::show()
{
    // Qt docks the icon itself whenever a tray turns up later, as a panel
    // started after us does.
    icon_->show();
}

void Tray::refresh()
{
    icon_->setIcon(MenuBarLabel::icon(state_));
    icon_->setToolTip(MenuBarLabel::toolTip(state_));
}

} // namespace ondexa
