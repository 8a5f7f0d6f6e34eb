// The manager's entry point: everything happens in the application object.
// A build with the operator windows hands it the Qt loop.
#include "app/qm_app.h"

#ifdef QM_WITH_WINDOWS
#include "app/gui/window_loop.h"
constexpr qm::WindowLoop kWindows = &qm::RunWindows;
#else
constexpr qm::WindowLoop kWindows = nullptr;
#endif

int main(int argc, char** argv) {
    return qm::CQMApp::Run(argc, argv, kWindows);
}
