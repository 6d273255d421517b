#include "Ondexa/rendering/MediaSource.h"

#include "Platform/media/MediaError.h"

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

std::string quoted(const std::filesystem::path& file)
{
    return "„" + file.string() + "”";
}

// The picture, or a null image; for one too large `why` says so.
QImage readStill(const std::filesystem::path& file, std::string* why)
{
    QImageReader reader(QString::fromStdString(file.string()));
    reader.setAutoTransform(true);  // EXIF orientation, as the picture is displayed
    // The reader refuses such a picture without a word; the user is told why.
    const QSize size = reader.size();
    if (size.isValid() && qint64(size.width()) * size.height() > kMaxStillPixels) {
        if (why)
            *why = "A kép túl nagy: " + quoted(file) + " " + std::to_string(size.width()) + " × " +
                   std::to_string(size.height()) +
                   " képpontos; legfeljebb 67 millió képpontos (például 8192 × 8192-es) kép használható.";
        return {};
    }
    // Room for the largest still the check above lets through.
    reader.setAllocationLimit(int(kMaxStillPixels * 4 / (1024 * 1024)) + 1);
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

std::optional<MediaSource> loadMediaSource(const std::filesystem::path& file, std::string* why)
{
    if (!hasMovieExtension(file)) {
        std::string tooLarge;
        QImage still = readStill(file, &tooLarge);
        if (!tooLarge.empty()) {
            if (why) *why = std::move(tooLarge);
            return std::nullopt;
        }
        if (!still.isNull()) {
            MediaSource source;
            source.image = std::move(still);
            return source;
        }
    }
    std::shared_ptr<const platform::Asset> asset;
    try {
        asset = platform::Asset::open(file);
    } catch (const platform::PictureNotMovieError& error) {
        if (why) *why = error.what();
        return std::nullopt;
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
