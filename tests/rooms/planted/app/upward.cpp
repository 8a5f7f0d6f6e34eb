// Planted: the application core reaching across to a panel.
#include "panels/device_list.h"
#include "service/service.h"
