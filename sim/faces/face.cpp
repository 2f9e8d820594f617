// Which face drives the window manager (none, a script, the terminal) and how it finishes.
#include "faces.h"

namespace sim {
namespace {

struct FaceState {
    Face face = Face::None;
    std::function<std::string()> finish;
};

FaceState& faceState() {
    static FaceState s;
    return s;
}

} // namespace

void installFace(Face face, std::function<std::string()> finish) {
    faceState().face = face;
    faceState().finish = finish;
}

// Face::None takes the window manager back to tests' control; Face::Terminal installs the
// terminal face. The script face needs its script: runScript installs it.
bool setFace(Face face) {
    switch (face) {
    case Face::None:
        finishFace();
        return true;
    case Face::Terminal:
        return installTerminalFace();
    default:
        return false;
    }
}

Face currentFace() {
    return faceState().face;
}

std::string finishFace() {
    std::function<std::string()> finish = faceState().finish;
    faceState() = FaceState();
    ui().setIdleHandler(nullptr);
    ui().setMessageBoxHandler(nullptr);
    ui().setForegroundHandler(nullptr);
    std::string error = finish ? finish() : std::string();
    ui().clearPending();
    return error;
}

} // namespace sim
