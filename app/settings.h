#pragma once
// What start-up reads from Config.ini besides the saved choices.
#include "common/installation.h"
#include "scan/portal_address.h"
