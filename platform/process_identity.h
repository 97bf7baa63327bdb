#pragma once

#include <cstdint>
#include <string>
#include <sys/types.h>

namespace tolvar {

// Who a running process is, in terms that stay true when its number is reused: the host, the
// boot, the PID namespace, the number and the moment the process started. A number alone names
// another process once the first one ends, and means nothing in another namespace or on
// another host sharing the same home folder.
struct ProcessIdentity {
    std::string host;
    std::string boot;         // /proc/sys/kernel/random/boot_id
    std::string pidNamespace; // the target of /proc/self/ns/pid, "pid:[4026531836]"
    pid_t pid = 0;
    std::uint64_t startTime = 0; // clock ticks after boot, from /proc/<pid>/stat

    friend bool operator==(const ProcessIdentity&, const ProcessIdentity&) = default;
};

// This process. Parts that cannot be read stay empty, which makes the identity one that no
// later run can judge (see livenessOf).
ProcessIdentity currentProcess();
// The process numbered pid as seen from here: this host, boot and namespace; a start time of
// 0 when there is no such process.
ProcessIdentity identityOf(pid_t pid);

enum class Liveness {
    Running, // the very process is still there
    Gone,    // certainly over: another boot, or its number is free or taken by a newer process
    Unknown, // another host or namespace, or something could not be read: leave its files
};

// Whether the process of a recorded identity still runs, seen from this process.
Liveness livenessOf(const ProcessIdentity& recorded);

} // namespace tolvar
