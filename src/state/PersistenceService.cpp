#include "PersistenceService.h"
