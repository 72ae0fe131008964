#include "bridge/Stream.h"

#include "bridge/Protocol.h"

#include <chrono>
#include <cstring>
#include <thread>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <atomic>
#include <cerrno>
#include <csignal>
#include <ctime>
#include <poll.h>
#include <unistd.h>
#endif

namespace bridge {

#ifndef _WIN32
namespace {
// Set when the program handles SIGPIPE itself, so writes must keep it away.
std::atomic<bool> g_maskBrokenPipes{false};
} // namespace
#endif

namespace {

// How long a reader polls its pipe before it blocks. A call and its answer
// follow each other within microseconds, but a process that blocked must be
// woken, which on a virtual machine's idle processor costs tens of
// microseconds a time, several times a row: polling first keeps both
// processes awake through a run, and then costs at most this much.
constexpr std::chrono::microseconds kPollBeforeBlocking{50};

// Returns once bytes (or the end of the stream) are there, or after the
// polling time. Nothing to gain with one processor: the writer cannot run
// while the reader polls.
void pollBriefly(NativeHandle handle)
{
    static const bool worthIt = std::thread::hardware_concurrency() > 1;
    if (!worthIt)
        return;
    const auto until = std::chrono::steady_clock::now() + kPollBeforeBlocking;
    do {
#ifdef _WIN32
        DWORD available = 0;
        if (!PeekNamedPipe(handle, nullptr, 0, nullptr, &available, nullptr) || available > 0)
            return;
#else
        pollfd ready{handle, POLLIN, 0};
        if (::poll(&ready, 1, 0) != 0)
            return;
#endif
    } while (std::chrono::steady_clock::now() < until);
}

} // namespace

bool InputStream::fill()
{
    if (m_start == m_end) {
        m_start = 0;
        m_end = 0;
    } else if (m_end == m_buffer.size()) {
        std::memmove(m_buffer.data(), m_buffer.data() + m_start, m_end - m_start);
        m_end -= m_start;
        m_start = 0;
    }
    const std::size_t room = m_buffer.size() - m_end;
    pollBriefly(m_handle);
#ifdef _WIN32
    DWORD got = 0;
    if (!ReadFile(m_handle, m_buffer.data() + m_end, static_cast<DWORD>(room), &got, nullptr) ||
        got == 0)
        return false;
#else
    ssize_t got = 0;
    do {
        got = ::read(m_handle, m_buffer.data() + m_end, room);
    } while (got < 0 && errno == EINTR);
    if (got <= 0)
        return false;
#endif
    m_end += static_cast<std::size_t>(got);
    return true;
}

bool InputStream::readExactly(char *bytes, std::size_t count, bool *atEnd)
{
    if (atEnd)
        *atEnd = false;
    std::size_t copied = 0;
    while (copied < count) {
        if (m_start == m_end && !fill()) {
            if (atEnd && copied == 0)
                *atEnd = true;
            return false;
        }
        const std::size_t take = std::min(count - copied, m_end - m_start);
        std::memcpy(bytes + copied, m_buffer.data() + m_start, take);
        m_start += take;
        copied += take;
    }
    return true;
}

void InputStream::wipeBuffer()
{
    // Bytes not yet consumed stay; everything before them goes.
    wipeBytes(m_buffer.data(), m_start);
    wipeBytes(m_buffer.data() + m_end, m_buffer.size() - m_end);
}

bool OutputStream::writeAll(const char *bytes, std::size_t count)
{
#ifdef _WIN32
    while (count > 0) {
        DWORD written = 0;
        if (!WriteFile(m_handle, bytes, static_cast<DWORD>(count), &written, nullptr))
            return false;
        bytes += written;
        count -= written;
    }
    return true;
#else
    // A reader that has gone away makes the write fail with EPIPE: SIGPIPE is
    // ignored, or, where the program handles it, held back in this thread for
    // the write and taken off again.
    sigset_t pipeOnly;
    sigset_t previous;
    const bool masking = g_maskBrokenPipes.load(std::memory_order_relaxed);
    if (masking) {
        sigemptyset(&pipeOnly);
        sigaddset(&pipeOnly, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipeOnly, &previous);
    }
    bool ok = true;
    while (count > 0) {
        const ssize_t written = ::write(m_handle, bytes, count);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            if (masking && errno == EPIPE) {
                const timespec none{0, 0};
                sigtimedwait(&pipeOnly, nullptr, &none);
            }
            ok = false;
            break;
        }
        bytes += written;
        count -= static_cast<std::size_t>(written);
    }
    if (masking)
        pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return ok;
#endif
}

void ignoreBrokenPipes()
{
#ifndef _WIN32
    struct sigaction current
    {};
    if (sigaction(SIGPIPE, nullptr, &current) != 0)
        return;
    const bool handled = (current.sa_flags & SA_SIGINFO) != 0 ||
                         (current.sa_handler != SIG_DFL && current.sa_handler != SIG_IGN);
    if (handled) {
        g_maskBrokenPipes.store(true, std::memory_order_relaxed);
    } else if (current.sa_handler == SIG_DFL) {
        struct sigaction ignore
        {};
        ignore.sa_handler = SIG_IGN;
        sigemptyset(&ignore.sa_mask);
        sigaction(SIGPIPE, &ignore, nullptr);
    }
#endif
}

NativeHandle standardInput()
{
#ifdef _WIN32
    _setmode(_fileno(stdin), _O_BINARY);
    return GetStdHandle(STD_INPUT_HANDLE);
#else
    return STDIN_FILENO;
#endif
}

NativeHandle standardOutput()
{
#ifdef _WIN32
    _setmode(_fileno(stdout), _O_BINARY);
    return GetStdHandle(STD_OUTPUT_HANDLE);
#else
    return STDOUT_FILENO;
#endif
}

} // namespace bridge
