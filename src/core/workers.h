#pragma once
#include <memory>
#include <string>
#include <vector>

namespace qz {

// How a worker process ended.
struct WorkerEnd {
    enum class How { Exited, Killed };
    How how = How::Exited;
    int code = 0;  // Exited: the exit status (Windows: the whole 32-bit value; POSIX: 0-255). Killed: the signal (POSIX) or 0.

    bool operator==(const WorkerEnd &) const = default;
};

// A started worker: its standard output arrives through Read. Kill may be
// called from another thread while Read or Wait blocks in this one.
class Worker {
public:
    virtual ~Worker() = default;
    // Blocks until the worker writes something or ends; appends what arrived
    // to text. false once the output has ended (all of it read).
    [[nodiscard]] virtual bool Read(std::string &text) = 0;
    // Waits for the worker to end (after its output ended, or at any time).
    [[nodiscard]] virtual WorkerEnd Wait() = 0;
    // Ends the worker at once (a parent that must stop). Harmless after it
    // ended. A worker destroyed while it runs is killed the same way.
    virtual void Kill() = 0;
};

// Starts worker processes: the tool runs one per board, as the maker's USB
// library holds one open device per process.
class WorkerStarter {
public:
    virtual ~WorkerStarter() = default;
    // Starts args[0] (a path) with args[1..]; its standard input is the null
    // device, its standard error is ours, its standard output goes to the
    // Worker. nullptr, with the system's reason in error, when it could not
    // start.
    virtual std::unique_ptr<Worker> Start(const std::vector<std::string> &args, std::string &error) = 0;
    // The path of the running executable (to start the tool itself).
    virtual std::string OwnExecutable() = 0;
};

}  // namespace qz
