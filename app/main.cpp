// The manager's entry point: everything happens in the application object.
#include "app/qm_app.h"

int main(int argc, char** argv) {
    return qm::CQMApp::Run(argc, argv);
}
