#pragma once

// What the clip, action, track and partner sections of the inspector show
// beyond the shared value texts of InspectorTexts.h: titles, symbols,
// captions, and the texts of stored volumes and the maximizer.

#include "Ondexa/model/Timeline.h"

#include <QString>

#include <cstddef>

namespace ondexa::sectiontexts {

// A volume × 100, rounded in its own 32-bit precision as it is stored, then
// " %": 0.125 → "13 %"; "–" for what can't be rounded.
QString volumePercent(float volume);
// The maximizer's own part of `gain` (which includes the boost):
// "Automatikus erősítés: +6.0 dB".
QString automaticGain(float gain, double boostDecibels);
// "3 klip · a felső sáv van elöl".
QString clipCount(std::size_t count);

// Header of the clip section: "Klip – <track>" or the overlay's kind.
QString clipTitle(const Clip& clip, const Track& track);
QString clipSymbol(const Clip& clip);
// "Művelet – " and the overlay's kind, else the track's name.
QString actionTitle(const Clip& clip, const Track& track);
QString trackTitle(const Track& track);
QString partnerTitle(const Track& track);

// The notice of a linked clip and the caption of a picture partner, with the
// key names of this system.
QString linkNotice();
QString partnerPictureCaption();

} // namespace ondexa::sectiontexts
