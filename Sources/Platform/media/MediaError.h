#pragma once

#include <stdexcept>
#include <string>

namespace platform {

// An error of the media layer. what() is one Hungarian sentence meant for the
// user, with the library's own detail in parentheses where there is one.
class MediaError : public std::runtime_error {
public:
    explicit MediaError(const std::string& sentence) : std::runtime_error(sentence) {}
    // `sentence` followed by " (FFmpeg's text for code)".
    MediaError(const std::string& sentence, int ffmpegCode);
};

// A picture in a file whose name says movie: readable, yet no movie.
class PictureNotMovieError : public MediaError {
public:
    using MediaError::MediaError;
};

// FFmpeg's own text for an AVERROR code.
std::string ffmpegErrorText(int code);

} // namespace platform
