#include "Ondexa/rendering/MediaSource.h"

#include <QImageReader>
#include <QString>

#include <algorithm>
#include <cctype>
#include <exception>

namespace ondexa {

namespace {

// The image reader can decode a poster frame of some movies; these are always
// opened as movies.
bool hasMovieExtension(const std::filesystem::path& file)
{
    std::string ext = file.extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
    return ext == ".mov" || ext == ".mp4" || ext == ".m4v";
}

QImage readStill(const std::filesystem::path& file)
{
    QImageReader reader(QString::fromStdString(file.string()));
    reader.setAutoTransform(true);  // EXIF orientation, as the picture is displayed
    QImage image = reader.read();
    if (image.isNull() || image.height() <= 0) return {};
    return image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

} // namespace

double MediaSource::frameRate() const
{
    double rate = 0;
    for (const VideoStream& v : video) rate = std::max(rate, v.stream.nominalFrameRate);
    return rate;
}

std::optional<MediaSource> loadMediaSource(const std::filesystem::path& file)
{
    if (!hasMovieExtension(file)) {
        QImage still = readStill(file);
        if (!still.isNull()) {
            MediaSource source;
            source.image = std::move(still);
            return source;
        }
    }
    std::shared_ptr<const platform::Asset> asset;
    try {
        asset = platform::Asset::open(file);
    } catch (const std::exception&) {
        return std::nullopt;  // missing, unreadable or no media: the caller says so
    }
    // A picture format the image reader lacks but FFmpeg reads is no movie
    // either: without a decoded picture it can't be shown as a still.
    if (asset->isStillImage()) return std::nullopt;

    MediaSource source;
    source.asset = asset;
    for (const platform::StreamInfo& s : asset->videoStreams()) source.video.push_back({s, s.timeRange, s.aspect()});
    for (const platform::StreamInfo& s : asset->audioStreams()) source.audio.push_back({s, s.timeRange});
    return source;
}

bool MediaSource::holds(const MediaRef& media) const
{
    if (media.index < 0) return false;
    const auto index = static_cast<std::size_t>(media.index);
    switch (media.kind) {
    case MediaKind::video: return index < video.size();
    case MediaKind::audio: return index < audio.size();
    case MediaKind::image: return isStill();
    case MediaKind::effects: return false;
    }
    return false;
}

int raisedFrameRate(int current, const MediaSource& source)
{
    return source.frameRate() > 45 ? 60 : current;
}

} // namespace ondexa
