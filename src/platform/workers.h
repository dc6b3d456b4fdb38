#pragma once
#include "core/workers.h"

namespace qz {

// Worker processes of the host: each one's standard output is a pipe that
// no other worker inherits, so that its output ends when it ends, whichever
// workers still run.
class SystemWorkers final : public WorkerStarter {
public:
    std::unique_ptr<Worker> Start(const std::vector<std::string> &args, std::string &error) override;
    std::string OwnExecutable() override;
};

}  // namespace qz
