#include "output/file_sink.h"

namespace kvd::tool {

void FileSink::finish(const AcquisitionOutcome &outcome) {
    const std::exception_ptr failure = settle();
    if (outcome.keepsFiles())
        keep();
    if (failure)
        std::rethrow_exception(failure);
}

void FileSink::keep() {
    file_.keepWanted();
    if (!completable())
        return; // not committed: the staged file goes, saying so
    file_.close();
    complete();
    file_.commit();
    completeBeside();
}

} // namespace kvd::tool
