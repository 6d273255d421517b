#include "Ondexa/recording/AccessMessages.h"

namespace ondexa::access {

namespace {

// A server that is down says nothing about permissions: the sentence names
// the server and how to bring it back.
const char* const kSoundServerDown =
    "A hangkártya nem érhető el. A hangkiszolgáló (PulseAudio vagy PipeWire) nem fut, vagy nem érhető el: "
    "indítsd el (például: systemctl --user start pipewire-pulse), vagy kapcsold ki a Hangkártyát.";
const char* const kSoundServerRefused =
    "A hangkiszolgáló (PulseAudio vagy PipeWire) visszautasította a kapcsolódást: a Vendalumot ugyanazzal a "
    "felhasználóval indítsd, amelyikkel a hangkiszolgáló fut.";

} // namespace

std::string portal::hotKeyGlobal(const std::string& trigger)
{
    if (trigger.empty())
        return "A Ctrl+Alt+A billentyűparancs az asztal globális billentyűparancsa lett, így akkor is elindítja és "
               "leállítja a felvételt, ha nem Vendalum-ablak van előtérben.";
    return "A felvételt az asztal által beállított billentyűparanccsal (" + trigger
           + ") indíthatod el és állíthatod le, akkor is, ha nem Vendalum-ablak van előtérben.";
}

std::string screenRefused(const platform::ScreenAccess& access)
{
    std::string message = "Nincs engedély a képernyő felvételéhez. ";
    switch (access.refusal) {
    case platform::ScreenAccess::Refusal::waylandOnly: return waylandSession;
    case platform::ScreenAccess::Refusal::refused:
        return message
               + "Az X kijelző nem engedte a képernyő rögzítését (például egy távoli, nem megbízható kapcsolaton): "
                 "indítsd a Vendalumot közvetlenül az X11-munkamenetben, majd próbáld újra.";
    case platform::ScreenAccess::Refusal::noDisplay:
    case platform::ScreenAccess::Refusal::none:
        break;
    }
    return message
           + "Az X kijelző nem érhető el (üres vagy hibás a DISPLAY környezeti változó): indítsd a Vendalumot egy "
             "X11-munkamenetből, majd indítsd újra az appot.";
}

std::string screenNotice(platform::ScreenAccess::Refusal refusal)
{
    if (refusal == platform::ScreenAccess::Refusal::waylandOnly) return waylandSession;
    return "A Vendalumnak engedély kell a képernyő felvételéhez. Az X kijelző nem érhető el, vagy nem engedi a "
           "képernyő rögzítését: indítsd a Vendalumot X11-munkamenetben, majd kattints az Engedély megadása… gombra.";
}

std::string soundRefusedAtStart(const platform::SoundAccess& access)
{
    if (!access.refused) return kSoundServerDown;
    return std::string("Nincs engedély a hangkártyához. ") + kSoundServerRefused;
}

std::string soundRefusedForInput(const platform::SoundAccess& access)
{
    if (!access.refused) return kSoundServerDown;
    return std::string("A mikrofon-hozzáférés tiltva van. ") + kSoundServerRefused;
}

std::string cameraDenied()
{
    return "Nincs engedély a kamerához. A kamera eszközfájlját (/dev/video…) csak a video csoport tagjai nyithatják "
           "meg: vedd fel magad a csoportba (sudo usermod -aG video $USER), majd jelentkezz be újra.";
}

std::string cameraBusy()
{
    return "A kamerát egy másik program használja. Zárd be azt a programot (például egy videohívást), majd indítsd "
           "újra a felvételt.";
}

} // namespace ondexa::access
