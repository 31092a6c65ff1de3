#include "chess/san.h"
