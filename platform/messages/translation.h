#pragma once

// One translation pipeline for both front ends and the engine: gettext, whose library is part
// of the C library, so the engine stays free of Qt. English is the source text: where no
// catalogue matches the user's language, every text comes back as written.

#include <string>

namespace tolvar {

// The gettext domain of every text the program shows, and the name of its catalogue files.
inline constexpr const char* kTextDomain = "tolvar-files-splitter";

// Marks a text for translation where it is written, to be looked up later (tables).
#define N_(text) text

// The text in the user's language; msgid itself when there is no translation.
const char* _(const char* msgid);

// Takes the user's language from the locale (LANGUAGE, LC_ALL, LC_MESSAGES, LANG) and finds the
// catalogues in share/locale beside the program (installed or built). Only the messages
// category follows the locale: numbers are read and written the same everywhere. Called once,
// first thing in main; without it every text stays English.
void startTranslations(const char* programPath);
// The same with the catalogues in the given folder (LANG/LC_MESSAGES/...), for programs that run
// from elsewhere in the build, such as the window's preview.
void startTranslationsIn(const std::string& catalogues);

} // namespace tolvar
