// silencePlayer: becomes the audio player playing endless silence. exec, not
// fork, so whoever started us stops the playback by stopping our pid.
#include <unistd.h>

int main() {
    // The player accepts aplay's command line and runs under that name;
    // -f cd is 16-bit little-endian stereo at 44100 Hz.
    execlp("pcmdrone", "aplay", "-f", "cd", "/dev/zero", static_cast<char *>(nullptr));
    return 1;
}
