// Drives the control panel's pipe client library for the integration tests:
// one command per line on standard input, one answer line on standard
// output. It is built for both targets, so that the same test drives the
// Windows library under Wine against the Windows server and the Linux
// library against the Linux server.
//
//   settings | multicast | pxe            fetch a record; print its fields
//   send-settings|send-multicast|send-pxe NAME=VALUE...
//                                         (Address=a.b.c.d for the interface)
//                                         fetch, change the fields, send back
//   pause ACTION                          set_pause
//   transfer INDEX                        fetch_transfer; the record's fields
//   logs                                  list the log files
//   read NAME                             log_open, every line, log_close
//   open NAME                             log_open, leaving the stream open
//   raw SIZE                              one request of SIZE bytes (command 1)
//                                         on a connection of its own
//   failures                              how often the failure handler ran
//   close | quit
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "pipeclient/pipe_client.h"
#include "platform/pipe.h"

namespace {

int g_failures = 0;

using Fields = std::vector<std::pair<std::string, std::string>>;

Fields parse_fields(std::istringstream& in) {
    Fields fields;
    std::string word;
    while (in >> word) {
        std::size_t equals = word.find('=');
        if (equals != std::string::npos)
            fields.emplace_back(word.substr(0, equals), word.substr(equals + 1));
    }
    return fields;
}

std::string escaped(const char* text) {
    std::string out;
    for (const char* p = text; *p; ++p) {
        if (*p == '\n')
            out += "\\n";
        else if (*p == '\r')
            out += "\\r";
        else
            out += *p;
    }
    return out;
}

template <typename Integer>
void set_if(const Fields& fields, const char* name, Integer* field) {
    for (const auto& [key, value] : fields)
        if (key == name) *field = static_cast<Integer>(std::strtol(value.c_str(), nullptr, 10));
}

std::string settings_text(const ServerSettings& s) {
    std::ostringstream out;
    out << "Port=" << s.Port << " Timeout=" << s.Timeout << " Retransmit=" << s.Retransmit
        << " Clients=" << s.Clients << " Log=" << s.Log << " listenFailed=" << s.listenFailed
        << " RootDirectory=" << s.RootDirectory;
    return out.str();
}

// A dotted address, first number in the lowest byte.
void set_address_if(const Fields& fields, const char* name, uint32_t* field) {
    for (const auto& [key, value] : fields) {
        unsigned a = 0, b = 0, c = 0, d = 0;
        if (key == name && std::sscanf(value.c_str(), "%u.%u.%u.%u", &a, &b, &c, &d) == 4)
            *field = a | (b << 8) | (c << 16) | (d << 24);
    }
}

void change_settings(const Fields& fields, ServerSettings* s) {
    set_address_if(fields, "Address", &s->Address);
    set_if(fields, "Port", &s->Port);
    set_if(fields, "Timeout", &s->Timeout);
    set_if(fields, "Retransmit", &s->Retransmit);
    set_if(fields, "Clients", &s->Clients);
    set_if(fields, "Log", &s->Log);
}

std::string multicast_text(const MulticastSettings& m) {
    std::ostringstream out;
    out << "Multicast=" << m.Multicast << " MulticastIp=" << (m.MulticastIp & 0xFF) << "."
        << ((m.MulticastIp >> 8) & 0xFF) << "." << ((m.MulticastIp >> 16) & 0xFF) << "."
        << (m.MulticastIp >> 24) << " MulticastPort=" << m.MulticastPort
        << " MulticastLast=" << m.MulticastLast << " MulticastTTL=" << m.MulticastTTL;
    return out.str();
}

void change_multicast(const Fields& fields, MulticastSettings* m) {
    set_if(fields, "Multicast", &m->Multicast);
    set_if(fields, "MulticastPort", &m->MulticastPort);
    set_if(fields, "MulticastLast", &m->MulticastLast);
    set_if(fields, "MulticastTTL", &m->MulticastTTL);
}

std::string pxe_text(const PxeSettings& p) {
    std::ostringstream out;
    out << "PXE=" << p.PXE << " PxePort=" << p.PxePort << " PxeBlocksize=" << p.PxeBlocksize
        << " PxeMulticastPort=" << p.PxeMulticastPort;
    return out.str();
}

void change_pxe(const Fields& fields, PxeSettings* p) {
    set_if(fields, "PXE", &p->PXE);
    set_if(fields, "PxePort", &p->PxePort);
    set_if(fields, "PxeBlocksize", &p->PxeBlocksize);
}

// The fields of a transfer record the status view shows.
std::string transfer_text(const TransferSession& t) {
    unsigned port = ((t.clientPort & 0xFFu) << 8) | (t.clientPort >> 8);
    std::ostringstream out;
    out << "opcode=" << t.opcode << " port=" << port << " block=" << t.blockNumber
        << " size=" << t.transferSize << " status=" << t.status
        << " file=" << std::string(t.fileName, strnlen(t.fileName, sizeof t.fileName));
    return out.str();
}

// Fetches a record with `command`, changes it and sends it with `command` + 1.
template <typename Record, typename Change>
std::string send_record(int32_t command, const Fields& fields, Change change) {
    Record record{};
    int fetched = pipe_get(command, 0, sizeof record, &record);
    if (fetched != 1) return "fetch=" + std::to_string(fetched);
    change(fields, &record);
    return "rc=" + std::to_string(pipe_set(command + 1, sizeof record, &record));
}

template <typename Record>
std::string fetch_record(int32_t command, std::string (*text)(const Record&)) {
    Record record{};
    int rc = pipe_get(command, 0, sizeof record, &record);
    return "rc=" + std::to_string(rc) + (rc == 1 ? " " + text(record) : "");
}

std::string list_logs() {
    LogFindData found;
    PipeToken search = log_find_first(&found);
    if (search == kPipeNoSearch) return "files=";
    std::vector<std::string> names;
    do {
        bool directory = found.attributes & kFileAttributeDirectory;
        names.push_back((directory ? "dir:" : "") + std::string(found.fileName) + ":" +
                        std::to_string(found.sizeLow));
    } while (log_find_next(search, &found) == 1);
    int closed = log_find_close(search);
    std::sort(names.begin(), names.end());
    std::string out = "closed=" + std::to_string(closed) + " files=";
    for (const std::string& name : names) out += name + ",";
    return out;
}

std::string read_log(const std::string& name) {
    PipeToken stream = log_open(name.c_str());
    if (stream == 0) return "token=0";
    std::string out;
    char line[4096];
    while (log_read_line(stream, line, sizeof line) == LineRead::kLine)
        out += "[" + escaped(line) + "]";
    return "lines=" + out + " close=" + std::to_string(log_close(stream));
}

// A request of `size` bytes on a connection of its own: command 1 and zeros.
std::string raw_request(int size) {
    platform::PipeClient client;
    if (!client.open(platform::control_pipe_name())) return "raw=open-failed";
    std::vector<char> request(static_cast<std::size_t>(std::max(size, 8)), '\0');
    request[0] = kPipeGetSettings;
    std::vector<char> reply(kPipeMessageSize);
    int n =
        client.transact(request.data(), static_cast<std::size_t>(size), reply.data(), reply.size());
    return "raw=" + std::to_string(n) + " open=" + (client.is_open() ? "1" : "0");
}

std::string run(const std::string& line) {
    std::istringstream in(line);
    std::string command;
    in >> command;
    if (command == "settings") return fetch_record<ServerSettings>(kPipeGetSettings, settings_text);
    if (command == "multicast")
        return fetch_record<MulticastSettings>(kPipeGetMulticast, multicast_text);
    if (command == "pxe") return fetch_record<PxeSettings>(kPipeGetPxe, pxe_text);
    if (command == "send-settings")
        return send_record<ServerSettings>(kPipeGetSettings, parse_fields(in), change_settings);
    if (command == "send-multicast")
        return send_record<MulticastSettings>(kPipeGetMulticast, parse_fields(in),
                                              change_multicast);
    if (command == "send-pxe")
        return send_record<PxeSettings>(kPipeGetPxe, parse_fields(in), change_pxe);
    if (command == "pause") {
        int32_t action = 0, paused = -1;
        in >> action;
        int rc = set_pause(action, &paused);
        return "rc=" + std::to_string(rc) + " paused=" + std::to_string(paused);
    }
    if (command == "transfer") {
        int32_t index = 0, running = -1;
        in >> index;
        TransferSession session{};
        int rc = fetch_transfer(index, &session, &running);
        std::string out = "rc=" + std::to_string(rc) + " running=" + std::to_string(running);
        return rc == 2 ? out + " " + transfer_text(session) : out;
    }
    if (command == "logs") return list_logs();
    if (command == "read") {
        std::string name;
        in >> name;
        return read_log(name);
    }
    if (command == "open") {
        std::string name;
        in >> name;
        return log_open(name.c_str()) ? "opened" : "token=0";
    }
    if (command == "raw") {
        int size = 0;
        in >> size;
        return raw_request(size);
    }
    if (command == "failures") return "failures=" + std::to_string(g_failures);
    if (command == "close") {
        pipe_close();
        return "closed";
    }
    return "unknown command";
}

}  // namespace

int main() {
    set_pipe_failure_handler([] { ++g_failures; });
    std::string line;
    while (std::getline(std::cin, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line == "quit") break;
        std::printf("%s\n", run(line).c_str());
        std::fflush(stdout);
    }
    pipe_close();
    return 0;
}
