#include "workflows/LoadWorker.h"

#include "platform/HeldThread.h"
#include "job/LoadJob.h"
#include "workflows/Operator.h"

namespace korvane {

bool runLoadWorker(Operator& op, LoadJob& job, const WorkerEntry& entry, LoadFamily family) {
    HeldThread worker;
    const bool started = worker.create([&job, &entry] { entry(job); }) && worker.release() == 1;
    if (!started) {
        // Destroying a held thread drops it before its first step.
        op.showMessage(family == LoadFamily::ingenico ? kIngenicoWorkerStartFailed : kWorkerStartFailed);
        return false;
    }
    while (!worker.waitForEnd(kWorkerWaitSliceMs)) op.pumpMessages();
    return true;
}

}  // namespace korvane
