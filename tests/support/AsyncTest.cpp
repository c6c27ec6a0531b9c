#include "AsyncTest.h"
