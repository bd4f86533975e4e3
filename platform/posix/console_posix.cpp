#include "platform/console.h"

#include <csignal>
#include <pthread.h>
#include <thread>
#include <unistd.h>

namespace platform {

void install_console_handler(bool (*handler)(int event)) {
    // Signals are taken synchronously by one thread, so the handler may lock,
    // log and print like any other code.
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    std::thread([set, handler] {
        for (;;) {
            int signal = 0;
            if (sigwait(&set, &signal) != 0) continue;
            int event = signal == SIGINT ? kConsoleCtrlC : kConsoleCtrlBreak;
            if (!handler(event)) _exit(128 + signal);  // as the signal's default action would
        }
    }).detach();
}

bool terminal_takes_sequences() { return isatty(STDOUT_FILENO) == 1; }

}  // namespace platform
