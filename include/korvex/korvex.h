// Korvex: umbrella header of the public C++ API.
#pragma once

#include "korvex/automation.h"
#include "korvex/engine.h"
#include "korvex/global_memory.h"
#include "korvex/status.h"
#include "korvex/version.h"
#include "korvex/property_bag.h"
#include "korvex/viewer.h"
