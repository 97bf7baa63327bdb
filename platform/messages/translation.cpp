#include "translation.h"

#include <clocale>
#include <libintl.h>
#include <string>
#include <unistd.h>

namespace tolvar {

const char* _(const char* msgid) {
    return dgettext(kTextDomain, msgid);
}

namespace {

// The folder of the running program, from the kernel rather than argv[0], which a caller sets.
std::string programFolder(const char* programPath) {
    std::string path(4096, '\0');
    const ssize_t length = ::readlink("/proc/self/exe", path.data(), path.size());
    path = length > 0 ? path.substr(0, static_cast<std::size_t>(length))
                      : std::string(programPath != nullptr ? programPath : "");
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

} // namespace

void startTranslations(const char* programPath) {
    // Installed, the program is in bin/ and the catalogues in share/locale; built, the same
    // layout holds inside the build folder.
    startTranslationsIn(programFolder(programPath) + "/../share/locale");
}

void startTranslationsIn(const std::string& catalogues) {
    std::setlocale(LC_MESSAGES, "");
    bindtextdomain(kTextDomain, catalogues.c_str());
    // The texts are UTF-8 whatever the locale's character set, as names are shown.
    bind_textdomain_codeset(kTextDomain, "UTF-8");
}

} // namespace tolvar
