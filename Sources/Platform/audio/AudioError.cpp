#include "Platform/audio/AudioError.h"

#include <pulse/error.h>

namespace platform {

namespace {

std::string withDetail(const std::string& sentence, int code)
{
    if (code == 0) return sentence;
    const char* text = pa_strerror(code);
    std::string detail = text ? text : "PulseAudio hibakód " + std::to_string(code);
    // Keep the sentence's full stop after the parenthesis.
    if (!sentence.empty() && sentence.back() == '.')
        return sentence.substr(0, sentence.size() - 1) + " (" + detail + ").";
    return sentence + " (" + detail + ")";
}

} // namespace

AudioError::AudioError(const std::string& sentence, int pulseCode)
    : std::runtime_error(withDetail(sentence, pulseCode)), code_(pulseCode)
{
}

} // namespace platform
