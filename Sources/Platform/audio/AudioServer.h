#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

struct pa_threaded_mainloop;
struct pa_context;
struct pa_operation;

namespace platform {

// One input source of the sound server, as the server describes it now.
struct AudioSource {
    std::uint32_t index = 0;                // the server's index; changes when the source is re-created
    std::string name;                       // unique and stable: the id to keep
    std::string description;                // the name to show
    std::vector<std::string> channelNames;  // one per channel, the channel map's tokens ("front-left", "aux0")
    int channelCount = 0;
    int sampleRate = 0;
    bool isMonitor = false;                 // the monitor of a sink (what the sink plays)
    std::string card;                       // the name of its sound card (stable across re-plugging); empty for virtual sources
};

// Our one connection to the PulseAudio server (also PipeWire's PulseAudio
// service): a context on a threaded main loop. Every stream and query of the
// process shares it. Its main-loop thread is the sound input thread: record
// streams deliver their buffers there.
//
// Calls here block until the server answers, at most answerDeadline each
// (then they throw AudioError), so they belong on a worker thread, never on
// the main thread, nor on the main-loop thread itself (a stream's callback).
class AudioServer {
public:
    // The longest we wait for any one answer of the server: connecting,
    // a query, a stream getting ready. A server that accepts the connection
    // and then says nothing is taken for one that is not there.
    static constexpr std::chrono::milliseconds answerDeadline{5000};

    // The process-wide connection, made on first use and made again when the
    // server has gone away since. Throws AudioError when the server can't be
    // reached or refuses us: that is the check whether sound may be recorded.
    static std::shared_ptr<AudioServer> shared();

    ~AudioServer();
    AudioServer(const AudioServer&) = delete;
    AudioServer& operator=(const AudioServer&) = delete;

    // False once the server has closed the connection or died.
    bool isConnected() const { return !failed_.load(); }

    // Every source, monitors included, in the server's order. Throws
    // AudioError when the server fails to answer in time.
    std::vector<AudioSource> sources();
    // The sources that are inputs of the machine: every source but the monitors.
    std::vector<AudioSource> inputSources();
    // The name of the monitor source of the default sink (what the machine
    // plays, the system sound); empty when there is no default sink.
    std::string systemSoundSource();

    // Observing additions and removals of sources (volume and property changes
    // are not reported; losing the server is, as the list is then empty, and
    // so is reaching it again after it was lost or could not be reached).
    // `changed` runs through `postToMain`, which must hand it to the main
    // thread; it is called on the main-loop thread. Observers belong to the
    // process, not to one connection: they keep working when the connection is
    // made again. Returns an id for removeDeviceObserver(); after that call
    // (on the main thread) `changed` is not run again, even when already posted.
    using Post = std::function<void(std::function<void()>)>;
    static int addDeviceObserver(std::function<void()> changed, Post postToMain);
    static void removeDeviceObserver(int id);
    // Observing the server's own settings, among them its default sink (the
    // output the machine plays to); losing the server is reported too. As
    // above, but `post` may hand the job to any thread; the id is removed with
    // removeDeviceObserver().
    static int addServerObserver(std::function<void()> changed, Post post);

    // For streams of this layer: the loop and the context. Touch the context
    // only with the loop locked.
    pa_threaded_mainloop* mainloop() const { return mainloop_; }
    pa_context* context() const { return context_; }
    // The error code the context reports now (PA_ERR_…); needs the loop locked.
    int lastError() const;

    // A position token of a channel map ("front-left", "aux3", "mono") as a
    // person reads it, in Hungarian ("Bal első"); empty for "mono", the
    // numbered "auxN" positions and unknown tokens, which say nothing
    // beyond the channel's number.
    static std::string channelLabel(const std::string& position);

private:
    AudioServer();
    void connect();
    void waitFor(pa_operation* operation);  // with the loop locked; AudioError when no answer came in time
    enum class Watched { sources, server };
    static int addObserver(Watched what, std::function<void()> changed, Post post);
    static void notifyObservers(Watched what);
    static void notifyDeviceObservers() { notifyObservers(Watched::sources); }

    pa_threaded_mainloop* mainloop_ = nullptr;  // owned; its thread runs from connect() to the destructor
    pa_context* context_ = nullptr;             // owned; touched with the loop locked
    std::atomic<bool> failed_{false};           // set on the loop thread when the context fails or ends
    bool ready_ = false;                        // loop thread only: the context has been ready
};

// Whether sound may be recorded here: the sound server accepts our
// connection. When not, `reason` says why, for the log.
struct SoundAccess {
    bool granted = false;
    std::string reason;  // Hungarian; empty when granted
    // The server answered and turned us away (access, authentication key);
    // false when it is not running or not reachable.
    bool refused = false;

    // Blocks up to AudioServer::answerDeadline: not on the main thread.
    static SoundAccess check();
};

// The sentence of a server that does not answer in time.
std::string noAnswerSentence();

} // namespace platform
