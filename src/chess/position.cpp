#include "chess/position.h"
