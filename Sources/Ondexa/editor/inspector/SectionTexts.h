#pragma once

// What the clip, action, track and partner sections of the inspector show:
// titles, symbols, captions and the value texts of their rows. Numbers are
// written without the locale ("0.25 mp", never "0,25 mp").

#include "Ondexa/model/Timeline.h"

#include <QString>

#include <cstddef>
#include <optional>

namespace ondexa::sectiontexts {

// Halves away from zero; none for a value that is not finite or does not fit
// a 64-bit integer.
std::optional<long long> rounded(double value);

// value × 100, rounded, then " %": "113 %". A volume is computed in its own
// 32-bit precision, as it is stored. "–" for what can't be rounded.
QString percent(double fraction);
QString volumePercent(float volume);
// Whole degrees: "-1°".
QString degrees(double value);
// A position as a share of the output, "%.0f %%" (halves to even): "12 %".
QString position(double fraction);
// Seconds with two decimals: "0.25 mp".
QString seconds(double value);
// Whole decibels with a sign: "+0 dB".
QString boost(double decibels);
// The maximizer's own part of `gain` (which includes the boost):
// "Automatikus erősítés: +6.0 dB".
QString automaticGain(float gain, double boostDecibels);
// "3 klip · a felső sáv van elöl".
QString clipCount(std::size_t count);

// Header of the clip section: "Klip – <track>" or the overlay's kind.
QString overlayTitle(OverlayKind kind);
QString overlaySymbol(OverlayKind kind);
QString clipTitle(const Clip& clip, const Track& track);
QString clipSymbol(const Clip& clip);
// "Művelet – " and the overlay's kind, else the track's name.
QString actionTitle(const Clip& clip, const Track& track);
// "display" for the recorded screen, "video", "waveform", "photo", "textformat".
QString trackSymbol(const Track& track);
QString trackTitle(const Track& track);
QString partnerTitle(const Track& track);

QString transitionLabel(Transition transition);
QString transitionSymbol(Transition transition);

// The notice of a linked clip and the caption of a picture partner, with the
// key names of this system.
QString linkNotice();
QString partnerPictureCaption();

} // namespace ondexa::sectiontexts
