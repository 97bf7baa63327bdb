#pragma once

#include "scratch_dir.h"

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tolvar::fuzz {

// The decimal number at the start of a three-byte header field, read independently of the
// engine: leading blanks, one optional sign, then digits; 0 when no digit follows.
int referenceFieldNumber(std::string_view field);

// Runs the header helpers (PartHeader::parse and build, isPart, PartFileName, nameTailOf,
// partBaseName) on arbitrary bytes and checks them against an independent reading of the
// format. The first 16 bytes (zero-padded) are the header, the rest serves as a path.
// Returns one line per property that failed; empty when every property holds.
std::vector<std::string> checkHeaderBytes(std::span<const std::uint8_t> data);

// Builds a part set from arbitrary bytes in a fresh scratch folder, assembles it with a box
// that answers Yes to the confirmation, and checks what the user saw and what is on disk.
//
// Input layout (bytes past the end read as 0):
//   flags        bit 0: answer Yes to the delete question
//                bits 1-2: prefix: 0 none, 1 "<scratch>/out.", 2 "<scratch>/missing/out."
//                          (a folder that does not exist), 3 "<scratch>/./"
//                bit 3: parts are named "000", "001", ... (base is the scratch folder
//                       itself) instead of "set.000", "set.001", ...
//                bit 4: a file of the output's name exists beforehand
//                bit 5: the output's name is a symbolic link to a file outside the scratch
//                bit 6: the chosen file is the second one ("set.001"), not the first
//                bit 7: the output's name is a hard link to the chosen file
//   files        number of part files written, modulo 9
//   per part     kind: bits 0-1: 0 built header, 1 raw header, 2 missing, 3 folder;
//                      bit 2: truncate; bit 3: large pattern-filled payload
//                built header: index byte (>= 0xF0: index byte - 0xF0, else the part's own
//                      position), count byte (0xFF: 999, else modulo 10), 3 tail bytes
//                raw header: 16 bytes
//                payload: length byte; large: length * 211 pattern bytes, else that many
//                      input bytes
//                truncate: one byte; the file is cut to (byte modulo 17) bytes
//
// The scratch folder lies inside a sentinel folder (holding the symbolic link's target)
// inside a private root; neither may change, and the descriptor count must be unchanged.
class AssemblyHarness {
public:
    // Creates the private root under $TMPDIR (or /tmp), removed with the harness. Throws if
    // it cannot.
    AssemblyHarness();
    ~AssemblyHarness();
    AssemblyHarness(const AssemblyHarness&) = delete;
    AssemblyHarness& operator=(const AssemblyHarness&) = delete;

    // One run; returns one line per violated property, empty when all hold.
    std::vector<std::string> run(std::span<const std::uint8_t> data);

private:
    testing::ScratchDir root;
    std::filesystem::path sentinel;
    std::filesystem::path scratch;
};

} // namespace tolvar::fuzz
