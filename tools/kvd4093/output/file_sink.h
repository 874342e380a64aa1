// The end every file format shares. A run that acquired nothing leaves
// whatever was at the path as it was; any other run marks the file as one to
// keep, closes it, lets the format complete it (its header's counts, an
// archive, the library's own file) and gives it its name, once. A format
// whose file cannot be completed after a failed write says so, and the file
// is not kept (staged_path.h); the others keep the whole blocks written.
#pragma once

#include <exception>
#include <string>

#include "output/output_file.h"
#include "output/sample_sink.h"

namespace kvd::tool {

class FileSink : public SampleSink {
public:
    void finish(const AcquisitionOutcome &outcome) final;

protected:
    explicit FileSink(std::string path) : file_(std::move(path)) {}

    OutputFile &file() { return file_; }
    const OutputFile &file() const { return file_; }

    // Waits for writes still under way; their failure, to be thrown once the
    // file is finished as far as it can be.
    virtual std::exception_ptr settle() { return nullptr; }
    // False when what was written can no longer make a file.
    virtual bool completable() const { return true; }
    // Completes the closed file before it takes its name: the format's own
    // header patch.
    virtual void complete() {}
    // Writes what goes beside the file once it has its name (a sidecar).
    virtual void completeBeside() {}

private:
    void keep();

    OutputFile file_;
};

} // namespace kvd::tool
