#pragma once

namespace tallyport {

// One program at a time serves the registers of a computer: the Windows service, the console
// program and the desktop program all take this lock before their start-up and keep it until
// they end. Two programs on the same ports would take each other's ports away (each worker
// tries its port again every second), so the second one to start says so and ends without
// connecting or writing anything.
//
// On Windows a named mutex in the Global namespace: one name for every session (the service
// runs in session 0, the users' programs in theirs), held while its handle is open and gone
// with the process however it ends, so a crash never leaves it behind; the mutex of a service
// is not open to a user's program (ERROR_ACCESS_DENIED), which says just as well that it is
// taken. Windows only (ServingLock_win32.cpp); the Linux programs do not need it. Owned by the
// program's entry; main thread.
class ServingLock {
public:
    ServingLock();
    ~ServingLock();
    ServingLock(const ServingLock&) = delete;
    ServingLock& operator=(const ServingLock&) = delete;

    // False when another program holds it.
    bool Taken() const { return taken_; }

private:
    void* handle_ = nullptr;
    bool taken_ = false;
};

// The message of the program that did not get the lock.
inline constexpr char kServedElsewhere[] =
    "Casele de marcat sunt deja servite de alt program Tallyport (serviciul Tallyport, "
    "tallyport.exe sau Tallyport pornit de alt utilizator). Acest program nu se conecteaza si "
    "se inchide.";

}  // namespace tallyport
