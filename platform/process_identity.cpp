#include "process_identity.h"

#include <fstream>
#include <iterator>
#include <sstream>
#include <unistd.h>

namespace tolvar {

namespace {

std::string firstLineOf(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

// Field 22 of /proc/<pid>/stat; 0 when the process is not there. The fields before it hold
// the command name in parentheses, which may itself contain spaces and parentheses, so the
// count starts after the last ')'.
std::uint64_t startTimeOf(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const auto close = text.rfind(')');
    if (close == std::string::npos)
        return 0;
    std::istringstream fields(text.substr(close + 1));
    std::string field;
    // After the name: state is field 3, start time field 22.
    for (int index = 3; index <= 22; ++index)
        if (!(fields >> field))
            return 0;
    try {
        return std::stoull(field);
    } catch (...) {
        return 0;
    }
}

std::string pidNamespace() {
    char target[128] = {};
    const ssize_t length = ::readlink("/proc/self/ns/pid", target, sizeof target - 1);
    return length > 0 ? std::string(target, static_cast<std::size_t>(length)) : std::string();
}

std::string hostName() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0)
        return {};
    return name;
}

} // namespace

ProcessIdentity identityOf(pid_t pid) {
    ProcessIdentity process;
    process.host = hostName();
    process.boot = firstLineOf("/proc/sys/kernel/random/boot_id");
    process.pidNamespace = pidNamespace();
    process.pid = pid;
    process.startTime = startTimeOf(pid);
    return process;
}

ProcessIdentity currentProcess() {
    return identityOf(::getpid());
}

Liveness livenessOf(const ProcessIdentity& recorded) {
    const ProcessIdentity self = identityOf(recorded.pid);
    if (recorded.host.empty() || self.host.empty() || recorded.host != self.host ||
        recorded.boot.empty() || self.boot.empty())
        return Liveness::Unknown;
    // A process of an earlier boot has ended, whatever its namespace was.
    if (recorded.boot != self.boot)
        return Liveness::Gone;
    if (recorded.pidNamespace.empty() || recorded.pidNamespace != self.pidNamespace ||
        recorded.pid <= 0 || recorded.startTime == 0)
        return Liveness::Unknown;
    return self.startTime == recorded.startTime ? Liveness::Running : Liveness::Gone;
}

} // namespace tolvar
