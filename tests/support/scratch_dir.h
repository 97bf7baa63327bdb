#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tolvar::testing {

// A private folder for one test under $TMPDIR (or /tmp), removed with everything in it when
// the test ends, even where the test locked folders or files inside it.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::string& path() const { return root; }
    std::string path(std::string_view name) const { return root + "/" + std::string(name); }
    std::string operator/(std::string_view name) const { return path(name); }
    std::filesystem::path dir() const { return root; }

    // Every entry below the folder as a path relative to it, sorted, for "nothing changed"
    // checks.
    std::vector<std::string> listing() const;

private:
    std::string root;
};

// Points $XDG_STATE_HOME at a fresh folder of its own for as long as it lives, then back: the
// journals written meanwhile are neither settled by nor left to the runs that come after.
class ScopedStateFolder {
public:
    ScopedStateFolder();
    ~ScopedStateFolder();
    ScopedStateFolder(const ScopedStateFolder&) = delete;
    ScopedStateFolder& operator=(const ScopedStateFolder&) = delete;

    const ScratchDir& home() const { return folder; }

private:
    ScratchDir folder;
    std::optional<std::string> previous;
};

} // namespace tolvar::testing
