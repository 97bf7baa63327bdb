#include "interrupted_runs.h"

#include "run_journal.h"

namespace tolvar {

std::vector<std::string> finishInterruptedRuns(FileSystem& fs) {
    return detail::finishInterruptedRuns(fs);
}

} // namespace tolvar
