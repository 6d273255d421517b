#pragma once

// A small recording as the recorder writes it, made once per test run by the
// ffmpeg program: a frame-numbered screen (320×240, 30 fps, red below the
// numbers), a blue 160×120 camera and two sound tracks (440 Hz at 0.5,
// 660 Hz at 0.25), all 8 s long.

#include "Ondexa/rendering/MediaSource.h"
#include "support/MediaFixtures.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

namespace ondexa::testing {

class RecordingFixture : public ::testing::Test {
protected:
    static constexpr double length = 8;

    static void SetUpTestSuite()
    {
        dir_ = new fixtures::TempDir;
        const auto screen = fixtures::makeNumberedVideo(*dir_ / "screen.mp4", fixtures::NumberedVideo(int(length * 30)));
        const std::string lengthText = std::to_string(length);
        fixtures::runFfmpeg({"-i", screen.string(),
                             "-f", "lavfi", "-i", "color=c=0x0000FF:s=160x120:r=30:d=" + lengthText,
                             "-f", "lavfi", "-i", "sine=f=440:r=48000:d=" + lengthText,
                             "-f", "lavfi", "-i", "sine=f=660:r=48000:d=" + lengthText,
                             "-filter_complex", "[2:a]volume=4[a];[3:a]volume=2[b]",
                             "-map", "0:v", "-map", "1:v", "-map", "[a]", "-map", "[b]",
                             "-c:v:0", "copy", "-c:v:1", "libx264", "-pix_fmt:v:1", "yuv420p",
                             "-c:a", "aac", "-b:a", "192k", (*dir_ / "rec.mov").string()});
    }
    static void TearDownTestSuite()
    {
        delete dir_;
        dir_ = nullptr;
    }

    static std::filesystem::path file(const std::string& name) { return *dir_ / name; }
    static std::string recording() { return file("rec.mov").string(); }

    // The recording loaded as the editor loads it.
    static MediaSources loadedRecording()
    {
        MediaSources sources;
        auto source = loadMediaSource(recording());
        if (source) sources.emplace(recording(), std::move(*source));
        return sources;
    }

private:
    static inline fixtures::TempDir* dir_ = nullptr;
};

} // namespace ondexa::testing
