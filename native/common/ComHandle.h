// Shared ownership of one COM interface reference: the handle's deleter gives
// the reference back with Release. Thread safety is that of the interface.
#pragma once

#include <boost/shared_ptr.hpp>

namespace quorvane {

struct ComRelease {
  template <typename Interface>
  void operator()(Interface* pointer) const {
    if (pointer != nullptr) pointer->Release();
  }
};

// Takes over the reference the caller holds on pointer (null gives an empty handle).
template <typename Interface>
boost::shared_ptr<Interface> AdoptCom(Interface* pointer) {
  if (pointer == nullptr) return boost::shared_ptr<Interface>();
  return boost::shared_ptr<Interface>(pointer, ComRelease());
}

}  // namespace quorvane
