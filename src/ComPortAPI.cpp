#include "ComPortAPI.h"
