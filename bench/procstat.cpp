#include "procstat.h"

#include <dirent.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <string>

long long monotonicNs()
{
    timespec now {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1000000000LL + now.tv_nsec;
}

static long long fieldKb(const std::string& path, const char* field)
{
    FILE* file = std::fopen(path.c_str(), "r");
    if (!file)
        return 0;
    char line[256];
    long long total = 0;
    const size_t length = std::strlen(field);
    while (std::fgets(line, sizeof line, file)) {
        if (std::strncmp(line, field, length) == 0)
            total += std::atoll(line + length);
    }
    std::fclose(file);
    return total;
}

long long peakRssKb(pid_t pid)
{
    return fieldKb("/proc/" + std::to_string(pid) + "/status", "VmHWM:");
}

long long rssKb(pid_t pid)
{
    return fieldKb("/proc/" + std::to_string(pid) + "/status", "VmRSS:");
}

long long pssKb(pid_t pid)
{
    return fieldKb("/proc/" + std::to_string(pid) + "/smaps_rollup", "Pss:");
}

std::vector<pid_t> descendants(pid_t pid)
{
    std::multimap<pid_t, pid_t> children;
    if (DIR* proc = opendir("/proc")) {
        while (dirent* entry = readdir(proc)) {
            const pid_t child = std::atoi(entry->d_name);
            if (child <= 0)
                continue;
            FILE* file = std::fopen(("/proc/" + std::to_string(child) + "/stat").c_str(), "r");
            if (!file)
                continue;
            char buffer[512] = {};
            const size_t n = std::fread(buffer, 1, sizeof buffer - 1, file);
            std::fclose(file);
            // The parent follows the command name, which is in parentheses and may hold spaces.
            const char* close = std::strrchr(buffer, ')');
            if (n == 0 || !close)
                continue;
            char state = 0;
            int parent = 0;
            if (std::sscanf(close + 1, " %c %d", &state, &parent) == 2)
                children.emplace(pid_t(parent), child);
        }
        closedir(proc);
    }
    std::vector<pid_t> found;
    std::vector<pid_t> pending {pid};
    while (!pending.empty()) {
        const pid_t next = pending.back();
        pending.pop_back();
        const auto [from, to] = children.equal_range(next);
        for (auto it = from; it != to; ++it) {
            found.push_back(it->second);
            pending.push_back(it->second);
        }
    }
    return found;
}
