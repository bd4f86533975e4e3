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

// Handles a pipe connection holds by token: a number the server hands out
// once and never again (all tables share the count, under the pipe lock). A
// token is valid only in the table that gave it, until it is taken out.
template <typename Handle>
class TokenTable {
  public:
    std::size_t size() const { return handles_.size(); }

    uint64_t add(Handle handle);

    // The handle of `token`, or null when the table gave no such token or
    // it was taken out.
    auto find(uint64_t token) const {
        auto found = handles_.find(token);
        return found == handles_.end() ? nullptr : found->second.get();
    }

    // Takes the handle out; null for an unknown token.
    Handle take(uint64_t token) {
        auto found = handles_.find(token);
        if (found == handles_.end()) return nullptr;
        Handle handle = std::move(found->second);
        handles_.erase(found);
        return handle;
    }

  private:
    std::map<uint64_t, Handle> handles_;
};

// The log-directory searches and log-file streams one pipe connection has
// open. Whatever is still open when the connection ends closes with it.
struct PipeHandles {
    struct FileCloser {
        void operator()(std::FILE* stream) const { std::fclose(stream); }
    };
    using Stream = std::unique_ptr<std::FILE, FileCloser>;
    using Search = std::unique_ptr<platform::DirSearch>;

    // A connection holds at most this many searches and streams together.
    static constexpr std::size_t kCapacity = 64;

    std::size_t size() const { return searches.size() + streams.size(); }
    bool full() const { return size() >= kCapacity; }

    TokenTable<Search> searches;
    TokenTable<Stream> streams;
};

// Executes the request of `*size` bytes in `message` for a client with or
// without the write permission, and sets `*size` to the size of the reply
// built in the same buffer. Returns 1.
int dispatch_pipe_command(bool writePermission,
                          PipeMessage& message,
                          std::size_t* size,
                          PipeHandles& handles);
