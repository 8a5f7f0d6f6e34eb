// Planted: Qt below the windows' room.
#include <QWidget>
#include <cstdint>
