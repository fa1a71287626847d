#include "redact.h"
