#include "Encoder.h"
