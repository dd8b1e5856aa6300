// Windows only: a live spectrum stream's pipe read on a thread of its own, whole records at a
// time, so that a frame can take the newest without waiting (Wine gives a program no way to ask a
// pipe from its Linux parent how much it holds).
#pragma once

#include <cstdint>
#include <cstdio>

#include "audio/spectrum_stream.h"

struct StreamFeedThread;

enum class FeedState : uint8_t { running, closed, failed };

// Starts reading file's pipe (unbuffered, past its header); null when no thread can be made.
StreamFeedThread *stream_feed_start(FILE *file);
// *count: the records the caller has; when more came, the newest is copied into newest and
// *count becomes how many came in all. Returns whether the pipe is still read.
FeedState stream_feed_take(StreamFeedThread *feed, uint32_t *count, uint8_t newest[kStreamRecordSize]);
// The thread is left to the process's end while it waits on the pipe: nothing else is to be read.
void stream_feed_stop(StreamFeedThread *feed);
