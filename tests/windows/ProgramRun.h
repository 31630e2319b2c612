#pragma once

// tallyport.exe (beside the test program) as a separate process, for the Windows suites: its
// arguments, working folder, and standard output and error in files. Owned by one test; the
// destructor ends a program that still runs.
#include <windows.h>

#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "base/Win32File.h"
#include "support/TempFolder.h"

namespace tallyport::test {

// A program's full path: the programs lie in the test program's folder.
inline std::wstring ProgramPath(const wchar_t* name = L"tallyport.exe") {
    wchar_t self[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring path(self);
    return path.substr(0, path.find_last_of(L"\\/") + 1) + name;
}

inline std::wstring WideText(const std::string& ascii) {
    return std::wstring(ascii.begin(), ascii.end());
}

class ProgramRun {
public:
    // Runs tallyport.exe, or the program `name` of the same folder.
    ProgramRun(const std::vector<std::string>& arguments, const TempFolder& logs,
               const wchar_t* name = L"tallyport.exe")
        : out_(logs.File("stdout.txt")), err_(logs.File("stderr.txt")) {
        std::wstring command = L"\"" + ProgramPath(name) + L"\"";
        for (const std::string& argument : arguments) {
            command += L" \"" + WideText(argument) + L"\"";
        }
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        win32::UniqueHandle out(::CreateFileW(WideText(out_).c_str(), GENERIC_WRITE,
                                              win32::kShareAll, &inherit, CREATE_ALWAYS,
                                              FILE_ATTRIBUTE_NORMAL, nullptr));
        win32::UniqueHandle err(::CreateFileW(WideText(err_).c_str(), GENERIC_WRITE,
                                              win32::kShareAll, &inherit, CREATE_ALWAYS,
                                              FILE_ATTRIBUTE_NORMAL, nullptr));
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = nullptr;
        startup.hStdOutput = out.Get();
        startup.hStdError = err.Get();
        PROCESS_INFORMATION process{};
        if (::CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                             &startup, &process)) {
            process_ = win32::UniqueHandle(process.hProcess);
            ::CloseHandle(process.hThread);
            pid_ = process.dwProcessId;
        }
    }
    ~ProgramRun() {
        if (process_.Valid() && !WaitForExit(std::chrono::milliseconds(0))) {
            ::TerminateProcess(process_.Get(), 255);
            ::WaitForSingleObject(process_.Get(), 5000);
        }
    }
    ProgramRun(const ProgramRun&) = delete;
    ProgramRun& operator=(const ProgramRun&) = delete;

    bool Started() const { return process_.Valid(); }
    DWORD Pid() const { return pid_; }
    // The exit status, or nullopt while it still runs after `timeout`.
    std::optional<DWORD> WaitForExit(std::chrono::milliseconds timeout) {
        if (::WaitForSingleObject(process_.Get(), static_cast<DWORD>(timeout.count())) !=
            WAIT_OBJECT_0) {
            return std::nullopt;
        }
        DWORD code = 0;
        ::GetExitCodeProcess(process_.Get(), &code);
        return code;
    }
    // Standard output and error so far, without the C library's CR before each LF.
    std::string Out() const { return Text(out_); }
    std::string Err() const { return Text(err_); }

private:
    static std::string Text(const std::string& path) {
        std::string text;
        for (char c : ReadFile(path)) {
            if (c != '\r') {
                text += c;
            }
        }
        return text;
    }

    std::string out_;
    std::string err_;
    win32::UniqueHandle process_;
    DWORD pid_ = 0;
};

// Runs the program to its end (at most `limit`) and gives its exit status; 259 when it did not
// end in time.
inline DWORD RunToEnd(const std::vector<std::string>& arguments, const TempFolder& logs,
                      std::string* out = nullptr, std::string* err = nullptr,
                      std::chrono::milliseconds limit = std::chrono::seconds(30),
                      const wchar_t* name = L"tallyport.exe") {
    ProgramRun run(arguments, logs, name);
    const std::optional<DWORD> code = run.WaitForExit(limit);
    if (out) {
        *out = run.Out();
    }
    if (err) {
        *err = run.Err();
    }
    return code.value_or(STILL_ACTIVE);
}

// Waits until `done` holds, looking every 20 ms, for at most `limit`.
template <typename Done>
bool WaitUntil(Done&& done, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

}  // namespace tallyport::test
