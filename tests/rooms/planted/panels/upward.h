// Planted: a panel's rules reaching up into the windows.
#pragma once
#include "gui/main_window.h"
#include "site/site_context.h"
