// The headless manager's entry point: everything happens in the application
// object, with no windows. The manager with windows starts in gui/main.cpp.
#include "app/qm_app.h"

int main(int argc, char** argv) {
    return qm::CQMApp::Run(argc, argv, nullptr);
}
