#include <windows.h>

#include "base/Win32Text.h"
#include "console_win32/EventLog.h"
#include "console_win32/Service.h"
#include "messages.h"

namespace tallyport {
namespace {

constexpr wchar_t kSourceKey[] =
    L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Tallyport";

WORD TypeOf(const std::string& text) {
    if (text.rfind("[eroare]", 0) == 0) {
        return EVENTLOG_ERROR_TYPE;
    }
    if (text.rfind("[avertizare]", 0) == 0) {
        return EVENTLOG_WARNING_TYPE;
    }
    return EVENTLOG_INFORMATION_TYPE;
}

// The line as the event viewer shows it: the code page's reading of its bytes.
std::wstring WideText(const std::string& text) {
    if (std::optional<std::wstring> wide = win32::WideFromAnsi(text)) {
        return *wide;
    }
    std::wstring plain;
    for (char c : text) {
        plain += static_cast<unsigned char>(c) < 0x80 ? static_cast<wchar_t>(c) : L'?';
    }
    return plain;
}

}  // namespace

EventLog::EventLog() : source_(::RegisterEventSourceW(nullptr, kServiceName)) {}

EventLog::~EventLog() {
    if (source_ != nullptr) {
        ::DeregisterEventSource(static_cast<HANDLE>(source_));
    }
}

void EventLog::Report(const std::string& text) {
    if (source_ == nullptr) {
        return;
    }
    const std::wstring wide = WideText(text);
    const wchar_t* strings[] = {wide.c_str()};
    ::ReportEventW(static_cast<HANDLE>(source_), TypeOf(text), 0, TALLYPORT_LOG_LINE, nullptr, 1, 0,
                   strings, nullptr);
}

bool EventLog::Register() {
    wchar_t program[MAX_PATH] = {};
    const DWORD length = ::GetModuleFileNameW(nullptr, program, MAX_PATH);
    HKEY key = nullptr;
    LSTATUS status = ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kSourceKey, 0, nullptr, 0, KEY_SET_VALUE,
                                       nullptr, &key, nullptr);
    if (status == ERROR_SUCCESS) {
        const DWORD types = EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;
        status = ::RegSetValueExW(key, L"EventMessageFile", 0, REG_EXPAND_SZ,
                                  reinterpret_cast<const BYTE*>(program),
                                  (length + 1) * sizeof(wchar_t));
        if (status == ERROR_SUCCESS) {
            status = ::RegSetValueExW(key, L"TypesSupported", 0, REG_DWORD,
                                      reinterpret_cast<const BYTE*>(&types), sizeof types);
        }
        ::RegCloseKey(key);
    }
    ::SetLastError(static_cast<DWORD>(status));
    return status == ERROR_SUCCESS;
}

void EventLog::Unregister() {
    ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, kSourceKey);
}

}  // namespace tallyport
