#include "options.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>

#include <cjson/cJSON.h>

const char* const kDevsimUsage
    = "usage: devsim [options]\n"
      "  --count N              devices to simulate (1..1000, default 1)\n"
      "  --base-ip A.B.C.D      device k (from 1) gets base + k (default 192.168.1.100)\n"
      "  --sn-prefix TEXT       serial numbers TEXT0001... (default SN)\n"
      "  --identities FILE      a JSON array of {\"sn\":...,\"name\":...}: device k takes the\n"
      "                         k-th entry's serial number and name, where it gives them\n"
      "  --no-libver[=LIST]     no \"libver\" in the replies of all or the listed devices\n"
      "  --announce-only=LIST   these devices answer only the announcement query\n"
      "  --ignore-set[=LIST]    all or the listed devices ignore set-network commands\n"
      "  --jitter-ms N          delay each answer by a random 0..N ms\n"
      "  --announce-every SEC   every device announces itself at this period\n"
      "  --garbage              mix malformed frames into every answer burst\n"
      "  --flood RATE           send about RATE replies and RATE announcements per second\n"
      "  --burst N              answer each discovery request with N distinct replies (devices\n"
      "                         1..N, up to 100000) sent back to back\n"
      "  --paced RATE           answer a discovery request with RATE distinct replies per second\n"
      "  --paced-for SEC        for SEC seconds (needs both; at most 200000 replies a run;\n"
      "                         a request during a run is ignored)\n"
      "  --duration SEC         exit after SEC seconds (0: on SIGTERM/SIGINT only)\n"
      "  --verbose              log sends on stderr\n"
      "LIST is a comma-separated list of 1-based device numbers.\n"
      "SIGUSR1 silences every device (nothing is sent, received datagrams are still reported);\n"
      "SIGUSR2 lets them speak again.\n"
      "After each burst or paced run it prints {\"sent\":N,\"first\":T,\"last\":T}, T being the\n"
      "CLOCK_MONOTONIC time in nanoseconds of the first and the last send.\n";

namespace {

bool parseInt(const std::string& text, long min, long max, long* out)
{
    if (text.empty())
        return false;
    char* end = nullptr;
    errno = 0;
    const long value = strtol(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || value < min || value > max)
        return false;
    *out = value;
    return true;
}

bool parseSeconds(const std::string& text, double* out)
{
    if (text.empty())
        return false;
    char* end = nullptr;
    errno = 0;
    const double value = strtod(text.c_str(), &end);
    if (errno != 0 || *end != '\0' || !std::isfinite(value) || value < 0 || value > 1e6)
        return false;
    *out = value;
    return true;
}

bool parseList(const std::string& text, std::set<int>* out)
{
    size_t start = 0;
    for (;;) {
        const size_t comma = text.find(',', start);
        long number = 0;
        if (!parseInt(text.substr(start, comma - start), 1, 1000, &number))
            return false;
        out->insert(static_cast<int>(number));
        if (comma == std::string::npos)
            return true;
        start = comma + 1;
    }
}

// The identities of a JSON file: an array of objects, each with an optional string "sn"
// and "name".
bool readIdentities(const std::string& path, std::vector<SimIdentity>* out)
{
    std::ifstream in(path, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::unique_ptr<cJSON, void (*)(cJSON*)> root(cJSON_Parse(text.c_str()), &cJSON_Delete);
    if (!root || !cJSON_IsArray(root.get()))
        return false;
    const cJSON* item = nullptr;
    cJSON_ArrayForEach(item, root.get())
    {
        SimIdentity identity;
        for (auto [key, field] : { std::pair { "sn", &identity.sn }, std::pair { "name", &identity.name } }) {
            const cJSON* value = cJSON_GetObjectItemCaseSensitive(item, key);
            if (value && !cJSON_IsString(value))
                return false;
            if (value)
                *field = value->valuestring;
        }
        out->push_back(identity);
    }
    return true;
}

// One option of the command line: its name, and its value after "=" or, when it takes one,
// in the next argument. Each method returns false with the reason in *error.
class OptionReader {
public:
    OptionReader(int argc, char** argv, int* i, std::string* error)
        : name(argv[*i])
        , m_argc(argc)
        , m_argv(argv)
        , m_i(i)
        , m_error(error)
    {
        const size_t eq = name.find('=');
        if (name.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = name.substr(eq + 1);
            name.resize(eq);
            hasValue = true;
        }
    }

    bool flag()
    {
        if (hasValue)
            *m_error = name + " takes no value";
        return !hasValue;
    }
    bool take()
    {
        if (hasValue)
            return true;
        if (*m_i + 1 >= m_argc) {
            *m_error = name + " needs a value";
            return false;
        }
        value = m_argv[++*m_i];
        return true;
    }
    bool bad()
    {
        *m_error = "bad value for " + name + ": '" + value + "'";
        return false;
    }
    // A whole number from min to max.
    bool takeInt(long min, long max, int* field)
    {
        long number = 0;
        if (!take())
            return false;
        if (!parseInt(value, min, max, &number))
            return bad();
        *field = static_cast<int>(number);
        return true;
    }
    // Seconds, or a rate, that also fits.
    template <typename Fits> bool takeSeconds(double* field, Fits fits)
    {
        if (!take())
            return false;
        if (!parseSeconds(value, field) || !fits(*field))
            return bad();
        return true;
    }

    std::string name;
    std::string value;
    bool hasValue = false;

private:
    int m_argc;
    char** m_argv;
    int* m_i;
    std::string* m_error;
};

// What no single option can check: the lists against the count, the options that go
// together or exclude each other, and the addresses the devices would need.
bool checkTogether(const DevsimOptions& o, std::string* error)
{
    for (const std::set<int>* list : { &o.noLibver, &o.announceOnly, &o.ignoreSet }) {
        if (!list->empty() && *list->rbegin() > o.count) {
            *error = "device " + std::to_string(*list->rbegin()) + " in a list, but only "
                + std::to_string(o.count) + " simulated";
            return false;
        }
    }
    if (o.identities.size() > static_cast<size_t>(o.count)) {
        *error = std::to_string(o.identities.size()) + " identities, but only " + std::to_string(o.count)
            + " simulated";
        return false;
    }
    if ((o.pacedRate > 0) != (o.pacedFor > 0)) {
        *error = "--paced and --paced-for go together";
        return false;
    }
    if (o.pacedRate > 0 && o.burst > 0) {
        *error = "--burst and --paced exclude each other";
        return false;
    }
    if (PacedTotal(o) > kMaxPaced) {
        *error = "--paced RATE times --paced-for SEC is over " + std::to_string(kMaxPaced) + " replies";
        return false;
    }
    const uint64_t numbered = std::max<uint64_t>({ static_cast<uint64_t>(o.count),
        static_cast<uint64_t>(o.burst), static_cast<uint64_t>(PacedTotal(o)) });
    if (static_cast<uint64_t>(o.baseIp) + numbered > 0xFFFFFFFFull) {
        *error = "--base-ip plus the number of devices runs past 255.255.255.255";
        return false;
    }
    return true;
}

} // namespace

long long PacedTotal(const DevsimOptions& options)
{
    if (options.pacedRate <= 0)
        return 0;
    return std::llround(options.pacedRate * options.pacedFor);
}

bool ParseDevsimOptions(int argc, char** argv, DevsimOptions* out, std::string* error)
{
    auto positive = [](double v) { return v > 0; };
    auto rate = [](double v) { return v > 0 && v <= 100000; };
    DevsimOptions o;
    for (int i = 1; i < argc; ++i) {
        OptionReader r(argc, argv, &i, error);
        bool ok = true;
        if (r.name == "--help" || r.name == "-h") {
            ok = r.flag();
            o.help = true;
        } else if (r.name == "--count") {
            ok = r.takeInt(1, 1000, &o.count);
        } else if (r.name == "--base-ip") {
            in_addr addr {};
            ok = r.take() && (inet_pton(AF_INET, r.value.c_str(), &addr) == 1 || r.bad());
            o.baseIp = ntohl(addr.s_addr);
        } else if (r.name == "--sn-prefix") {
            ok = r.take() && (r.value.size() <= 64 || r.bad());
            o.snPrefix = r.value;
        } else if (r.name == "--identities") {
            ok = r.take() && (readIdentities(r.value, &o.identities) || r.bad());
        } else if (r.name == "--no-libver") {
            // The list is optional, so it can only come after "=".
            if (!r.hasValue)
                o.noLibverAll = true;
            else
                ok = parseList(r.value, &o.noLibver) || r.bad();
        } else if (r.name == "--ignore-set") {
            if (!r.hasValue)
                o.ignoreSetAll = true;
            else
                ok = parseList(r.value, &o.ignoreSet) || r.bad();
        } else if (r.name == "--announce-only") {
            ok = r.take() && (parseList(r.value, &o.announceOnly) || r.bad());
        } else if (r.name == "--jitter-ms") {
            ok = r.takeInt(0, 60000, &o.jitterMs);
        } else if (r.name == "--announce-every") {
            ok = r.takeSeconds(&o.announceEvery, [](double v) { return v >= 0.001; });
        } else if (r.name == "--garbage") {
            ok = r.flag();
            o.garbage = true;
        } else if (r.name == "--flood") {
            ok = r.takeSeconds(&o.floodRate, rate);
        } else if (r.name == "--burst") {
            ok = r.takeInt(1, kMaxBurst, &o.burst);
        } else if (r.name == "--paced") {
            ok = r.takeSeconds(&o.pacedRate, rate);
        } else if (r.name == "--paced-for") {
            ok = r.takeSeconds(&o.pacedFor, positive);
        } else if (r.name == "--duration") {
            ok = r.takeSeconds(&o.duration, [](double) { return true; });
        } else if (r.name == "--verbose") {
            ok = r.flag();
            o.verbose = true;
        } else {
            *error = "unknown option '" + std::string(argv[i]) + "'";
            return false;
        }
        if (!ok)
            return false;
    }

    if (!checkTogether(o, error))
        return false;
    *out = o;
    return true;
}
