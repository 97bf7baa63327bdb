#include "output_prefix.h"

#include "options.h"
#include "path_parts.h"

#include <sys/stat.h>

namespace tolvar::cli {

std::string enginePrefix(std::string_view prefix, std::string_view namedAfter, FileSystem& fs) {
    struct stat st {};
    const bool folder =
        !prefix.empty() &&
        (prefix.back() == '/' || (fs.stat(std::string(prefix), &st) == 0 && S_ISDIR(st.st_mode)));
    if (!folder)
        return prefixWithDot(prefix);
    std::string name = fileNameOf(namedAfter);
    name.resize(name.size() >= 3 ? name.size() - 3 : 0);
    std::string result(prefix);
    if (result.back() != '/')
        result += '/';
    return result + name;
}

} // namespace tolvar::cli
