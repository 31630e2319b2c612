#pragma once

#include <string>

namespace tallyport {

// The service's lines in the Windows event log (Application, source "Tallyport"): a line the
// log tags "[eroare]" as an error, "[avertizare]" as a warning, any other as information, each
// whole as its event's text (message 1 of the program's message table, "%1"). A source that
// cannot be opened writes nothing; nothing here fails the service. Any thread may report.
class EventLog {
public:
    EventLog();
    ~EventLog();
    EventLog(const EventLog&) = delete;
    EventLog& operator=(const EventLog&) = delete;

    void Report(const std::string& text);

    // The source's registration, which lets the event viewer show the texts through this
    // program's message table: made by --install-service, removed by --remove-service. False
    // when the registry refuses (the reason in GetLastError()).
    static bool Register();
    static void Unregister();

private:
    void* source_ = nullptr;
};

}  // namespace tallyport
