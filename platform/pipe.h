// The control pipe's transport: a message pipe between the server and its
// control panels on this machine. Each message arrives whole or not at all.
//
// Windows: the named pipe \\.\pipe\velquin_tftp_server in message mode,
// local clients only. Elsewhere: a Unix-domain SOCK_SEQPACKET socket, by
// default in the abstract namespace as "@velquin_tftp_server". The
// environment variable PRAVLEN_PIPE names another pipe on both (test servers
// use it so that they never meet the real one).
//
// Pipe names: on POSIX a path, or "@name" in the abstract namespace; on
// Windows a full pipe path (\\.\pipe\...), or a name under \\.\pipe\ (a
// leading "@" is dropped, so "@name" means the same pipe on both).
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>

namespace platform {

// The name of the control pipe in this process's environment.
std::string control_pipe_name();

// The server's end of one connected client; disconnected and closed on
// destruction.
class PipeEnd {
  public:
    struct Impl;
    explicit PipeEnd(std::unique_ptr<Impl> impl);
    ~PipeEnd();
    PipeEnd(const PipeEnd&) = delete;
    PipeEnd& operator=(const PipeEnd&) = delete;

    // Receives one message of at most `capacity` bytes; returns its size, or
    // -1 when the client has gone, the message is longer than `capacity` or
    // the acceptor that made this end was stopped.
    int read_message(void* buffer, std::size_t capacity);
    [[nodiscard]] bool write_message(const void* data, std::size_t size);

    // Whether the client may change the server's settings: `probe` (a trial
    // write to the store) runs under the client's identity on Windows; on
    // POSIX it runs when the peer's user is root or the server's own user, or
    // the peer belongs to the group PRAVLEN_ADMIN_GROUP names, and any other
    // user may not write. nullopt when the client's identity
    // cannot be taken; the connection must then end without a reply.
    std::optional<bool> may_write(bool (*probe)());

  private:
    std::unique_ptr<Impl> impl_;
};

// Hands out the server ends of the pipe `name`, one per connecting client.
// The acceptor must outlive the ends it made.
class PipeAcceptor {
  public:
    struct Impl;
    explicit PipeAcceptor(const std::string& name);
    ~PipeAcceptor();
    PipeAcceptor(const PipeAcceptor&) = delete;
    PipeAcceptor& operator=(const PipeAcceptor&) = delete;

    // Waits for the next client. Null when the pipe cannot be created or a
    // client cannot be accepted (the listener then ends), or after stop().
    std::unique_ptr<PipeEnd> accept();

    // Callable from any thread: ends a waiting accept() and every read or
    // write of the ends this acceptor made, now and later.
    void stop();

  private:
    std::unique_ptr<Impl> impl_;
};

// The client's end: one connection, opened by name.
class PipeClient {
  public:
    struct Impl;
    PipeClient();
    ~PipeClient();
    PipeClient(const PipeClient&) = delete;
    PipeClient& operator=(const PipeClient&) = delete;

    bool is_open() const;
    // Connects to the pipe `name`; false when no server answers it.
    [[nodiscard]] bool open(const std::string& name);
    void close();

    // Sends one request and receives its reply (at most `capacity` bytes)
    // within kPipeReplyTimeoutMs. Returns the reply size, or -1 on any
    // failure, after which the connection is closed.
    int transact(const void* request, std::size_t size, void* reply, std::size_t capacity);

  private:
    std::unique_ptr<Impl> impl_;
};

// How long a client waits for a reply before it gives the server up.
inline constexpr int kPipeReplyTimeoutMs = 10000;

}  // namespace platform
