#include "Ondexa/editor/inspector/SectionTexts.h"

#include "Ondexa/ui/KeyNames.h"

#include <charconv>
#include <cmath>

namespace ondexa::sectiontexts {

namespace {

const QString notANumber = QStringLiteral("–");

// printf's "%.<precision>f" in the C locale; "–" for what is not finite.
QString fixed(double value, int precision)
{
    if (!std::isfinite(value)) return notANumber;
    char buffer[400];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, precision);
    return QString::fromLatin1(buffer, result.ptr - buffer);
}

// "%+.<precision>f": a sign on zero and positive values too.
QString signedFixed(double value, int precision)
{
    const QString text = fixed(value, precision);
    if (text == notANumber || text.startsWith(u'-')) return text;
    return u'+' + text;
}

QString integer(std::optional<long long> value)
{
    return value ? QString::number(*value) : notANumber;
}

} // namespace

std::optional<long long> rounded(double value)
{
    // 2^63 is exact in a double; everything below it fits a long long.
    constexpr double limit = 9223372036854775808.0;
    if (!std::isfinite(value) || value >= limit || value < -limit) return std::nullopt;
    return std::llround(value);
}

QString percent(double fraction) { return integer(rounded(fraction * 100)) + QStringLiteral(" %"); }

QString volumePercent(float volume)
{
    const float hundredfold = volume * 100.0f;
    return integer(rounded(hundredfold)) + QStringLiteral(" %");
}

QString degrees(double value) { return integer(rounded(value)) + QStringLiteral("°"); }

QString position(double fraction) { return fixed(fraction * 100, 0) + QStringLiteral(" %"); }

QString seconds(double value) { return fixed(value, 2) + QStringLiteral(" mp"); }

QString boost(double decibels) { return signedFixed(decibels, 0) + QStringLiteral(" dB"); }

QString automaticGain(float gain, double boostDecibels)
{
    const double own = 20 * std::log10(double(gain) / std::pow(10.0, boostDecibels / 20));
    return QStringLiteral("Automatikus erősítés: ") + signedFixed(own, 1) + QStringLiteral(" dB");
}

QString clipCount(std::size_t count)
{
    return QString::number(qulonglong(count)) + QStringLiteral(" klip · a felső sáv van elöl");
}

QString overlayTitle(OverlayKind kind)
{
    switch (kind) {
    case OverlayKind::text: return QStringLiteral("Szöveg");
    case OverlayKind::arrow: return QStringLiteral("Nyíl");
    case OverlayKind::rectangle: return QStringLiteral("Téglalap");
    case OverlayKind::ellipse: return QStringLiteral("Ellipszis");
    case OverlayKind::zoom: return QStringLiteral("Közelítés");
    case OverlayKind::pip: return QStringLiteral("Kép a képben");
    }
    return {};
}

QString overlaySymbol(OverlayKind kind)
{
    switch (kind) {
    case OverlayKind::text: return QStringLiteral("textformat");
    case OverlayKind::arrow: return QStringLiteral("arrow.up.right");
    case OverlayKind::rectangle: return QStringLiteral("rectangle");
    case OverlayKind::ellipse: return QStringLiteral("circle");
    case OverlayKind::zoom: return QStringLiteral("plus.magnifyingglass");
    case OverlayKind::pip: return QStringLiteral("pip");
    }
    return {};
}

QString clipTitle(const Clip& clip, const Track& track)
{
    if (clip.overlay) return overlayTitle(clip.overlay->kind);
    return QStringLiteral("Klip – ") + QString::fromStdString(track.name);
}

QString clipSymbol(const Clip& clip)
{
    return clip.overlay ? overlaySymbol(clip.overlay->kind) : QStringLiteral("film");
}

QString actionTitle(const Clip& clip, const Track& track)
{
    const QString name = clip.overlay ? overlayTitle(clip.overlay->kind) : QString::fromStdString(track.name);
    return QStringLiteral("Művelet – ") + name;
}

QString trackSymbol(const Track& track)
{
    switch (track.media.kind) {
    case MediaKind::video:
        return track.fromRecording && track.media.index == 0 ? QStringLiteral("display") : QStringLiteral("video");
    case MediaKind::audio: return QStringLiteral("waveform");
    case MediaKind::image: return QStringLiteral("photo");
    case MediaKind::effects: return QStringLiteral("textformat");
    }
    return {};
}

QString trackTitle(const Track& track) { return QStringLiteral("Sáv: ") + QString::fromStdString(track.name); }

QString partnerTitle(const Track& track)
{
    return QStringLiteral("Összekötött: ") + QString::fromStdString(track.name);
}

QString transitionLabel(Transition transition)
{
    switch (transition) {
    case Transition::dissolve: return QStringLiteral("Áttűnés");
    case Transition::dipToBlack: return QStringLiteral("Feketén át");
    case Transition::wipe: return QStringLiteral("Törlés balról");
    case Transition::push: return QStringLiteral("Betolás");
    case Transition::circle: return QStringLiteral("Kör");
    case Transition::zoom: return QStringLiteral("Ráközelítés");
    }
    return {};
}

QString transitionSymbol(Transition transition)
{
    switch (transition) {
    case Transition::dissolve: return QStringLiteral("circle.lefthalf.filled");
    case Transition::dipToBlack: return QStringLiteral("moon.fill");
    case Transition::wipe: return QStringLiteral("rectangle.righthalf.inset.filled");
    case Transition::push: return QStringLiteral("arrow.left.square");
    case Transition::circle: return QStringLiteral("circle.dashed");
    case Transition::zoom: return QStringLiteral("plus.magnifyingglass");
    }
    return {};
}

QString linkNotice()
{
    return keyNames(QStringLiteral("Összekötve – együtt mozog a társaival (⌥-kattintás: külön)"));
}

QString partnerPictureCaption() { return keyNames(QStringLiteral("A kép beállításaihoz ⌥-kattints a klipre.")); }

} // namespace ondexa::sectiontexts
