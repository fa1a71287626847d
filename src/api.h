// Library interface: the last-error text shared by every subsystem.
#ifndef INKVEIL_API_H
#define INKVEIL_API_H

#include <cstddef>

// The text of the calling thread's last failure; empty when none is pending.
// 1024 bytes, so a message is cut to its first 1023 bytes. One per thread, so
// that calls on several threads never see one another's messages.
constexpr std::size_t kErrorCapacity = 1024;
extern thread_local char g_err[kErrorCapacity];

// Formats the message of a failure into g_err, replacing the previous one.
// Called once by the function that detects the failure; callers above it pass
// the failure on without a message of their own.
void set_error(const char *format, ...) __attribute__((format(printf, 1, 2)));

// Empties g_err.
void clear_error();

// The system's text for an error number, as std::strerror gives it, made in
// a buffer of the caller's: std::strerror may share one among all threads.
struct SystemErrorText {
    char text[256];
};
SystemErrorText system_error_text(int err);

#endif
