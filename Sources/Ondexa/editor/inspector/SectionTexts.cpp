#include "Ondexa/editor/inspector/SectionTexts.h"

#include "Ondexa/editor/inspector/InspectorPanel.h"
#include "Ondexa/editor/inspector/InspectorTexts.h"
#include "Ondexa/ui/KeyNames.h"

#include <cmath>

namespace ondexa::sectiontexts {

QString volumePercent(float volume)
{
    const float hundredfold = volume * 100.0f;
    const auto rounded = roundedInteger(hundredfold);
    return rounded ? QString::number(*rounded) + QStringLiteral(" %") : kNoValue;
}

QString automaticGain(float gain, double boostDecibels)
{
    const double own = 20 * std::log10(double(gain) / std::pow(10.0, boostDecibels / 20));
    return QStringLiteral("Automatikus erősítés: ") + decibelTenthsText(own);
}

QString clipCount(std::size_t count)
{
    return QString::number(qulonglong(count)) + QStringLiteral(" klip · a felső sáv van elöl");
}

QString clipTitle(const Clip& clip, const Track& track)
{
    if (clip.overlay) return InspectorPanel::overlayTitle(clip.overlay->kind);
    return QStringLiteral("Klip – ") + QString::fromStdString(track.name);
}

QString clipSymbol(const Clip& clip)
{
    return clip.overlay ? InspectorPanel::overlaySymbol(clip.overlay->kind) : QStringLiteral("film");
}

QString actionTitle(const Clip& clip, const Track& track)
{
    const QString name = clip.overlay ? InspectorPanel::overlayTitle(clip.overlay->kind) : QString::fromStdString(track.name);
    return QStringLiteral("Művelet – ") + name;
}

QString trackTitle(const Track& track) { return QStringLiteral("Sáv: ") + QString::fromStdString(track.name); }

QString partnerTitle(const Track& track)
{
    return QStringLiteral("Összekötött: ") + QString::fromStdString(track.name);
}

QString linkNotice()
{
    return keyNames(QStringLiteral("Összekötve – együtt mozog a társaival (⌥-kattintás: külön)"));
}

QString partnerPictureCaption() { return keyNames(QStringLiteral("A kép beállításaihoz ⌥-kattints a klipre.")); }

} // namespace ondexa::sectiontexts
