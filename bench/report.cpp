#include "bench/report.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

namespace bench {
namespace {

enum class Better { kHigher, kLower, kNone };

Better better_of(const std::string& figure) {
    if (figure == "MB/s" || figure == "blocks/s" || figure == "req/s") return Better::kHigher;
    for (const char* prefix : {"p50", "p99", "seconds", "recovery"})
        if (figure.rfind(prefix, 0) == 0) return Better::kLower;
    return Better::kNone;
}

const std::string* find(const Metrics& metrics,
                        const std::string& scenario,
                        const std::string& figure) {
    for (const Metric& m : metrics)
        if (m.scenario == scenario && m.name == figure) return &m.value;
    return nullptr;
}

bool number_of(const std::string* text, double* value) {
    if (!text || text->empty()) return false;
    char* end = nullptr;
    *value = std::strtod(text->c_str(), &end);
    return end && *end == '\0';
}

// The best peer's figure: the highest rate or the lowest time.
bool best_peer(const std::vector<Column>& peers,
               const std::string& scenario,
               const std::string& figure,
               double* best) {
    bool any = false;
    Better better = better_of(figure);
    for (const Column& peer : peers) {
        double v = 0;
        if (!number_of(find(peer.metrics, scenario, figure), &v) || v <= 0) continue;
        if (!any || (better == Better::kHigher ? v > *best : v < *best)) *best = v;
        any = true;
    }
    return any;
}

std::string format(const char* pattern, double a, double b = 0) {
    char text[96];
    std::snprintf(text, sizeof text, pattern, a, b);
    return text;
}

enum class Goal { kPeerAtLeast, kPeerAtMost, kOwnAtLeast, kCeilingShare, kBelow, kBackToIdle };

struct Target {
    const char* scenario;
    const char* figure;
    Goal goal;
    double factor;
    const char* other = "";  // the scenario of our own figure to compare with
};

const Target kTargets[] = {
    {"dl-512", "MB/s", Goal::kPeerAtLeast, 1.2},
    {"dl-512", "blocks/s", Goal::kCeilingShare, 0.7},
    {"dl-1468", "MB/s", Goal::kPeerAtLeast, 1.2},
    {"dl-1468", "blocks/s", Goal::kCeilingShare, 0.7},
    {"dl-1468-window", "MB/s", Goal::kOwnAtLeast, 1.6, "dl-1468"},
    {"dl-65464", "MB/s", Goal::kPeerAtLeast, 1.1},
    {"dl-1428-w8", "MB/s", Goal::kPeerAtLeast, 1.2},
    {"dl-1428-w8", "MB/s", Goal::kOwnAtLeast, 2.0, "dl-1468"},
    {"lossy-adaptive", "recovery ms", Goal::kBelow, 100},
    {"conc-100", "MB/s", Goal::kPeerAtLeast, 1.5},
    {"conc-100", "p99 s", Goal::kPeerAtMost, 1.0},
    {"small-seq", "req/s", Goal::kPeerAtLeast, 1.0},
    {"small-par8", "req/s", Goal::kPeerAtLeast, 1.0},
    {"upload", "MB/s", Goal::kPeerAtLeast, 1.2},
    {"memory", "peak RSS MiB", Goal::kBelow, 64},
    {"memory", "threads idle/peak/after", Goal::kBackToIdle, 0},
    {"memory", "fds idle/peak/after", Goal::kBackToIdle, 0},
};

// The lock-step bound when no ceiling was measured: one loopback round
// trip of about 18 microseconds per block.
constexpr double kRoundTripBound = 50000;

bool back_to_idle(const std::string* text) {
    int idle = 0, peak = 0, after = 0;
    return text && std::sscanf(text->c_str(), "%d/%d/%d", &idle, &peak, &after) == 3 &&
           after <= idle;
}

std::string verdict(bool met) { return met ? ": met" : ": MISSED"; }

std::string judge(const Target& t,
                  const Column& ours,
                  const std::vector<Column>& peers,
                  const Column* ceiling) {
    const std::string* text = find(ours.metrics, t.scenario, t.figure);
    double v = 0, other = 0;
    if (t.goal == Goal::kBackToIdle) return "back to idle" + verdict(back_to_idle(text));
    if (!number_of(text, &v)) return "";
    switch (t.goal) {
        case Goal::kPeerAtLeast:
            if (!best_peer(peers, t.scenario, t.figure, &other)) return "";
            return format(">=%.1fx best peer", t.factor) + verdict(v >= t.factor * other);
        case Goal::kPeerAtMost:
            if (!best_peer(peers, t.scenario, t.figure, &other)) return "";
            return format("<=%.1fx best peer", t.factor) + verdict(v <= t.factor * other);
        case Goal::kOwnAtLeast:
            if (!number_of(find(ours.metrics, t.other, t.figure), &other)) return "";
            return format(">=%.1fx own ", t.factor) + t.other + verdict(v >= t.factor * other);
        case Goal::kCeilingShare:
            if (!ceiling || !number_of(find(ceiling->metrics, t.scenario, t.figure), &other))
                other = kRoundTripBound;
            return format(">=%.0f%% of %.0f", t.factor * 100, other) +
                   verdict(v >= t.factor * other);
        case Goal::kBelow:
            return format("<%.0f", t.factor) + verdict(v < t.factor);
        case Goal::kBackToIdle:
            break;
    }
    return "";
}

using Row = std::vector<std::string>;

std::string format_row(const Row& row, const std::vector<std::size_t>& width) {
    std::string line(1, '|');
    for (std::size_t i = 0; i < row.size(); ++i)
        line += " " + row[i] + std::string(width[i] - row[i].size(), ' ') + " |";
    return line;
}

std::string rule(const std::vector<std::size_t>& width) {
    std::string line(1, '|');
    for (std::size_t w : width) line += std::string(w + 2, '-') + "|";
    return line;
}

void print_rows(const std::vector<Row>& rows) {
    std::vector<std::size_t> width;
    for (const Row& row : rows) {
        width.resize(std::max(width.size(), row.size()));
        for (std::size_t i = 0; i < row.size(); ++i) width[i] = std::max(width[i], row[i].size());
    }
    for (const Row& row : rows) {
        std::printf("%s\n", format_row(row, width).c_str());
        if (&row == &rows.front()) std::printf("%s\n", rule(width).c_str());
    }
}

}  // namespace

std::string target_text(const std::string& scenario,
                        const std::string& figure,
                        const Column& ours,
                        const std::vector<Column>& peers,
                        const Column* ceiling) {
    for (const Target& t : kTargets)
        if (scenario == t.scenario && figure == t.figure) return judge(t, ours, peers, ceiling);
    return "";
}

std::string ratio_text(const std::string& scenario,
                       const std::string& figure,
                       const Column& ours,
                       const std::vector<Column>& peers) {
    double v = 0, best = 0;
    if (better_of(figure) == Better::kNone) return "";
    if (!number_of(find(ours.metrics, scenario, figure), &v)) return "";
    if (!best_peer(peers, scenario, figure, &best)) return "";
    return format("%.2fx", v / best);
}

bool write_metrics(const Metrics& metrics, const std::string& path) {
    std::ofstream out(path, std::ios::app);
    for (const Metric& m : metrics) out << m.scenario << '\t' << m.name << '\t' << m.value << '\n';
    return static_cast<bool>(out);
}

bool read_metrics(const std::string& path, Metrics* metrics) {
    std::ifstream in(path);
    if (!in) return false;
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        Metric m;
        if (std::getline(fields, m.scenario, '\t') && std::getline(fields, m.name, '\t') &&
            std::getline(fields, m.value))
            metrics->push_back(m);
    }
    return true;
}

void print_table(const Column& ours, const std::vector<Column>& peers, const Column* ceiling) {
    Row header = {"scenario", "figure", ours.name};
    for (const Column& peer : peers) header.push_back(peer.name);
    if (ceiling) header.push_back(ceiling->name);
    header.insert(header.end(), {"vs best peer", "target"});
    std::vector<Row> rows = {header};
    std::vector<const Column*> all = {&ours};
    for (const Column& peer : peers) all.push_back(&peer);
    if (ceiling) all.push_back(ceiling);
    std::vector<std::pair<std::string, std::string>> keys;
    for (const Column* column : all)
        for (const Metric& m : column->metrics)
            if (std::find(keys.begin(), keys.end(), std::pair(m.scenario, m.name)) == keys.end())
                keys.emplace_back(m.scenario, m.name);
    // Rows of one scenario stay together, in the order scenarios first appear.
    std::map<std::string, std::size_t> order;
    for (const auto& key : keys) order.emplace(key.first, order.size());
    std::stable_sort(keys.begin(), keys.end(), [&order](const auto& a, const auto& b) {
        return order[a.first] < order[b.first];
    });
    for (const auto& [scenario, figure] : keys) {
        Row row = {scenario, figure};
        for (const Column* column : all) {
            const std::string* value = find(column->metrics, scenario, figure);
            row.push_back(value ? *value : "-");
        }
        row.push_back(ratio_text(scenario, figure, ours, peers));
        row.push_back(target_text(scenario, figure, ours, peers, ceiling));
        rows.push_back(row);
    }
    print_rows(rows);
}

}  // namespace bench
