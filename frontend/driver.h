// The qvbp command-line driver: banner, argument handling and the per-file
// flow (load, compile when the bytes are no QVB image, write the outputs,
// print the song information, play).
#pragma once

#include "sound/audio_platform.h"

namespace qvb {

// Runs the whole command line and returns the exit code: -1 for the usage
// path, 0 after the last argument, 1 when an output file could not be
// written. A played file never returns; it plays on the platform the host
// passes in.
int runDriver(int argc, char** argv, AudioPlatform& platform);

}  // namespace qvb
