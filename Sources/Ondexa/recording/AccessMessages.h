#pragma once

#include "Platform/audio/AudioServer.h"
#include "Platform/capture/ScreenContent.h"

#include <string>

// The sentences that tell why a source can't be recorded here and what the
// user can do about it on a Linux desktop. The technical reason goes to the log.
namespace ondexa::access {

// A Wayland session, with XWayland or without: no permission helps there.
inline constexpr const char* waylandSession =
    "Wayland-munkamenetben a képernyőfelvétel még nem érhető el. A felvételhez jelentkezz ki, és lépj be "
    "újra X11 (Xorg) munkamenetbe.";

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
