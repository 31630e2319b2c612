#pragma once

#include <string>

namespace tallyport::sim {

// A pseudo-terminal pair made raw at creation (a pty has one set of terminal settings, owned by
// the slave side; set later, bytes sent early would be line-buffered and echoed). The master
// side is for the simulated register, non-blocking; the slave path is the port name the
// program opens. The pair also keeps a slave descriptor of its own, unused, so that the master
// never sees a hang-up while the program has the port closed. Owned by one thread at a time.
class PtyPair {
public:
    PtyPair();  // throws std::system_error
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    int MasterFd() const { return master_; }
    const std::string& SlavePath() const { return slavePath_; }

private:
    int master_ = -1;
    int slave_ = -1;
    std::string slavePath_;
};

// Points a symbolic link at `target`, replacing whatever the link path held, in one rename so
// that an opener never finds the path half made. Throws std::system_error.
void PointSymlink(const std::string& linkPath, const std::string& target);

}  // namespace tallyport::sim
