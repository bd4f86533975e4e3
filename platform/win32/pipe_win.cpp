// The control pipe on Windows: a named pipe in message mode. Every operation
// is overlapped so that a stop request can end a wait on it, but each is
// waited for at once: the protocol is strictly one request, one reply.
#include "platform/pipe.h"
#include "platform/win32/win_handle.h"

#include <cstdlib>

#include <windows.h>

namespace platform {
namespace {

constexpr const char* kPipePrefix = "\\\\.\\pipe\\";
constexpr const char* kDefaultPipeName = "velquin_tftp_server";
constexpr DWORD kInstanceTimeoutMs = 1000;

HANDLE new_event() { return CreateEventA(nullptr, TRUE, FALSE, nullptr); }

// Completes an overlapped operation that `started` began: waits for it, for
// `stop` (when given) or for the time-out. Returns the bytes transferred, or
// -1 when it failed; an operation ended early is cancelled before the
// function returns, so the buffers it used are free again.
long finish_io(HANDLE file, OVERLAPPED& io, BOOL started, HANDLE stop, DWORD timeoutMs) {
    if (!started && GetLastError() != ERROR_IO_PENDING) return -1;
    HANDLE waits[2] = {io.hEvent, stop};
    DWORD woken = WaitForMultipleObjects(stop ? 2 : 1, waits, FALSE, timeoutMs);
    DWORD transferred = 0;
    if (woken != WAIT_OBJECT_0) {
        CancelIoEx(file, &io);
        GetOverlappedResult(file, &io, &transferred, TRUE);
        return -1;
    }
    if (!GetOverlappedResult(file, &io, &transferred, FALSE)) return -1;
    return static_cast<long>(transferred);
}

// One instance of the pipe. The null discretionary ACL lets every user of
// the machine open it (what each may do is decided per connection); remote
// clients are rejected, as only the local control panel ever connects.
HANDLE create_pipe_instance(const std::string& name) {
    SECURITY_DESCRIPTOR descriptor;
    if (!InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) ||
        !SetSecurityDescriptorDacl(&descriptor, TRUE, nullptr, FALSE)) {
        return INVALID_HANDLE_VALUE;
    }
    SECURITY_ATTRIBUTES attributes{sizeof attributes, &descriptor, TRUE};
    return CreateNamedPipeA(
        name.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
        PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS,
        PIPE_UNLIMITED_INSTANCES, 0, 0, kInstanceTimeoutMs, &attributes);
}

enum class Connect { kConnected, kClientGone, kFailed };

// Waits for a client on a fresh instance. A client that came and went
// before the wait ended (ERROR_NO_DATA) leaves the instance useless, but
// says nothing about the pipe: only that instance is given up.
Connect connect_client(HANDLE pipe, HANDLE event, HANDLE stop) {
    OVERLAPPED io{};
    io.hEvent = event;
    BOOL connected = ConnectNamedPipe(pipe, &io);
    if (!connected && GetLastError() == ERROR_PIPE_CONNECTED) return Connect::kConnected;
    if (!connected && GetLastError() == ERROR_NO_DATA) return Connect::kClientGone;
    if (finish_io(pipe, io, connected, stop, INFINITE) >= 0) return Connect::kConnected;
    return GetLastError() == ERROR_NO_DATA ? Connect::kClientGone : Connect::kFailed;
}

// A full pipe path stays as it is; any other name ("@name" as on POSIX, or
// a bare name) is a pipe under \\.\pipe\.
std::string pipe_path(const std::string& name) {
    if (name.empty() || name[0] == '\\') return name;
    return kPipePrefix + name.substr(name[0] == '@' ? 1 : 0);
}

}  // namespace

std::string control_pipe_name() {
    const char* name = std::getenv("PRAVLEN_PIPE");
    return name && *name ? name : std::string(kPipePrefix) + kDefaultPipeName;
}

// ---------------------------------------------------------------- server end

struct PipeEnd::Impl {
    Handle pipe;
    Handle event{new_event()};
    HANDLE stop = nullptr;  // the acceptor's event, which outlives its ends

    ~Impl() {
        if (pipe.valid()) DisconnectNamedPipe(pipe.get());
    }
};

PipeEnd::PipeEnd(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
PipeEnd::~PipeEnd() = default;

// A message longer than the buffer fails with ERROR_MORE_DATA, which ends
// the connection like any other failure.
int PipeEnd::read_message(void* buffer, std::size_t capacity) {
    OVERLAPPED io{};
    io.hEvent = impl_->event.get();
    BOOL done = ReadFile(impl_->pipe.get(), buffer, static_cast<DWORD>(capacity), nullptr, &io);
    return static_cast<int>(finish_io(impl_->pipe.get(), io, done, impl_->stop, INFINITE));
}

bool PipeEnd::write_message(const void* data, std::size_t size) {
    OVERLAPPED io{};
    io.hEvent = impl_->event.get();
    BOOL done = WriteFile(impl_->pipe.get(), data, static_cast<DWORD>(size), nullptr, &io);
    return finish_io(impl_->pipe.get(), io, done, impl_->stop, INFINITE) == static_cast<long>(size);
}

// A thread that cannot drop the client's identity again must not go on: the
// connection ends, and its thread with it.
std::optional<bool> PipeEnd::may_write(bool (*probe)()) {
    if (!ImpersonateNamedPipeClient(impl_->pipe.get())) return std::nullopt;
    bool allowed = probe();
    if (!RevertToSelf()) return std::nullopt;
    return allowed;
}

// ------------------------------------------------------------------ acceptor

// The acceptor keeps one instance waiting at all times but for a moment:
// the first is made with the acceptor, the next as soon as a client has
// taken the last, so that a panel that opens the pipe then finds it.
struct PipeAcceptor::Impl {
    std::string name;
    Handle stop{new_event()};
    Handle waiting;
};

PipeAcceptor::PipeAcceptor(const std::string& name) : impl_(std::make_unique<Impl>()) {
    impl_->name = pipe_path(name);
    impl_->waiting.reset(create_pipe_instance(impl_->name));
}

PipeAcceptor::~PipeAcceptor() = default;

std::unique_ptr<PipeEnd> PipeAcceptor::accept() {
    Impl& a = *impl_;
    for (;;) {
        if (!a.waiting.valid()) a.waiting.reset(create_pipe_instance(a.name));
        if (!a.stop.valid() || !a.waiting.valid()) return nullptr;
        auto end = std::make_unique<PipeEnd::Impl>();
        end->pipe.reset(a.waiting.release());
        end->stop = a.stop.get();
        if (!end->event.valid()) return nullptr;
        Connect result = connect_client(end->pipe.get(), end->event.get(), a.stop.get());
        if (result == Connect::kFailed) return nullptr;
        a.waiting.reset(create_pipe_instance(a.name));
        if (result == Connect::kConnected) return std::make_unique<PipeEnd>(std::move(end));
    }
}

void PipeAcceptor::stop() {
    if (impl_->stop.valid()) SetEvent(impl_->stop.get());
}

// -------------------------------------------------------------------- client

struct PipeClient::Impl {
    Handle pipe;
    Handle event{new_event()};
};

PipeClient::PipeClient() : impl_(std::make_unique<Impl>()) {}
PipeClient::~PipeClient() = default;

bool PipeClient::is_open() const { return impl_->pipe.valid(); }

bool PipeClient::open(const std::string& name) {
    close();
    Handle pipe(CreateFileA(pipe_path(name).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                            OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr));
    DWORD mode = PIPE_READMODE_MESSAGE;
    if (!pipe.valid() || !impl_->event.valid() ||
        !SetNamedPipeHandleState(pipe.get(), &mode, nullptr, nullptr)) {
        return false;
    }
    impl_->pipe.reset(pipe.release());
    return true;
}

void PipeClient::close() { impl_->pipe.reset(); }

// A reply longer than `capacity` fails with ERROR_MORE_DATA: the rest of it
// would be read as the next reply, so the connection is dropped instead.
int PipeClient::transact(const void* request, std::size_t size, void* reply, std::size_t capacity) {
    HANDLE pipe = impl_->pipe.get();
    OVERLAPPED io{};
    io.hEvent = impl_->event.get();
    long n = -1;
    if (impl_->pipe.valid()) {
        BOOL done = TransactNamedPipe(pipe, const_cast<void*>(request), static_cast<DWORD>(size),
                                      reply, static_cast<DWORD>(capacity), nullptr, &io);
        n = finish_io(pipe, io, done, nullptr, kPipeReplyTimeoutMs);
    }
    if (n < 0) close();
    return static_cast<int>(n);
}

}  // namespace platform
