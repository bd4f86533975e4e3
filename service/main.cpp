// Program entry of the server, for now: "Sevrock -debug" runs the server in
// the console until Ctrl+C (SIGINT or SIGTERM). The service wrapper with
// -install and -remove replaces this entry.
#include <cstdio>

#include "engine/server.h"
#include "engine/text.h"
#include "platform/console.h"

namespace {

void on_stop_request() {
    std::printf("Stopping TFTP Server.\n");
    std::fflush(stdout);
    stop_server();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || !iequals(argv[1], "-debug")) {
        std::printf("Sevrock -debug       to run the service as a console application\n");
        return 0;
    }
    platform::install_stop_handler(on_stop_request);
    std::printf("Debugging TFTP Server.\n");
    std::fflush(stdout);
    return run_server(argc, argv);
}
