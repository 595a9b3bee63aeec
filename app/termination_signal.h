#pragma once

#include <functional>

class QObject;

namespace kestrix {

// Runs the action on the user-interface thread when the process is asked to
// terminate (SIGTERM: the session ending, a task manager, a shutdown).
void onTerminationSignal(QObject* context, std::function<void()> action);

}  // namespace kestrix
