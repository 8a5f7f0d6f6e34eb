// The manager's entry point in a build with the operator windows: the
// application object runs as without them and hands the Qt loop its window.
#include "app/qm_app.h"
#include "gui/window_loop.h"

int main(int argc, char** argv) {
    return qm::CQMApp::Run(argc, argv, &qm::RunWindows);
}
