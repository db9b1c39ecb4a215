#pragma once
// The workers: a process-wide pool of threads, started on demand, that take
// ready connections from the queue (http/connection_queue.h) one at a time,
// answer them through their server, send the answer through the stream, and
// begin the graceful close. Sixteen idle workers are kept; idle ones beyond
// them end after a while. Thread-safe.
#include "http/connection.h"

// Queues a connection whose request has arrived, starting a worker when
// there are more entries than idle workers.
void QueueConnection(ReadyConnection&& ready);

// Closes a connection that leaves without an answer, and counts it ended.
void DismissConnection(platform::SocketHandle socket);
