#include "operation_tail.h"

#include <cerrno>

namespace tolvar::detail {

bool finishOperation(OperationContext& context, const Step& outcome, const char* question,
                     const std::vector<std::string>& kept, const std::function<Doomed()>& doomed) {
    if (!outcome || !outcome.value()) {
        if (!outcome)
            showFailureReport(context.box, outcome.failure());
        return false;
    }
    if (!context.box.ask(question))
        return true;
    // What is kept becomes the only copy: make sure it is on disk before anything goes.
    if (auto synced = syncToDisk(context.fs, kept); !synced) {
        showFailureReport(context.box, synced.failure());
        return false;
    }
    const Doomed names = doomed();
    if (!names) {
        showFailureReport(context.box, names.failure());
        return false;
    }
    if (!names.value())
        return false;
    for (const auto& name : *names.value()) {
        if (context.fs.unlink(name) != 0) {
            showFailureReport(context.box, fileFailure(errno, FileAction::Delete, name));
            return false;
        }
    }
    return true;
}

} // namespace tolvar::detail
