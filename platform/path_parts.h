#pragma once

#include <string>
#include <string_view>

// Paths are split at their last '/' as written, not through std::filesystem, whose parent_path
// gives "" for "b" (a folder must come back as ".") and "a" for "a//b".
namespace tolvar {

// The last path component: "a/b/movie.000" -> "movie.000", "a/" -> "", "movie" -> "movie".
inline std::string fileNameOf(std::string_view path) {
    const auto slash = path.rfind('/');
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

// The folder part of a path: "a/b" -> "a", "/b" -> "/", "b" -> ".".
inline std::string folderOf(std::string_view path) {
    const auto slash = path.rfind('/');
    if (slash == std::string_view::npos)
        return ".";
    if (slash == 0)
        return "/";
    return std::string(path.substr(0, slash));
}

// The path of name inside folder ("/" gets no second slash).
inline std::string pathIn(const std::string& folder, const std::string& name) {
    return folder == "/" ? "/" + name : folder + "/" + name;
}

} // namespace tolvar
