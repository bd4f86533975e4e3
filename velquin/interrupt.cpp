#include "velquin/interrupt.h"

#include <chrono>
#include <csignal>
#include <thread>

namespace {

volatile std::sig_atomic_t g_interrupted = 0;

extern "C" void on_interrupt(int) { g_interrupted = 1; }

}  // namespace

void catch_interrupt() { std::signal(SIGINT, on_interrupt); }

bool interrupted() { return g_interrupted != 0; }

bool wait_a_second() {
    for (int step = 0; step < 20 && !interrupted(); ++step)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    return !interrupted();
}
