#pragma once

#include <functional>

namespace korvane {

struct LoadJob;
class Operator;

// The long part of a load: runs on its own thread with the handler's job and
// returns an exit code (0 success, other values by family) that nobody reads;
// the handler judges the load by `succeeded`.
using WorkerEntry = std::function<int(LoadJob&)>;

// The texts differ by family only in their first letter.
enum class LoadFamily { ingenico, equinox, verifone };
inline constexpr const char* kIngenicoWorkerStartFailed = "Failed to Start Load Thread!";
inline constexpr const char* kWorkerStartFailed = "failed to Start Load Thread!";

// The slice the handler waits for the worker before it pumps the interface again.
inline constexpr unsigned kWorkerWaitSliceMs = 100;

// Runs `entry` with `job` on a worker thread, created held and then let go,
// and waits for it to end in slices while the operator interface keeps
// pumping, so the progress window paints and its Cancel works. Call it on the
// user-interface thread; do not touch `job` elsewhere meanwhile.
//
// Returns false when the worker could not be started: the family's text has
// been shown, the worker never ran and the job is as it was (so not
// succeeded). Returns true once a started worker has ended.
bool runLoadWorker(Operator& op, LoadJob& job, const WorkerEntry& entry, LoadFamily family);

}  // namespace korvane
