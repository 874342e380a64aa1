// The message service's seam: a capture installed by a test receives the
// original GBK bytes and the box never shows; otherwise the OS shows it.
#include <mutex>

#include "platform/platform.h"

namespace kvd::platform {
namespace {

std::mutex g_mutex;
MessageCapture g_capture = nullptr;
void *g_context = nullptr;

} // namespace

void setMessageCapture(MessageCapture capture, void *context) {
    std::lock_guard lock(g_mutex);
    g_capture = capture;
    g_context = context;
}

void showMessage(const char *text, const char *caption, uint32_t style) {
    MessageCapture capture;
    void *context;
    {
        std::lock_guard lock(g_mutex);
        capture = g_capture;
        context = g_context;
    }
    text = text ? text : "";
    caption = caption ? caption : "";
    if (capture != nullptr)
        capture(context, text, caption, style);
    else
        osShowMessage(text, caption, style);
}

} // namespace kvd::platform
