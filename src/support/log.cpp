#include "support/log.h"
