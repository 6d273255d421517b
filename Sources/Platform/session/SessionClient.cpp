#include "Platform/session/SessionClient.h"

#include <X11/ICE/ICElib.h>
#include <X11/SM/SMlib.h>

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <vector>

namespace platform {

struct SessionClient::Connection {
    SmcConn smc = nullptr;
    Handlers handlers;
    char* clientId = nullptr;

    ~Connection()
    {
        if (smc) SmcCloseConnection(smc, 0, nullptr);
        std::free(clientId);
    }
};

namespace {

void onSaveYourself(SmcConn smc, SmPointer data, int /*saveType*/, Bool shutdown, int /*interactStyle*/,
                    Bool /*fast*/)
{
    auto* connection = static_cast<SessionClient::Connection*>(data);
    if (connection->handlers.save) connection->handlers.save(shutdown != 0);
    SmcSaveYourselfDone(smc, True);
}

void onDie(SmcConn, SmPointer data)
{
    auto* connection = static_cast<SessionClient::Connection*>(data);
    if (connection->handlers.die) connection->handlers.die();
}

void onNothing(SmcConn, SmPointer) {}

// What every client tells its session manager about itself. The program is
// not restarted with a session of its own: it opens no documents by itself.
void describe(SmcConn smc, const std::string& program)
{
    std::string user = std::to_string(::getuid());
    char restartStyle = SmRestartNever;
    SmPropValue programValue{int(program.size()), const_cast<char*>(program.data())};
    SmPropValue userValue{int(user.size()), user.data()};
    SmPropValue styleValue{1, &restartStyle};
    SmProp programProperty{const_cast<char*>(SmProgram), const_cast<char*>(SmARRAY8), 1, &programValue};
    SmProp restartProperty{const_cast<char*>(SmRestartCommand), const_cast<char*>(SmLISTofARRAY8), 1, &programValue};
    SmProp cloneProperty{const_cast<char*>(SmCloneCommand), const_cast<char*>(SmLISTofARRAY8), 1, &programValue};
    SmProp userProperty{const_cast<char*>(SmUserID), const_cast<char*>(SmARRAY8), 1, &userValue};
    SmProp styleProperty{const_cast<char*>(SmRestartStyleHint), const_cast<char*>(SmCARD8), 1, &styleValue};
    SmProp* properties[] = {&programProperty, &restartProperty, &cloneProperty, &userProperty, &styleProperty};
    SmcSetProperties(smc, int(std::size(properties)), properties);
}

} // namespace

std::unique_ptr<SessionClient> SessionClient::connect(const std::string& address, const std::string& program,
                                                      Handlers handlers, std::string* why)
{
    if (address.empty()) {
        if (why) *why = "no session manager";
        return nullptr;
    }
    auto connection = std::make_unique<Connection>();
    connection->handlers = std::move(handlers);
    SmcCallbacks callbacks = {};
    callbacks.save_yourself.callback = onSaveYourself;
    callbacks.save_yourself.client_data = connection.get();
    callbacks.die.callback = onDie;
    callbacks.die.client_data = connection.get();
    callbacks.save_complete.callback = onNothing;
    callbacks.shutdown_cancelled.callback = onNothing;
    char error[256] = {};
    const unsigned long mask =
        SmcSaveYourselfProcMask | SmcDieProcMask | SmcSaveCompleteProcMask | SmcShutdownCancelledProcMask;
    connection->smc = SmcOpenConnection(const_cast<char*>(address.c_str()), nullptr, SmProtoMajor, SmProtoMinor, mask,
                                        &callbacks, nullptr, &connection->clientId, sizeof error, error);
    if (!connection->smc) {
        if (why) *why = error[0] ? error : "the session manager did not answer";
        return nullptr;
    }
    describe(connection->smc, program);
    std::unique_ptr<SessionClient> client(new SessionClient);
    client->connection_ = std::move(connection);
    return client;
}

SessionClient::~SessionClient() = default;

int SessionClient::fd() const
{
    if (!connection_ || !connection_->smc) return -1;
    return IceConnectionNumber(SmcGetIceConnection(connection_->smc));
}

void SessionClient::process()
{
    if (!connection_ || !connection_->smc) return;
    Bool replied = False;
    if (IceProcessMessages(SmcGetIceConnection(connection_->smc), nullptr, &replied) == IceProcessMessagesIOError) {
        // The manager went away: the connection is only to be freed.
        SmcCloseConnection(connection_->smc, 0, nullptr);
        connection_->smc = nullptr;
    }
}

} // namespace platform
