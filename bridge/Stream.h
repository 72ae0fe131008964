// Byte streams over the pipes between the program and gm7bridge: the bridge's
// own standard input and output, and the parent's ends of the child's pipes.
#pragma once

#include <cstddef>
#include <string>

namespace bridge {

#ifdef _WIN32
using NativeHandle = void *; // HANDLE
#else
using NativeHandle = int;
#endif

// Reads from one end of a pipe through a buffer, so that several small frames
// cost one system call.
class InputStream
{
public:
    explicit InputStream(NativeHandle handle)
        : m_handle(handle)
    {}
    // Fills bytes with exactly count bytes. False at the end of the stream or
    // on an error; *atEnd tells the end that came exactly before the first byte.
    bool readExactly(char *bytes, std::size_t count, bool *atEnd = nullptr);
    // Overwrites every byte the buffer ever held (it may have held a password).
    void wipeBuffer();

private:
    bool fill();

    NativeHandle m_handle;
    std::string m_buffer = std::string(std::size_t{64} * 1024, '\0');
    std::size_t m_start = 0;
    std::size_t m_end = 0;
};

// Writes whole frames to one end of a pipe. A reader that has gone away makes
// the write fail, provided the process ignores SIGPIPE (see ignoreBrokenPipes).
class OutputStream
{
public:
    explicit OutputStream(NativeHandle handle)
        : m_handle(handle)
    {}
    bool writeAll(const char *bytes, std::size_t count);

private:
    NativeHandle m_handle;
};

// Lets a write to a pipe whose reader has gone fail instead of ending the
// process: SIGPIPE is ignored, as Qt does for its own processes and sockets;
// where the program has a handler of its own, each write holds the signal
// back instead. Nothing to do on Windows.
void ignoreBrokenPipes();

// The process's own standard input and output, switched to binary.
NativeHandle standardInput();
NativeHandle standardOutput();

} // namespace bridge
