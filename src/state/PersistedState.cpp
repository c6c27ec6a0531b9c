#include "PersistedState.h"
