// A minimal check list for the Qt-free tests that run under Wine: each failed
// check is printed where it failed, and the run ends with "N passed, N failed".
#pragma once

#include <cstdio>
#include <string>

class Checks
{
public:
    bool check(bool ok, const char *what, const char *file, int line)
    {
        if (ok) {
            ++m_passed;
        } else {
            ++m_failed;
            std::printf("FAIL %s:%d: %s\n", file, line, what);
            std::fflush(stdout);
        }
        return ok;
    }
    template <typename Left, typename Right>
    bool equal(const Left &left, const Right &right, const char *what, const char *file, int line)
    {
        if (left == right)
            return check(true, what, file, line);
        check(false, what, file, line);
        std::printf("     got: %s\n    want: %s\n", show(left).c_str(), show(right).c_str());
        return false;
    }
    // Prints the totals; the process's exit status.
    int finish() const
    {
        std::printf("%d passed, %d failed\n", m_passed, m_failed);
        return m_failed == 0 && m_passed > 0 ? 0 : 1;
    }

    static std::string show(const std::string &text)
    {
        std::string shown = "\"";
        for (const unsigned char c : text) {
            char escaped[8];
            if (c >= 0x20 && c < 0x7f && c != '\\') {
                shown += static_cast<char>(c);
            } else {
                std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
                shown += escaped;
            }
        }
        return shown + "\"";
    }
    static std::string show(const std::wstring &text)
    {
        std::string shown = "L\"";
        for (const wchar_t c : text) {
            char escaped[12];
            if (c >= 0x20 && c < 0x7f && c != L'\\') {
                shown += static_cast<char>(c);
            } else {
                std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
                shown += escaped;
            }
        }
        return shown + "\"";
    }
    static std::string show(const std::u16string &text)
    {
        return show(std::wstring(text.begin(), text.end()));
    }
    static std::string show(const char *text) { return show(std::string(text)); }
    template <typename Number> static std::string show(const Number &number)
    {
        return std::to_string(number);
    }

private:
    int m_passed = 0;
    int m_failed = 0;
};

#define CHECK(checks, condition) (checks).check((condition), #condition, __FILE__, __LINE__)
#define CHECK_EQ(checks, left, right)                                                              \
    (checks).equal((left), (right), #left " == " #right, __FILE__, __LINE__)
