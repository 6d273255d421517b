#pragma once

#include "Ondexa/recording/AppState.h"

#include <QIcon>
#include <QMenu>
#include <QObject>

class QAction;
class QSystemTrayIcon;

namespace ondexa {

// The tray menu: start or stop a recording, bring back the record window,
// quit. Showing the window and quitting belong to the application; the menu
// only asks for them.
class MenuBarContent : public QMenu {
    Q_OBJECT

public:
    explicit MenuBarContent(AppState& state, QWidget* parent = nullptr);

    QAction* recordAction() const { return record_; }
    QAction* windowAction() const { return window_; }
    QAction* quitAction() const { return quit_; }

signals:
    void recordWindowRequested();
    void quitRequested();

private:
    void refresh();

    AppState& state_;
    QAction* record_;
    QAction* window_;
    QAction* quit_;
};

// What the tray shows: the record symbol, and while recording a red dot that
// blinks with the controller's clock. The tray can't show text beside its
// icon, so the elapsed time goes into the tooltip.
class MenuBarLabel {
public:
    MenuBarLabel() = delete;
    static QIcon icon(const AppState& state);
    static QString toolTip(const AppState& state);
    // The dots, made once: full red and faint red.
    static const QIcon& dotOn();
    static const QIcon& dotOff();
    static QIcon makeDot(const QColor& color);
};

// The tray icon with its menu, following the controller.
class Tray : public QObject {
    Q_OBJECT

public:
    explicit Tray(AppState& state, QObject* parent = nullptr);
    ~Tray() override;

    QSystemTrayIcon* icon() const { return icon_; }
    MenuBarContent* menu() const { return menu_.get(); }
    // Shows the icon, now or as soon as the desktop's tray appears.
    void show();

private:
    void refresh();

    AppState& state_;
    std::unique_ptr<MenuBarContent> menu_;  // a menu has no QObject parent here
    QSystemTrayIcon* icon_;
};

} // namespace ondexa
