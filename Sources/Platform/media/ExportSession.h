#pragma once

#include "Platform/media/AudioMix.h"
#include "Platform/media/Composition.h"
#include "Platform/media/MediaTime.h"
#include "Platform/media/VideoComposition.h"

#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace platform {

// Writes one span of a composition to a file: its frames drawn through a
// video composition by compositors of the export's own and encoded as H.264
// or HEVC, its sound mixed through an audio mix and encoded as AAC, in an
// MP4, QuickTime or M4A container. Output times start at 0.
//
// Frames lie at start + k × frameDuration for every k whose time is before
// the end; the sound is exactly (end − start) × 48,000 samples, stereo. The
// span is cut to [0, the composition's duration]; an export whose span is
// then empty, a sound-only export of a composition without sound, or a
// picture with an odd side, fails at once without creating a file. The output file is created exclusively (an
// existing one fails the export); a failed or cancelled export removes what
// it wrote. With a working file the export is written there instead and
// renamed over the output only once it is complete, synced and closed: until
// then whatever stands at the output stays as it was, whatever happens to
// the export or the process.
//
// Threads: set up and start() on the main thread (Qt's application thread);
// progress(), cancel() and status() from any thread. The work runs on a
// thread "ondexa.export" (mixing, encoding, writing) and one that decodes the
// source frames, with the frames drawn by up to half the cores' compositors,
// each on its own serial queue; finished frames are encoded in time order.
class ExportSession {
public:
    enum class Preset {
        h264,   // libx264 High, CRF 18, preset fast; AAC
        hevc,   // libx265 Main, CRF 23, preset slow with full RD and no psy tuning, tagged "hvc1"; AAC
        sound,  // AAC alone
    };
    enum class FileType {
        mp4,  // MPEG-4 (h264 or hevc)
        mov,  // QuickTime (h264 or hevc)
        m4a,  // MPEG-4 sound (sound)
    };
    enum class Status {
        waiting,    // not started
        exporting,  // running in the background
        completed,  // the file is written and closed
        failed,     // error() says why; nothing of the file is left
        cancelled,  // cancel() stopped it; nothing of the file is left
    };

    static constexpr int sampleRate = 48000;
    static constexpr int channels = 2;
    static constexpr std::int64_t soundBitsPerSecond = 192'000;

    // A session over `composition` with the encoders and container of
    // `preset`; null when one of them is missing from this FFmpeg.
    static std::unique_ptr<ExportSession> create(std::shared_ptr<const Composition> composition, Preset preset);

    // Cancels a running export and waits for its threads (within a frame).
    ~ExportSession();
    ExportSession(const ExportSession&) = delete;
    ExportSession& operator=(const ExportSession&) = delete;

    // How many compositors draw frames at once on a machine with `cores`
    // usable cores: half of them, at least one.
    static int compositorCount(int cores);
    // The cores this process may run on.
    static int usableCores();

    // Before start().
    void setOutput(std::filesystem::path file, FileType type);
    // A new name in the output's folder (so that the rename is one step),
    // created exclusively like the output would be.
    void setWorkingFile(std::filesystem::path file);
    void setAudioMix(std::shared_ptr<const AudioMix> mix);            // null: every track at volume 1
    void setVideoComposition(std::shared_ptr<const VideoComposition> videoComposition);  // needed unless sound-only
    void setTimeRange(TimeRange range);                               // default: the whole composition

    Preset preset() const { return preset_; }
    const std::filesystem::path& outputFile() const { return output_; }

    // Starts the export; `done` runs once on the main thread when it has
    // ended (completed, failed or cancelled), unless the session is gone by
    // then. Once per session.
    void start(std::function<void()> done);
    // Stops a running export within a frame; it ends cancelled. Any thread;
    // nothing once it has ended.
    void cancel();

    // 0 to 1, never falling; any thread.
    float progress() const { return progress_.load(); }
    Status status() const { return status_.load(); }
    // Why it failed: one Hungarian sentence, FFmpeg's text in parentheses
    // where there is one. Empty unless failed.
    std::string error() const;

private:
    struct Output;
    struct Pipeline;

    ExportSession(std::shared_ptr<const Composition> composition, Preset preset);

    void run();
    void exportFrames(Output& output, const TimeRange& span);
    void exportSound(Output& output, const TimeRange& span);
    void end(Status status, std::string error);

    const std::shared_ptr<const Composition> composition_;
    const Preset preset_;
    // Set before start(), then read by the export thread only.
    std::filesystem::path output_;
    std::filesystem::path working_;  // empty: written straight to output_
    FileType type_ = FileType::mp4;
    std::shared_ptr<const AudioMix> mix_;
    std::shared_ptr<const VideoComposition> videoComposition_;
    std::optional<TimeRange> range_;
    std::function<void()> done_;

    std::atomic<float> progress_{0};
    std::atomic<Status> status_{Status::waiting};
    std::atomic<bool> cancelled_{false};
    mutable std::mutex mutex_;
    std::string error_;              // guarded by mutex_
    Pipeline* pipeline_ = nullptr;   // the running frame pipeline, for cancel(); guarded by mutex_
    // Held by the session; a completion posted to the main thread runs only
    // while it is alive.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
    std::thread thread_;  // "ondexa.export"; joined in the destructor
};

} // namespace platform
