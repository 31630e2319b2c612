#pragma once

#include <string>

namespace tallyport::sim {

// The register's end of its line: the descriptor the simulated register reads and writes
// (non-blocking) and the name of the port the program opens at the other end.
class LineEnd {
public:
    virtual ~LineEnd() = default;
    virtual int Fd() const = 0;
    virtual const std::string& PortName() const = 0;
    // True where the end hands bytes over at once, so that the line's time has to be modelled.
    virtual bool ModelsLineTime() const = 0;
};

// A pseudo-terminal pair made raw at creation (a pty has one set of terminal settings, owned by
// the slave side; set later, bytes sent early would be line-buffered and echoed). The master
// side is for the simulated register, non-blocking; the slave path is the port name the
// program opens. The pair also keeps a slave descriptor of its own, unused, so that the master
// never sees a hang-up while the program has the port closed. Owned by one thread at a time.
class PtyPair final : public LineEnd {
public:
    PtyPair();  // throws std::system_error
    ~PtyPair() override;
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    int MasterFd() const { return master_; }
    const std::string& SlavePath() const { return slavePath_; }

    int Fd() const override { return master_; }
    const std::string& PortName() const override { return slavePath_; }
    bool ModelsLineTime() const override { return true; }

private:
    int master_ = -1;
    int slave_ = -1;
    std::string slavePath_;
};

// Points a symbolic link at `target`, replacing whatever the link path held, in one rename so
// that an opener never finds the path half made. Throws std::system_error.
void PointSymlink(const std::string& linkPath, const std::string& target);

}  // namespace tallyport::sim
