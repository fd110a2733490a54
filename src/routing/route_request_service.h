// What the route plan needs of the per-application route request server:
// the host routes it must keep alive, and starting and stopping it. The
// server itself lives above routing (accel/).
#pragma once
#include <string_view>

#include "routing/route_request_policy.h"
#include "routing/route_table.h"

class IRouteRequestService {
 public:
  virtual ~IRouteRequestService() = default;
  // Only while stopped.
  virtual void ClearKeptRoutes() = 0;
  virtual void AddKeptRoute(std::wstring_view destination, std::wstring_view mask) = 0;
  // Only while stopped: the destinations it may route on request.
  virtual void SetDestinationPolicy(const RouteRequestPolicy& policy) = 0;
  // False when already running or the endpoint cannot be set up.
  virtual bool Start(const ForwardRow& routeTemplate) = 0;
  // Returns once the server is gone and every route it added is deleted.
  virtual void Stop() = 0;
};
