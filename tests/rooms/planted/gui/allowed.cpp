// Allowed: the windows use every room below them, and Qt.
#include <QWidget>

#include "app/qm_app.h"
#include "panels/device_list.h"
