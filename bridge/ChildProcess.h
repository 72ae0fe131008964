// A child process whose standard input and output are pipes to this process;
// its error output is this process's own.
#pragma once

#include "bridge/Stream.h"

#include <optional>
#include <string>
#include <vector>

namespace bridge {

class ChildProcess
{
public:
    ChildProcess() = default;
    ~ChildProcess();
    ChildProcess(const ChildProcess &) = delete;
    ChildProcess &operator=(const ChildProcess &) = delete;

    // Starts program (UTF-8 path) with arguments; "" when it started, else why not.
    std::string start(const std::string &program, const std::vector<std::string> &arguments);
    bool running() const { return m_started && !m_exit; }

    // The parent's ends: write to the child's input, read its output.
    InputStream &output() { return *m_output; }
    OutputStream &input() { return *m_input; }

    // Closes the child's input, so a child that reads to the end finishes.
    void closeInput();
    // Waits up to milliseconds for the child to end; then how it ended,
    // e.g. "exited with status 2" or "was ended by signal 9 (Killed)".
    std::optional<std::string> wait(int milliseconds);
    // Ends the child at once.
    void kill();
    // The child's process id (0 before it started).
    long long processId() const;

private:
    void closeHandles();

    bool m_started = false;
    std::optional<std::string> m_exit;
    std::optional<InputStream> m_output;
    std::optional<OutputStream> m_input;
#ifdef _WIN32
    void *m_process = nullptr;
    void *m_toChild = nullptr;
    void *m_fromChild = nullptr;
    unsigned long m_processId = 0;
#else
    int m_pid = 0;
    int m_toChild = -1;
    int m_fromChild = -1;
#endif
};

} // namespace bridge
