#include "Platform/media/MediaError.h"

extern "C" {
#include <libavutil/error.h>
}

namespace platform {

namespace {

std::string withDetail(const std::string& sentence, const std::string& detail)
{
    if (detail.empty()) return sentence;
    // Keep the sentence's full stop after the parenthesis.
    if (!sentence.empty() && sentence.back() == '.')
        return sentence.substr(0, sentence.size() - 1) + " (" + detail + ").";
    return sentence + " (" + detail + ")";
}

} // namespace

MediaError::MediaError(const std::string& sentence, int ffmpegCode)
    : std::runtime_error(withDetail(sentence, ffmpegErrorText(ffmpegCode)))
{
}

std::string ffmpegErrorText(int code)
{
    char buf[AV_ERROR_MAX_STRING_SIZE] = {};
    if (av_strerror(code, buf, sizeof buf) < 0) return "FFmpeg hibakód " + std::to_string(code);
    return buf;
}

} // namespace platform
