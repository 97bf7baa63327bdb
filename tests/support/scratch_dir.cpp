#include "scratch_dir.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <system_error>

namespace tolvar::testing {

namespace fs = std::filesystem;

ScratchDir::ScratchDir() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern =
        std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/tolvar-test-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr)
        throw fs::filesystem_error("mkdtemp", pattern,
                                   std::error_code(errno, std::generic_category()));
    root = pattern;
}

ScratchDir::~ScratchDir() {
    // Tests lock folders and files; open them up again so that everything can go.
    std::error_code ignored;
    fs::permissions(root, fs::perms::owner_all, fs::perm_options::add, ignored);
    for (auto it = fs::recursive_directory_iterator(root, ignored);
         it != fs::recursive_directory_iterator(); it.increment(ignored))
        if (!it->is_symlink(ignored))
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(root, ignored);
}

namespace {

// Every test process keeps its runs' journals in a state folder of its own, so that tests run
// side by side never settle each other's leftovers and a user's own state stays untouched.
struct PrivateStateFolder {
    ScratchDir folder;
    PrivateStateFolder() { ::setenv("XDG_STATE_HOME", folder.path().c_str(), 1); }
};

const PrivateStateFolder privateState;

} // namespace

ScopedStateFolder::ScopedStateFolder() {
    if (const char* was = std::getenv("XDG_STATE_HOME"))
        previous = was;
    ::setenv("XDG_STATE_HOME", folder.path().c_str(), 1);
}

ScopedStateFolder::~ScopedStateFolder() {
    if (previous)
        ::setenv("XDG_STATE_HOME", previous->c_str(), 1);
    else
        ::unsetenv("XDG_STATE_HOME");
}

std::vector<std::string> ScratchDir::listing() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::recursive_directory_iterator(root))
        names.push_back(fs::relative(entry.path(), root).string());
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace tolvar::testing
