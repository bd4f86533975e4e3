#include "service/pipe_server.h"

#include <condition_variable>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>

#include "platform/pipe.h"
#include "service/host.h"
#include "service/pipe_dispatch.h"
#include "settings/settings.h"

namespace {

// At most this many panels are connected at once. With the instance that
// waits for the next client this is 255, the most instances a Windows pipe
// can have: beyond it the listener could not create its next instance and
// would end for good.
constexpr std::size_t kMaxConnections = 254;

// The trial write whose success is a client's write permission; on Windows
// it runs under the client's identity.
bool probe_store() { return write_setting(kMainSection, "Used", "1") == 1; }

// One connected client: reads a request, has it executed, writes the reply,
// until the client goes, a read or write fails, or the server has ended.
void pipe_connection(platform::PipeEnd& end) {
    PipeMessage message{};
    PipeHandles handles;
    std::optional<bool> mayWrite;
    while (!server_ended()) {
        int received = end.read_message(&message, sizeof message);
        if (received < 0) return;
        if (!mayWrite) {
            mayWrite = end.may_write(probe_store);
            if (!mayWrite) return;  // no identity, no reply
        }
        std::size_t size = static_cast<std::size_t>(received);
        dispatch_pipe_command(*mayWrite, message, &size, handles);
        if (!end.write_message(&message, size)) return;
    }
}

// The listener thread and the connection threads. Connections are joined
// as they finish (by the listener) and all at once when the pipe stops.
class PipeServer {
  public:
    void start();
    void stop();

  private:
    struct Connection {
        std::thread thread;
        bool finished = false;  // under mutex_
    };

    void pipe_listener();
    bool wait_for_room();
    void start_connection(std::unique_ptr<platform::PipeEnd> end);
    void run_connection(std::unique_ptr<platform::PipeEnd> end, Connection* self);

    std::unique_ptr<platform::PipeAcceptor> acceptor_;
    std::thread listener_;
    std::mutex mutex_;
    std::condition_variable room_;
    std::list<Connection> connections_;
    bool stopping_ = false;
};

void PipeServer::start() {
    stopping_ = false;
    acceptor_ = std::make_unique<platform::PipeAcceptor>(platform::control_pipe_name());
    listener_ = std::thread([this] { pipe_listener(); });
}

void PipeServer::stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    room_.notify_all();
    if (acceptor_) acceptor_->stop();
    if (listener_.joinable()) listener_.join();
    std::list<Connection> all;
    {
        std::lock_guard lock(mutex_);
        all.swap(connections_);  // nodes keep their addresses
    }
    for (Connection& c : all) c.thread.join();
    acceptor_.reset();
}

// A failure to create an instance or to accept ends the listener; the
// connections that exist go on.
void PipeServer::pipe_listener() {
    while (!server_ended() && wait_for_room()) {
        std::unique_ptr<platform::PipeEnd> end = acceptor_->accept();
        if (!end) return;
        start_connection(std::move(end));
    }
}

// Joins the connections that have finished and waits while the most are
// connected; false once the pipe stops.
bool PipeServer::wait_for_room() {
    std::unique_lock lock(mutex_);
    for (;;) {
        connections_.remove_if([](Connection& c) {
            if (c.finished) c.thread.join();
            return c.finished;
        });
        if (stopping_) return false;
        if (connections_.size() < kMaxConnections) return true;
        room_.wait(lock);
    }
}

// The connection thread owns its end. When no thread can be started (the
// one exception the standard library gives for it is caught here) the end
// is closed at once and the client sees its pipe fail.
void PipeServer::start_connection(std::unique_ptr<platform::PipeEnd> end) {
    std::lock_guard lock(mutex_);
    Connection& c = connections_.emplace_back();
    try {
        c.thread = std::thread([this, e = std::move(end), self = &c]() mutable {
            run_connection(std::move(e), self);
        });
    } catch (const std::system_error&) {
        connections_.pop_back();
    }
}

void PipeServer::run_connection(std::unique_ptr<platform::PipeEnd> end, Connection* self) {
    pipe_connection(*end);
    end.reset();
    {
        std::lock_guard lock(mutex_);
        self->finished = true;
    }
    room_.notify_all();
}

// Never destroyed: a process that exits while the pipe still runs must not
// destroy threads that are still joinable (which would abort it).
PipeServer& pipe_server() {
    static PipeServer* server = new PipeServer;
    return *server;
}

}  // namespace

void start_pipe_listener() { pipe_server().start(); }
void stop_pipe_listener() { pipe_server().stop(); }
