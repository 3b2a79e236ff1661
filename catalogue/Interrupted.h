#pragma once
// Raised by a search stopped through its cancel flag: nothing is wrong with the catalogue,
// the answer is not wanted any more.
#include "platform/Exceptions.h"

namespace plm {

class ECatalogueInterrupted : public Exception {
public:
  using Exception::Exception;
};

} // namespace plm
