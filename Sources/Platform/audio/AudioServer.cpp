#include "Platform/audio/AudioServer.h"

#include "Platform/audio/AudioError.h"
#include "Platform/audio/PulseStream.h"

#include <pulse/channelmap.h>
#include <pulse/error.h>
#include <pulse/introspect.h>
#include <pulse/subscribe.h>
#include <pulse/thread-mainloop.h>

#include <algorithm>
#include <map>
#include <mutex>
#include <stdexcept>
#include <utility>

namespace platform {

namespace {

using pulse::Deadline;
using pulse::LoopLock;

struct Observer {
    int what = 0;  // AudioServer::Watched
    std::function<void()> changed;
    AudioServer::Post post;
};

// Observers of the process (they outlive any one connection).
std::mutex observersMutex;
std::map<int, Observer> observers;  // guarded by observersMutex
int nextObserverId = 1;             // guarded by observersMutex

std::string text(const char* s) { return s ? s : ""; }

} // namespace

AudioServer::AudioServer() = default;

std::shared_ptr<AudioServer> AudioServer::shared()
{
    static std::mutex mutex;
    static std::shared_ptr<AudioServer> instance;  // guarded by mutex
    static bool missed = false;  // guarded by mutex: the server was lost or not reached since the last connection
    std::lock_guard guard(mutex);
    if (instance && instance->isConnected()) return instance;
    if (instance) missed = true;
    instance.reset();
    std::shared_ptr<AudioServer> server(new AudioServer);
    try {
        server->connect();
    } catch (...) {
        missed = true;
        throw;
    }
    instance = server;
    // Reached again: the device list is whole again, and whoever gave up on
    // the server may try once more.
    if (std::exchange(missed, false)) notifyDeviceObservers();
    return server;
}

void AudioServer::connect()
{
    mainloop_ = pa_threaded_mainloop_new();
    if (!mainloop_) throw AudioError("Nem sikerült elindítani a hangkezelést.");
    pa_threaded_mainloop_set_name(mainloop_, "ondexa.sound");
    context_ = pa_context_new(pa_threaded_mainloop_get_api(mainloop_), "Vendalum");
    if (!context_) throw AudioError("Nem sikerült elindítani a hangkezelést.");

    pa_context_set_state_callback(
        context_,
        [](pa_context* c, void* self) {
            auto* server = static_cast<AudioServer*>(self);
            pa_context_state_t state = pa_context_get_state(c);
            if (state == PA_CONTEXT_READY) server->ready_ = true;
            if (state == PA_CONTEXT_FAILED || state == PA_CONTEXT_TERMINATED) {
                server->failed_ = true;
                // Losing a working server empties the device list.
                if (server->ready_) {
                    notifyDeviceObservers();
                    notifyObservers(Watched::server);
                }
                server->ready_ = false;
            }
            pa_threaded_mainloop_signal(server->mainloop_, 0);
        },
        this);
    pa_context_set_subscribe_callback(
        context_,
        [](pa_context*, pa_subscription_event_type_t event, std::uint32_t, void*) {
            auto facility = event & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
            auto type = event & PA_SUBSCRIPTION_EVENT_TYPE_MASK;
            if (facility == PA_SUBSCRIPTION_EVENT_SOURCE &&
                (type == PA_SUBSCRIPTION_EVENT_NEW || type == PA_SUBSCRIPTION_EVENT_REMOVE))
                notifyDeviceObservers();
            if (facility == PA_SUBSCRIPTION_EVENT_SERVER) notifyObservers(Watched::server);
        },
        nullptr);

    // No autospawn: a server that isn't there is an answer, not something to start.
    if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        int code = pa_context_errno(context_);
        throw AudioError("A hangkiszolgáló (PulseAudio) nem fogadta a kapcsolódást.", code);
    }
    if (pa_threaded_mainloop_start(mainloop_) < 0) throw AudioError("Nem sikerült elindítani a hangkezelést.");

    LoopLock lock(mainloop_);
    const Deadline deadline(mainloop_, context_);
    for (;;) {
        pa_context_state_t state = pa_context_get_state(context_);
        if (state == PA_CONTEXT_READY) break;
        if (!PA_CONTEXT_IS_GOOD(state)) {
            int code = pa_context_errno(context_);
            failed_ = true;
            throw AudioError("A hangkiszolgáló (PulseAudio) nem fogadta a kapcsolódást.", code);
        }
        if (deadline.passed()) {
            failed_ = true;
            throw AudioError(noAnswerSentence());
        }
        pa_threaded_mainloop_wait(mainloop_);
    }
    pa_operation* op = pa_context_subscribe(
        context_, pa_subscription_mask_t(PA_SUBSCRIPTION_MASK_SOURCE | PA_SUBSCRIPTION_MASK_SERVER), nullptr, nullptr);
    if (op) pa_operation_unref(op);
}

AudioServer::~AudioServer()
{
    if (mainloop_) pa_threaded_mainloop_stop(mainloop_);
    if (context_) {
        pa_context_set_state_callback(context_, nullptr, nullptr);
        pa_context_set_subscribe_callback(context_, nullptr, nullptr);
        pa_context_disconnect(context_);
        pa_context_unref(context_);
    }
    if (mainloop_) pa_threaded_mainloop_free(mainloop_);
}

int AudioServer::lastError() const { return pa_context_errno(context_); }

void AudioServer::waitFor(pa_operation* operation)
{
    if (!operation) throw AudioError("A hangkiszolgáló nem válaszolt.", pa_context_errno(context_));
    // A dead context cancels its operations, and its state change wakes us.
    const Deadline deadline(mainloop_, context_);
    while (pa_operation_get_state(operation) == PA_OPERATION_RUNNING) {
        if (deadline.passed()) {
            // The callbacks point into the waiter's frame: they must not run later.
            pa_operation_cancel(operation);
            pa_operation_unref(operation);
            // A server this slow counts as gone: the next caller connects afresh.
            failed_ = true;
            throw AudioError(noAnswerSentence());
        }
        pa_threaded_mainloop_wait(mainloop_);
    }
    bool done = pa_operation_get_state(operation) == PA_OPERATION_DONE;
    pa_operation_unref(operation);
    if (!done) throw AudioError("A hangkiszolgáló nem válaszolt.", pa_context_errno(context_));
}

std::vector<AudioSource> AudioServer::sources()
{
    if (pa_threaded_mainloop_in_thread(mainloop_))
        throw std::logic_error("AudioServer::sources called on the sound thread");
    struct Query {
        AudioServer* server;
        std::vector<AudioSource> sources;
        std::vector<std::uint32_t> cards;  // each source's card index
        std::map<std::uint32_t, std::string> cardNames;
    } query{this, {}, {}, {}};
    LoopLock lock(mainloop_);
    pa_operation* op = pa_context_get_source_info_list(
        context_,
        [](pa_context*, const pa_source_info* info, int eol, void* data) {
            auto* q = static_cast<Query*>(data);
            if (eol || !info) {
                pa_threaded_mainloop_signal(q->server->mainloop_, 0);
                return;
            }
            AudioSource source;
            source.index = info->index;
            source.name = text(info->name);
            source.description = text(info->description);
            source.channelCount = info->sample_spec.channels;
            source.sampleRate = int(info->sample_spec.rate);
            source.isMonitor = info->monitor_of_sink != PA_INVALID_INDEX;
            for (int i = 0; i < info->channel_map.channels; ++i)
                source.channelNames.push_back(text(pa_channel_position_to_string(info->channel_map.map[i])));
            source.channelNames.resize(std::size_t(source.channelCount));
            q->sources.push_back(std::move(source));
            q->cards.push_back(info->card);
        },
        &query);
    waitFor(op);
    // A card keeps its name when it comes back (re-plugged, reset), while its
    // sources may come back under another name (another profile).
    if (std::any_of(query.cards.begin(), query.cards.end(), [](std::uint32_t c) { return c != PA_INVALID_INDEX; })) {
        waitFor(pa_context_get_card_info_list(
            context_,
            [](pa_context*, const pa_card_info* info, int eol, void* data) {
                auto* q = static_cast<Query*>(data);
                if (eol || !info) {
                    pa_threaded_mainloop_signal(q->server->mainloop_, 0);
                    return;
                }
                q->cardNames[info->index] = text(info->name);
            },
            &query));
        for (std::size_t i = 0; i < query.sources.size(); ++i)
            if (auto it = query.cardNames.find(query.cards[i]); it != query.cardNames.end())
                query.sources[i].card = it->second;
    }
    return std::move(query.sources);
}

std::vector<AudioSource> AudioServer::inputSources()
{
    std::vector<AudioSource> inputs;
    for (auto& source : sources())
        if (!source.isMonitor) inputs.push_back(std::move(source));
    return inputs;
}

std::string AudioServer::systemSoundSource()
{
    if (pa_threaded_mainloop_in_thread(mainloop_))
        throw std::logic_error("AudioServer::systemSoundSource called on the sound thread");
    struct Query {
        AudioServer* server;
        std::string text;
    } query{this, {}};
    LoopLock lock(mainloop_);
    waitFor(pa_context_get_server_info(
        context_,
        [](pa_context*, const pa_server_info* info, void* data) {
            auto* q = static_cast<Query*>(data);
            if (info) q->text = text(info->default_sink_name);
            pa_threaded_mainloop_signal(q->server->mainloop_, 0);
        },
        &query));
    if (query.text.empty()) return {};
    std::string sink = std::move(query.text);
    query.text.clear();
    waitFor(pa_context_get_sink_info_by_name(
        context_, sink.c_str(),
        [](pa_context*, const pa_sink_info* info, int eol, void* data) {
            auto* q = static_cast<Query*>(data);
            if (!eol && info) q->text = text(info->monitor_source_name);
            if (eol || !info) pa_threaded_mainloop_signal(q->server->mainloop_, 0);
        },
        &query));
    return query.text;
}

std::string AudioServer::channelLabel(const std::string& position)
{
    // Our own names: the server's follow the user's locale, the program speaks Hungarian.
    switch (pa_channel_position_from_string(position.c_str())) {
    case PA_CHANNEL_POSITION_FRONT_LEFT: return "Bal első";
    case PA_CHANNEL_POSITION_FRONT_RIGHT: return "Jobb első";
    case PA_CHANNEL_POSITION_FRONT_CENTER: return "Középső első";
    case PA_CHANNEL_POSITION_REAR_LEFT: return "Bal hátsó";
    case PA_CHANNEL_POSITION_REAR_RIGHT: return "Jobb hátsó";
    case PA_CHANNEL_POSITION_REAR_CENTER: return "Középső hátsó";
    case PA_CHANNEL_POSITION_LFE: return "Mélysugárzó";
    case PA_CHANNEL_POSITION_FRONT_LEFT_OF_CENTER: return "Bal első belső";
    case PA_CHANNEL_POSITION_FRONT_RIGHT_OF_CENTER: return "Jobb első belső";
    case PA_CHANNEL_POSITION_SIDE_LEFT: return "Bal oldalsó";
    case PA_CHANNEL_POSITION_SIDE_RIGHT: return "Jobb oldalsó";
    case PA_CHANNEL_POSITION_TOP_CENTER: return "Felső középső";
    case PA_CHANNEL_POSITION_TOP_FRONT_LEFT: return "Felső bal első";
    case PA_CHANNEL_POSITION_TOP_FRONT_RIGHT: return "Felső jobb első";
    case PA_CHANNEL_POSITION_TOP_FRONT_CENTER: return "Felső középső első";
    case PA_CHANNEL_POSITION_TOP_REAR_LEFT: return "Felső bal hátsó";
    case PA_CHANNEL_POSITION_TOP_REAR_RIGHT: return "Felső jobb hátsó";
    case PA_CHANNEL_POSITION_TOP_REAR_CENTER: return "Felső középső hátsó";
    default: return {};  // mono, auxN and unknown tokens say nothing beyond the number
    }
}

std::string noAnswerSentence()
{
    return "A hangkiszolgáló (PulseAudio) nem válaszolt "
           + std::to_string(std::chrono::duration_cast<std::chrono::seconds>(AudioServer::answerDeadline).count())
           + " másodpercen belül.";
}

SoundAccess SoundAccess::check()
{
    SoundAccess access;
    try {
        access.granted = AudioServer::shared() != nullptr;
    } catch (const AudioError& error) {
        access.reason = error.what();
        access.refused = error.code() == PA_ERR_ACCESS || error.code() == PA_ERR_AUTHKEY;
    } catch (const std::exception& error) {
        access.reason = error.what();
    }
    return access;
}

int AudioServer::addDeviceObserver(std::function<void()> changed, Post postToMain)
{
    return addObserver(Watched::sources, std::move(changed), std::move(postToMain));
}

int AudioServer::addServerObserver(std::function<void()> changed, Post post)
{
    return addObserver(Watched::server, std::move(changed), std::move(post));
}

int AudioServer::addObserver(Watched what, std::function<void()> changed, Post post)
{
    std::lock_guard guard(observersMutex);
    int id = nextObserverId++;
    observers.emplace(id, Observer{int(what), std::move(changed), std::move(post)});
    return id;
}

void AudioServer::removeDeviceObserver(int id)
{
    std::lock_guard guard(observersMutex);
    observers.erase(id);
}

void AudioServer::notifyObservers(Watched what)
{
    std::vector<std::pair<int, Post>> posts;
    {
        std::lock_guard guard(observersMutex);
        for (const auto& [id, observer] : observers)
            if (observer.what == int(what)) posts.emplace_back(id, observer.post);
    }
    for (const auto& [id, post] : posts) {
        // Looked up again on the main thread: the observer may be gone by then.
        post([id = id] {
            std::function<void()> changed;
            {
                std::lock_guard guard(observersMutex);
                auto it = observers.find(id);
                if (it == observers.end()) return;
                changed = it->second.changed;
            }
            changed();
        });
    }
}

} // namespace platform
