#include "join_script.h"

#include "failure.h"
#include "part_header.h"

#include <algorithm>
#include <map>

namespace tolvar {

namespace {

constexpr std::string_view kSignature = "#!/bin/sh\n# Join script written by Tolvar Files Splitter";

// The one template. {{NAME}} marks are filled in by formatJoinScript: the ones in comments with
// names shown as `ls -b` shows them, so no name can end a comment line; the ones in code as
// single-quoted words, which hold any byte but NUL.
constexpr std::string_view kTemplate = R"sh(#!/bin/sh
# Join script written by Tolvar Files Splitter, for {{SHOWN_OUT}}.
#
# It rebuilds {{SHOWN_OUT}} from its broken files, {{SHOWN_FIRST}} to {{SHOWN_LAST}},
# for whoever does not have Tolvar Files Splitter. Keep it in the folder that holds the
# broken files and run it with:
#
#     sh {{SHOWN_SCRIPT}}
#
# Before it writes anything it checks that every broken file is there and, when sha256sum
# or shasum is installed, that each one is as {{SHOWN_SUMS}} lists it. It never
# replaces a file: if {{SHOWN_OUT}} already exists it says so and stops. On Windows, run it
# with busybox for Windows: busybox sh {{SHOWN_SCRIPT}}

out={{OUT}}
base={{BASE}}
count={{COUNT}}
sums={{SUMS}}
whole={{WHOLE}}

say() { printf '%s\n' "$*" >&2; }
stop() { say "$@" 'Nothing was written.'; exit 1; }
fail() { rm -f "$tmp"; stop "$@"; }

case $0 in */*) cd "${0%/*}" || exit 1 ;; esac

if command -v sha256sum >/dev/null 2>&1; then
    digest() { sha256sum <"$1"; }
elif command -v shasum >/dev/null 2>&1; then
    digest() { shasum -a 256 <"$1"; }
else
    digest() { :; }
    say 'Neither sha256sum nor shasum is installed: the broken files cannot be checked.'
fi
if [ -n "$(digest /dev/null)" ] && [ ! -f "$sums" ]; then
    stop "$sums is missing, so the broken files cannot be checked: ask the sender for it again."
fi

i=0
while [ "$i" -lt "$count" ]; do
    part=$base$(printf '%03d' "$i")
    [ -f "$part" ] || stop "$part is missing: ask the sender for it again."
    d=$(digest "$part")
    if [ -n "$d" ]; then
        found=
        while IFS= read -r line; do
            [ "$line" = "${d%% *}  $part" ] && found=1
        done <"$sums"
        [ -n "$found" ] || stop "$part is damaged: ask the sender for it again."
    fi
    i=$((i + 1))
done
if [ -e "$out" ] || [ -L "$out" ]; then
    stop "$out already exists: move it away, then run this script again."
fi

tmp=.$out.$$.joining
trap 'rm -f "$tmp"; exit 1' HUP INT TERM
(set -C && : >"$tmp") 2>/dev/null || stop "Cannot create $tmp in this folder."
i=0
while [ "$i" -lt "$count" ]; do
    part=$base$(printf '%03d' "$i")
    tail -c +17 "$part" >>"$tmp" || fail "Cannot read $part or write $tmp."
    i=$((i + 1))
done
d=$(digest "$tmp")
if [ -n "$d" ] && [ "${d%% *}" != "$whole" ]; then
    fail "The joined file does not match the original's checksum: ask the sender for the set again."
fi
# A hard link never replaces a file; where the disk has none (FAT), mv does the naming.
if ln "$tmp" "$out" 2>/dev/null; then
    rm -f "$tmp"
elif [ -e "$out" ] || [ -L "$out" ]; then
    fail "$out already exists: move it away, then run this script again."
else
    mv "$tmp" "$out" || fail "Cannot name the joined file $out."
fi
say "$out is rebuilt."
)sh";

std::string shellWord(std::string_view text) {
    std::string word = "'";
    for (const char c : text) {
        if (c == '\'')
            word += "'\\''";
        else
            word += c;
    }
    return word + "'";
}

// A name for a comment: the word to type when it holds no control character, else as `ls -b`
// shows it, so that no name ends a comment line.
std::string shown(std::string_view text) {
    const std::string display = escapedForDisplay(text);
    return display == text ? shellWord(text) : "'" + display + "'";
}

// The template with each {{NAME}} mark replaced, in one pass: a value is never read for marks.
std::string filled(const std::map<std::string_view, std::string>& values) {
    std::string text;
    std::size_t at = 0;
    while (at < kTemplate.size()) {
        const std::size_t open = kTemplate.find("{{", at);
        const std::size_t close =
            open == std::string_view::npos ? open : kTemplate.find("}}", open + 2);
        if (close == std::string_view::npos)
            break;
        text.append(kTemplate.substr(at, open - at));
        text += values.at(kTemplate.substr(open + 2, close - open - 2));
        at = close + 2;
    }
    text.append(kTemplate.substr(std::min(at, kTemplate.size())));
    return text;
}

} // namespace

std::string joinScriptPath(std::string_view base) {
    return std::string(base) + std::string(kJoinScriptSuffix);
}

std::string formatJoinScript(const JoinScriptSet& set) {
    return filled({
        {"SHOWN_OUT", shown(set.output)},
        {"SHOWN_FIRST", shown(PartFileName(set.partBase, 0))},
        {"SHOWN_LAST", shown(PartFileName(set.partBase, set.partCount - 1))},
        {"SHOWN_SUMS", shown(set.checksumFile)},
        {"SHOWN_SCRIPT", shown(joinScriptPath(set.partBase))},
        {"OUT", shellWord(set.output)},
        {"BASE", shellWord(set.partBase)},
        {"COUNT", std::to_string(set.partCount)},
        {"SUMS", shellWord(set.checksumFile)},
        {"WHOLE", toHex(set.wholeDigest)},
    });
}

bool isJoinScriptText(std::string_view text) {
    return text.starts_with(kSignature);
}

} // namespace tolvar
