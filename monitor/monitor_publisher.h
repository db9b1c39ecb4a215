#pragma once
// The monitor's main loop: picks the source of readings from the options,
// publishes them in the shared-memory block once a second until `stop` is
// set (or RunSeconds pass), and says what it publishes on standard error and
// in the system log (syslog on Linux, identity "kelvane").
//
// It sleeps on `wake` between refreshes, so whoever sets `stop` (a signal
// handler) releases `wake` too; `wake` must outlive the process's threads.
//
// Returns the process exit code: 0 after an orderly stop, 1 when the block
// cannot be created.
#include <atomic>

#include "monitor/monitor_options.h"
#include "platform/wake_semaphore.h"

int RunMonitor(const MonitorOptions& options, const std::atomic<bool>& stop,
               platform::WakeSemaphore& wake);
