#include "platform/console.h"

#include <csignal>
#include <pthread.h>
#include <thread>

namespace platform {

void install_stop_handler(void (*handler)()) {
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
            if (sigwait(&set, &signal) == 0) handler();
        }
    }).detach();
}

}  // namespace platform
