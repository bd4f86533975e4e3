// tftp_load: the load generator of the benchmark. usage() lists its commands;
// bench/run.sh drives them.
#include <arpa/inet.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

#include "bench/load_client.h"
#include "bench/report.h"
#include "bench/responder.h"
#include "bench/scenarios.h"
#include "bench/wire.h"

namespace {

using namespace bench;

int usage() {
    std::fprintf(
        stderr,
        "usage:\n"
        "  tftp_load files DIR [sizes]        write the served files into DIR\n"
        "  tftp_load free-port                print a free UDP port on 127.0.0.1\n"
        "  tftp_load probe PORT [SECONDS]     wait until a server answers there\n"
        "  tftp_load suite PORT [--root DIR] [--pid PID] [--only A,B] [--out FILE] "
        "[sizes]\n"
        "  tftp_load ceiling [--out FILE] [--only A,B] [sizes]\n"
        "  tftp_load compare --server NAME=PORT... [--pid NAME=PID] "
        "[--only-for NAME=A,B]\n"
        "                    [--ceiling on] [--root DIR] [--only A,B] --out-dir DIR [sizes]\n"
        "  tftp_load report --ours NAME=FILE [--peer NAME=FILE]... "
        "[--ceiling NAME=FILE]\n"
        "sizes: --big-mib N --mid-mib N --small-bytes N --upload-mib N --lossy-kib N\n"
        "       --small-seconds S --small-count N --concurrent-blksize N --repeat N\n");
    return 2;
}

struct Args {
    std::vector<std::string> positional;
    std::map<std::string, std::vector<std::string>> flags;

    std::string get(const std::string& name, const std::string& fallback = "") const {
        auto it = flags.find(name);
        return it == flags.end() ? fallback : it->second.back();
    }
    double number(const std::string& name, double fallback) const {
        std::string text = get(name);
        return text.empty() ? fallback : std::strtod(text.c_str(), nullptr);
    }
};

Args parse_args(int argc, char** argv) {
    Args args;
    for (int i = 2; i < argc; ++i) {
        std::string word = argv[i];
        if (word.rfind("--", 0) == 0 && i + 1 < argc)
            args.flags[word.substr(2)].push_back(argv[++i]);
        else
            args.positional.push_back(word);
    }
    return args;
}

Sizes sizes_from(const Args& a) {
    Sizes s;
    s.big = static_cast<std::size_t>(a.number("big-mib", 64) * 1048576);
    s.mid = static_cast<std::size_t>(a.number("mid-mib", 2) * 1048576);
    s.small = static_cast<std::size_t>(a.number("small-bytes", 1024));
    s.upload = static_cast<std::size_t>(a.number("upload-mib", 16) * 1048576);
    s.lossy = static_cast<std::size_t>(a.number("lossy-kib", 512) * 1024);
    s.smallSeconds = a.number("small-seconds", 3);
    s.smallCount = static_cast<int>(a.number("small-count", 20000));
    s.concurrentBlock = static_cast<uint32_t>(a.number("concurrent-blksize", 1468));
    s.repeat = static_cast<int>(a.number("repeat", 1));
    return s;
}

std::vector<std::string> split(const std::string& text) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= text.size() && !text.empty()) {
        std::size_t comma = text.find(',', start);
        parts.push_back(text.substr(start, comma - start));
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return parts;
}

Server loopback(int port) {
    Server server;
    server.address = htonl(INADDR_LOOPBACK);
    server.port = static_cast<uint16_t>(port);
    return server;
}

int emit(const Metrics& metrics, const Args& a) {
    std::string out = a.get("out");
    if (!out.empty()) return write_metrics(metrics, out) ? 0 : 1;
    for (const Metric& m : metrics)
        std::printf("%s\t%s\t%s\n", m.scenario.c_str(), m.name.c_str(), m.value.c_str());
    return 0;
}

int cmd_files(const Args& a) {
    if (a.positional.empty()) return usage();
    FileSet files(sizes_from(a));
    return write_files(files, a.positional[0]) ? 0 : 1;
}

int cmd_free_port() {
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof sa;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &length) != 0)
        return 1;
    std::printf("%u\n", ntohs(sa.sin_port));
    close(fd);
    return 0;
}

// Any answer to a read request counts: the server is up. A data block is
// answered with an error so the server does not wait for us.
int cmd_probe(const Args& a) {
    if (a.positional.empty()) return usage();
    Server server = loopback(std::atoi(a.positional[0].c_str()));
    double seconds = a.positional.size() > 1 ? std::strtod(a.positional[1].c_str(), nullptr) : 10;
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = server.address;
    to.sin_port = htons(server.port);
    std::vector<uint8_t> request = build_request(kRrq, "small.bin", {});
    auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (fd >= 0 && std::chrono::steady_clock::now() < end) {
        sendto(fd, request.data(), request.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
        pollfd p = {fd, POLLIN, 0};
        if (poll(&p, 1, 200) <= 0) continue;
        uint8_t reply[kMaxDatagram];
        sockaddr_in from{};
        socklen_t fromLength = sizeof from;
        if (recvfrom(fd, reply, sizeof reply, 0, reinterpret_cast<sockaddr*>(&from), &fromLength) <
            4)
            continue;
        uint8_t abort[] = {0, kError, 0, 0, 'p', 'r', 'o', 'b', 'e', 0};
        if (get16(reply) == kData)
            sendto(fd, abort, sizeof abort, 0, reinterpret_cast<sockaddr*>(&from), fromLength);
        close(fd);
        return 0;
    }
    if (fd >= 0) close(fd);
    return 1;
}

int cmd_suite(const Args& a) {
    if (a.positional.empty()) return usage();
    SuiteOptions options;
    options.server = loopback(std::atoi(a.positional[0].c_str()));
    options.root = a.get("root");
    options.pid = std::atoi(a.get("pid", "0").c_str());
    options.only = split(a.get("only"));
    options.sizes = sizes_from(a);
    FileSet files(options.sizes);
    return emit(run_suite(options, files), a);
}

// The same scenarios against the in-process responder: what this client
// and loopback can do at most on this machine.
int cmd_ceiling(const Args& a) {
    SuiteOptions options;
    options.only = split(a.get("only"));
    options.sizes = sizes_from(a);
    FileSet files(options.sizes);
    Responder responder({{"big.bin", &files.big},
                         {"mid.bin", &files.mid},
                         {"small.bin", &files.small},
                         {"lossy.bin", &files.lossy}});
    if (!responder.port()) return 1;
    options.server = loopback(responder.port());
    return emit(run_suite(options, files), a);
}

// NAME=VALUE pairs of a repeated flag, by name.
std::map<std::string, std::string> named_values(const Args& a, const std::string& flag) {
    std::map<std::string, std::string> values;
    auto it = a.flags.find(flag);
    if (it == a.flags.end()) return values;
    for (const std::string& pair : it->second) {
        std::size_t equals = pair.find('=');
        if (equals != std::string::npos) values[pair.substr(0, equals)] = pair.substr(equals + 1);
    }
    return values;
}

// Every server named with --server, running now, measured in turn scenario
// by scenario; with --ceiling the in-process responder takes its turn too.
// Writes OUT-DIR/NAME.tsv for each.
int cmd_compare(const Args& a) {
    std::string outDir = a.get("out-dir");
    std::map<std::string, std::string> ports = named_values(a, "server");
    if (outDir.empty() || ports.empty()) return usage();
    std::map<std::string, std::string> pids = named_values(a, "pid");
    std::map<std::string, std::string> onlyFor = named_values(a, "only-for");
    Sizes sizes = sizes_from(a);
    FileSet files(sizes);
    std::vector<SuiteOptions> servers;
    for (const auto& [name, port] : ports) {
        SuiteOptions o;
        o.name = name;
        o.server = loopback(std::atoi(port.c_str()));
        o.root = a.get("root");
        o.pid = pids.count(name) ? std::atoi(pids[name].c_str()) : 0;
        o.only = split(onlyFor.count(name) ? onlyFor[name] : a.get("only"));
        o.sizes = sizes;
        servers.push_back(o);
    }
    std::unique_ptr<Responder> responder;
    if (a.get("ceiling") == "on") {
        responder = std::make_unique<Responder>(
            std::map<std::string, const std::vector<uint8_t>*>{{"big.bin", &files.big},
                                                               {"mid.bin", &files.mid},
                                                               {"small.bin", &files.small},
                                                               {"lossy.bin", &files.lossy}});
        if (!responder->port()) return 1;
        SuiteOptions o;
        o.name = "ceiling";
        o.server = loopback(responder->port());
        o.only = split(a.get("only"));
        o.sizes = sizes;
        servers.push_back(o);
    }
    std::vector<Metrics> results = run_interleaved(servers, files);
    bool ok = true;
    for (std::size_t k = 0; k < servers.size(); ++k)
        ok &= write_metrics(results[k], outDir + "/" + servers[k].name + ".tsv");
    return ok ? 0 : 1;
}

bool load_column(const std::string& plan, Column* column) {
    std::size_t equals = plan.find('=');
    if (equals == std::string::npos) return false;
    column->name = plan.substr(0, equals);
    return read_metrics(plan.substr(equals + 1), &column->metrics);
}

int cmd_report(const Args& a) {
    Column ours, ceiling;
    if (!load_column(a.get("ours"), &ours)) return usage();
    std::vector<Column> peers;
    auto it = a.flags.find("peer");
    for (std::size_t i = 0; it != a.flags.end() && i < it->second.size(); ++i) {
        Column peer;
        if (load_column(it->second[i], &peer)) peers.push_back(peer);
    }
    bool haveCeiling = load_column(a.get("ceiling"), &ceiling);
    print_table(ours, peers, haveCeiling ? &ceiling : nullptr);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return usage();
    std::string command = argv[1];
    Args args = parse_args(argc, argv);
    if (command == "files") return cmd_files(args);
    if (command == "free-port") return cmd_free_port();
    if (command == "probe") return cmd_probe(args);
    if (command == "suite") return cmd_suite(args);
    if (command == "ceiling") return cmd_ceiling(args);
    if (command == "compare") return cmd_compare(args);
    if (command == "report") return cmd_report(args);
    return usage();
}
