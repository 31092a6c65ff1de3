#include "chess/rules.h"
