#include "pollable_node.h"

#include <cerrno>
#include <fcntl.h>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace kvd::usbsim {
namespace {

// A pipe holds whole pages; a page read out of a full pipe makes it writable.
size_t pageSize() { return size_t(::sysconf(_SC_PAGESIZE)); }

} // namespace

PollableNode::PollableNode(const std::string &path) : page_(pageSize()) {
    ::unlink(path.c_str());
    if (::mkfifo(path.c_str(), 0666) != 0 || (fd_ = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC)) < 0)
        throw std::runtime_error("cannot make the device file " + path + " a FIFO");
    ::chmod(path.c_str(), 0666);
    setReady(false);
}

PollableNode::~PollableNode() {
    if (fd_ >= 0)
        ::close(fd_);
}

void PollableNode::fill() {
    while (::write(fd_, page_.data(), page_.size()) > 0) {
    }
}

void PollableNode::setReady(bool ready) {
    if (ready == ready_)
        return;
    ready_ = ready;
    if (!ready) {
        fill();
        return;
    }
    while (::read(fd_, page_.data(), page_.size()) < 0 && errno == EINTR) {
    }
}

} // namespace kvd::usbsim
