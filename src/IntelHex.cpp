#include "IntelHex.h"
