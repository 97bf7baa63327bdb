#include "file_exists.h"

#include "path_parts.h"

#include <cerrno>
#include <sys/stat.h>
#include <vector>

namespace tolvar {

bool matchesWildcard(std::string_view pattern, std::string_view name) {
    // Iterative glob match with backtracking to the last "*": linear in practice and
    // immune to the exponential blow-up of the naive recursive form.
    std::size_t p = 0, n = 0;
    std::size_t starP = std::string_view::npos, starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == name[n])) {
            ++p;
            ++n;
        } else if (p < pattern.size() && pattern[p] == '*') {
            starP = p++;
            starN = n;
        } else if (starP != std::string_view::npos) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

namespace {

bool isOrdinaryFile(FileSystem& fileSystem, const std::string& path) {
    struct stat st {};
    return fileSystem.stat(path, &st) == 0 && S_ISREG(st.st_mode);
}

bool isHidden(std::string_view name) {
    return !name.empty() && name.front() == '.';
}

} // namespace

Result<bool> FileExists(const std::string& strPath, FileSystem& fileSystem) {
    if (strPath.empty())
        return false;
    const std::string pattern = fileNameOf(strPath);
    // What precedes the name, its slash included, so that folder + name is the file's path.
    const std::string folder = pattern.size() == strPath.size()
                                   ? "./"
                                   : strPath.substr(0, strPath.size() - pattern.size());
    if (pattern.empty() || isHidden(pattern))
        return false;

    if (pattern.find_first_of("*?") == std::string::npos)
        return isOrdinaryFile(fileSystem, strPath);

    std::vector<std::string> names;
    if (fileSystem.listFolder(folder, names) != 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            return false;
        return fileFailure(errno, FileAction::Search, folder);
    }
    for (const std::string& name : names) {
        if (isHidden(name) || !matchesWildcard(pattern, name))
            continue;
        if (isOrdinaryFile(fileSystem, folder + name))
            return true;
    }
    return false;
}

} // namespace tolvar
