// The operation interfaces live with the platform primitives, so that the
// layers below the application (the TAP driver installer) can implement them.
#pragma once
#include "platform/blocked_operation.h"
