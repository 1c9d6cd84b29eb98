#pragma once

#include <sys/types.h>

#include <vector>

// Process figures from /proc, for the benchmarks.
long long monotonicNs();
// Peak resident set of a process, kB.
long long peakRssKb(pid_t pid);
// Resident set of a process now, kB.
long long rssKb(pid_t pid);
// Proportional set size of a process, kB: its share of the pages it shares with others.
long long pssKb(pid_t pid);
// Every process descended from pid.
std::vector<pid_t> descendants(pid_t pid);
