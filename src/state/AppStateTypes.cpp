#include "AppStateTypes.h"
