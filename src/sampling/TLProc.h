#pragma once
#include "os/TLAppIdentity.h"

#include <cstdint>
#include <memory>
#include <string>

// One process of a process sample. Created fresh by every sample and never changed afterwards.
struct TLProc {
    int32_t pid = 0;
    std::string name;         // UTF-8, never empty
    uint64_t memory = 0;      // bytes
    double cpu = 0;           // percent of one core over the last interval
    double energy = 0;        // cpu + 0.35 x idle wakeups per second
    bool approximate = false; // numbers taken from ps
    // When the process started, in the kernel's units: with the pid, it tells this process from a
    // later one that reuses the pid. 0 when unknown (approximate records).
    uint64_t startTime = 0;
    // The application it belongs to, shared by the processes of one application; null when not
    // known (a record from ps), and then the process is an application of its own name.
    std::shared_ptr<const TLAppIdentity> app = nullptr;
};
