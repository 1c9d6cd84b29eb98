#pragma once
// Kept until every includer names support/fakeserver.h.
#include "support/fakeserver.h"
