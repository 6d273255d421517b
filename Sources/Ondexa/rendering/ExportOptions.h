#pragma once

// What one export covers and how it is written: the span and tracks, the
// picture size, the codec family and the container, with the labels the
// export dialog shows, and what they come to for a given edit.

#include "Ondexa/rendering/CompositionBuilder.h"
#include "Platform/media/ExportSession.h"

#include <QSize>

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace ondexa {

struct ExportOptions {
    // Which part of the timeline.
    enum class Range : std::uint8_t {
        all,     // the whole timeline, every track
        matrix,  // the matrix selection: its span and only its tracks
        marks,   // between the in and out marks, every track
    };
    // The picture size (labels: "Eredeti", "75 %", …).
    enum class Size : std::uint8_t { original, threeQuarters, half, quarter, uhd, fullHD, hd };
    // The video codec family (labels: "Gyors (H.264)", …).
    enum class Encoding : std::uint8_t { fast, normal };
    // The container (labels: "MP4", "MOV", "Csak hang (M4A)").
    enum class Format : std::uint8_t { mp4, mov, m4a };

    static constexpr std::array ranges{Range::all, Range::matrix, Range::marks};
    static constexpr std::array sizes{Size::original, Size::threeQuarters, Size::half, Size::quarter,
                                      Size::uhd,      Size::fullHD,        Size::hd};
    static constexpr std::array encodings{Encoding::fast, Encoding::normal};
    static constexpr std::array formats{Format::mp4, Format::mov, Format::m4a};

    // The dialog starts from the first choice of each.
    Range range = Range::all;
    Size size = Size::original;
    Encoding encoding = Encoding::fast;
    Format format = Format::mp4;

    friend bool operator==(const ExportOptions&, const ExportOptions&) = default;
};

// The labels the dialog shows; the multiplication sign is U+00D7.
std::string_view label(ExportOptions::Size size);
std::string_view label(ExportOptions::Encoding encoding);
std::string_view label(ExportOptions::Format format);

// The choice whose label is exactly `text` (the whole string); none otherwise.
template <class Choice>
std::optional<Choice> choiceLabelled(std::string_view text) = delete;
template <>
std::optional<ExportOptions::Size> choiceLabelled(std::string_view text);
template <>
std::optional<ExportOptions::Encoding> choiceLabelled(std::string_view text);
template <>
std::optional<ExportOptions::Format> choiceLabelled(std::string_view text);

// "mp4", "mov" or "m4a".
std::string_view fileExtension(ExportOptions::Format format);

// The span in seconds and the tracks (none: every track) that an export of
// `range` covers.
struct ExportExtent {
    double start = 0;
    double end = 0;
    TrackFilter tracks;

    friend bool operator==(const ExportExtent&, const ExportExtent&) = default;
};

// `matrix` is the matrix selection, taken as it is; the marks count when
// both are set and in < out. Anything else covers 0 … duration, every track.
ExportExtent exportExtent(ExportOptions::Range range, double duration, const std::optional<ExportExtent>& matrix,
                          std::optional<double> markIn, std::optional<double> markOut);

// The output picture of a size choice for a recording of `screenSize`:
// fitted into its box (3840 × 2160 for the original, 4K and the fractions,
// which then take 0.75, 0.5 or 0.25 of that fit); sides even, at least 2.
QSize exportSize(QSize screenSize, ExportOptions::Size size);

// The session's preset and file type for a choice: M4A is sound alone
// whatever the encoding.
platform::ExportSession::Preset exportPreset(const ExportOptions& options);
platform::ExportSession::FileType exportFileType(ExportOptions::Format format);

} // namespace ondexa
