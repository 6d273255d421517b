#include "app/desktop/TestSessionManager.h"

#include <QSocketNotifier>

#include <X11/ICE/ICElib.h>
#include <X11/SM/SMlib.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <vector>

namespace ondexa::testing {

struct TestSessionManager::State {
    struct Connection {
        IceConn ice;
        std::unique_ptr<QSocketNotifier> notifier;
    };

    std::string address;
    int listenerCount = 0;
    IceListenObj* listeners = nullptr;
    std::vector<std::unique_ptr<QSocketNotifier>> listenerNotifiers;
    std::vector<Connection> connections;
    SmsConn client = nullptr;
    bool saveDone = false;
    bool gone = false;

    void accept(IceListenObj listener);
    void process(IceConn ice);
    static Status newClient(SmsConn conn, SmPointer, unsigned long* mask, SmsCallbacks* callbacks, char**);
};

namespace {

TestSessionManager::State* current = nullptr;

Bool anyHost(char*) { return True; }
// The library's own handler ends the process on a lost connection.
void ignoreIOError(IceConn) {}

} // namespace

TestSessionManager::TestSessionManager() : state_(std::make_unique<State>())
{
    static const bool initialised = [] {
        IceSetIOErrorHandler(ignoreIOError);
        // A word to a client that has just ended must not end the test.
        std::signal(SIGPIPE, SIG_IGN);
        char error[256] = {};
        return SmsInitialize(const_cast<char*>("vendalum-tests"), const_cast<char*>("1"), &State::newClient, nullptr,
                             anyHost, sizeof error, error) != 0;
    }();
    if (!initialised) return;
    State& s = *state_;
    char error[256] = {};
    if (!IceListenForConnections(&s.listenerCount, &s.listeners, sizeof error, error)) return;
    current = &s;
    for (int i = 0; i < s.listenerCount; ++i) {
        IceListenObj listener = s.listeners[i];
        IceSetHostBasedAuthProc(listener, anyHost);
        auto notifier = std::make_unique<QSocketNotifier>(IceGetListenConnectionNumber(listener), QSocketNotifier::Read);
        QObject::connect(notifier.get(), &QSocketNotifier::activated, [&s, listener] { s.accept(listener); });
        s.listenerNotifiers.push_back(std::move(notifier));
    }
    char* ids = IceComposeNetworkIdList(s.listenerCount, s.listeners);
    s.address = ids;
    std::free(ids);
}

TestSessionManager::~TestSessionManager()
{
    State& s = *state_;
    if (s.client && !s.gone) SmsCleanUp(s.client);
    for (auto& connection : s.connections) {
        connection.notifier.reset();
        IceSetShutdownNegotiation(connection.ice, False);
        IceCloseConnection(connection.ice);
    }
    s.listenerNotifiers.clear();
    if (s.listeners) IceFreeListenObjs(s.listenerCount, s.listeners);
    if (current == &s) current = nullptr;
}

const std::string& TestSessionManager::address() const { return state_->address; }
bool TestSessionManager::clientRegistered() const { return state_->client != nullptr; }
bool TestSessionManager::saveDone() const { return state_->saveDone; }

void TestSessionManager::saveYourself(Save what, bool shutdown)
{
    State& s = *state_;
    if (!s.client || s.gone) return;
    s.saveDone = false;
    SmsSaveYourself(s.client, what == Save::both ? SmSaveBoth : SmSaveLocal, shutdown ? True : False,
                    SmInteractStyleNone, False);
    IceFlush(SmsGetIceConnection(s.client));
}

void TestSessionManager::die()
{
    State& s = *state_;
    if (!s.client || s.gone) return;
    SmsDie(s.client);
    IceFlush(SmsGetIceConnection(s.client));
}

void TestSessionManager::State::accept(IceListenObj listener)
{
    IceAcceptStatus status;
    IceConn ice = IceAcceptConnection(listener, &status);
    if (!ice || status != IceAcceptSuccess) return;
    auto notifier = std::make_unique<QSocketNotifier>(IceConnectionNumber(ice), QSocketNotifier::Read);
    QObject::connect(notifier.get(), &QSocketNotifier::activated, [this, ice] { process(ice); });
    connections.push_back({ice, std::move(notifier)});
}

void TestSessionManager::State::process(IceConn ice)
{
    const auto result = IceProcessMessages(ice, nullptr, nullptr);
    if (result == IceProcessMessagesSuccess) return;
    const auto found =
        std::find_if(connections.begin(), connections.end(), [&](const Connection& c) { return c.ice == ice; });
    if (found == connections.end()) return;
    // Not deleted inside its own signal.
    found->notifier->setEnabled(false);
    found->notifier.release()->deleteLater();
    connections.erase(found);
    if (client && !gone && SmsGetIceConnection(client) == ice) {
        // Ended without saying goodbye.
        SmsCleanUp(client);
        gone = true;
    }
    if (result == IceProcessMessagesIOError) {
        IceSetShutdownNegotiation(ice, False);
        IceCloseConnection(ice);
    }
}

Status TestSessionManager::State::newClient(SmsConn, SmPointer, unsigned long* mask, SmsCallbacks* callbacks, char**)
{
    State* self = current;
    *callbacks = {};
    callbacks->register_client.callback = [](SmsConn conn, SmPointer data, char* previous) -> Status {
        auto* self = static_cast<State*>(data);
        if (previous) std::free(previous);
        char* id = SmsGenerateClientID(conn);
        if (!id) return 0;
        SmsRegisterClientReply(conn, id);
        std::free(id);
        self->client = conn;
        return 1;
    };
    callbacks->interact_request.callback = [](SmsConn, SmPointer, int) {};
    callbacks->interact_done.callback = [](SmsConn, SmPointer, Bool) {};
    callbacks->save_yourself_request.callback = [](SmsConn, SmPointer, int, Bool, int, Bool, Bool) {};
    callbacks->save_yourself_phase2_request.callback = [](SmsConn conn, SmPointer) { SmsSaveYourselfPhase2(conn); };
    callbacks->save_yourself_done.callback = [](SmsConn, SmPointer data, Bool) {
        static_cast<State*>(data)->saveDone = true;
    };
    callbacks->close_connection.callback = [](SmsConn conn, SmPointer data, int count, char** reasons) {
        auto* self = static_cast<State*>(data);
        SmFreeReasons(count, reasons);
        if (conn == self->client && !self->gone) {
            SmsCleanUp(conn);
            self->gone = true;
        }
    };
    callbacks->set_properties.callback = [](SmsConn, SmPointer, int count, SmProp** properties) {
        for (int i = 0; i < count; ++i) SmFreeProperty(properties[i]);
        std::free(properties);
    };
    callbacks->delete_properties.callback = [](SmsConn, SmPointer, int count, char** names) {
        for (int i = 0; i < count; ++i) std::free(names[i]);
        std::free(names);
    };
    callbacks->get_properties.callback = [](SmsConn conn, SmPointer) { SmsReturnProperties(conn, 0, nullptr); };
    for (auto* data : {&callbacks->register_client.manager_data, &callbacks->interact_request.manager_data,
                       &callbacks->interact_done.manager_data, &callbacks->save_yourself_request.manager_data,
                       &callbacks->save_yourself_phase2_request.manager_data,
                       &callbacks->save_yourself_done.manager_data, &callbacks->close_connection.manager_data,
                       &callbacks->set_properties.manager_data, &callbacks->delete_properties.manager_data,
                       &callbacks->get_properties.manager_data})
        *data = self;
    *mask = SmsRegisterClientProcMask | SmsInteractRequestProcMask | SmsInteractDoneProcMask
            | SmsSaveYourselfRequestProcMask | SmsSaveYourselfP2RequestProcMask | SmsSaveYourselfDoneProcMask
            | SmsCloseConnectionProcMask | SmsSetPropertiesProcMask | SmsDeletePropertiesProcMask
            | SmsGetPropertiesProcMask;
    return self ? 1 : 0;
}

} // namespace ondexa::testing
