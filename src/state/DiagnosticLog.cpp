#include "DiagnosticLog.h"
