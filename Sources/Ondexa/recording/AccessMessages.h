#pragma once

#include "Platform/audio/AudioServer.h"
#include "Platform/capture/ScreenContent.h"

#include <string>

// The sentences that tell why a source can't be recorded here and what the
// user can do about it on a Linux desktop. The technical reason goes to the log.
namespace ondexa::access {

// A Wayland session that the program can't tell for one (only one of
// WAYLAND_DISPLAY and XDG_SESSION_TYPE=wayland says so): neither the X
// display (XWayland's shows only X11 programs) nor the portal is used.
inline constexpr const char* waylandSession =
    "A képernyő ebben a munkamenetben nem vehető fel. A WAYLAND_DISPLAY és az XDG_SESSION_TYPE=wayland közül csak "
    "az egyik van beállítva, így a Vendalum sem a Wayland képernyőmegosztását, sem az X kijelzőt nem használhatja: "
    "indítsd a Vendalumot az asztal menüjéből, vagy állítsd be mindkét változót.";

// On a Wayland session, through the desktop's screen-cast portal.
namespace portal {
// The record window's permission notice before the first grant.
inline constexpr const char* notice =
    "A Vendalumnak engedély kell a képernyő felvételéhez. Wayland-munkamenetben ezt a rendszer képernyőmegosztó "
    "ablakában adhatod meg: kattints az Engedély megadása… gombra, és válaszd ki a felvenni kívánt kijelzőt.";
// The record window's notice where the desktop has no screen-cast portal.
inline constexpr const char* unavailable =
    "A képernyő nem vehető fel: az asztal képernyőmegosztó szolgáltatása (xdg-desktop-portal ScreenCast) nem "
    "érhető el. Telepítsd az asztalodhoz illő xdg-desktop-portal csomagot (például xdg-desktop-portal-gnome, "
    "xdg-desktop-portal-kde vagy xdg-desktop-portal-wlr), majd indítsd újra a Vendalumot.";
// The user said no in the portal's dialog.
inline constexpr const char* refused =
    "Nincs engedély a képernyő felvételéhez: a rendszer képernyőmegosztó ablakában nem engedélyezted a megosztást. "
    "Kattints az Engedély megadása… gombra, és a megjelenő ablakban válaszd ki a kijelzőt.";
inline constexpr const char* noWindows =
    "Ezen az asztalon ablak nem vehető fel: a rendszer képernyőmegosztása csak teljes kijelzőt kínál. Válaszd a "
    "Teljes kijelző vagy a Terület módot.";
// The record window's line in place of the window list, where there are no windows.
inline constexpr const char* noWindowsHere =
    "Ezen az asztalon nem vehető fel ablak: a rendszer képernyőmegosztása csak teljes kijelzőt kínál.";
inline constexpr const char* windowChosenInDialog =
    "Az ablakot a felvétel indításakor a rendszer képernyőmegosztó ablakában választhatod ki.";
inline constexpr const char* noClicks =
    "Wayland-munkamenetben a kattintások nem rögzíthetők, így ezeken a felvételeken a Kattintások kiemelése nem "
    "mutat semmit.";
inline constexpr const char* pointerEmbedded =
    "Az asztal képernyőmegosztása a mutatót a képbe rajzolja, a helyzetét viszont nem adja át: a felvételekhez "
    "nem készül mutatónapló, ezért a mutató a szerkesztőben nem rajzolható újra.";
inline constexpr const char* hotKeyWhileFocused =
    "A Ctrl+Alt+A billentyűparancs csak akkor működik, ha egy Vendalum-ablak van előtérben, mert az asztal nem kínál "
    "globális billentyűparancsot. Felvétel közben, amikor az ablakok rejtve vannak, a tálcaikon menüjéből állíthatod "
    "le a felvételt.";
// As hotKeyWhileFocused, where the desktop has no tray either.
inline constexpr const char* hotKeyWhileFocusedNoTray =
    "A Ctrl+Alt+A billentyűparancs csak akkor működik, ha egy Vendalum-ablak van előtérben, mert az asztal nem kínál "
    "globális billentyűparancsot, tálcaikon pedig nem jelenik meg. Felvétel közben ezért az ablakok kis méretre "
    "kerülnek a feladatsávra vagy a dokkba: onnan hozd vissza a Vendalum ablakát, és állítsd le a felvételt.";
// The desktop took the hot key as a shortcut of its own; `trigger` is its
// name for the keys it granted (empty where it named none).
std::string hotKeyGlobal(const std::string& trigger);
} // namespace portal

// A start without the screen, by why the X display said no.
std::string screenRefused(const platform::ScreenAccess& access);
// The record window's standing notice while the screen can't be read.
std::string screenNotice(platform::ScreenAccess::Refusal refusal);

// A start with the audio interface, and opening it for the meters, when the
// sound server said no or is not there.
std::string soundRefusedAtStart(const platform::SoundAccess& access);
std::string soundRefusedForInput(const platform::SoundAccess& access);

// The camera's node may not be opened, or another program streams from it.
std::string cameraDenied();
std::string cameraBusy();

} // namespace ondexa::access
