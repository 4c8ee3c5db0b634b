// The qvbp command-line driver: banner, argument handling and the per-file
// flow (load, compile when the bytes are no QVB image, write the outputs,
// print the song information, play).
#pragma once

#include "sound/audio_platform.h"

namespace qvb {

// Runs the whole command line and returns the exit code: -1 for the usage
// path; after the last argument 0 when every file was handled, 1 when one
// was not (it could not be read, did not compile, or an output of it could
// not be written or was refused). A played file never returns; it plays on
// the platform the host passes in.
int runDriver(int argc, char** argv, AudioPlatform& platform);

}  // namespace qvb
