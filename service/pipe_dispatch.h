// The control pipe's command dispatcher: executes one request in place in
// its message buffer and sets the size of the reply. Commands run one at a
// time, all connections together, under the pipe lock.
//
// Every request is checked against what it received before anything is
// read: a request shorter than its command needs, a text that does not end
// inside the message, a path that does not fit 1024 bytes, or a token that
// this connection was not given (or has closed) gets a nonzero status and
// changes nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>

#include "pipeclient/records.h"
#include "platform/dir_search.h"

// The log-directory searches and log-file streams one pipe connection has
// open, by token. A token is a number the server hands out once and never
// again; it is valid only on the connection that received it, until it is
// closed. Whatever is still open when the connection ends closes with the
// table.
class PipeHandles {
  public:
    struct FileCloser {
        void operator()(std::FILE* stream) const { std::fclose(stream); }
    };
    using Stream = std::unique_ptr<std::FILE, FileCloser>;
    using Search = std::unique_ptr<platform::DirSearch>;

    // A connection holds at most this many searches and streams together.
    static constexpr std::size_t kCapacity = 64;

    PipeHandles();
    ~PipeHandles();
    PipeHandles(const PipeHandles&) = delete;
    PipeHandles& operator=(const PipeHandles&) = delete;

    bool full() const { return size() >= kCapacity; }
    std::size_t size() const { return searches_.size() + streams_.size(); }

    uint64_t add_search(Search search);
    platform::DirSearch* search(uint64_t token) const;
    Search take_search(uint64_t token);

    uint64_t add_stream(Stream stream);
    std::FILE* stream(uint64_t token) const;
    Stream take_stream(uint64_t token);

  private:
    std::map<uint64_t, Search> searches_;
    std::map<uint64_t, Stream> streams_;
};

// Executes the request of `*size` bytes in `message` for a client with or
// without the write permission, and sets `*size` to the size of the reply
// built in the same buffer. Returns 1.
int dispatch_pipe_command(bool writePermission,
                          PipeMessage& message,
                          std::size_t* size,
                          PipeHandles& handles);
