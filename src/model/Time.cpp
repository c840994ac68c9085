#include "model/Time.h"

double Time::nanoseconds = 0.0;
