#pragma once

#include "join_plan.h"
#include "operations.h"
#include "progress.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tolvar {

// Makes a progress observer for one step of a longer job: reading (checking) or writing
// (rebuilding). Each step gets its own, so its dialog is gone before the next question.
using ProgressSource = std::function<std::unique_ptr<ProgressObserver>(bool writing)>;

// What the window settled before handing a set to the engine's assembly.
struct AssemblyCheck {
    bool proceed = false; // assemble: the user agreed to whatever was asked
    JoinPlan plan;        // the set as planned, for the engine to act on
    JoinOptions options;  // the user's answers
};

// The window's part of an assembly of the set whose first part is chosen, before the engine
// asks its own confirmation, through context's box and file layer, on one plan of the set:
//   - a chosen file that is no broken file is refused, naming it;
//   - a damaged checksum file: asks, No by default, whether to assemble without checking;
//   - without a usable checksum file, a file of the set that is no broken file is refused,
//     naming it;
//   - a rebuilt file that would replace an existing one: asks, No by default, naming it;
//   - a checksum file that lists recovery files: checks every file first, and if broken files
//     are damaged or missing asks, Yes by default, to rebuild them (naming them) and does so;
//     when the recovery files cannot rebuild them all, names them and stops.
// A set the engine would refuse for other reasons (not the first part, a file that cannot be
// read) is handed on unchanged, so the engine says why. Nothing is changed unless
// the user agreed to a rebuild.
AssemblyCheck prepareAssembly(const std::string& chosen, const std::string& prefix,
                              OperationContext& context, const ProgressSource& progress);

// The texts of these questions and refusals; the replace question is the engine's, which the
// command line asks too.
using messages::replaceQuestion;
// "The checksum file '/a/big.sha256' is damaged: <reason>, so the broken files cannot be
// checked against it.\nAssemble them without checking their contents?"
Message assembleUncheckedQuestion(const std::string& checksumPath, const std::string& reason);
// "'/a/big.002': damaged (altered)\n'/a/big.004': missing\nRebuild 'big.002' and 'big.004' from
// the recovery files and assemble?"
Message rebuildQuestion(const std::string& lines, const std::vector<std::string>& names);
// "Nothing was assembled: these files of the set are damaged or missing, and its recovery files
// cannot rebuild them all:\n'/a/big.002': damaged (altered)\n..."
std::string beyondRepairMessage(const std::string& lines);
// "This is not a split file.\n'/a/notes.000'"
std::string notSplitFileMessage(const std::string& path);
// "This is not a broken file.\n'/a/big.003'"
std::string notBrokenFileMessage(const std::string& path);

// "'a'", "'a' and 'b'", "'a', 'b' and 'c'".
std::string quotedList(const std::vector<std::string>& names);

} // namespace tolvar
