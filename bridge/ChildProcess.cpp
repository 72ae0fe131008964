#include "bridge/ChildProcess.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace bridge {

#ifdef _WIN32

namespace {

std::wstring wide(const std::string &utf8)
{
    const int size =
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring text(static_cast<std::size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), text.data(), size);
    return text;
}

// One argument quoted the way the C runtime splits a command line again.
void appendQuoted(std::wstring &line, const std::wstring &argument)
{
    if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
        line += argument;
        return;
    }
    line += L'"';
    std::size_t backslashes = 0;
    for (const wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        if (c == L'"')
            line.append(backslashes * 2 + 1, L'\\');
        else
            line.append(backslashes, L'\\');
        backslashes = 0;
        line += c;
    }
    line.append(backslashes * 2, L'\\');
    line += L'"';
}

std::string failure(const char *what)
{
    return std::string(what) + " failed (error " + std::to_string(GetLastError()) + ")";
}

} // namespace

std::string ChildProcess::start(const std::string &program,
                                const std::vector<std::string> &arguments)
{
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE childInput = nullptr;
    HANDLE childOutput = nullptr;
    HANDLE toChild = nullptr;
    HANDLE fromChild = nullptr;
    if (!CreatePipe(&childInput, &toChild, &inherit, 0))
        return failure("CreatePipe");
    if (!CreatePipe(&fromChild, &childOutput, &inherit, 0)) {
        CloseHandle(childInput);
        CloseHandle(toChild);
        return failure("CreatePipe");
    }
    // Only the child's ends are inherited.
    SetHandleInformation(toChild, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(fromChild, HANDLE_FLAG_INHERIT, 0);

    std::wstring line;
    appendQuoted(line, wide(program));
    for (const std::string &argument : arguments) {
        line += L' ';
        appendQuoted(line, wide(argument));
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = childInput;
    startup.hStdOutput = childOutput;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process{};
    const std::wstring path = wide(program);
    const BOOL created = CreateProcessW(path.c_str(), line.data(), nullptr, nullptr, TRUE,
                                        CREATE_NO_WINDOW, nullptr, nullptr, &startup, &process);
    const std::string why = created ? std::string() : failure("CreateProcess");
    CloseHandle(childInput);
    CloseHandle(childOutput);
    if (!created) {
        CloseHandle(toChild);
        CloseHandle(fromChild);
        return why;
    }
    CloseHandle(process.hThread);
    m_process = process.hProcess;
    m_processId = process.dwProcessId;
    m_toChild = toChild;
    m_fromChild = fromChild;
    m_input.emplace(m_toChild);
    m_output.emplace(m_fromChild);
    m_started = true;
    return {};
}

void ChildProcess::closeInput()
{
    if (m_toChild) {
        CloseHandle(m_toChild);
        m_toChild = nullptr;
    }
}

std::optional<std::string> ChildProcess::wait(int milliseconds)
{
    if (m_exit || !m_started)
        return m_exit;
    if (WaitForSingleObject(m_process,
                            milliseconds < 0 ? INFINITE : static_cast<DWORD>(milliseconds)) !=
        WAIT_OBJECT_0)
        return std::nullopt;
    DWORD code = 0;
    GetExitCodeProcess(m_process, &code);
    char text[64];
    if (code >= 0xC0000000u)
        std::snprintf(text, sizeof text, "crashed (exception 0x%08lX)",
                      static_cast<unsigned long>(code));
    else
        std::snprintf(text, sizeof text, "exited with status %lu",
                      static_cast<unsigned long>(code));
    m_exit = text;
    return m_exit;
}

void ChildProcess::kill()
{
    if (m_started && !m_exit)
        TerminateProcess(m_process, 1);
}

long long ChildProcess::processId() const
{
    return m_processId;
}

void ChildProcess::closeHandles()
{
    closeInput();
    if (m_fromChild)
        CloseHandle(m_fromChild);
    if (m_process)
        CloseHandle(m_process);
    m_fromChild = nullptr;
    m_process = nullptr;
}

#else

std::string ChildProcess::start(const std::string &program,
                                const std::vector<std::string> &arguments)
{
    int toChild[2];
    int fromChild[2];
    if (pipe2(toChild, O_CLOEXEC) != 0)
        return std::string("pipe: ") + std::strerror(errno);
    if (pipe2(fromChild, O_CLOEXEC) != 0) {
        const int error = errno;
        ::close(toChild[0]);
        ::close(toChild[1]);
        return std::string("pipe: ") + std::strerror(error);
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, toChild[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, fromChild[1], STDOUT_FILENO);
    std::vector<char *> argv;
    std::string programCopy = program;
    std::vector<std::string> argumentCopies = arguments;
    argv.push_back(programCopy.data());
    for (std::string &argument : argumentCopies)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    const int error = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(toChild[0]);
    ::close(fromChild[1]);
    if (error != 0) {
        ::close(toChild[1]);
        ::close(fromChild[0]);
        return program + ": " + std::strerror(error);
    }
    m_pid = pid;
    m_toChild = toChild[1];
    m_fromChild = fromChild[0];
    m_input.emplace(m_toChild);
    m_output.emplace(m_fromChild);
    m_started = true;
    return {};
}

void ChildProcess::closeInput()
{
    if (m_toChild >= 0) {
        ::close(m_toChild);
        m_toChild = -1;
    }
}

std::optional<std::string> ChildProcess::wait(int milliseconds)
{
    if (m_exit || !m_started)
        return m_exit;
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    int status = 0;
    for (;;) {
        const pid_t done = waitpid(m_pid, &status, milliseconds < 0 ? 0 : WNOHANG);
        if (done == m_pid)
            break;
        if (done < 0 && errno != EINTR) {
            m_exit = std::string("could not be waited for: ") + std::strerror(errno);
            return m_exit;
        }
        if (milliseconds >= 0 && std::chrono::steady_clock::now() >= deadline)
            return std::nullopt;
        if (done == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    if (WIFSIGNALED(status)) {
        const int signal = WTERMSIG(status);
        const char *name = strsignal(signal);
        m_exit = "was ended by signal " + std::to_string(signal) +
                 (name ? std::string(" (") + name + ")" : std::string());
    } else {
        m_exit = "exited with status " + std::to_string(WEXITSTATUS(status));
    }
    return m_exit;
}

void ChildProcess::kill()
{
    if (m_started && !m_exit)
        ::kill(m_pid, SIGKILL);
}

long long ChildProcess::processId() const
{
    return m_pid;
}

void ChildProcess::closeHandles()
{
    closeInput();
    if (m_fromChild >= 0)
        ::close(m_fromChild);
    m_fromChild = -1;
}

#endif

ChildProcess::~ChildProcess()
{
    if (m_started && !m_exit) {
        closeInput();
        if (!wait(5000)) {
            kill();
            wait(-1);
        }
    }
    closeHandles();
}

} // namespace bridge
