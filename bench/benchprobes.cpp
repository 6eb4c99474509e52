#include "benchprobes.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <malloc.h>
#include <poll.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

long long MonotonicNs()
{
    timespec now {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

namespace {
long long statusField(const std::string& path, const std::string& key)
{
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        if (line.compare(0, key.size(), key) == 0 && line.size() > key.size() && line[key.size()] == ':')
            return std::stoll(line.substr(key.size() + 1));
    }
    return -1;
}
}

long long ResidentKiB()
{
    return statusField("/proc/self/status", "VmRSS");
}

long long HeapInUse()
{
    const struct mallinfo2 info = mallinfo2();
    return static_cast<long long>(info.uordblks + info.hblkhd);
}

std::map<int, ThreadSwitches> ThreadContextSwitches(pid_t pid)
{
    std::map<int, ThreadSwitches> threads;
    const std::string taskDir = "/proc/" + std::to_string(pid) + "/task";
    DIR* dir = opendir(taskDir.c_str());
    if (!dir)
        return threads;
    while (dirent* entry = readdir(dir)) {
        if (entry->d_name[0] == '.')
            continue;
        const std::string base = taskDir + "/" + entry->d_name;
        ThreadSwitches t;
        std::ifstream comm(base + "/comm");
        std::getline(comm, t.name);
        t.voluntary = statusField(base + "/status", "voluntary_ctxt_switches");
        t.involuntary = statusField(base + "/status", "nonvoluntary_ctxt_switches");
        if (t.voluntary >= 0 && t.involuntary >= 0)
            threads[atoi(entry->d_name)] = t;
    }
    closedir(dir);
    return threads;
}

XvfbServer::~XvfbServer()
{
    if (m_pid > 0) {
        kill(m_pid, SIGTERM);
        waitpid(m_pid, nullptr, 0);
    }
}

bool XvfbServer::start(std::string* error)
{
    int fds[2];
    if (pipe(fds) != 0) {
        *error = std::string("pipe: ") + strerror(errno);
        return false;
    }
    const pid_t pid = fork();
    if (pid < 0) {
        *error = std::string("fork: ") + strerror(errno);
        return false;
    }
    if (pid == 0) {
        close(fds[0]);
        const int null = open("/dev/null", O_WRONLY);
        if (null >= 0) {
            dup2(null, STDOUT_FILENO);
            dup2(null, STDERR_FILENO);
        }
        // -displayfd: Xvfb picks a free display and writes its number to that descriptor.
        const std::string fd = std::to_string(fds[1]);
        execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-noreset", "-nolisten", "tcp", "-screen", "0",
            "1400x700x24", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    m_pid = pid;
    std::string number;
    pollfd p { fds[0], POLLIN, 0 };
    while (number.find('\n') == std::string::npos && poll(&p, 1, 20000) > 0) {
        char buf[32];
        const ssize_t n = read(fds[0], buf, sizeof(buf));
        if (n <= 0)
            break;
        number.append(buf, static_cast<size_t>(n));
    }
    close(fds[0]);
    const size_t end = number.find('\n');
    if (end == std::string::npos || end == 0) {
        *error = "Xvfb did not report a display (package xvfb)";
        return false;
    }
    m_display = ":" + number.substr(0, end);
    return true;
}
