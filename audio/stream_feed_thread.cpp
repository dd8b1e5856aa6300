#include "audio/stream_feed_thread.h"

#include <io.h>
#include <windows.h>

#include <cstring>

struct StreamFeedThread {
    HANDLE pipe = nullptr;
    HANDLE thread = nullptr;
    CRITICAL_SECTION lock;
    uint32_t count = 0;  // records read so far
    FeedState state = FeedState::running;
    uint8_t newest[kStreamRecordSize];
};

namespace {

// A whole record, or why there is none: the pipe's end or a failed read.
FeedState read_record(HANDLE pipe, uint8_t record[kStreamRecordSize]) {
    for (DWORD done = 0; done < kStreamRecordSize;) {
        DWORD got = 0;
        if (!ReadFile(pipe, record + done, DWORD(kStreamRecordSize) - done, &got, nullptr))
            return GetLastError() == ERROR_BROKEN_PIPE ? FeedState::closed : FeedState::failed;
        if (got == 0) return FeedState::closed;
        done += got;
    }
    return FeedState::running;
}

// Reads the handle, not the FILE: a FILE's lock held through a read that waits would stall the C
// runtime's flush of every stream at the process's exit.
DWORD WINAPI read_records(void *argument) {
    StreamFeedThread *feed = static_cast<StreamFeedThread *>(argument);
    uint8_t record[kStreamRecordSize];
    for (;;) {
        const FeedState got = read_record(feed->pipe, record);
        EnterCriticalSection(&feed->lock);
        if (got == FeedState::running) {
            std::memcpy(feed->newest, record, sizeof record);
            ++feed->count;
        } else {
            feed->state = got;
        }
        const bool running = feed->state == FeedState::running;
        LeaveCriticalSection(&feed->lock);
        if (!running) return 0;
    }
}

}  // namespace

StreamFeedThread *stream_feed_start(FILE *file) {
    StreamFeedThread *feed = new StreamFeedThread;
    feed->pipe = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
    InitializeCriticalSection(&feed->lock);
    feed->thread = CreateThread(nullptr, 0, read_records, feed, 0, nullptr);
    if (feed->thread) return feed;
    DeleteCriticalSection(&feed->lock);
    delete feed;
    return nullptr;
}

FeedState stream_feed_take(StreamFeedThread *feed, uint32_t *count, uint8_t newest[kStreamRecordSize]) {
    EnterCriticalSection(&feed->lock);
    if (feed->count != *count) {
        std::memcpy(newest, feed->newest, kStreamRecordSize);
        *count = feed->count;
    }
    const FeedState state = feed->state;
    LeaveCriticalSection(&feed->lock);
    return state;
}

void stream_feed_stop(StreamFeedThread *feed) {
    if (WaitForSingleObject(feed->thread, 0) != WAIT_OBJECT_0) return;  // still waiting on the pipe
    CloseHandle(feed->thread);
    DeleteCriticalSection(&feed->lock);
    delete feed;
}
