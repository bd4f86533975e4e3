// The server program's entry: the service wrapper decides between installing,
// removing, the console and the service.
#include "service/service_wrapper.h"

int main(int argc, char** argv) { return service_dispatch(argc, argv); }
