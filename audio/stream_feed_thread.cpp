#include "audio/stream_feed_thread.h"

#include <windows.h>

#include <cstring>

struct StreamFeedThread {
    FILE *file = nullptr;
    HANDLE thread = nullptr;
    CRITICAL_SECTION lock;
    uint32_t count = 0;  // records read so far
    FeedState state = FeedState::running;
    uint8_t newest[kStreamRecordSize];
};

namespace {

DWORD WINAPI read_records(void *argument) {
    StreamFeedThread *feed = static_cast<StreamFeedThread *>(argument);
    uint8_t record[kStreamRecordSize];
    for (;;) {
        const size_t got = std::fread(record, 1, sizeof record, feed->file);
        EnterCriticalSection(&feed->lock);
        if (got == sizeof record) {
            std::memcpy(feed->newest, record, sizeof record);
            ++feed->count;
        } else {
            feed->state = std::ferror(feed->file) ? FeedState::failed : FeedState::closed;
        }
        const bool running = feed->state == FeedState::running;
        LeaveCriticalSection(&feed->lock);
        if (!running) return 0;
    }
}

}  // namespace

StreamFeedThread *stream_feed_start(FILE *file) {
    StreamFeedThread *feed = new StreamFeedThread;
    feed->file = file;
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
