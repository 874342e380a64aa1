// What poll shows on an emulated card's device file. umockdev makes a USB
// device file a regular file, which poll always finds ready: a program that
// waits for its URBs in poll would never sleep there, and no signal could
// interrupt its wait as one does with the kernel's usbfs. The file becomes a
// FIFO instead, kept full (no POLLOUT) while no URB waits to be reaped and
// given room (POLLOUT) while one does.
#pragma once

#include <string>
#include <vector>

namespace kvd::usbsim {

class PollableNode {
public:
    // Puts a FIFO at path (the device file in the test bed), not ready.
    explicit PollableNode(const std::string &path);
    ~PollableNode();
    PollableNode(const PollableNode &) = delete;
    PollableNode &operator=(const PollableNode &) = delete;

    void setReady(bool ready);

private:
    void fill();

    std::vector<char> page_;
    int fd_ = -1;
    bool ready_ = true;
};

} // namespace kvd::usbsim
