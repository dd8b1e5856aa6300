// The rows each frame hands the plug-in, analysed from the audio in this process as the frames
// ask for them (audio/audio_analysis.h): one window of decoding and two transforms a frame, and
// the same memory for a song of any length.
#pragma once

#include "audio/audio_analysis.h"
#include "player/frame_loop.h"

// Opens the analysis; false with result->error set.
bool analysis_rows_open(const AnalysisRequest &request, AnalysisResult *result);
// The frame loop's source: each row's record (a row behind the last one made gives that one
// again; rows skipped in real time are not analysed), the clock and the track's time.
RowSource analysis_rows_source();
void analysis_rows_close();
